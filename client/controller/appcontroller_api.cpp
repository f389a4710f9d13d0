#include "appcontroller.h"

#include "api/apierrors.h"
#include "api/apirequest.h"
#include "api/backendcontract.h"
#include "api/curlfallback.h"
#include "api/payloadcrypto.h"
#include "api/singleusebody.h"
#include "i18n/translations.h"
#include "tunnel/singboxprocessmanager.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QSettings>
#include <QTemporaryFile>
#include <QTimer>
#include <QUrl>

namespace {

const char kTimedOutProperty[] = "requestTimedOut";
// A reply whose outcome never touches the API error text.
const char kQuietProperty[] = "quietApiErrors";

QString timeoutErrorText()
{
    return QStringLiteral("请求超时，请检查网络后重试。");
}

QByteArray compactJson(const QVariantMap &body)
{
    return QJsonDocument::fromVariant(body).toJson(QJsonDocument::Compact);
}

QVariantMap jsonObjectMap(const QByteArray &body)
{
    const QJsonDocument document = QJsonDocument::fromJson(body);
    return document.isObject() ? document.object().toVariantMap() : QVariantMap();
}

// The server's reason for a failure: the string "error" of a JSON object body.
QString jsonErrorString(const QByteArray &body)
{
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (!document.isObject())
        return QString();
    const QJsonValue value = document.object().value(QLatin1String("error"));
    return value.isString() ? value.toString() : QString();
}

bool isSuccessStatus(int status)
{
    return status <= Backend::kSuccessStatusLimit;
}

bool isSameOrigin(const QUrl &first, const QUrl &second)
{
    const auto port = [](const QUrl &url) {
        return url.port(url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 ? 443 : 80);
    };
    return first.scheme().compare(second.scheme(), Qt::CaseInsensitive) == 0
           && first.host().compare(second.host(), Qt::CaseInsensitive) == 0 && port(first) == port(second);
}

// Qt follows a redirect with every header of the first request, the bearer
// token included. A request that carries the token is only followed within
// its own origin; a redirect elsewhere ends it before the token travels.
void refuseForeignRedirects(QNetworkReply *reply)
{
    if (!reply->request().hasRawHeader("Authorization"))
        return;
    const QUrl origin = reply->request().url();
    QObject::connect(reply, &QNetworkReply::redirected, reply, [reply, origin](const QUrl &target) {
        if (!isSameOrigin(origin, target))
            reply->abort();
    });
}

// The raw layer knows exactly two methods, matched as written.
QNetworkReply *sendApiRequest(QNetworkAccessManager *network, QNetworkRequest request, const QString &method,
                              const QString &path, const QByteArray &body)
{
    QNetworkReply *reply = nullptr;
    if (method == QLatin1String("GET")) {
        reply = network->get(request);
    } else if (method == QLatin1String("POST") && Api::createsOnServer(method, path)) {
        // Whatever breaks, this request goes out once: Qt may not resend it.
        auto *once = new Api::SingleUseBody(body);
        request.setAttribute(QNetworkRequest::DoNotBufferUploadDataAttribute, true);
        request.setHeader(QNetworkRequest::ContentLengthHeader, body.size());
        reply = network->post(request, once);
        once->setParent(reply);
    } else if (method == QLatin1String("POST")) {
        reply = network->post(request, body);
    }
    if (reply)
        refuseForeignRedirects(reply);
    return reply;
}

QString unsupportedMethodText(const QString &method)
{
    return QStringLiteral("请求方式不受支持：%1，请更新应用后重试。").arg(method);
}

} // namespace

// --- base URL and request construction ---------------------------------------

