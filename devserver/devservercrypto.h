#pragma once

#include <QByteArray>
#include <QString>

// Cryptographic helpers of the development backend: the answer envelope the
// client opens, random tokens and codes, password hashes.
namespace DevCrypto {

// SHA-256 of the shared label followed by the UTF-8 token: the envelope key.
QByteArray envelopeKey(const QString &token);

// AES-256-GCM; returns ciphertext followed by the 16-byte tag, or empty with
// *error set (key must be 32 bytes, nonce non-empty).
QByteArray encryptAes256Gcm(
    const QByteArray &plain, const QByteArray &key, const QByteArray &nonce, QString *error = nullptr);

// The whole envelope document {"encrypted", "alg", "nonce", "payload"} for a
// plain answer body, compact JSON; empty with *error set on failure.
QByteArray sealEnvelope(const QByteArray &plain, const QString &token, QString *error = nullptr);

QByteArray randomBytes(int count);
QString randomHex(int byteCount);
QString randomDigits(int count);

// Hex SHA-256 of salt followed by the UTF-8 password.
QString passwordHash(const QString &salt, const QString &password);

} // namespace DevCrypto
