#include "singleusebody.h"

#include <cstring>

namespace Api {

SingleUseBody::SingleUseBody(const QByteArray &body, QObject *parent)
    : QIODevice(parent)
    , m_body(body)
{
    open(QIODevice::ReadOnly);
}

qint64 SingleUseBody::bytesAvailable() const
{
    return m_body.size() - m_read + QIODevice::bytesAvailable();
}

qint64 SingleUseBody::readData(char *data, qint64 maxSize)
{
    const qint64 count = qMin(maxSize, qint64(m_body.size()) - m_read);
    if (count <= 0)
        return -1; // the end: there is nothing more, and never will be
    std::memcpy(data, m_body.constData() + m_read, size_t(count));
    m_read += count;
    return count;
}

} // namespace Api
