#include "appcontroller.h"

#include "api/apierrors.h"
#include "api/apirequest.h"
#include "api/backendcontract.h"
#include "api/curlfallback.h"
#include "api/curlupload.h"
#include "api/payloadcrypto.h"
#include "i18n/translations.h"
#include "model/inbox.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryFile>
#include <QUrl>

namespace {

constexpr int kUploadStartWaitMs = 3000;
constexpr int kUploadFinishWaitMs = 65000;
constexpr int kUploadKillWaitMs = 3000;

// The local path of a file URL, or the text itself when it is not one.
QString uploadPathFromUrl(const QString &fileUrl)
{
    const QUrl url(fileUrl);
    return url.isLocalFile() ? url.toLocalFile() : fileUrl;
}

} // namespace

// --- messages ------------------------------------------------------------------------

void AppController::markMessagesRead(const QVariantList &messageIds)
{
    if (!m_loggedIn) {
        updateApiError(QStringLiteral("请先登录后再同步消息状态。"));
        return;
    }
    optimisticallyMarkMessagesRead(messageIds);
    requestJsonAsync(
        QStringLiteral("POST"), QString::fromLatin1(Backend::Path::kMessagesRead),
        QVariantMap{{QStringLiteral("ids"), messageIds}}, true,
        // The server's state replaces the optimistic one either way.
        [this](const QVariantMap &, bool) { refreshMessagesExperienceAsync(); }, true);
}

void AppController::optimisticallyMarkMessagesRead(const QVariantList &messageIds)
{
    bool changed = false;
    const QVariantMap section =
        Inbox::messagesMarkedRead(m_experience.value(QStringLiteral("messages")).toMap(), messageIds, &changed);
    if (!changed)
        return;
    m_experience.insert(QStringLiteral("messages"), section);
    Q_EMIT experienceChanged();
}

// --- support chat --------------------------------------------------------------------

void AppController::refreshSupportChat()
{
    if (!m_loggedIn) {
        updateApiError(QStringLiteral("请先登录后再查看在线客服。"));
        return;
    }
    const QString gate = QStringLiteral("support-chat");
    if (!beginRefreshGate(gate))
        return;
    QVariantMap section = m_experience.value(QStringLiteral("support")).toMap();
    section.insert(QStringLiteral("loading"), true);
    m_experience.insert(QStringLiteral("support"), section);
    Q_EMIT experienceChanged();

    requestJsonAsync(
        QStringLiteral("GET"), QString::fromLatin1(Backend::Path::kSupportChat), QVariantMap(), true,
        [this, gate](const QVariantMap &response, bool success) {
            const bool askedAgain = takeRefreshAskedAgain(gate);
            endRefreshGate(gate);
            if (askedAgain && m_loggedIn) {
                // A change was announced while this read was out: its answer is
                // older than that change, the next read shows it.
                refreshSupportChat();
                return;
            }
            QVariantMap current = m_experience.value(QStringLiteral("support")).toMap();
            current.insert(QStringLiteral("loading"), false);
            if (success)
                current = Inbox::mergedSupportSection(current, response);
            // A forced logout meanwhile emptied the sections: nothing to show.
            if (!m_loggedIn)
                return;
            m_experience.insert(QStringLiteral("support"), current);
            Q_EMIT experienceChanged();
        },
        false);
}

void AppController::sendSupportChatMessage(const QString &text, const QVariantList &attachments)
{
    if (!m_loggedIn) {
        updateApiError(QStringLiteral("请先登录后再发送客服消息。"));
        return;
    }
    // The blocking request below keeps taking clicks: a second press while the
    // first message is on its way would send it twice.
    if (m_supportSendInFlight)
        return;
    m_supportSendInFlight = true;
    const QVariantMap response = requestJson(
        QStringLiteral("POST"), QString::fromLatin1(Backend::Path::kSupportChat),
        QVariantMap{{QStringLiteral("text"), text.trimmed()}, {QStringLiteral("attachments"), attachments}}, true);
    m_supportSendInFlight = false;
    if (response.isEmpty() || !m_loggedIn)
        return;
    m_experience.insert(QStringLiteral("support"),
                        Inbox::mergedSupportSection(m_experience.value(QStringLiteral("support")).toMap(), response));
    Q_EMIT experienceChanged();
}