void AppController::setApiBaseUrl(const QString &url)
{
    const QString normalized = Api::normalizeApiBaseUrl(url);
    if (normalized.isEmpty()) {
        updateApiError(QStringLiteral("服务器地址无效，请检查后重试。"));
        return;
    }
    if (normalized == m_apiBaseUrl)
        return;

    m_apiBaseUrl = normalized;
    // Answers from the old server belong to no session here.
    advanceSessionGeneration();
    // Steps of a connection started against the old server must not land.
    ++m_workflowGeneration;
    resetConnectionWorkflow();
    m_serverConfig.clear();
    m_serverConfigNodeId.clear();
    // Signed in, the session's end below clears today's figures as well.
    if (!m_loggedIn)
        clearTodayTrafficBase();

    m_store->setValue(QStringLiteral("apiBaseUrl"), normalized);
    Q_EMIT apiBaseUrlChanged();

    if (m_engine->running()) {
        appendDiagnosticLog(QStringLiteral("Stopping VPN: API base URL changed.\n"));
        m_engine->stop();
    }

    if (m_loggedIn) {
        // The session belongs to the old server: end it here, without asking
        // the new one.
        resetLocalAccountState();

        Q_EMIT loggedInChanged();
        Q_EMIT authChanged();
        Q_EMIT nodesChanged();
        Q_EMIT nodeCountriesChanged();
        Q_EMIT plansChanged();
        Q_EMIT dashboardChanged();
        Q_EMIT preferencesChanged();
        Q_EMIT experienceChanged();
        Q_EMIT supportChanged();
        Q_EMIT selectedNodeChanged();
        Q_EMIT currentPlanChanged();
    }

    setVpnPhase(QStringLiteral("disconnected"), QStringLiteral("服务器地址已变更，请重新登录。"));
    refreshRemoteConfigPreview();
    updateApiError(QString());
    setCurrentPage(QStringLiteral("auth"));
}

QNetworkRequest AppController::buildApiRequest(const QString &path, const QString &contentType, bool withToken,
                                               const QByteArray &accept) const
{
    QNetworkRequest request(QUrl(m_apiBaseUrl + path));
    // An empty type means the request has no body type: no header at all.
    if (!contentType.isEmpty())
        request.setHeader(QNetworkRequest::ContentTypeHeader, contentType);
    request.setHeader(QNetworkRequest::UserAgentHeader, Api::desktopApiUserAgent());

    const QByteArray version = Api::desktopAppVersion().toUtf8();
    request.setRawHeader("Accept", accept);
    request.setRawHeader("Accept-Language", I18n::acceptLanguageForDesktopLanguage(m_language).toUtf8());
    request.setRawHeader("Cache-Control", "no-cache");
    request.setRawHeader("X-Tarn-Client-Platform", Api::desktopConfigPlatform().toUtf8());
    request.setRawHeader("X-Tarn-App-Version", version);
    request.setRawHeader("X-Tarn-Build", version);

    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    request.setAttribute(QNetworkRequest::HttpPipeliningAllowedAttribute, false);

    if (withToken && !m_authToken.isEmpty()) {
        request.setRawHeader("Authorization", QStringLiteral("Bearer %1").arg(m_authToken).toUtf8());
        request.setRawHeader("X-Tarn-Encrypted", "1");
        const QString device = m_deviceId.trimmed();
        if (!device.isEmpty())
            request.setRawHeader("X-Tarn-Device-ID", device.toUtf8());
    }
    return request;
}

QByteArray AppController::decryptApiPayloadIfNeeded(const QByteArray &body, bool decrypt, QString *error) const
{
    return Api::decryptApiPayload(body, decrypt, m_authToken, error);
}

// --- raw transport --------------------------------------------------------------

void AppController::requestRawAsync(const QString &method, const QString &path, const QByteArray &body,
                                    const QString &contentType, bool withToken, RawCompletion completion,
                                    bool showLoading)
{
    if (showLoading)
        beginNetworkLoading(path);

    QNetworkReply *reply = sendApiRequest(m_network, buildApiRequest(path, contentType, withToken), method, path, body);
    if (!reply) {
        updateApiError(unsupportedMethodText(method));
        if (showLoading)
            endNetworkLoading();
        QTimer::singleShot(0, this, [completion] {
            if (completion)
                completion(QByteArray(), false);
        });
        return;
    }

    if (m_quietApiRequest)
        reply->setProperty(kQuietProperty, true);
    auto *timer = new QTimer(reply);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, reply, [reply] {
        reply->setProperty(kTimedOutProperty, true);
        if (reply->isRunning())
            reply->abort();
    });
    const quint64 session = m_sessionGeneration;
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, timer, session, method, path, body, contentType, withToken, completion, showLoading] {
                timer->stop();
                onApiReplyFinished(reply, session, method, path, body, contentType, withToken, completion,
                                   showLoading);
            });
    timer->start(m_apiTimings.qtTimeoutMs);
}

