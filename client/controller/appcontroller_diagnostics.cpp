#include "appcontroller.h"

#include "api/backendcontract.h"
#include "model/diagnosticupload.h"
#include "platform/platform.h"
#include "tunnel/diagnosticlog.h"
#include "tunnel/singboxprocessmanager.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

void AppController::uploadDiagnosticLog()
{
    appendDiagnosticLog(QStringLiteral("Diagnostic upload requested from About version tap.\n"));
    if (!m_loggedIn || m_authToken.trimmed().isEmpty()) {
        updateApiError(QStringLiteral("请先登录后再上传日志。"));
        Q_EMIT diagnosticUploadFinished(false, m_apiError);
        return;
    }
    const QString path = DiagnosticLog::desktopDiagnosticLogPath();
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists() || info.size() <= 0) {
        updateApiError(QStringLiteral("未发现日志"));
        Q_EMIT diagnosticUploadFinished(false, m_apiError);
        return;
    }
    const QByteArray sent = DiagnosticUpload::readLogTail(path);
    const QString text = QString::fromUtf8(sent).trimmed();
    if (text.isEmpty() || !DiagnosticUpload::hasDiagnosticContent(sent)) {
        updateApiError(QStringLiteral("未发现日志"));
        Q_EMIT diagnosticUploadFinished(false, m_apiError);
        return;
    }

    DiagnosticUpload::UploadContext context;
    context.deviceId = m_deviceId;
    context.deviceName = m_deviceName;
    context.platform = Platform::platformLabel();
    context.appVersion = QCoreApplication::applicationVersion();
    context.apiBaseUrl = m_apiBaseUrl;
    context.vpnPhase = m_vpnPhase;
    context.nodeId = m_selectedNodeId;
    context.engineRunning = m_engine->running();

    requestJsonAsync(
        QStringLiteral("POST"), QString::fromLatin1(Backend::Path::kDiagnosticLogs),
        DiagnosticUpload::uploadBody(context, text), true,
        [this, path, sent](const QVariantMap &, bool success) {
            // The panel waits for this whatever happened: a second failure
            // with the same text changes no text and would leave it waiting.
            if (!success) {
                Q_EMIT diagnosticUploadFinished(false, m_apiError);
                return;
            }
            // Lines written while the upload was on its way were not sent: they stay.
            DiagnosticUpload::removeUploadedPart(path, sent);
            updateApiError(QStringLiteral("日志已上传"));
            Q_EMIT diagnosticUploadFinished(true, m_apiError);
        },
        true);
}

void AppController::clearCachedLogs()
{
    const QString logPath = DiagnosticLog::desktopDiagnosticLogPath();
    const QString logDir = DiagnosticLog::desktopLogDir();
    bool cleared = true;
    // Only a file that is gone afterwards counts as cleared.
    for (const QString &file : {logPath, logDir.isEmpty() ? QString() : QDir(logDir).filePath(QStringLiteral("sing-box.log"))}) {
        if (file.isEmpty() || !QFile::exists(file))
            continue;
        if (!QFile::remove(file))
            cleared = false;
    }
    if (!cleared) {
        updateApiError(QStringLiteral("部分日志无法删除，请关闭占用后重试。"));
        return;
    }
    updateApiError(QStringLiteral("缓存已清理"));
}
