// A generated catalogue for trying the client at scale: N nodes spread over
// forty countries, each node on a loopback address of its own, so the client's
// ping probe measures every one of them.
#include "devserver.h"

#include <QCryptographicHash>
#include <QHostAddress>
#include <QTcpServer>

#include <iterator>
#include <memory>
#include <vector>

namespace {

struct GeneratedCountry
{
    const char *code;
    const char *name;
    const char *cities; // " · "-free city names, separated by "|"; the interface knows them
};

const GeneratedCountry kGeneratedCountries[] = {
    {"HK", "香港", "九龙|沙田|中环"},
    {"JP", "日本", "东京|大阪"},
    {"SG", "新加坡", "主线"},
    {"US", "美国", "洛杉矶|圣何塞|旧金山|硅谷|纽约|西雅图|芝加哥|达拉斯"},
    {"TW", "台湾", "台北"},
    {"KR", "韩国", "首尔"},
    {"MO", "澳门", "主线"},
    {"CA", "加拿大", "多伦多"},
    {"GB", "英国", "伦敦"},
    {"DE", "德国", "法兰克福"},
    {"FR", "法国", "巴黎"},
    {"NL", "荷兰", "阿姆斯特丹"},
    {"RU", "俄罗斯", "莫斯科"},
    {"AU", "澳大利亚", "悉尼"},
    {"IN", "印度", "主线"},
    {"TH", "泰国", "主线"},
    {"VN", "越南", "主线"},
    {"MY", "马来西亚", "主线"},
    {"PH", "菲律宾", "主线"},
    {"ID", "印度尼西亚", "主线"},
    {"TR", "土耳其", "主线"},
    {"AE", "阿联酋", "主线"},
    {"BR", "巴西", "主线"},
    {"AR", "阿根廷", "主线"},
    {"MX", "墨西哥", "主线"},
    {"IT", "意大利", "主线"},
    {"ES", "西班牙", "主线"},
    {"CH", "瑞士", "主线"},
    {"SE", "瑞典", "主线"},
    {"AT", "奥地利", "主线"},
    {"PL", "波兰", "主线"},
    {"IE", "爱尔兰", "主线"},
    {"FI", "芬兰", "主线"},
    {"UA", "乌克兰", "主线"},
    {"KZ", "哈萨克斯坦", "主线"},
    {"IL", "以色列", "主线"},
    {"ZA", "南非", "主线"},
    {"NZ", "新西兰", "主线"},
    {"NO", "挪威", "主线"},
    {"DK", "丹麦", "主线"},
};

QString flagOf(const QString &code)
{
    QString flag;
    for (const QChar c : code) {
        const char32_t symbol = 0x1F1E6 + char32_t(c.toUpper().unicode() - 'A');
        flag += QString::fromUcs4(&symbol, 1);
    }
    return flag;
}

// Refused at once: nothing listens there.
QList<quint16> closedPorts(int count)
{
    std::vector<std::unique_ptr<QTcpServer>> holders;
    QList<quint16> ports;
    for (int i = 0; i < count; ++i) {
        auto server = std::make_unique<QTcpServer>();
        ports << (server->listen(QHostAddress::LocalHost, 0) ? server->serverPort() : quint16(9));
        holders.push_back(std::move(server));
    }
    return ports;
}

} // namespace

QList<DevServerStore::Node> DevServer::generatedNodes(int count)
{
    const int countries = int(std::size(kGeneratedCountries));
    const QList<quint16> ports = closedPorts(8);
    QVector<int> perCountry(countries, 0);
    QList<DevServerStore::Node> nodes;
    nodes.reserve(count);
    for (int i = 0; i < count; ++i) {
        // Round-robin, so every country has nodes at any count and the list is mixed as a server's would be.
        const int c = i % countries;
        const GeneratedCountry &source = kGeneratedCountries[c];
        const int number = ++perCountry[c];
        const QStringList cities = QString::fromUtf8(source.cities).split(QLatin1Char('|'));
        const QString code = QLatin1String(source.code);
        DevServerStore::Node node;
        // Fixed width: no id occurs inside another, as the configuration check needs.
        node.id = QStringLiteral("gen-%1-%2").arg(code.toLower()).arg(number, 5, 10, QLatin1Char('0'));
        node.countryCode = code;
        node.country = QString::fromUtf8(source.name);
        node.name = QStringLiteral("%1 · %2 · %3").arg(node.country, cities.at((number - 1) % cities.size())).arg(number);
        node.flag = flagOf(code);
        node.region = QStringLiteral("%1-%2").arg(node.country, code);
        node.status = QStringLiteral("online");
        if (number % 7 == 1)
            node.tags << QStringLiteral("流媒体");
        node.featured = number == 1;
        node.host = QStringLiteral("127.1.%1.%2").arg(i / 250).arg(i % 250 + 1);
        const QByteArray secret =
            QCryptographicHash::hash("quillet-demo-node:" + node.id.toUtf8(), QCryptographicHash::Sha256).left(16);
        node.outbound = QJsonObject {
            {QStringLiteral("type"), QStringLiteral("shadowsocks")},
            {QStringLiteral("tag"), node.id},
            {QStringLiteral("server"), node.host},
            {QStringLiteral("server_port"), ports.at(i % ports.size())},
            {QStringLiteral("method"), QStringLiteral("2022-blake3-aes-128-gcm")},
            {QStringLiteral("password"), QString::fromLatin1(secret.toBase64())},
        };
        nodes << node;
    }
    return nodes;
}