void AppController::onApiReplyFinished(QNetworkReply *reply, quint64 session, const QString &method,
                                       const QString &path, const QByteArray &body, const QString &contentType,
                                       bool withToken, RawCompletion completion, bool showLoading)
{
    // An answer for an ended session is dropped whole: no error text, no
    // forced logout, no data for whoever is signed in now.
    bool success = false;
    QByteArray answer;
    if (session == m_sessionGeneration) {
        answer = finishApiReply(reply, false, method, path, body, contentType, withToken, &success);
        // The answer itself may have ended the session (a forced logout).
        if (session == m_sessionGeneration && completion)
            completion(answer, success);
    } else {
        appendDiagnosticLog(QStringLiteral("API %1 %2 answer dropped: its session has ended\n").arg(method, path));
    }
    if (showLoading)
        endNetworkLoading();
    reply->deleteLater();
}

QByteArray AppController::requestRaw(const QString &method, const QString &path, const QByteArray &body,
                                     const QString &contentType, bool withToken, bool showLoading)
{
    if (showLoading)
        beginNetworkLoading(path);
    // Let the indicator paint before the wait starts.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);

    QNetworkReply *reply = sendApiRequest(m_network, buildApiRequest(path, contentType, withToken), method, path, body);
    if (!reply) {
        updateApiError(unsupportedMethodText(method));
        if (showLoading)
            endNetworkLoading();
        return QByteArray();
    }

    // Other events run during the wait; one of them may end the session.
    const quint64 session = m_sessionGeneration;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    connect(&timer, &QTimer::timeout, &loop, [&loop, reply] {
        reply->setProperty(kTimedOutProperty, true);
        if (reply->isRunning())
            reply->abort();
        loop.quit();
    });
    timer.start(m_apiTimings.qtTimeoutMs);
    if (!reply->isFinished())
        loop.exec();
    timer.stop();

    bool success = false;
    QByteArray answer;
    if (session == m_sessionGeneration) {
        answer = finishApiReply(reply, true, method, path, body, contentType, withToken, &success);
        success = success && session == m_sessionGeneration;
    } else {
        appendDiagnosticLog(QStringLiteral("API %1 %2 answer dropped: its session has ended\n").arg(method, path));
    }
    if (showLoading)
        endNetworkLoading();
    reply->deleteLater();
    return success ? answer : QByteArray();
}

