// Turning a server's error into what the user reads. Input: error text NUL
// path; the status comes from the length. The message is never empty and
// holds no control characters; a session ends only for a request that
// carried the token while signed in.
#include "api/apierrors.h"
#include "fuzzsupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> parts = Fuzz::parts(data, size, 2);
    const QString errorText = QString::fromUtf8(parts.at(0));
    const QString path = QString::fromUtf8(parts.at(1));
    const int status = size % 7 == 0 ? 0 : int(size * 37 % 600);

    const QString message = Api::friendlyErrorMessage(errorText, status);
    Fuzz::require(!message.trimmed().isEmpty(), "an empty message");
    for (const QChar c : message)
        Fuzz::require(c.unicode() >= 0x20 || c == QLatin1Char('\n'), "a control character in the message",
                      message.toUtf8());
    Api::authEntryErrorOverride(path, status);
    Api::loadingMessageForPath(path);
    for (const bool withToken : {false, true}) {
        for (const bool signedIn : {false, true}) {
            if (Api::shouldForceLogout(status, errorText, withToken, signedIn))
                Fuzz::require(withToken && signedIn, "a sign-out for a request without the session");
        }
    }
    return 0;
}
