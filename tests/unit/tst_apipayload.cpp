#include "api/backendcontract.h"
#include "api/payloadcrypto.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <openssl/evp.h>

#include <memory>

namespace {

const QString kToken = QStringLiteral("session-token-1");
const QString kFormatError = QStringLiteral("岚舟服务加密响应格式异常。");
const QString kVerifyError = QStringLiteral("岚舟服务加密响应校验失败，请重新登录后重试。");

// The sender's side, written independently of the client's code.
QByteArray sealWithOpenSsl(const QByteArray &plain, const QByteArray &key, const QByteArray &nonce)
{
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> context(EVP_CIPHER_CTX_new(),
                                                                            &EVP_CIPHER_CTX_free);
    const auto *keyBytes = reinterpret_cast<const unsigned char *>(key.constData());
    const auto *nonceBytes = reinterpret_cast<const unsigned char *>(nonce.constData());
    if (EVP_EncryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) != 1
        || EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_IVLEN, int(nonce.size()), nullptr) != 1
        || EVP_EncryptInit_ex(context.get(), nullptr, nullptr, keyBytes, nonceBytes) != 1) {
        return QByteArray();
    }
    QByteArray out(plain.size() + 16, '\0');
    auto *outBytes = reinterpret_cast<unsigned char *>(out.data());
    int written = 0;
    if (!plain.isEmpty()
        && EVP_EncryptUpdate(context.get(), outBytes, &written, reinterpret_cast<const unsigned char *>(plain.constData()),
                             int(plain.size()))
               != 1) {
        return QByteArray();
    }
    int finalWritten = 0;
    if (EVP_EncryptFinal_ex(context.get(), outBytes + written, &finalWritten) != 1)
        return QByteArray();
    out.resize(written + finalWritten);
    unsigned char tag[16];
    if (EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_GET_TAG, 16, tag) != 1)
        return QByteArray();
    out.append(reinterpret_cast<const char *>(tag), 16);
    return out;
}

QByteArray keyFor(const QString &token)
{
    return QCryptographicHash::hash(QByteArray("quillet-envelope-v1:") + token.toUtf8(), QCryptographicHash::Sha256);
}

QByteArray envelope(const QByteArray &payload, const QByteArray &nonce,
                    const QString &alg = QStringLiteral("AES-256-GCM"))
{
    return QJsonDocument(QJsonObject{{QStringLiteral("encrypted"), true},
                                     {QStringLiteral("alg"), alg},
                                     {QStringLiteral("nonce"), QString::fromLatin1(nonce.toBase64())},
                                     {QStringLiteral("payload"), QString::fromLatin1(payload.toBase64())}})
        .toJson(QJsonDocument::Compact);
}

QByteArray sealedEnvelope(const QByteArray &plain, const QString &token, const QByteArray &nonce)
{
    return envelope(sealWithOpenSsl(plain, keyFor(token), nonce), nonce);
}

QByteArray flipBit(QByteArray data, qsizetype index)
{
    data[index] = char(data.at(index) ^ 0x01);
    return data;
}

} // namespace

class ApiPayloadTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void keyIsSha256OfLabelAndToken();
    void passThrough_data();
    void passThrough();
    void decrypts_data();
    void decrypts();
    void rejects_data();
    void rejects();
    void errorClearedOnSuccess();
};

void ApiPayloadTest::keyIsSha256OfLabelAndToken()
{
    QCOMPARE(QByteArray(Backend::kPayloadKeyLabel), QByteArray("quillet-envelope-v1:"));
    QCOMPARE(Api::payloadKeyForToken(kToken), keyFor(kToken));
    QCOMPARE(Api::payloadKeyForToken(kToken).size(), 32);
}

void ApiPayloadTest::passThrough_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("decrypt");
    QTest::addColumn<QString>("token");

    const QByteArray sealed = sealedEnvelope("{\"a\":1}", kToken, QByteArray(12, '\x07'));
    QTest::newRow("signed out, envelope untouched") << sealed << true << QString();
    QTest::newRow("decrypt flag off") << sealed << false << kToken;
    QTest::newRow("empty body") << QByteArray() << true << kToken;
    QTest::newRow("encrypted false") << QByteArray("{\"encrypted\":false,\"payload\":\"x\"}") << true << kToken;
    QTest::newRow("encrypted missing") << QByteArray("{\"data\":{\"a\":1}}") << true << kToken;
    QTest::newRow("encrypted as string") << QByteArray("{\"encrypted\":\"true\"}") << true << kToken;
    QTest::newRow("array") << QByteArray("[{\"encrypted\":true}]") << true << kToken;
    QTest::newRow("number") << QByteArray("42") << true << kToken;
    QTest::newRow("invalid text") << QByteArray("not json {") << true << kToken;
}