QByteArray AppController::finishApiReply(QNetworkReply *reply, bool blockingForm, const QString &method,
                                         const QString &path, const QByteArray &body, const QString &contentType,
                                         bool withToken, bool *success)
{
    *success = false;
    const bool timedOut = reply->property(kTimedOutProperty).toBool();
    QNetworkReply::NetworkError networkError = reply->error();
    // An aborted reply is closed; there is nothing to read then.
    QByteArray answer = reply->isOpen() ? reply->readAll() : QByteArray();
    int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    QString errorText;
    if (!timedOut && networkError == QNetworkReply::NoError
        && Api::answerCutShort(reply->header(QNetworkRequest::ContentLengthHeader), answer.size())) {
        // The connection closed mid-answer: what arrived is no answer at all.
        networkError = QNetworkReply::RemoteHostClosedError;
        status = 0;
        errorText = QStringLiteral("Connection closed before the whole answer arrived (%1 of %2 bytes)")
                        .arg(answer.size())
                        .arg(reply->header(QNetworkRequest::ContentLengthHeader).toLongLong());
        answer.clear();
    }
    bool succeeded = false;
    bool alreadyDecrypted = false;

    if (!timedOut && networkError == QNetworkReply::NoError && isSuccessStatus(status)) {
        logApiTransport(QStringLiteral("Qt"), method, path, status, QStringLiteral("success"));
        succeeded = true;
    } else {
        // The blocking form keeps saying "timed out" when curl fails as well.
        const bool blockingTimeout = blockingForm && timedOut;
        if (blockingTimeout) {
            errorText = timeoutErrorText();
            logApiTransport(QStringLiteral("Qt"), method, path, 0, QStringLiteral("timedOut=1 error=request timeout"));
        } else {
            if (errorText.isEmpty())
                errorText = timedOut ? timeoutErrorText() : reply->errorString();
            const QString serverError = jsonErrorString(answer);
            if (!serverError.isEmpty())
                errorText = serverError;
            logApiTransport(QStringLiteral("Qt"), method, path, status,
                            QStringLiteral("timedOut=%1 error=%2")
                                .arg(timedOut ? QStringLiteral("1") : QStringLiteral("0"),
                                     errorText.isEmpty() ? reply->errorString() : errorText));
        }

        // The blocking form takes a time-out to curl, unless the request
        // creates something: that goes again only when it never left.
        const bool creates = Api::createsOnServer(method, path);
        if ((blockingTimeout && !creates)
            || Api::mayResendWithCurl(method, path, timedOut, networkError, status, errorText)) {
            appendDiagnosticLog(
                QStringLiteral("Retrying API request with system curl over HTTP/1.1: %1 %2\n").arg(method, path));
            int curlStatus = 0;
            QString curlError;
            const QByteArray curlBody =
                requestRawWithCurl(method, path, body, contentType, withToken, &curlStatus, &curlError);

            QString curlFailure = curlError;
            if (curlFailure.isEmpty() && !isSuccessStatus(curlStatus)) {
                curlFailure = jsonErrorString(curlBody);
                if (curlFailure.isEmpty())
                    curlFailure = QStringLiteral("HTTP %1").arg(curlStatus);
            }
            logApiTransport(QStringLiteral("curl"), method, path, curlStatus,
                            curlFailure.isEmpty() ? QStringLiteral("success") : curlFailure);

            if (curlError.isEmpty() && isSuccessStatus(curlStatus)) {
                answer = curlBody;
                succeeded = true;
                alreadyDecrypted = true; // the curl path decrypts its own answer
            } else {
                status = curlStatus;
                errorText = blockingTimeout ? timeoutErrorText() : curlFailure;
                answer = curlBody;
            }
        }
    }

    if (succeeded) {
        QString decryptError;
        const QByteArray plain = alreadyDecrypted ? answer : decryptApiPayloadIfNeeded(answer, withToken, &decryptError);
        if (decryptError.isEmpty()) {
            if (!reply->property(kQuietProperty).toBool())
                updateApiError(QString());
            *success = true;
            return plain;
        }
        errorText = decryptError;
        status = 0;
        answer.clear();
    }

    if (shouldForceLogout(status, errorText, withToken)) {
        triggerForcedLogout(QStringLiteral("您已被踢下线。"));
        return QByteArray();
    }
    if (reply->property(kQuietProperty).toBool())
        return answer;
    QString message = Api::authEntryErrorOverride(path, status);
    if (message.isEmpty())
        message = Api::friendlyErrorMessage(errorText, status);
    updateApiError(message);
    return answer;
}

