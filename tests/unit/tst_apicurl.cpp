#include "api/curlfallback.h"

#include <QtTest>

class ApiCurlTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void shouldRetryApiWithCurl_data();
    void shouldRetryApiWithCurl();
    void answerCutShort_data();
    void answerCutShort();
    void postIsResentOnlyWhenItNeverLeft_data();
    void postIsResentOnlyWhenItNeverLeft();
    void parseCurlProcessResult_data();
    void parseCurlProcessResult();
    void argumentsForGetWithCredentials();
    void argumentsForPostWithoutCredentials();
    void credentialConfig_data();
    void credentialConfig();
};

void ApiCurlTest::shouldRetryApiWithCurl_data()
{
    QTest::addColumn<bool>("timedOut");
    QTest::addColumn<int>("error");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("errorText");
    QTest::addColumn<bool>("expected");

    QTest::newRow("500 never") << false << int(QNetworkReply::InternalServerError) << 500
                               << QStringLiteral("ssl failure") << false;
    QTest::newRow("timed out with status 400 never") << true << int(QNetworkReply::OperationCanceledError) << 400
                                                     << QString() << false;
    QTest::newRow("timed out") << true << int(QNetworkReply::OperationCanceledError) << 0 << QString() << true;
    QTest::newRow("ssl text, status 0") << false << int(QNetworkReply::NoError) << 0
                                        << QStringLiteral("SSL routines failed") << true;
    QTest::newRow("tls text") << false << int(QNetworkReply::NoError) << 0 << QStringLiteral("TLS error") << true;
    QTest::newRow("header compression") << false << int(QNetworkReply::NoError) << 0
                                        << QStringLiteral("Header compression failure") << true;
    QTest::newRow("http/2") << false << int(QNetworkReply::NoError) << 0 << QStringLiteral("HTTP/2 stream reset")
                            << true;
    QTest::newRow("protocol") << false << int(QNetworkReply::NoError) << 0 << QStringLiteral("protocol error")
                              << true;
    QTest::newRow("remote host closed") << false << int(QNetworkReply::NoError) << 0
                                        << QStringLiteral("Remote host closed connection") << true;
    QTest::newRow("connection closed") << false << int(QNetworkReply::NoError) << 0
                                       << QStringLiteral("connection closed early") << true;
    for (const auto error : {QNetworkReply::RemoteHostClosedError, QNetworkReply::SslHandshakeFailedError,
                             QNetworkReply::TemporaryNetworkFailureError, QNetworkReply::NetworkSessionFailedError,
                             QNetworkReply::UnknownNetworkError, QNetworkReply::ProxyConnectionRefusedError,
                             QNetworkReply::ProxyConnectionClosedError, QNetworkReply::ProxyNotFoundError,
                             QNetworkReply::ProxyTimeoutError, QNetworkReply::UnknownProxyError,
                             QNetworkReply::ProtocolFailure, QNetworkReply::UnknownServerError}) {
        QTest::addRow("code %d", int(error)) << false << int(error) << 0 << QStringLiteral("whatever") << true;
    }
    QTest::newRow("connection refused") << false << int(QNetworkReply::ConnectionRefusedError) << 0
                                        << QStringLiteral("Connection refused") << false;
    QTest::newRow("host not found") << false << int(QNetworkReply::HostNotFoundError) << 0
                                    << QStringLiteral("Host 127.0.0.1 not found") << false;
    QTest::newRow("operation canceled, not timed out") << false << int(QNetworkReply::OperationCanceledError) << 0
                                                       << QStringLiteral("Operation canceled") << false;
    QTest::newRow("remote host closed code with 399") << false << int(QNetworkReply::RemoteHostClosedError) << 399
                                                      << QString() << true;
}

void ApiCurlTest::shouldRetryApiWithCurl()
{
    QFETCH(bool, timedOut);
    QFETCH(int, error);
    QFETCH(int, status);
    QFETCH(QString, errorText);
    QFETCH(bool, expected);
    QCOMPARE(Api::shouldRetryApiWithCurl(timedOut, QNetworkReply::NetworkError(error), status, errorText), expected);
}

void ApiCurlTest::answerCutShort_data()
{
    QTest::addColumn<QVariant>("contentLength");
    QTest::addColumn<qint64>("received");
    QTest::addColumn<bool>("cutShort");
    QTest::newRow("head only, body promised") << QVariant(qint64(64)) << qint64(0) << true;
    QTest::newRow("part of the body") << QVariant(qint64(64)) << qint64(63) << true;
    QTest::newRow("whole body") << QVariant(qint64(64)) << qint64(64) << false;
    QTest::newRow("no length announced (or decompressed)") << QVariant() << qint64(0) << false;
    QTest::newRow("empty body announced") << QVariant(qint64(0)) << qint64(0) << false;
}

void ApiCurlTest::answerCutShort()
{
    QFETCH(QVariant, contentLength);
    QFETCH(qint64, received);
    QFETCH(bool, cutShort);
    QCOMPARE(Api::answerCutShort(contentLength, received), cutShort);
}

