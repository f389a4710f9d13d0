#include "payloadcrypto.h"

#include "backendcontract.h"
#include "platform/aesgcm.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <vector>

namespace Api {

namespace {

constexpr int kTagSize = 16;

void setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}

std::vector<unsigned char> toBytes(const QByteArray &data)
{
    return std::vector<unsigned char>(data.cbegin(), data.cend());
}

QString formatErrorText()
{
    return QStringLiteral("岚舟服务加密响应格式异常。");
}

} // namespace

QByteArray payloadKeyForToken(const QString &token)
{
    QByteArray material(Backend::kPayloadKeyLabel);
    material.append(token.toUtf8());
    return QCryptographicHash::hash(material, QCryptographicHash::Sha256);
}

QByteArray decryptAes256Gcm(const QByteArray &cipherWithTag, const QByteArray &nonce, const QByteArray &key,
                            QString *error)
{
    if (cipherWithTag.size() < kTagSize) {
        setError(error, formatErrorText());
        return QByteArray();
    }
    std::vector<unsigned char> keyBytes = toBytes(key);
    const std::vector<unsigned char> ciphertext(cipherWithTag.cbegin(), cipherWithTag.cend() - kTagSize);
    const std::vector<unsigned char> tag(cipherWithTag.cend() - kTagSize, cipherWithTag.cend());
    std::vector<unsigned char> plaintext;

    const Platform::AesGcmResult result =
        Platform::decryptAes256Gcm(keyBytes, toBytes(nonce), ciphertext, tag, plaintext);
    std::fill(keyBytes.begin(), keyBytes.end(), 0);

    switch (result) {
    case Platform::AesGcmResult::Ok:
        return QByteArray(reinterpret_cast<const char *>(plaintext.data()), qsizetype(plaintext.size()));
    case Platform::AesGcmResult::InitFailed:
        setError(error, QStringLiteral("岚舟服务解密初始化失败。"));
        break;
    case Platform::AesGcmResult::VerifyFailed:
        setError(error, QStringLiteral("岚舟服务加密响应校验失败，请重新登录后重试。"));
        break;
    }
    return QByteArray();
}

QByteArray decryptApiPayload(const QByteArray &body, bool decrypt, const QString &token, QString *error)
{
    if (error && !error->isEmpty())
        error->clear();
    if (!decrypt || token.isEmpty() || body.isEmpty())
        return body;

    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (!document.isObject())
        return body;
    const QJsonObject envelope = document.object();
    if (!envelope.value(QLatin1String("encrypted")).toBool(false))
        return body;

    if (envelope.value(QLatin1String("alg")).toString() != QLatin1String(Backend::kPayloadAlgorithm)) {
        setError(error, QStringLiteral("岚舟服务加密算法不兼容，请更新客户端。"));
        return QByteArray();
    }

    const QByteArray nonce = QByteArray::fromBase64(envelope.value(QLatin1String("nonce")).toString().toUtf8());
    const QByteArray payload = QByteArray::fromBase64(envelope.value(QLatin1String("payload")).toString().toUtf8());
    const QByteArray key = payloadKeyForToken(token);
    // A tag alone is a sealed empty answer, which the server may well send.
    if (payload.size() < kTagSize || nonce.isEmpty() || key.size() != 32) {
        setError(error, formatErrorText());
        return QByteArray();
    }
    return decryptAes256Gcm(payload, nonce, key, error);
}

} // namespace Api
