// Reading curl's output, and the credentials file written for it. Input:
// body NUL standard error NUL token. A body with any bytes (the status
// marker too) followed by the "-w" trailer comes back whole with its status;
// arbitrary output never yields a body that is not a prefix of it; and no
// token, however odd, adds a line to the credentials file.
#include "api/curlfallback.h"
#include "fuzzsupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> parts = Fuzz::parts(data, size, 3);
    const QByteArray &body = parts.at(0);
    const QString standardError = QString::fromUtf8(parts.at(1));
    const int status = 100 + int(size % 500);

    const Api::CurlProcessResult raw = Api::parseCurlProcessResult(body, standardError, int(size % 3));
    Fuzz::require(body.startsWith(raw.body), "a body that curl did not write");

    // The trailer as the client's "-w" format writes it, after whatever the server sent.
    const QByteArray trailer = Api::curlArguments(Api::CurlRequest{QStringLiteral("GET"), QStringLiteral("https://a.example/"),
                                                                   {}, {}, {}, {}, {}},
                                                  QString())
                                   .filter(QStringLiteral("%{http_code}"))
                                   .value(0)
                                   .toUtf8()
                                   .replace("\\n", "\n")
                                   .replace("%{http_code}", QByteArray::number(status));
    if (!trailer.isEmpty()) {
        const Api::CurlProcessResult framed = Api::parseCurlProcessResult(body + trailer, standardError, 0);
        Fuzz::require(framed.body == body, "the body is cut at a marker the server sent");
        Fuzz::require(framed.status == status, "the status is lost");
    }

    const QString token = QString::fromUtf8(parts.at(2));
    const QByteArray config = Api::curlCredentialConfig(token, standardError);
    if (!token.isEmpty()) {
        const qsizetype lines = config.count('\n');
        Fuzz::require(config.endsWith('\n') && (lines == 2 || lines == 3), "a value breaks out of its line", config);
    }
    return 0;
}