QVariantMap AppController::uploadSupportMedia(const QString &fileUrl)
{
    if (!m_loggedIn) {
        updateApiError(QStringLiteral("请先登录后再上传图片或视频。"));
        return QVariantMap();
    }
    const QFileInfo file(uploadPathFromUrl(fileUrl));
    // A link is looked at, not followed: a "screenshot.png" that points at a
    // private file must not send that file. exists() follows links, so a
    // dangling link counts as a link, not as missing.
    if (!fileUrl.trimmed().isEmpty() && (file.isSymLink() || file.isShortcut() || file.isJunction()
                                         || file.suffix().compare(QLatin1String("lnk"), Qt::CaseInsensitive) == 0
                                         || (file.exists() && !file.isFile()))) {
        updateApiError(QStringLiteral("只能上传文件本身，不能上传快捷方式、链接或特殊文件。"));
        return QVariantMap();
    }
    if (fileUrl.trimmed().isEmpty() || !file.exists() || !file.isFile()) {
        updateApiError(QStringLiteral("未找到要上传的文件。"));
        return QVariantMap();
    }

    Api::CurlUploadRequest request;
    request.url = m_apiBaseUrl + QLatin1String(Backend::Path::kSupportMedia);
    request.acceptLanguage = I18n::acceptLanguageForDesktopLanguage(m_language);
    request.userAgent = Api::desktopApiUserAgent();
    request.filePath = file.absoluteFilePath();

    // Never on the command line, which every local user can read: the token
    // goes to curl in a private file that is removed when curl is done.
    const QString token = m_authToken;
    QTemporaryFile credentials(QDir(QDir::tempPath()).filePath(QStringLiteral("quillet-curl-XXXXXX.conf")));
    QString credentialPath;
    if (!token.isEmpty()) {
        QString writeError;
        credentialPath = Api::writePrivateCurlConfig(credentials, Api::curlCredentialConfig(token, m_deviceId),
                                                     &writeError);
        if (credentialPath.isEmpty()) {
            appendDiagnosticLog(QStringLiteral("curl credentials file could not be written: %1\n").arg(writeError));
            updateApiError(QStringLiteral("无法启动上传组件。"));
            return QVariantMap();
        }
    }

    beginNetworkLoading(QString::fromLatin1(Backend::Path::kSupportMedia));
    QProcess process;
    process.start(QStringLiteral("curl"), Api::curlUploadArguments(request, credentialPath), QIODevice::ReadOnly);
    const bool started = process.waitForStarted(kUploadStartWaitMs);
    const bool finished = started && process.waitForFinished(kUploadFinishWaitMs);
    if (started && !finished) {
        process.kill();
        process.waitForFinished(kUploadKillWaitMs);
    }
    if (!credentialPath.isEmpty())
        credentials.remove();
    endNetworkLoading();
    if (!started) {
        updateApiError(QStringLiteral("无法启动上传组件。"));
        return QVariantMap();
    }
    if (!finished) {
        updateApiError(QStringLiteral("上传超时，请稍后重试。"));
        return QVariantMap();
    }

    const int exitCode =
        process.exitStatus() == QProcess::CrashExit && process.exitCode() == 0 ? -1 : process.exitCode();
    const Api::CurlProcessResult result = Api::parseCurlProcessResult(
        process.readAllStandardOutput(), QString::fromUtf8(process.readAllStandardError()).trimmed(), exitCode);
    if (!result.error.isEmpty()) {
        updateApiError(result.error);
        return QVariantMap();
    }
    const bool success = result.status >= 200 && result.status <= 299;
    QString decryptError;
    const QByteArray body =
        success ? Api::decryptApiPayload(result.body, !token.isEmpty(), token, &decryptError) : result.body;
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (!decryptError.isEmpty() || !document.isObject()) {
        updateApiError(QStringLiteral("上传返回异常，请稍后重试。"));
        return QVariantMap();
    }
    const QVariantMap answer = document.object().toVariantMap();
    if (success) {
        updateApiError(QString());
        return answer.value(QStringLiteral("attachment")).toMap();
    }
    updateApiError(Api::friendlyErrorMessage(answer.value(QStringLiteral("error")).toString(), result.status));
    return QVariantMap();
}

QVariantList AppController::pickSupportMediaFiles()
{
    updateApiError(QStringLiteral("当前平台暂不支持附件选择。"));
    return QVariantList();
}

bool AppController::openExternalLink(const QString &url)
{
    if (!Inbox::isOpenableLink(url))
        return false;
    return QDesktopServices::openUrl(QUrl(url.trimmed()));
}
