// The envelope decoder. Input: token NUL nonce NUL plaintext (one byte in
// front picks which byte to tamper with). The plaintext sealed under the
// token's key must come back unchanged, whatever its length (empty too); a
// changed byte of the sealed payload must be refused with a text; and the
// raw input taken as an answer body must not break the decoder.
#include "api/payloadcrypto.h"
#include "fuzzsupport.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <openssl/evp.h>

#include <memory>

namespace {

QByteArray seal(const QByteArray &plain, const QByteArray &key, const QByteArray &nonce)
{
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> context(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    QByteArray out(plain.size() + 16, '\0');
    int written = 0;
    int last = 0;
    auto *bytes = reinterpret_cast<unsigned char *>(out.data());
    const bool ok = EVP_EncryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1
        && EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_IVLEN, int(nonce.size()), nullptr) == 1
        && EVP_EncryptInit_ex(context.get(), nullptr, nullptr, reinterpret_cast<const unsigned char *>(key.constData()),
                              reinterpret_cast<const unsigned char *>(nonce.constData()))
            == 1
        && (plain.isEmpty()
            || EVP_EncryptUpdate(context.get(), bytes, &written,
                                 reinterpret_cast<const unsigned char *>(plain.constData()), int(plain.size()))
                == 1)
        && EVP_EncryptFinal_ex(context.get(), bytes + written, &last) == 1
        && EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_GET_TAG, 16, bytes + plain.size()) == 1;
    Fuzz::require(ok, "sealing failed");
    return out;
}

QByteArray envelope(const QByteArray &payload, const QByteArray &nonce)
{
    return QJsonDocument(QJsonObject{{QStringLiteral("encrypted"), true},
                                     {QStringLiteral("alg"), QStringLiteral("AES-256-GCM")},
                                     {QStringLiteral("nonce"), QString::fromLatin1(nonce.toBase64())},
                                     {QStringLiteral("payload"), QString::fromLatin1(payload.toBase64())}})
        .toJson(QJsonDocument::Compact);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QList<QByteArray> parts = Fuzz::parts(data + 1, size - 1, 3);
    const QString token = QString::fromUtf8(parts.at(0));
    QString error;

    // Whatever arrives as an answer: a failure gives no bytes, and the text says why.
    const QByteArray body(reinterpret_cast<const char *>(data), qsizetype(size));
    const QByteArray answer = Api::decryptApiPayload(body, true, token.isEmpty() ? QStringLiteral("t") : token, &error);
    Fuzz::require(error.isEmpty() || answer.isEmpty(), "bytes handed on with an error");

    if (token.isEmpty())
        return 0;
    const QByteArray nonce = parts.at(1).isEmpty() ? QByteArray(12, '\x01') : parts.at(1).left(64);
    const QByteArray plain = parts.at(2);
    const QByteArray sealed = seal(plain, Api::payloadKeyForToken(token), nonce);

    const QByteArray opened = Api::decryptApiPayload(envelope(sealed, nonce), true, token, &error);
    Fuzz::require(error.isEmpty(), "a sealed answer is refused:", error.toUtf8());
    Fuzz::require(opened == plain, "a sealed answer does not come back unchanged");

    QByteArray tampered = sealed;
    tampered[data[0] % tampered.size()] = char(tampered.at(data[0] % tampered.size()) ^ 0x20);
    const QByteArray refused = Api::decryptApiPayload(envelope(tampered, nonce), true, token, &error);
    Fuzz::require(refused.isEmpty() && !error.isEmpty(), "a tampered answer is accepted");
    return 0;
}
