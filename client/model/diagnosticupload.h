#pragma once

#include <QByteArray>
#include <QString>
#include <QVariantMap>

// Sending the diagnostic log: what is read, what is sent, and what is left
// of the file afterwards.
namespace DiagnosticUpload {

// Only the newest part of a long log is sent.
inline constexpr qint64 kUploadLimitBytes = 524288;

// The last `limit` bytes of the file (all of a shorter one); empty when it
// cannot be read.
QByteArray readLogTail(const QString &path, qint64 limit = kUploadLimitBytes);

// What of the current file was not part of the upload: the bytes before and
// after the uploaded text's last occurrence (a long log sends only its tail,
// so its start was never sent). When the uploaded text is not found (the file
// was trimmed or replaced meanwhile) everything is kept.
QByteArray remainderAfterUpload(const QByteArray &current, const QByteArray &uploaded);

// Removes the uploaded part of the log: deletes the file when nothing but
// the upload's own lines was written since, else keeps the lines written since. False when the file could
// not be changed.
bool removeUploadedPart(const QString &path, const QByteArray &uploaded);

// Whether the log holds anything besides the lines an upload writes about
// itself (the request line and the transport's lines for the upload path).
bool hasDiagnosticContent(const QByteArray &log);

// The log without the upload's own lines.
QByteArray withoutUploadLines(const QByteArray &log);

struct UploadContext
{
    QString deviceId;
    QString deviceName;
    QString platform;
    QString appVersion;
    QString apiBaseUrl;
    QString vpnPhase;
    QString nodeId;
    bool engineRunning = false;
};

// The request body of "/api/v1/diagnostic-logs".
QVariantMap uploadBody(const UploadContext &context, const QString &logText);

} // namespace DiagnosticUpload