void ApiPayloadTest::passThrough()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, decrypt);
    QFETCH(QString, token);

    QString error = QStringLiteral("stale");
    QCOMPARE(Api::decryptApiPayload(body, decrypt, token, &error), body);
    QVERIFY(error.isEmpty());
}

void ApiPayloadTest::decrypts_data()
{
    QTest::addColumn<QByteArray>("plain");
    QTest::addColumn<QByteArray>("nonce");

    QTest::newRow("json, 12-byte nonce") << QByteArray("{\"data\":{\"user\":\"demo\"}}") << QByteArray(12, '\x01');
    QTest::newRow("one byte (17-byte payload)") << QByteArray("x") << QByteArray(12, '\x02');
    QTest::newRow("16-byte nonce") << QByteArray("{\"ok\":true}") << QByteArray(16, '\x03');
    QTest::newRow("1-byte nonce") << QByteArray("{\"ok\":true}") << QByteArray(1, '\x04');
    QTest::newRow("large") << QByteArray(70000, 'z') << QByteArray(12, '\x05');
    QTest::newRow("empty answer (tag only, 16 bytes)") << QByteArray() << QByteArray(12, '\x06');
}

void ApiPayloadTest::decrypts()
{
    QFETCH(QByteArray, plain);
    QFETCH(QByteArray, nonce);

    QString error;
    QCOMPARE(Api::decryptApiPayload(sealedEnvelope(plain, kToken, nonce), true, kToken, &error), plain);
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

void ApiPayloadTest::rejects_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("expectedError");

    const QByteArray nonce(12, '\x09');
    const QByteArray sealed = sealWithOpenSsl("{\"secret\":\"value\"}", keyFor(kToken), nonce);

    QTest::newRow("wrong alg") << envelope(sealed, nonce, QStringLiteral("AES-128-GCM"))
                               << QStringLiteral("岚舟服务加密算法不兼容，请更新客户端。");
    QTest::newRow("alg missing") << QByteArray("{\"encrypted\":true,\"nonce\":\"AAAA\",\"payload\":\"AAAA\"}")
                                 << QStringLiteral("岚舟服务加密算法不兼容，请更新客户端。");
    QTest::newRow("shorter than the tag, 15 bytes")
        << envelope(sealWithOpenSsl(QByteArray(), keyFor(kToken), nonce).left(15), nonce) << kFormatError;
    QTest::newRow("tag only, under another token")
        << sealedEnvelope(QByteArray(), QStringLiteral("someone-else"), nonce) << kVerifyError;
    QTest::newRow("empty nonce") << envelope(sealed, QByteArray()) << kFormatError;
    QTest::newRow("payload missing") << QByteArray("{\"encrypted\":true,\"alg\":\"AES-256-GCM\",\"nonce\":\"AAAA\"}")
                                     << kFormatError;
    QTest::newRow("flipped bit in ciphertext") << envelope(flipBit(sealed, 3), nonce) << kVerifyError;
    QTest::newRow("flipped bit in tag") << envelope(flipBit(sealed, sealed.size() - 1), nonce) << kVerifyError;
    QTest::newRow("other nonce") << envelope(sealed, QByteArray(12, '\x0a')) << kVerifyError;
    QTest::newRow("token replaced by the server")
        << sealedEnvelope("{\"a\":1}", QStringLiteral("new-token-from-elsewhere"), nonce) << kVerifyError;
}

void ApiPayloadTest::rejects()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, expectedError);

    QString error;
    QCOMPARE(Api::decryptApiPayload(body, true, kToken, &error), QByteArray());
    QCOMPARE(error, expectedError);
}

void ApiPayloadTest::errorClearedOnSuccess()
{
    QString error = QStringLiteral("old failure");
    const QByteArray plain("{\"ok\":1}");
    QCOMPARE(Api::decryptApiPayload(sealedEnvelope(plain, kToken, QByteArray(12, 'n')), true, kToken, &error), plain);
    QVERIFY(error.isEmpty());

    // No error pointer at all is allowed.
    QCOMPARE(Api::decryptApiPayload(envelope("short", "n"), true, kToken, nullptr), QByteArray());
}

QTEST_APPLESS_MAIN(ApiPayloadTest)
#include "tst_apipayload.moc"
