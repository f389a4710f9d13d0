#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class QTemporaryFile;

// Multipart uploads through the system curl program, and the private config
// file that carries a request's credentials to curl.
namespace Api {

struct CurlUploadRequest
{
    QString url;
    QString acceptLanguage;
    QString userAgent;
    QString filePath; // absolute
};

// The "-F" value that sends the file as the form field "file". The name is
// quoted so that ";" or "," in it is never read as a curl form option.
QString curlFormFileValue(const QString &filePath);

// The argument list of one upload; credentialConfigPath names the file holding
// curlCredentialConfig, or is empty without a token.
QStringList curlUploadArguments(const CurlUploadRequest &request, const QString &credentialConfigPath);

// Writes the config into the (unopened) temporary file, readable only by this
// user, and closes it; the native path, or empty with *error set. The caller
// keeps the file object alive while curl runs and removes it afterwards.
QString writePrivateCurlConfig(QTemporaryFile &file, const QByteArray &config, QString *error);

} // namespace Api
