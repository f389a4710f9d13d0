#include "devservercrypto.h"

#include "client/api/backendcontract.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>

#include <openssl/evp.h>

#include <memory>

namespace DevCrypto {

namespace {

constexpr int kNonceBytes = 12;
constexpr int kTagBytes = 16;

struct CipherContextFree
{
    void operator()(EVP_CIPHER_CTX *context) const { EVP_CIPHER_CTX_free(context); }
};

QByteArray fail(QString *error, const QString &message)
{
    if (error)
        *error = message;
    return {};
}

} // namespace

QByteArray envelopeKey(const QString &token)
{
    QByteArray material(Backend::kPayloadKeyLabel);
    material += token.toUtf8();
    return QCryptographicHash::hash(material, QCryptographicHash::Sha256);
}

QByteArray encryptAes256Gcm(const QByteArray &plain, const QByteArray &key, const QByteArray &nonce, QString *error)
{
    if (key.size() != 32 || nonce.isEmpty())
        return fail(error, QStringLiteral("AES-256-GCM needs a 32-byte key and a nonce"));

    std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree> context(EVP_CIPHER_CTX_new());
    if (!context)
        return fail(error, QStringLiteral("cannot create cipher context"));

    const auto *keyBytes = reinterpret_cast<const unsigned char *>(key.constData());
    const auto *nonceBytes = reinterpret_cast<const unsigned char *>(nonce.constData());
    if (EVP_EncryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) != 1
        || EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_IVLEN, int(nonce.size()), nullptr) != 1
        || EVP_EncryptInit_ex(context.get(), nullptr, nullptr, keyBytes, nonceBytes) != 1)
        return fail(error, QStringLiteral("cannot initialise AES-256-GCM"));

    QByteArray out(plain.size() + kTagBytes, Qt::Uninitialized);
    auto *outBytes = reinterpret_cast<unsigned char *>(out.data());
    int written = 0;
    if (!plain.isEmpty()
        && EVP_EncryptUpdate(context.get(), outBytes, &written,
               reinterpret_cast<const unsigned char *>(plain.constData()), int(plain.size()))
            != 1)
        return fail(error, QStringLiteral("AES-256-GCM encryption failed"));
    int finalBytes = 0;
    if (EVP_EncryptFinal_ex(context.get(), outBytes + written, &finalBytes) != 1)
        return fail(error, QStringLiteral("AES-256-GCM encryption failed"));
    written += finalBytes;
    if (EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_GET_TAG, kTagBytes, outBytes + written) != 1)
        return fail(error, QStringLiteral("AES-256-GCM tag unavailable"));
    out.truncate(written + kTagBytes);
    if (error)
        error->clear();
    return out;
}

QByteArray sealEnvelope(const QByteArray &plain, const QString &token, QString *error)
{
    const QByteArray nonce = randomBytes(kNonceBytes);
    const QByteArray sealed = encryptAes256Gcm(plain, envelopeKey(token), nonce, error);
    if (sealed.isEmpty())
        return {};
    const QJsonObject envelope {
        {QStringLiteral("encrypted"), true},
        {QStringLiteral("alg"), QString::fromLatin1(Backend::kPayloadAlgorithm)},
        {QStringLiteral("nonce"), QString::fromLatin1(nonce.toBase64())},
        {QStringLiteral("payload"), QString::fromLatin1(sealed.toBase64())},
    };
    return QJsonDocument(envelope).toJson(QJsonDocument::Compact);
}

QByteArray randomBytes(int count)
{
    QByteArray bytes(count, Qt::Uninitialized);
    QRandomGenerator *generator = QRandomGenerator::system();
    for (int i = 0; i < count; ++i)
        bytes[i] = char(generator->bounded(256));
    return bytes;
}

QString randomHex(int byteCount)
{
    return QString::fromLatin1(randomBytes(byteCount).toHex());
}

QString randomDigits(int count)
{
    QString digits;
    digits.reserve(count);
    for (int i = 0; i < count; ++i)
        digits += QChar(u'0' + QRandomGenerator::system()->bounded(10));
    return digits;
}

QString passwordHash(const QString &salt, const QString &password)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(salt.toUtf8() + password.toUtf8(), QCryptographicHash::Sha256).toHex());
}

} // namespace DevCrypto