void ApiCurlTest::postIsResentOnlyWhenItNeverLeft_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("timedOut");
    QTest::addColumn<int>("error");
    QTest::addColumn<bool>("resent");
    const int canceled = int(QNetworkReply::OperationCanceledError);
    const int closed = int(QNetworkReply::RemoteHostClosedError);
    const QString checkout = QStringLiteral("/api/v1/payments/checkout");
    QTest::newRow("GET timed out") << "GET" << "/api/v1/orders" << true << canceled << true;
    QTest::newRow("checkout timed out: the server may have acted") << "POST" << checkout << true << canceled << false;
    QTest::newRow("checkout, connection dropped after sending") << "POST" << checkout << false << closed << false;
    QTest::newRow("chat message timed out") << "POST" << "/api/v1/support/chat" << true << canceled << false;
    QTest::newRow("speed test timed out") << "POST" << "/api/v1/speedtest/" << true << canceled << false;
    QTest::newRow("trial claim dropped") << "POST" << "/api/v1/trial/claim" << false << closed << false;
    QTest::newRow("order cancel with a query") << "POST" << "/api/v1/orders/cancel?id=7" << true << canceled << false;
    QTest::newRow("checkout, TLS handshake failed")
        << "POST" << checkout << false << int(QNetworkReply::SslHandshakeFailedError) << true;
    QTest::newRow("checkout, proxy refused")
        << "POST" << checkout << false << int(QNetworkReply::ProxyConnectionRefusedError) << true;
    QTest::newRow("POST that creates nothing, dropped") << "POST" << "/api/v1/nodes/select" << false << closed << true;
}

void ApiCurlTest::postIsResentOnlyWhenItNeverLeft()
{
    QFETCH(QString, method);
    QFETCH(QString, path);
    QFETCH(bool, timedOut);
    QFETCH(int, error);
    QFETCH(bool, resent);
    QCOMPARE(Api::mayResendWithCurl(method, path, timedOut, QNetworkReply::NetworkError(error), 0, QString()), resent);
}

void ApiCurlTest::parseCurlProcessResult_data()
{
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<QString>("standardError");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("error");

    QTest::newRow("body and status") << QByteArray("{\"ok\":true}\n__CURL_STATUS__:200") << QString() << 0
                                     << QByteArray("{\"ok\":true}") << 200 << QString();
    QTest::newRow("status with line end") << QByteArray("x\n__CURL_STATUS__:404\r\n") << QString() << 0
                                          << QByteArray("x") << 404 << QString();
    QTest::newRow("empty body") << QByteArray("\n__CURL_STATUS__:204") << QString() << 0 << QByteArray() << 204
                                << QString();
    QTest::newRow("last marker wins") << QByteArray("a\n__CURL_STATUS__:301\nb\n__CURL_STATUS__:200") << QString()
                                      << 0 << QByteArray("a\n__CURL_STATUS__:301\nb") << 200 << QString();
    QTest::newRow("marker needs the newline") << QByteArray("__CURL_STATUS__:200") << QString() << 0
                                              << QByteArray() << 0 << QStringLiteral("curl 返回结果异常");
    QTest::newRow("missing marker, no stderr") << QByteArray("garbage") << QString() << 0 << QByteArray() << 0
                                               << QStringLiteral("curl 返回结果异常");
    QTest::newRow("missing marker, stderr") << QByteArray() << QStringLiteral("  curl: (6) Could not resolve host\n")
                                            << 0 << QByteArray() << 0
                                            << QStringLiteral("curl: (6) Could not resolve host");
    QTest::newRow("missing marker, exit code") << QByteArray() << QString() << 7 << QByteArray() << 0
                                               << QStringLiteral("curl 退出码 7");
    QTest::newRow("exit code with stderr") << QByteArray("\n__CURL_STATUS__:000")
                                           << QStringLiteral("curl: (7) Failed to connect") << 7 << QByteArray() << 0
                                           << QStringLiteral("curl: (7) Failed to connect");
    QTest::newRow("exit code without stderr") << QByteArray("partial\n__CURL_STATUS__:200") << QString() << 28
                                              << QByteArray("partial") << 200 << QStringLiteral("curl 退出码 28");
    QTest::newRow("status not a number") << QByteArray("b\n__CURL_STATUS__:abc") << QString() << 0
                                         << QByteArray("b") << 0 << QString();
}

void ApiCurlTest::parseCurlProcessResult()
{
    QFETCH(QByteArray, output);
    QFETCH(QString, standardError);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    QFETCH(QString, error);

    const Api::CurlProcessResult result = Api::parseCurlProcessResult(output, standardError, exitCode);
    QCOMPARE(result.body, body);
    QCOMPARE(result.status, status);
    QCOMPARE(result.error, error);
}

