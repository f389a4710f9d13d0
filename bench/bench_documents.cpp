#include "api/payloadcrypto.h"
#include "devserver/devservercrypto.h"
#include "tunnel/configbuilder.h"
#include "tunnel/confignormalization.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

namespace {

QString sourceDir()
{
    const QString fromEnvironment = qEnvironmentVariable("QUILLET_SOURCE_DIR");
    return fromEnvironment.isEmpty() ? QStringLiteral(QUILLET_SOURCE_DIR_FALLBACK) : fromEnvironment;
}

// A server document the size of a large catalogue: the nodes of an accepted
// sample repeated under new tags behind one selector, many route rules, and
// the fields the normalization removes (so it rewrites rather than returns the input).
QByteArray largeServerDocument(int copies)
{
    QFile file(sourceDir() + QStringLiteral("/tests/data/accepted/trojan-tls.json"));
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    QJsonObject document = QJsonDocument::fromJson(file.readAll()).object();
    const QJsonArray sampleOutbounds = document.value(QStringLiteral("outbounds")).toArray();
    QJsonArray outbounds;
    QJsonArray tags;
    for (int copy = 0; copy < copies; ++copy) {
        for (const QJsonValue &value : sampleOutbounds) {
            QJsonObject outbound = value.toObject();
            const QString type = outbound.value(QStringLiteral("type")).toString();
            if (type == QLatin1String("selector") || type == QLatin1String("direct") || type == QLatin1String("block")
                || type == QLatin1String("dns"))
                continue;
            const QString tag = QStringLiteral("%1-%2").arg(outbound.value(QStringLiteral("tag")).toString()).arg(copy);
            outbound.insert(QStringLiteral("tag"), tag);
            outbounds.append(outbound);
            tags.append(tag);
        }
    }
    outbounds.prepend(QJsonObject{{QStringLiteral("type"), QStringLiteral("selector")},
                                  {QStringLiteral("tag"), QStringLiteral("proxy")},
                                  {QStringLiteral("outbounds"), tags}});
    outbounds.append(QJsonObject{{QStringLiteral("type"), QStringLiteral("direct")}, {QStringLiteral("tag"), QStringLiteral("direct")}});
    outbounds.append(QJsonObject{{QStringLiteral("type"), QStringLiteral("dns")}, {QStringLiteral("tag"), QStringLiteral("dns-out")}});
    document.insert(QStringLiteral("outbounds"), outbounds);

    QJsonObject route = document.value(QStringLiteral("route")).toObject();
    QJsonArray rules = route.value(QStringLiteral("rules")).toArray();
    for (int index = 0; index < copies; ++index) {
        rules.append(QJsonObject{{QStringLiteral("domain_suffix"), QJsonArray{QStringLiteral("site%1.example").arg(index)}},
                                 {QStringLiteral("action"), QStringLiteral("route")},
                                 {QStringLiteral("outbound"), tags.at(index % tags.size())}});
    }
    route.insert(QStringLiteral("rules"), rules);
    document.insert(QStringLiteral("route"), route);
    QJsonObject log = document.value(QStringLiteral("log")).toObject();
    log.insert(QStringLiteral("output"), QStringLiteral("/var/log/engine.log"));
    document.insert(QStringLiteral("log"), log);
    return QJsonDocument(document).toJson(QJsonDocument::Compact);
}

} // namespace

// The documents the client handles on every connect: its own engine
// configuration, the server's (normalized before it is written) and the
// encrypted answers around them.
class DocumentsBench : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void buildConfig();
    void normalizeLargeDocument();
    void decryptEnvelope1MiB();
};

void DocumentsBench::buildConfig()
{
    const QVariantMap node{
        {QStringLiteral("id"), QStringLiteral("fr-09")},
        {QStringLiteral("outbound"),
         QVariantMap{{QStringLiteral("type"), QStringLiteral("trojan")},
                     {QStringLiteral("server"), QStringLiteral("203.0.113.19")},
                     {QStringLiteral("server_port"), 443},
                     {QStringLiteral("password"), QStringLiteral("c2VjcmV0")},
                     {QStringLiteral("tls"), QVariantMap{{QStringLiteral("enabled"), true}}}}}};
    const QVariantMap settings{{QStringLiteral("routingMode"), QStringLiteral("smart")},
                               {QStringLiteral("mtu"), 1400}};
    QByteArray written;
    QBENCHMARK {
        written = QJsonDocument(TunnelConfig::buildDesktopConfig(node, settings, QStringLiteral("secret")))
                      .toJson(QJsonDocument::Compact);
    }
    QVERIFY(written.contains("203.0.113.19"));
}

void DocumentsBench::normalizeLargeDocument()
{
    const QByteArray document = largeServerDocument(800);
    QVERIFY2(document.size() > 200 * 1024, qPrintable(QString::number(document.size())));
    QByteArray normalized;
    QBENCHMARK {
        normalized = TunnelConfig::normalizeRemoteDesktopConfig(document);
    }
    QVERIFY(!normalized.contains("/var/log/engine.log"));
}

void DocumentsBench::decryptEnvelope1MiB()
{
    const QString token = QStringLiteral("bench-token");
    QByteArray plain = QByteArrayLiteral("{\"data\":\"");
    plain.append(QByteArray(1024 * 1024 - plain.size() - 2, 'x'));
    plain.append("\"}");
    const QByteArray envelope = DevCrypto::sealEnvelope(plain, token);
    QVERIFY(!envelope.isEmpty());
    QByteArray opened;
    QString error;
    QBENCHMARK {
        opened = Api::decryptApiPayload(envelope, true, token, &error);
    }
    QCOMPARE(opened.size(), plain.size());
}

QTEST_APPLESS_MAIN(DocumentsBench)
#include "bench_documents.moc"
