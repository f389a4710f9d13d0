#include "diagnosticupload.h"

#include <QFile>
#include <QSaveFile>
#include <QSysInfo>

namespace DiagnosticUpload {

namespace {

// Enough of the upload's end to find it again, unique thanks to the time stamps.
constexpr qsizetype kMarkerBytes = 4096;

bool isUploadLine(const QByteArray &line)
{
    return line.contains("Diagnostic upload requested from About version tap.")
           || line.contains(" /api/v1/diagnostic-logs ");
}

} // namespace

QByteArray readLogTail(const QString &path, qint64 limit)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    const qint64 size = file.size();
    if (size > limit && !file.seek(size - limit))
        return QByteArray();
    return file.readAll();
}

QByteArray remainderAfterUpload(const QByteArray &current, const QByteArray &uploaded)
{
    if (uploaded.isEmpty())
        return current;
    const QByteArray marker = uploaded.right(kMarkerBytes);
    const qsizetype at = current.lastIndexOf(marker);
    if (at < 0)
        return current;
    // Walk back from the marker's end over the bytes that were sent; what lies
    // before them (the start of a log longer than the upload) was never sent
    // and stays, as does everything written after.
    const qsizetype end = at + marker.size();
    qsizetype matched = marker.size();
    while (matched < uploaded.size() && end - matched - 1 >= 0
           && current.at(end - matched - 1) == uploaded.at(uploaded.size() - matched - 1))
        ++matched;
    return current.left(end - matched) + current.mid(end);
}

bool removeUploadedPart(const QString &path, const QByteArray &uploaded)
{
    QFile file(path);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray current = file.readAll();
    file.close();
    const QByteArray remainder = withoutUploadLines(remainderAfterUpload(current, uploaded));
    if (remainder.trimmed().isEmpty())
        return QFile::remove(path);
    if (remainder == current)
        return true;
    QSaveFile rewritten(path);
    if (!rewritten.open(QIODevice::WriteOnly))
        return false;
    rewritten.write(remainder);
    return rewritten.commit();
}

QByteArray withoutUploadLines(const QByteArray &log)
{
    QByteArray kept;
    kept.reserve(log.size());
    qsizetype start = 0;
    while (start < log.size()) {
        qsizetype end = log.indexOf('\n', start);
        end = end < 0 ? log.size() : end + 1;
        const QByteArray line = log.mid(start, end - start);
        if (!isUploadLine(line))
            kept.append(line);
        start = end;
    }
    return kept;
}

bool hasDiagnosticContent(const QByteArray &log)
{
    return !withoutUploadLines(log).trimmed().isEmpty();
}

QVariantMap uploadBody(const UploadContext &context, const QString &logText)
{
    const QString version = context.appVersion.isEmpty() ? QStringLiteral("0.9.0") : context.appVersion;
    return QVariantMap{
        {QStringLiteral("device_id"), context.deviceId},
        {QStringLiteral("device_model"), QStringLiteral("%1 / %2").arg(QSysInfo::prettyProductName(), context.deviceName)},
        {QStringLiteral("platform"), context.platform},
        {QStringLiteral("app_version"), version},
        {QStringLiteral("build_number"), QString()},
        {QStringLiteral("network_env"),
         QStringLiteral("api=%1; vpn_phase=%2; node=%3; running=%4")
             .arg(context.apiBaseUrl, context.vpnPhase, context.nodeId,
                  context.engineRunning ? QStringLiteral("true") : QStringLiteral("false"))},
        {QStringLiteral("file_name"), QStringLiteral("quillet-desktop-diagnostic.log")},
        {QStringLiteral("log"), logText},
    };
}

} // namespace DiagnosticUpload