namespace {

Api::CurlRequest sampleRequest(const QString &method)
{
    Api::CurlRequest request;
    request.method = method;
    request.url = QStringLiteral("https://api.example.test/tarn-api/api/v1/bootstrap?x=1");
    request.acceptLanguage = QStringLiteral("zh-TW");
    request.contentType = QStringLiteral("application/json");
    request.platform = QStringLiteral("linux");
    request.appVersion = QStringLiteral("0.9.0");
    request.userAgent = QStringLiteral("Quillet Desktop/0.9.0");
    return request;
}

QStringList commonArguments(const QString &method)
{
    return {
        QStringLiteral("--http1.1"),
        QStringLiteral("-sS"),
        QStringLiteral("-L"),
        QStringLiteral("--noproxy"),
        QStringLiteral("*"),
        QStringLiteral("-X"),
        method,
        QStringLiteral("-H"),
        QStringLiteral("Accept: application/json"),
        QStringLiteral("-H"),
        QStringLiteral("Accept-Language: zh-TW"),
        QStringLiteral("-H"),
        QStringLiteral("Content-Type: application/json"),
        QStringLiteral("-H"),
        QStringLiteral("X-Tarn-Client-Platform: linux"),
        QStringLiteral("-H"),
        QStringLiteral("X-Tarn-App-Version: 0.9.0"),
        QStringLiteral("-H"),
        QStringLiteral("X-Tarn-Build: 0.9.0"),
        QStringLiteral("-A"),
        QStringLiteral("Quillet Desktop/0.9.0"),
        QStringLiteral("--connect-timeout"),
        QStringLiteral("10"),
        QStringLiteral("--max-time"),
        QStringLiteral("20"),
        QStringLiteral("-w"),
        QStringLiteral("\\n__CURL_STATUS__:%{http_code}"),
        QStringLiteral("https://api.example.test/tarn-api/api/v1/bootstrap?x=1"),
    };
}

} // namespace

void ApiCurlTest::argumentsForGetWithCredentials()
{
    const QStringList arguments = Api::curlArguments(sampleRequest(QStringLiteral("GET")), QStringLiteral("/tmp/c.conf"));
    QCOMPARE(arguments, commonArguments(QStringLiteral("GET")) << QStringLiteral("-K") << QStringLiteral("/tmp/c.conf"));
    for (const QString &argument : arguments) {
        QVERIFY2(!argument.contains(QLatin1String("Authorization"), Qt::CaseInsensitive), qPrintable(argument));
        QVERIFY2(!argument.contains(QLatin1String("X-Tarn-Device-ID"), Qt::CaseInsensitive), qPrintable(argument));
    }
}

void ApiCurlTest::argumentsForPostWithoutCredentials()
{
    const QStringList arguments = Api::curlArguments(sampleRequest(QStringLiteral("POST")), QString());
    QCOMPARE(arguments, commonArguments(QStringLiteral("POST")) << QStringLiteral("--data-binary") << QStringLiteral("@-"));

    const QStringList withCredentials =
        Api::curlArguments(sampleRequest(QStringLiteral("POST")), QStringLiteral("/tmp/c.conf"));
    QCOMPARE(withCredentials, commonArguments(QStringLiteral("POST"))
                                  << QStringLiteral("-K") << QStringLiteral("/tmp/c.conf")
                                  << QStringLiteral("--data-binary") << QStringLiteral("@-"));
}

void ApiCurlTest::credentialConfig_data()
{
    QTest::addColumn<QString>("token");
    QTest::addColumn<QString>("deviceId");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("no token") << QString() << QStringLiteral("dev-1") << QByteArray();
    QTest::newRow("token and device") << QStringLiteral("abc123") << QStringLiteral(" dev-1 ")
                                      << QByteArray("oauth2-bearer = \"abc123\"\n"
                                                    "header = \"X-Tarn-Encrypted: 1\"\n"
                                                    "header = \"X-Tarn-Device-ID: dev-1\"\n");
    QTest::newRow("blank device") << QStringLiteral("abc123") << QStringLiteral("   ")
                                  << QByteArray("oauth2-bearer = \"abc123\"\n"
                                                "header = \"X-Tarn-Encrypted: 1\"\n");
    QTest::newRow("quotes and backslashes escaped") << QStringLiteral("a\"b\\c") << QString()
                                                    << QByteArray("oauth2-bearer = \"a\\\"b\\\\c\"\n"
                                                                  "header = \"X-Tarn-Encrypted: 1\"\n");
    // A line break would start a new option (or header) inside the file.
    QTest::newRow("line breaks dropped") << QStringLiteral("tok\r\nheader = \"X: 1\"") << QStringLiteral("d\nx")
                                         << QByteArray("oauth2-bearer = \"tokheader = \\\"X: 1\\\"\"\n"
                                                       "header = \"X-Tarn-Encrypted: 1\"\n"
                                                       "header = \"X-Tarn-Device-ID: dx\"\n");
}

void ApiCurlTest::credentialConfig()
{
    QFETCH(QString, token);
    QFETCH(QString, deviceId);
    QFETCH(QByteArray, expected);
    QCOMPARE(Api::curlCredentialConfig(token, deviceId), expected);
}

QTEST_APPLESS_MAIN(ApiCurlTest)
#include "tst_apicurl.moc"