QByteArray AppController::requestRawWithCurl(const QString &method, const QString &path, const QByteArray &body,
                                              const QString &contentType, bool withToken, int *status,
                                              QString *error)
{
    *status = 0;
    error->clear();

    Api::CurlRequest request;
    request.method = method;
    request.url = m_apiBaseUrl + path;
    request.acceptLanguage = I18n::acceptLanguageForDesktopLanguage(m_language);
    request.contentType = contentType;
    request.platform = Api::desktopConfigPlatform();
    request.appVersion = Api::desktopAppVersion();
    request.userAgent = Api::desktopApiUserAgent();

    // The token never goes on curl's command line, which every local user can
    // read: curl reads it from a file only this user can open, deleted as
    // soon as curl is done.
    QTemporaryFile credentials(QDir(QDir::tempPath()).filePath(QStringLiteral("quillet-curl-XXXXXX.conf")));
    const QByteArray credentialConfig =
        withToken ? Api::curlCredentialConfig(m_authToken, m_deviceId) : QByteArray();
    QString credentialPath;
    if (!credentialConfig.isEmpty()) {
        const bool written = credentials.open()
                             && credentials.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)
                             && credentials.write(credentialConfig) == credentialConfig.size() && credentials.flush();
        if (!written) {
            appendDiagnosticLog(QStringLiteral("curl credentials file could not be written: %1\n")
                                    .arg(credentials.errorString()));
            *error = QStringLiteral("curl 启动失败");
            return QByteArray();
        }
        credentialPath = QDir::toNativeSeparators(credentials.fileName());
        // Closed but kept until the object goes: curl must be able to open it.
        credentials.close();
    }

    QProcess process;
    process.start(QStringLiteral("curl"), Api::curlArguments(request, credentialPath), QIODevice::ReadWrite);
    if (!process.waitForStarted(m_apiTimings.curlStartWaitMs)) {
        if (!credentialPath.isEmpty())
            credentials.remove();
        *error = QStringLiteral("curl 启动失败");
        return QByteArray();
    }

    if (method == QLatin1String("POST"))
        process.write(body);
    // curl reads standard input only for a POST body; closing it either way
    // keeps it from ever waiting there.
    process.closeWriteChannel();

    const bool finished = process.waitForFinished(m_apiTimings.curlFinishWaitMs);
    if (!finished) {
        process.kill();
        process.waitForFinished(m_apiTimings.curlKillWaitMs);
    }
    if (!credentialPath.isEmpty())
        credentials.remove();
    if (!finished) {
        *error = QStringLiteral("curl 请求超时");
        return QByteArray();
    }

    // A crash carries no meaningful exit code; it is a failure all the same.
    const int exitCode = process.exitStatus() == QProcess::CrashExit && process.exitCode() == 0
                             ? -1
                             : process.exitCode();
    const Api::CurlProcessResult result =
        Api::parseCurlProcessResult(process.readAllStandardOutput(),
                                    QString::fromUtf8(process.readAllStandardError()).trimmed(), exitCode);
    *status = result.status;
    *error = result.error;
    if (!result.error.isEmpty() || !isSuccessStatus(result.status))
        return result.body;

    QString decryptError;
    const QByteArray plain = decryptApiPayloadIfNeeded(result.body, withToken, &decryptError);
    if (!decryptError.isEmpty()) {
        *error = decryptError;
        return QByteArray();
    }
    return plain;
}

void AppController::logApiTransport(const QString &transport, const QString &method, const QString &path, int status,
                                    const QString &detail)
{
    appendDiagnosticLog(QStringLiteral("API %1 %2 %3 status=%4 detail=%5\n")
                            .arg(transport, method, path, QString::number(status),
                                 detail.isEmpty() ? QStringLiteral("none") : detail));
}

// --- JSON forms -------------------------------------------------------------------

void AppController::requestJsonAsync(const QString &method, const QString &path, const QVariantMap &body,
                                     bool withToken, JsonCompletion completion, bool showLoading)
{
    // Only a plain read may be sent twice; anything with a body might have
    // taken effect on the server the first time.
    const bool retryable = method.compare(QLatin1String("GET"), Qt::CaseInsensitive) == 0 && body.isEmpty();
    requestJsonAttempt(method, path, compactJson(body), retryable, withToken, std::move(completion), showLoading, 0,
                       m_sessionGeneration);
}

void AppController::requestJsonAttempt(const QString &method, const QString &path, const QByteArray &body,
                                       bool retryable, bool withToken, JsonCompletion completion, bool showLoading,
                                       int attempt, quint64 session)
{
    // The retry of an ended session's read never goes out.
    if (session != m_sessionGeneration)
        return;
    requestRawAsync(
        method, path, body, QStringLiteral("application/json"), withToken,
        [this, method, path, body, retryable, withToken, completion, showLoading, attempt,
         session](const QByteArray &answer, bool success) {
            if (!success && retryable && attempt == 0) {
                QTimer::singleShot(m_apiTimings.jsonRetryDelayMs, this,
                                   [this, method, path, body, retryable, withToken, completion, showLoading, session] {
                                       requestJsonAttempt(method, path, body, retryable, withToken, completion,
                                                          showLoading, 1, session);
                                   });
                return;
            }
            if (completion)
                completion(jsonObjectMap(answer), success);
        },
        showLoading && attempt == 0);
}

