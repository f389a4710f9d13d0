#include "platform/ifcounters.h"

#include <QFile>
#include <QList>

namespace Platform {

namespace {

// "up" for a running link; TUN devices report "unknown" while they carry traffic.
bool interfaceIsUp(const QByteArray &name)
{
    QFile state(QStringLiteral("/sys/class/net/%1/operstate").arg(QString::fromLocal8Bit(name)));
    if (!state.open(QIODevice::ReadOnly))
        return true;
    const QByteArray word = state.readAll().trimmed();
    return word == "up" || word == "unknown";
}

} // namespace

InterfaceOctets readInterfaceOctets()
{
    InterfaceOctets result;
    QFile file(QStringLiteral("/proc/net/dev"));
    if (!file.open(QIODevice::ReadOnly))
        return result;
    // "  eth0: rx_bytes rx_packets ... (8 fields) tx_bytes ..."
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray &line : lines) {
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon).trimmed();
        if (name.isEmpty() || name == "lo" || !interfaceIsUp(name))
            continue;
        const QList<QByteArray> fields = line.mid(colon + 1).simplified().split(' ');
        if (fields.size() < 9)
            continue;
        bool inOk = false;
        bool outOk = false;
        const unsigned long long in = fields.at(0).toULongLong(&inOk);
        const unsigned long long out = fields.at(8).toULongLong(&outOk);
        if (!inOk || !outOk || (in == 0 && out == 0))
            continue;
        result.inOctets += in;
        result.outOctets += out;
    }
    result.found = result.inOctets != 0 || result.outOctets != 0;
    return result;
}

} // namespace Platform
