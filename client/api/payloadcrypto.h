#pragma once

#include <QByteArray>
#include <QString>

// Encrypted answers: a request that carries the bearer token may be answered
// with {"encrypted": true, "alg": "AES-256-GCM", "nonce", "payload"}, sealed
// with a key derived from that token.
namespace Api {

// SHA-256 of the shared label followed by the token's UTF-8 bytes.
QByteArray payloadKeyForToken(const QString &token);

// AES-256-GCM with the 16-byte tag at the end of cipherWithTag. On failure the
// result is empty and error (when given) holds the user-facing text.
QByteArray decryptAes256Gcm(const QByteArray &cipherWithTag, const QByteArray &nonce, const QByteArray &key,
                            QString *error);

// Returns the plaintext of an envelope, or the body itself when it is not one
// (or decrypt is false, or there is no token). On failure the result is empty
// and error holds the text; on success error is cleared.
QByteArray decryptApiPayload(const QByteArray &body, bool decrypt, const QString &token, QString *error);

} // namespace Api