void AppController::postJsonAsync(const QString &path, const QVariantMap &body, bool withToken,
                                  PostCompletion completion)
{
    requestRawAsync(
        QStringLiteral("POST"), path, compactJson(body), QStringLiteral("application/json"), withToken,
        [completion](const QByteArray &answer, bool success) {
            if (success && completion)
                completion(jsonObjectMap(answer));
        },
        true);
}

QVariantMap AppController::requestJson(const QString &method, const QString &path, const QVariantMap &body,
                                       bool withToken)
{
    const QByteArray answer =
        requestRaw(method, path, compactJson(body), QStringLiteral("application/json"), withToken, true);
    return answer.isEmpty() ? QVariantMap() : jsonObjectMap(answer);
}

QVariantMap AppController::requestJsonDocument(const QString &method, const QString &path, const QByteArray &body,
                                               const QString &contentType, bool withToken)
{
    const QByteArray answer = requestRaw(method, path, body, contentType, withToken, true);
    return answer.isEmpty() ? QVariantMap() : jsonObjectMap(answer);
}

// --- session generation --------------------------------------------------------------

void AppController::advanceSessionGeneration()
{
    ++m_sessionGeneration;
    // Whatever waited for an answer of the ended session waits no more: its
    // answer will be dropped, and a new session starts its own.
    m_bootstrapInFlight = false;
    m_bootstrapWaiters.clear();
    m_refreshGate.clear();
    m_refreshAskedAgain.clear();
    // An ended session's claim answer is dropped, so the claim is over.
    setTrialClaimInFlight(false);
}

// --- errors, loading indicator, refresh gates ----------------------------------------

bool AppController::shouldForceLogout(int status, const QString &errorText, bool sentWithToken) const
{
    return Api::shouldForceLogout(status, errorText, sentWithToken, m_loggedIn);
}

void AppController::beginNetworkLoading(const QString &path)
{
    ++m_networkLoadingDepth;
    // The newest request names the wait, even when an older one is still out.
    const QString text = Api::loadingMessageForPath(path);
    if (text != m_loadingText) {
        m_loadingText = text;
        Q_EMIT loadingTextChanged();
    }
    if (m_networkLoadingDepth == 1)
        Q_EMIT networkLoadingChanged();
}

void AppController::endNetworkLoading()
{
    if (m_networkLoadingDepth < 1)
        return;
    --m_networkLoadingDepth;
    if (m_networkLoadingDepth > 0)
        return;
    if (!m_loadingText.isEmpty()) {
        m_loadingText.clear();
        Q_EMIT loadingTextChanged();
    }
    Q_EMIT networkLoadingChanged();
}

void AppController::clearNetworkLoading()
{
    if (m_networkLoadingDepth < 1 && m_loadingText.isEmpty())
        return;
    m_networkLoadingDepth = 0;
    if (!m_loadingText.isEmpty()) {
        m_loadingText.clear();
        Q_EMIT loadingTextChanged();
    }
    Q_EMIT networkLoadingChanged();
}

bool AppController::beginRefreshGate(const QString &key)
{
    const QString trimmed = key.trimmed();
    if (trimmed.isEmpty())
        return true;
    if (m_refreshGate.contains(trimmed)) {
        // Remembered, so the running refresh is followed by one more.
        m_refreshAskedAgain.insert(trimmed);
        return false;
    }
    m_refreshGate.insert(trimmed);
    return true;
}

void AppController::endRefreshGate(const QString &key)
{
    m_refreshGate.remove(key.trimmed());
    m_refreshAskedAgain.remove(key.trimmed());
}

bool AppController::takeRefreshAskedAgain(const QString &key)
{
    return m_refreshAskedAgain.remove(key.trimmed());
}
