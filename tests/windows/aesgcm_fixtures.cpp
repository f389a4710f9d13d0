// Writes AES-256-GCM cases for the BCrypt check under wine: envelopes sealed by
// the development backend (OpenSSL), opened with the client's key derivation,
// one line each: name key nonce ciphertext tag plaintext expected (hex).
#include "api/payloadcrypto.h"
#include "devserver/devservercrypto.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace {

struct Sealed
{
    QByteArray key, nonce, cipher, tag, plain;
};

Sealed seal(const QByteArray &plain, const QString &token)
{
    const QJsonObject envelope = QJsonDocument::fromJson(DevCrypto::sealEnvelope(plain, token)).object();
    const QByteArray payload = QByteArray::fromBase64(envelope.value(QStringLiteral("payload")).toString().toLatin1());
    return {Api::payloadKeyForToken(token), QByteArray::fromBase64(envelope.value(QStringLiteral("nonce")).toString().toLatin1()),
            payload.left(payload.size() - 16), payload.right(16), plain};
}

QByteArray line(const char *name, const Sealed &s, const char *expected)
{
    return QByteArray(name) + ' ' + s.key.toHex() + ' ' + s.nonce.toHex() + ' ' + (s.cipher.isEmpty() ? "-" : s.cipher.toHex())
        + ' ' + s.tag.toHex() + ' ' + (s.plain.isEmpty() ? "-" : s.plain.toHex()) + ' ' + expected + '\n';
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: aesgcm_fixtures OUTFILE\n");
        return 64;
    }
    const QString token = QStringLiteral("session-token-for-wine");
    const Sealed answer = seal(R"({"ok":true,"data":{"nodes":[{"id":"hk-1","name":"香港 01"}]}})", token);
    QByteArray big(70000, 'x');
    for (int i = 0; i < big.size(); ++i)
        big[i] = char('a' + i % 26);
    Sealed flippedTag = answer;
    flippedTag.tag[0] = char(flippedTag.tag[0] ^ 0x01);
    Sealed flippedCipher = answer;
    flippedCipher.cipher[3] = char(flippedCipher.cipher[3] ^ 0x80);
    Sealed wrongKey = answer;
    wrongKey.key = Api::payloadKeyForToken(QStringLiteral("another-token"));

    QByteArray out = line("envelope", answer, "ok") + line("large", seal(big, token), "ok")
        + line("flipped-tag", flippedTag, "verify-failed") + line("flipped-ciphertext", flippedCipher, "verify-failed")
        + line("wrong-key", wrongKey, "verify-failed");
    QFile file(QString::fromLocal8Bit(argv[1]));
    if (!file.open(QIODevice::WriteOnly) || file.write(out) != out.size()) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
