#pragma once

#include <QString>

// How a failed backend call is put to the user: the message, whether the
// session is over, and what the loading indicator says meanwhile.
namespace Api {

// A short Chinese message for a server or network error text and HTTP status.
// Chinese server texts that match no known key are passed through (trimmed).
QString friendlyErrorMessage(const QString &errorText, int status);

// The message that replaces friendlyErrorMessage for the sign-in and other
// account-entry paths, so an unauthenticated attempt never reads like an
// expired session. Empty when it does not apply.
QString authEntryErrorOverride(const QString &path, int status);

// Whether the server has ended the session: only for requests that carried the
// token while the user was signed in.
bool shouldForceLogout(int status, const QString &errorText, bool sentWithToken, bool signedIn);

// The loading-indicator text for a request path.
QString loadingMessageForPath(const QString &path);

} // namespace Api
