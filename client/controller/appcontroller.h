#pragma once

#include "api/apitimings.h"
#include "model/tunnelhealth.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QUuid>
#include <QVariantList>
#include <QVariantMap>
#include <QVector>

#include <functional>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;
class QSettings;
class QTimer;
class QUrl;
class QWebSocket;
class ConfigRepository;
class SingBoxProcessManager;
class CatalogueListModel;
namespace CatalogueIndex {
struct Index;
}

// The one object the QML interface sees. It owns all client state and the
// objects that talk to the backend and to the tunnel engine.
class AppController : public QObject
{
    Q_OBJECT

    Q_PROPERTY(QString currentPage READ currentPage WRITE setCurrentPage NOTIFY currentPageChanged)
    Q_PROPERTY(bool connected READ connected NOTIFY connectedChanged)
    Q_PROPERTY(bool loggedIn READ loggedIn NOTIFY loggedInChanged)
    Q_PROPERTY(QString statusText READ statusText NOTIFY statusTextChanged)
    Q_PROPERTY(QString vpnPhase READ vpnPhase NOTIFY vpnPhaseChanged)
    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)
    Q_PROPERTY(bool networkLoading READ networkLoading NOTIFY networkLoadingChanged)
    Q_PROPERTY(QString loadingText READ loadingText NOTIFY loadingTextChanged)
    Q_PROPERTY(QString apiError READ apiError NOTIFY apiErrorChanged)
    Q_PROPERTY(QString toastMessage READ toastMessage NOTIFY toastMessageChanged)
    Q_PROPERTY(QString apiBaseUrl READ apiBaseUrl NOTIFY apiBaseUrlChanged)
    Q_PROPERTY(QString desktopPlatformLabel READ desktopPlatformLabel CONSTANT)
    Q_PROPERTY(int mtu READ mtu NOTIFY settingsChanged)
    Q_PROPERTY(QString dnsPrimary READ dnsPrimary NOTIFY settingsChanged)
    Q_PROPERTY(QString dnsFallback READ dnsFallback NOTIFY settingsChanged)
    Q_PROPERTY(QString currentNodeName READ currentNodeName NOTIFY selectedNodeChanged)
    Q_PROPERTY(QString selectedNodeId READ selectedNodeId NOTIFY selectedNodeChanged)
    Q_PROPERTY(QString nodeSelectionMode READ nodeSelectionMode NOTIFY selectedNodeChanged)
    Q_PROPERTY(QString currentNodeLatency READ currentNodeLatency NOTIFY selectedNodeChanged)
    Q_PROPERTY(QString currentNodeQuality READ currentNodeQuality NOTIFY selectedNodeChanged)
    Q_PROPERTY(int currentNodeQualityScore READ currentNodeQualityScore NOTIFY selectedNodeChanged)
    Q_PROPERTY(QString currentPlanName READ currentPlanName NOTIFY currentPlanChanged)
    Q_PROPERTY(QString currentPlanStatusText READ currentPlanStatusText NOTIFY currentPlanChanged)
    Q_PROPERTY(bool hasActiveMembership READ hasActiveMembership NOTIFY currentPlanChanged)
    Q_PROPERTY(QString selectedPlanId READ selectedPlanId NOTIFY currentPlanChanged)
    Q_PROPERTY(QString configPreview READ configPreview NOTIFY configPreviewChanged)
    Q_PROPERTY(QString authEmail READ authEmail NOTIFY authChanged)
    Q_PROPERTY(QVariantList nodes READ nodes NOTIFY nodesChanged)
    Q_PROPERTY(QVariantList nodeCountries READ nodeCountries NOTIFY nodeCountriesChanged)
    Q_PROPERTY(QVariantList plans READ plans NOTIFY plansChanged)
    Q_PROPERTY(int plansCount READ plansCount NOTIFY plansChanged)
    Q_PROPERTY(QVariantMap dashboard READ dashboard NOTIFY dashboardChanged)
    Q_PROPERTY(QVariantMap preferences READ preferences NOTIFY preferencesChanged)
    Q_PROPERTY(QVariantMap experience READ experience NOTIFY experienceChanged)
    Q_PROPERTY(QVariantMap support READ support NOTIFY supportChanged)
    Q_PROPERTY(QString lastError READ lastError NOTIFY lastErrorChanged)
    Q_PROPERTY(QString recentLog READ recentLog NOTIFY recentLogChanged)
    Q_PROPERTY(bool membershipDialogVisible READ membershipDialogVisible NOTIFY membershipDialogVisibleChanged)
    Q_PROPERTY(QString membershipDialogMessage READ membershipDialogMessage NOTIFY membershipDialogMessageChanged)
    Q_PROPERTY(bool sessionKickDialogVisible READ sessionKickDialogVisible NOTIFY sessionKickDialogVisibleChanged)
    Q_PROPERTY(QString sessionKickDialogMessage READ sessionKickDialogMessage NOTIFY sessionKickDialogMessageChanged)
    Q_PROPERTY(QVariantMap trialClaimStatus READ trialClaimStatus NOTIFY trialClaimStatusChanged)
    Q_PROPERTY(QString language READ language NOTIFY languageChanged)
    Q_PROPERTY(bool backendOffline READ backendOffline NOTIFY backendOfflineChanged)
    Q_PROPERTY(bool trayAvailable READ trayAvailable NOTIFY trayAvailableChanged)
    // --- the catalogue as the servers page shows it: prepared lists, searched in C++
    Q_PROPERTY(QObject *serverCountryModel READ serverCountryModel CONSTANT)
    Q_PROPERTY(QObject *serverNodeModel READ serverNodeModel CONSTANT)
    Q_PROPERTY(QVariantMap serverChosenCountry READ serverChosenCountry NOTIFY serverViewChanged)
    Q_PROPERTY(int nodeCountryCount READ nodeCountryCount NOTIFY nodeCountriesChanged)
    // The selected node's name as the interface shows it (read with the language) and its country code.
    Q_PROPERTY(QString currentNodeDisplayName READ currentNodeDisplayName NOTIFY selectedNodeChanged)
    Q_PROPERTY(QString currentNodeCountryCode READ currentNodeCountryCode NOTIFY selectedNodeChanged)
    // A daily-trial claim is on its way: the button waits for its answer.
    Q_PROPERTY(bool trialClaimInFlight READ trialClaimInFlight NOTIFY trialClaimInFlightChanged)
    // --- the truth about the tunnel
    Q_PROPERTY(QString connectionStatusText READ connectionStatusText NOTIFY connectionStatusTextChanged)
    Q_PROPERTY(QString connectedNodeName READ connectedNodeName NOTIFY connectionStatusTextChanged)
    Q_PROPERTY(bool startupReattachDone READ startupReattachDone NOTIFY startupReattachFinished)

    // Everyday use: the four local switches and what the tray shows.
    Q_PROPERTY(bool autoConnect READ autoConnect NOTIFY settingsChanged)
    Q_PROPERTY(bool launchAtLogin READ launchAtLogin NOTIFY settingsChanged)
    Q_PROPERTY(bool reconnectOnDrop READ reconnectOnDrop NOTIFY settingsChanged)
    Q_PROPERTY(bool notifyOnDrop READ notifyOnDrop NOTIFY settingsChanged)
    Q_PROPERTY(bool trayIconConnected READ trayIconConnected NOTIFY trayIconConnectedChanged)
    // Started with --minimized and a tray to live in: the window starts hidden.
    Q_PROPERTY(bool startInTray READ startInTray CONSTANT)

public:
    using JsonCompletion = std::function<void(const QVariantMap &response, bool success)>;
    using PostCompletion = std::function<void(const QVariantMap &response)>;
    using RawCompletion = std::function<void(const QByteArray &body, bool success)>;

    explicit AppController(QObject *parent = nullptr);
    ~AppController() override;

    // --- start-up around the window's first frame
    // With AfterFirstFrame, the work the first page does not need (the deferred
    // start-up task with its bootstrap, then the configuration preview) waits for
    // windowShown(), or for kWindowShownFallbackMs when no frame is reported.
    enum class StartupTiming { Immediate, AfterFirstFrame };
    static constexpr int kWindowShownFallbackMs = 3000;
    explicit AppController(StartupTiming timing, QObject *parent = nullptr);
    void windowShown();
    bool startupHeld() const { return m_startupHeld; }

    // --- property readers
    QString currentPage() const { return m_currentPage; }
    bool connected() const;
    bool loggedIn() const { return m_loggedIn; }
    QString statusText() const;
    QString vpnPhase() const { return m_vpnPhase; }
    bool busy() const { return m_busy; }
    bool networkLoading() const { return m_networkLoadingDepth > 0; }
    QString loadingText() const;
    QString apiError() const;
    QString toastMessage() const;
    QString apiBaseUrl() const { return m_apiBaseUrl; }
    QString desktopPlatformLabel() const;
    int mtu() const;
    QString dnsPrimary() const;
    QString dnsFallback() const;
    QString currentNodeName() const;
    QString selectedNodeId() const { return m_selectedNodeId; }
    QString nodeSelectionMode() const { return m_nodeSelectionMode; }
    QString currentNodeLatency() const;
    QString currentNodeQuality() const;
    int currentNodeQualityScore() const;
    QString currentPlanName() const;
    QString currentPlanStatusText() const;
    bool hasActiveMembership() const { return m_hasActiveMembership; }
    QString selectedPlanId() const { return m_selectedPlanId; }
    QString configPreview() const { return m_configPreview; }
    QString authEmail() const { return m_authEmail; }
    QVariantList nodes() const { return m_nodes; }
    QVariantList nodeCountries() const { return m_nodeCountries; }
    QVariantList plans() const { return m_plans; }
    int plansCount() const { return int(m_plans.size()); }
    QVariantMap dashboard() const { return m_dashboard; }
    QVariantMap preferences() const { return m_preferences; }
    QVariantMap experience() const { return m_experience; }
    QVariantMap support() const { return m_support; }
    QString lastError() const;
    QString recentLog() const;
    bool membershipDialogVisible() const { return m_membershipDialogVisible; }
    QString membershipDialogMessage() const;
    bool sessionKickDialogVisible() const { return m_sessionKickDialogVisible; }
    QString sessionKickDialogMessage() const { return m_sessionKickDialogMessage; }
    QVariantMap trialClaimStatus() const { return m_trialClaimStatus; }
    QString language() const { return m_language; }

    void setCurrentPage(const QString &page);

    // --- navigation and the connection
    Q_INVOKABLE void navigate(const QString &page);
    Q_INVOKABLE void toggleConnection();
    Q_INVOKABLE void requestDashboardConnectionToggle();

    // --- nodes
    Q_INVOKABLE void selectNode(const QString &nodeId);
    Q_INVOKABLE void selectNodeWithMode(const QString &nodeId, const QString &mode);

    // --- plans and orders
    Q_INVOKABLE void preparePlanCheckout(const QString &planId, const QString &planName = QString());
    Q_INVOKABLE void choosePlan(const QString &planId);
    Q_INVOKABLE void resumeOrder(const QString &orderId);
    Q_INVOKABLE void cancelOrder(const QString &orderId);

    // --- the pending-order watch and the checkout page opener
    using UrlOpener = std::function<bool(const QUrl &)>;
    // Replaces QDesktopServices::openUrl for checkout pages (tests intercept it); empty restores it.
    void setUrlOpener(UrlOpener opener) { m_urlOpener = std::move(opener); }
    // Shortens the watch's two poll intervals so the test suite stays fast.
    void setPendingOrderPollIntervalsForTesting(int fastMs, int slowMs);
    QVariantMap selectedPlan() const;
    QString pendingOrderId() const { return m_pendingOrderId; }
    int pendingOrderPollsLeft() const { return m_pendingOrderPollsLeft; }
    int pendingOrderFastPollsLeft() const { return m_pendingOrderFastPollsLeft; }
    bool pendingOrderWatchRunning() const;
    int pendingOrderPollInterval() const;
    void startPendingOrderPolling(const QString &orderId);
    void stopPendingOrderPolling();

    // --- account and session
    Q_INVOKABLE void signIn(const QString &email, const QString &password);
    Q_INVOKABLE void signInWithCode(const QString &email, const QString &code);
    Q_INVOKABLE void registerAccount(const QString &email, const QString &password, const QString &name,
                                     const QString &code = QString(), const QString &inviteCode = QString());
    Q_INVOKABLE QString sendVerificationCode(const QString &email, const QString &purpose);
    Q_INVOKABLE bool verifyCode(const QString &email, const QString &purpose, const QString &code);
    Q_INVOKABLE void resetPassword(const QString &email, const QString &password, const QString &code = QString());
    Q_INVOKABLE void changePassword(const QString &currentPassword, const QString &newPassword);
    Q_INVOKABLE void deleteAccount();
    Q_INVOKABLE void revokeDevice(const QString &deviceId);
    Q_INVOKABLE void signOut();

    // --- speed, messages and support
    Q_INVOKABLE void runSpeedTest();
    Q_INVOKABLE void markMessagesRead(const QVariantList &messageIds);
    Q_INVOKABLE void refreshSupportChat();
    Q_INVOKABLE void sendSupportChatMessage(const QString &text, const QVariantList &attachments = QVariantList());
    Q_INVOKABLE QVariantMap uploadSupportMedia(const QString &fileUrl);
    Q_INVOKABLE QVariantList pickSupportMediaFiles();

    // --- settings and server
    Q_INVOKABLE void setSetting(const QString &key, const QVariant &value);
    Q_INVOKABLE void setPreference(const QString &section, const QString &key, const QVariant &value);
    Q_INVOKABLE void setApiBaseUrl(const QString &url);

    // --- toasts, clipboard and dialogs
    Q_INVOKABLE void copyText(const QString &text);
    Q_INVOKABLE void showApiErrorMessage(const QString &message);
    Q_INVOKABLE void clearToastMessage();
    Q_INVOKABLE void promptMembershipDialogForConnection();
    Q_INVOKABLE void dismissMembershipDialog();
    Q_INVOKABLE void dismissSessionKickDialog();
    Q_INVOKABLE void claimDailyTrial();

    // --- diagnostics
    Q_INVOKABLE void uploadDiagnosticLog();
    Q_INVOKABLE void clearCachedLogs();

    // --- realtime events, inbox and support chat
    // Opens a link found in server text, only when it is http or https.
    Q_INVOKABLE bool openExternalLink(const QString &url);
    void handleRealtimeEvent(const QString &type, const QString &payload);
    void scheduleEventStreamReconnect();
    void optimisticallyMarkMessagesRead(const QVariantList &messageIds);
    QWebSocket *eventSocket() const { return m_eventSocket; }
    QString eventStreamToken() const { return m_eventStreamToken; }
    int eventReconnectBackoffMs() const { return m_eventReconnectBackoffMs; }
    QTimer *eventReconnectTimer() const { return m_eventReconnectTimer; }

    // --- event stream health and the daily-trial claim in flight
    // Shortens the keep-alive ping period and its answer window for tests.
    void setEventKeepAliveForTesting(int pingIntervalMs, int answerWaitMs);
    // The network came back or the system woke up: redial at once, or prove the open stream alive.
    void onNetworkReturned();
    bool trialClaimInFlight() const { return m_trialClaimInFlight; }

    // --- start-up while the backend is unreachable: the stored session stays
    // and the bootstrap is tried again with a growing delay
    bool backendOffline() const { return m_backendOffline; }
    void setStartupRetryDelaysForTesting(int firstMs, int maxMs);
    QTimer *startupRetryTimer() const { return m_startupRetryTimer; }
    // --- the membership's end: when a trial or plan reaches its end time the
    // server is asked again at once instead of at the next bootstrap
    QTimer *membershipEndTimer() const { return m_membershipEndTimer; }
    void armMembershipEndCheck();
    // The network came back: a waiting start-up retry goes at once.
    void onNetworkReachable();
    // Whether the system shows our tray icon; without one a closed window
    // must stay reachable (minimized, not hidden). Set by main.
    bool trayAvailable() const { return m_trayAvailable; }
    void setTrayAvailable(bool available);
    // Sorting by name in the interface language.
    Q_INVOKABLE int compareNames(const QString &left, const QString &right) const;
    // A country, city or node name in the interface language (the catalogue
    // names them in Chinese); the lists, headers and node card all use it.
    Q_INVOKABLE QString localizedPlaceName(const QString &name, const QString &countryCode) const;
    // A form switched to another one: the last server error no longer applies.
    Q_INVOKABLE void clearApiError() { updateApiError(QString()); }

    // --- the servers page's lists
    // Shows the countries matching the query (and the chosen country's nodes) in the
    // sort order; the lists follow the catalogue, the probe and the selection until
    // closed. Returns how many countries match.
    Q_INVOKABLE int showServerCatalogue(const QString &query, const QString &sortMode, const QString &countryKey);
    Q_INVOKABLE void closeServerCatalogue();
    QObject *serverCountryModel() const;
    QObject *serverNodeModel() const;
    QVariantMap serverChosenCountry() const;
    int nodeCountryCount() const { return int(m_nodeCountries.size()); }
    QString currentNodeDisplayName() const;
    QString currentNodeCountryCode() const;
    // Latency samples reach the catalogue's readers at most this often while a probe round runs.
    static constexpr int kLatencyPublishIntervalMs = 500;

    // --- language
    Q_INVOKABLE QVariantList languageOptions() const;
    Q_INVOKABLE void setLanguage(const QString &language);
    Q_INVOKABLE QString trText(const QString &key) const;

    // --- backend calls used by the feature code (asynchronous forms call back on the GUI thread)
    void requestJsonAsync(const QString &method, const QString &path, const QVariantMap &body, bool withToken,
                          JsonCompletion completion, bool showLoading);
    void postJsonAsync(const QString &path, const QVariantMap &body, bool withToken, PostCompletion completion);
    QVariantMap requestJson(const QString &method, const QString &path, const QVariantMap &body, bool withToken);
    QVariantMap requestJsonDocument(const QString &method, const QString &path, const QByteArray &body,
                                    const QString &contentType, bool withToken);
    void requestRawAsync(const QString &method, const QString &path, const QByteArray &body,
                         const QString &contentType, bool withToken, RawCompletion completion, bool showLoading);
    QByteArray requestRaw(const QString &method, const QString &path, const QByteArray &body,
                          const QString &contentType, bool withToken, bool showLoading);

    QNetworkRequest buildApiRequest(const QString &path, const QString &contentType, bool withToken,
                                    const QByteArray &accept = QByteArrayLiteral("application/json")) const;
    QByteArray decryptApiPayloadIfNeeded(const QByteArray &body, bool decrypt, QString *error) const;

    // --- loading indicator and refresh gates
    void beginNetworkLoading(const QString &path);
    void endNetworkLoading();
    void clearNetworkLoading();
    bool beginRefreshGate(const QString &key);
    void endRefreshGate(const QString &key);
    bool shouldForceLogout(int status, const QString &errorText, bool sentWithToken) const;
    void triggerForcedLogout(const QString &message);

    // --- account, bootstrap and sections used by the feature code
    QVariantMap currentClientDevice() const;
    void loadBootstrapAsync(std::function<void(bool)> completion, bool showLoading);
    void loadBootstrap();
    void applyBootstrapResponse(const QVariantMap &response);
    void updateTrialClaimStatus(const QVariantMap &status);
    void showMembershipDialog(const QString &message);
    // Sends the preferences (with `routingMode` in place of the current one
    // when given); true once the server took them or when signed out.
    bool persistRemotePreferences(const QString &routingMode = QString());
    void refreshExperienceSectionAsync(const QString &section, const QString &path,
                                       std::function<QVariantMap(const QVariantMap &)> normalize, bool showLoading);
    void refreshBillingExperienceAsync();
    void refreshInviteExperienceAsync();
    void refreshDevicesExperienceAsync();
    void refreshMessagesExperienceAsync();
    void refreshSpeedExperienceAsync(std::function<void(bool ok)> completion = nullptr);

    // --- live traffic: the runtime speed probe, its counters and their publication
    void startRuntimeSpeedProbe();
    void refreshRuntimeTrafficStats();
    void publishRuntimeTrafficStats(bool appendHistory);
    void resetRuntimeTrafficStats(bool commitSession);
    void applyRuntimeSpeedProbeSample(qint64 uploadRate, qint64 downloadRate, qint64 uploadBytes,
                                      qint64 downloadBytes);
    QNetworkRequest buildSpeedProbeRequest(const QString &path, const QString &contentType,
                                           const QByteArray &accept) const;
    bool speedProbeInFlight() const { return m_speedProbeInFlight; }
    quint64 speedProbeGeneration() const { return m_speedProbeGeneration; }
    QDateTime connectedAt() const { return m_connectedAt; }
    qint64 uploadRate() const { return m_uploadRate; }
    qint64 downloadRate() const { return m_downloadRate; }
    qint64 sessionUploadBytes() const { return m_sessionUploadBytes; }
    qint64 sessionDownloadBytes() const { return m_sessionDownloadBytes; }
    QTimer *runtimeTrafficTimer() const { return m_trafficTimer; }

    // --- node catalogue, latency and the fastest node
    QVariantMap selectedNode() const;
    QVariantList connectionCandidates() const;
    void probeNodeLatencyAsync();
    void applyLocalNodeLatencySample(const QString &nodeId, int latencyMs);
    // Blocking: races the candidates' servers in a nested event loop.
    QVariantMap fastestReachableNode(const QVariantList &candidates, const QSet<QString> &excludedIds,
                                     bool *fellBack = nullptr);
    void refreshNodeTelemetryAsync();
    void recomputeCountryTelemetry();
    bool nodeChangeRestartPending() const { return m_nodeChangeRestartPending; }
    bool latencyProbeInProgress() const { return m_probeInProgress; }

    // --- the truth about the tunnel
    // The connect page's line under the power button: the connection and the
    // membership as they are now, never another page's message.
    QString connectionStatusText() const;
    // The node the running engine was started (or found) with, in the interface language.
    QString connectedNodeName() const;
    QString connectedNodeId() const { return m_connectedNodeId; }
    // A tunnel left running by an earlier run of the client (or found running
    // while the page says otherwise) is taken over: "connected" on the node its
    // document names, or stopped when its engine does not answer. Runs on its
    // own when the start-up bootstrap has answered and when a RUNNING service
    // turns up while nothing runs; callable again at any time.
    void reattachRunningTunnel(const QString &reason);
    // True once the start-up re-attach check has finished (whatever it found);
    // startupReattachFinished() is emitted then, once.
    bool startupReattachDone() const { return m_startupReattachDone; }
    // A connect or disconnect chain (workflow, restart, re-attach) owns the phase.
    bool workflowRunning() const { return m_chainToken != 0 && m_chainToken == m_workflowGeneration; }
    // The tray's words: "岚舟 · 已连接 · 东京" in the interface language.
    Q_INVOKABLE QString trayToolTip() const;
    // The tray's state entry and its connect/disconnect entry.
    Q_INVOKABLE QString trayStateText() const;
    Q_INVOKABLE QString trayToggleText() const;
    // Stops the tunnel (waiting until it is gone, at most about ten seconds), then returns.
    Q_INVOKABLE void disconnectForExit();
    // --- everyday use: connect at start, start with the session, keep the tunnel up
    bool autoConnect() const;
    bool launchAtLogin() const;
    bool reconnectOnDrop() const;
    bool notifyOnDrop() const;
    bool trayIconConnected() const { return m_trayIconConnected; }
    bool startInTray() const { return m_startInTray; }
    // Set by main before the window is loaded.
    void setStartInTray(bool value) { m_startInTray = value; }
    // The program the login entry starts (this one); tests point it elsewhere.
    void setLaunchAtLoginProgramForTesting(const QString &program) { m_launchAtLoginProgram = program; }
    // The check interval, the re-check after a first failure and the restart back-offs, shortened for tests.
    void setHealthTimingsForTesting(int intervalMs, int recheckMs, const QList<int> &restartDelaysMs);
    // One health check of the connected tunnel now (the timer and network changes call it too).
    void runTunnelHealthCheck();
    // The system's word on the network: unreachable holds checks and restarts until it returns.
    void onNetworkStateChanged(bool reachable);
    bool networkReachableForHealth() const { return m_healthNetworkReachable; }
    int healthRestartsUsed() const { return m_healthState.restartsUsed; }
    bool tunnelRecoveryActive() const { return m_healthRecovering; }
    QTimer *tunnelHealthTimer() const { return m_healthTimer; }
    // Whether the connection was started by itself at start (at most once per run).
    bool autoConnectTried() const { return m_autoConnectTried; }

    // --- internals exposed for the tests and the composition root
    SingBoxProcessManager *engineController() const { return m_engine; }
    ConfigRepository *configRepository() const { return m_configRepository; }
    QNetworkAccessManager *networkAccessManager() const { return m_network; }
    QString authToken() const { return m_authToken; }
    QString deviceId() const { return m_deviceId; }
    QString deviceName() const { return m_deviceName; }
    QVariantMap localSettings() const { return m_settings; }
    QVariantMap connectivitySettings() const { return m_connectivitySettings; }
    bool bootstrapReady() const { return m_bootstrapReady; }
    quint64 workflowGeneration() const { return m_workflowGeneration; }
    QString directNodeId() const { return m_directNodeId; }
    QString clashSecret() const { return m_clashSecret; }
    // Shortens the transport's time limits so the test suite stays fast.
    void setApiTimingsForTesting(const ApiTimings &timings) { m_apiTimings = timings; }
    const ApiTimings &apiTimings() const { return m_apiTimings; }

    void setBusy(bool value);
    void updateToastMessage(const QString &text);
    void updateApiError(const QString &text);
    void setStatusText(const QString &text);
    void setVpnPhase(const QString &phase, const QString &status);

Q_SIGNALS:
    void currentPageChanged();
    void connectedChanged();
    void loggedInChanged();
    void statusTextChanged();
    void vpnPhaseChanged();
    void busyChanged();
    void networkLoadingChanged();
    void loadingTextChanged();
    void apiErrorChanged();
    void toastMessageChanged();
    void apiBaseUrlChanged();
    void settingsChanged();
    void selectedNodeChanged();
    void currentPlanChanged();
    void configPreviewChanged();
    void authChanged();
    void nodesChanged();
    void nodeCountriesChanged();
    void plansChanged();
    void dashboardChanged();
    void preferencesChanged();
    void experienceChanged();
    void supportChanged();
    void lastErrorChanged();
    void recentLogChanged();
    void membershipDialogVisibleChanged();
    void membershipDialogMessageChanged();
    void sessionKickDialogVisibleChanged();
    void sessionKickDialogMessageChanged();
    void trialClaimStatusChanged();
    void languageChanged();
    void backendOfflineChanged();
    void trayAvailableChanged();
    void serverViewChanged();
    void planCheckoutRequested(const QString &planId, const QString &planName, const QString &orderId,
                               bool resumeExisting);
    void speedTestFinished(bool success);
    // Every diagnostic upload ends with this, success or failure, whatever the text.
    void diagnosticUploadFinished(bool success, const QString &message);
    void trialClaimInFlightChanged();
    void connectionStatusTextChanged();
    void startupReattachFinished();
    // The tray shows a notification (title, message), already in the interface language.
    void trayNotificationRequested(const QString &title, const QString &message);
    void trayIconConnectedChanged();

private:
    // core
    void runDeferredStartup();
    // start-up bootstrap and its retries
    void runStartupBootstrap();
    void scheduleStartupRetry();
    void setBackendOffline(bool offline);
    void watchNetworkReachability();
    // Calls onReturn each time the system reports the network reachable again (where it can tell).
    void whenNetworkReturns(void (AppController::*onReturn)());
    // After the event stream was lost or came back.
    void resyncWithBackend();
    // The bootstrap for the session of the moment; `done` is dropped when that session ends first.
    void loadBootstrapForSession(std::function<void(bool)> done);
    void onBackendAnswered();
    // The idle status line from the current state, once nothing else is going on.
    void recomputeIdleStatusText();
    void onEngineRunningChanged();
    void appendDiagnosticLog(const QString &line);

    // everyday use (appcontroller_health.cpp)
    void setupEverydayUse();
    void applyEverydaySetting(const QString &key);
    void maybeAutoConnectAtStart();
    // One uncached question to the service: is a tunnel running already?
    bool tunnelAlreadyRunning();
    void onHealthPhaseChanged();
    void settleHealthPhase(const QString &previous, const QString &phase);
    void handleHealthStep(int step, const QString &reason);
    void scheduleTunnelRestart(const QString &reason);
    void runScheduledTunnelRestart(quint64 token);
    void giveUpTunnel(const QString &reason);
    void notifyTunnelDrop(const QString &what);
    void watchNetworkForHealth();
    void onSystemNetworkChanged();

    // session
    void restoreStoredSession();
    void persistLocalAuthSession();
    void clearPersistedLocalAuthSession();
    void clearLocalAuthSession(const QString &message);
    // Signed out, with the built-in catalogue: what every way of ending a session shares.
    void resetLocalAccountState();
    void runAuthFlow(const QString &path, const QByteArray &body, bool registration);
    void hideSessionKickDialog();

    // bootstrap and settings
    void restoreCatalogueDefaults();
    void loadLocalSettings();
    void refreshProfileExperienceAsync();
    void applyBillingSectionFollowUp(const QVariantMap &billing);
    void applyNodeSnapshot(const QVariantList &nodes, const QVariantList &countries);
    void startNodeTelemetryRefresh();
    void runLatencyProbeStep(quint64 generation);
    // catalogue index, the servers page's lists and the probe's publications
    void reindexCatalogue();
    const CatalogueIndex::Index &catalogueIndex() const;
    void refreshServerView();
    void scheduleServerViewRefresh();
    QVariant serverCountryRecord(int row) const;
    QVariant serverNodeRecord(int row) const;
    void publishLatencySamples();
    void stopLatencyProbe();
    void restartConnectionForSelectedNodeChange();
    void syncPendingOrderPolling(const QVariantList &orders);
    void synchronizeRuntimeRoutingMode();
    void stopEventStream();

    // workflow (every step takes the workflow token it belongs to and ends
    // silently once a newer request has replaced it)
    void runConnectionWorkflow(quint64 token);
    void continueConnectionWorkflow(quint64 token);
    bool ensureBootstrapReadyForConnection(quint64 token, std::function<void()> continuation);
    void prepareConnectionNode(const QVariantMap &node, quint64 token);
    void fetchConnectionConfig(const QVariantMap &node, quint64 token, int retriesLeft);
    void launchConnectionNode(const QVariantMap &node, const QByteArray &config, quint64 token);
    void failConnectionAttempt(const QVariantMap &node, const QString &message, quint64 token);
    void finishConnectionFailure(const QString &message, quint64 token);
    // Signed in, catalogue loaded, membership active; false when the step must stop.
    bool passConnectionGates(quint64 token, std::function<void()> continuation);
    void failNotSignedInGate();
    void failMembershipGate(bool dashboardWording);
    bool singleNodeMode() const;
    void startConnectionTimeoutGuard(quint64 token);
    void stopConnectionTimeoutGuard();
    void resetConnectionWorkflow();
    void onConnectionTimeout();
    void endConnectionWithSession();
    void settlePhaseFromEngine();
    // readiness
    void waitForSystemTunnelDisconnected(quint64 token, int pollsLeft, const QString &status,
                                         std::function<void()> onDisconnected,
                                         std::function<void(const QString &)> onFailure);
    void waitForSystemTunnelConnected(const QVariantMap &node, quint64 token, int pollsLeft);
    void runConnectivityProbeStep(const QVariantMap &node, quint64 token);
    bool probeConnectivity();
    QByteArray runningEngineConfig() const;
    // routing mode and node changes while connected
    bool applyRuntimeClashMode(const QString &mode);
    void restartConnectionForRoutingModeChange(const QString &mode);
    // Stops the engine, waits until the tunnel is gone, then runs the workflow for the token.
    void restartTunnel(quint64 token, const QString &logLine);
    // the truth about the tunnel
    void beginChain(quint64 token) { m_chainToken = token; }
    void finishStartupReattach();
    // Stops the engine, waits until the tunnel is gone and settles the phase; then calls settled.
    void stopEngineAndSettle(quint64 token, std::function<void()> settled);
    void reattachStep(quint64 token, const QString &reason, int unknownLeft);
    // After "connected": the engine's mode read back and made to match the setting.
    void reconcileEngineRoutingMode(quint64 token);
    void markConnected(const QString &nodeId);
    // A failed node selection: roll back only what that selection changed.
    void settleFailedNodeSelection();
    QString engineFailureText() const;
    // One uncached query that said RUNNING (a slow one says nothing).
    bool engineConfirmedRunning();
    void onTrafficTimer();
    // Today's base figures back to zero (session cleared, another server).
    void clearTodayTrafficBase();
    // resetRuntimeTrafficStats without the change signal, for callers that announce their own.
    void resetRuntimeTrafficState(bool commitSession);
    void finishSpeedProbeDownload(QNetworkReply *reply, quint64 generation);
    void finishSpeedProbeUpload(QNetworkReply *reply, quint64 generation, qint64 downloadBytes,
                                qint64 downloadRateSample);
    // The reply gets a single-shot timer of its own that marks and aborts it.
    void armSpeedProbeTimeout(QNetworkReply *reply);

    // billing
    bool beginPlanCall(const QString &planId);
    bool beginOrderCall(const QString &orderId, const QString &signedOutText, const QString &missingText);
    void pollPendingOrderStatus();
    bool consumePendingOrderPollAttempt();
    void updatePendingOrderPollInterval();
    void handleResolvedPendingOrder(const QString &status);
    // The completion shared by choosePlan and resumeOrder.
    void finishCheckout(const QVariantMap &response, bool success, bool resuming);
    bool openCheckoutUrl(const QString &url);

    // events
    void startEventStreamIfNeeded();
    void onEventSocketConnected(QWebSocket *socket);
    void onEventSocketError(QWebSocket *socket);
    void onEventSocketGone(QWebSocket *socket, const QString &token);
    void reloadBootstrapQuietly(bool refreshPreview);

    // configuration preview
    void rebuildConfigPreview();
    void refreshRemoteConfigPreview();

    // session generation: every request is tagged with the session it was sent
    // in, and its answer is dropped once that session has ended
    void advanceSessionGeneration();

    // transport internals
    void onApiReplyFinished(QNetworkReply *reply, quint64 session, const QString &method, const QString &path,
                            const QByteArray &body, const QString &contentType, bool withToken,
                            RawCompletion completion, bool showLoading);
    QByteArray requestRawWithCurl(const QString &method, const QString &path, const QByteArray &body,
                                  const QString &contentType, bool withToken, int *status, QString *error);
    void logApiTransport(const QString &transport, const QString &method, const QString &path, int status,
                         const QString &detail);
    void requestJsonAttempt(const QString &method, const QString &path, const QByteArray &body, bool retryable,
                            bool withToken, JsonCompletion completion, bool showLoading, int attempt,
                            quint64 session);
    // Judges a finished reply for both call forms (curl retry, error text,
    // forced logout); the decrypted body on success, else the failure's body.
    QByteArray finishApiReply(QNetworkReply *reply, bool blockingForm, const QString &method, const QString &path,
                              const QByteArray &body, const QString &contentType, bool withToken, bool *success);

    // owned objects, created in this order
    QTimer *m_connectionTimeoutGuard = nullptr;
    QTimer *m_trafficTimer = nullptr;
    QTimer *m_orderPollTimer = nullptr;
    QTimer *m_eventReconnectTimer = nullptr;
    QNetworkAccessManager *m_network = nullptr;
    ConfigRepository *m_configRepository = nullptr;
    SingBoxProcessManager *m_engine = nullptr;
    QSettings *m_store = nullptr;

    // simple state
    QString m_currentPage = QStringLiteral("auth");
    bool m_busy = false;
    QString m_toastMessage;
    QString m_statusText = QStringLiteral("登录后同步你的岚舟节点");
    QString m_vpnPhase = QStringLiteral("disconnected");

    // API client
    QString m_apiBaseUrl;
    QString m_apiError;
    QString m_loadingText;
    int m_networkLoadingDepth = 0;
    QSet<QString> m_refreshGate;
    ApiTimings m_apiTimings;

    // identity and language
    QString m_deviceId;
    QString m_deviceName;
    QString m_language;

    // session
    bool m_loggedIn = false;
    QString m_authToken;
    QString m_authEmail;
    QVariantMap m_user;
    bool m_signingOut = false;
    // Bumped by every sign-in, sign-out, forced logout and server change.
    quint64 m_sessionGeneration = 0;

    // catalogue and settings
    QVariantList m_nodes;
    QVariantList m_nodeCountries;
    QVariantList m_plans;
    QVariantMap m_dashboard;
    QVariantMap m_preferences;
    QVariantMap m_experience;
    QVariantMap m_support;
    QVariantMap m_settings;
    QVariantMap m_connectivitySettings;
    bool m_bootstrapReady = false;
    bool m_bootstrapInFlight = false;
    QList<std::function<void(bool)>> m_bootstrapWaiters;

    // today's traffic figures behind the dashboard map
    qint64 m_todayUsageBytes = 0;
    QVariantList m_todayUsageHourlyBytes;
    int m_todaySessions = 0;
    int m_todayOnlineSeconds = 0;
    QVariantList m_uploadHistory;
    QVariantList m_downloadHistory;
    // the running session as the speed probe measures it
    qint64 m_uploadRate = 0;
    qint64 m_downloadRate = 0;
    qint64 m_sessionUploadBytes = 0;
    qint64 m_sessionDownloadBytes = 0;
    bool m_speedProbeInFlight = false;
    quint64 m_speedProbeGeneration = 0;
    QDateTime m_connectedAt; // invalid while no session runs

    // nodes
    QString m_selectedNodeId = QStringLiteral("hk-smart");
    QString m_nodeSelectionMode = QStringLiteral("smart");
    bool m_nodeChangeRestartPending = false;
    bool m_probeInProgress = false;
    quint64 m_probeGeneration = 0;
    QList<QPair<QString, QString>> m_probeQueue; // node id, host
    int m_probeTimeoutMs = 1800;

    // catalogue index, the servers page's lists and the probe's publications
    QHash<QString, QVector<int>> m_nodeRowsById; // follows m_nodes (reindexCatalogue)
    mutable std::shared_ptr<CatalogueIndex::Index> m_catalogueIndex; // built when first needed
    mutable CatalogueListModel *m_serverCountryModel = nullptr;
    mutable CatalogueListModel *m_serverNodeModel = nullptr;
    bool m_serverViewOpen = false;
    bool m_serverViewRefreshQueued = false;
    bool m_serverViewFollowing = false; // connected to the signals it follows
    QString m_serverQuery;
    QString m_serverSortMode = QStringLiteral("latency");
    QString m_serverCountryKey;
    QString m_serverMatchedQuery;
    QVector<int> m_serverMatchingCountries;
    std::shared_ptr<CatalogueIndex::Index> m_serverMatchedIndex; // the index the match is for
    int m_serverChosenCountryRow = -1;
    QSet<int> m_serverCountriesHoldingSelection;
    QTimer *m_latencyPublishTimer = nullptr;
    QElapsedTimer m_lastLatencyPublish;
    bool m_latencyPublishPending = false;
    bool m_probeRerunWanted = false; // a new catalogue arrived while a round ran

    // membership
    bool m_hasActiveMembership = false;
    QString m_selectedPlanId;
    QString m_activePlanName;
    QString m_membershipLabel;
    QString m_planType;
    QString m_planExpiresAt;
    QVariantMap m_trialClaimStatus;
    bool m_membershipDialogVisible = false;
    QString m_membershipDialogMessage;

    // billing: the watched order and the checkout page opener
    QString m_pendingOrderId;
    int m_pendingOrderPollsLeft = 0;
    int m_pendingOrderFastPollsLeft = 0;
    bool m_pendingOrderPollInFlight = false;
    int m_orderPollFastMs = 1000;
    int m_orderPollSlowMs = 5000;
    UrlOpener m_urlOpener;
    // Set while a request is sent whose failure must stay silent (the order
    // watch's polls): its reply neither sets nor clears the API error text.
    bool m_quietApiRequest = false;

    // start-up bootstrap retries
    QTimer *m_startupRetryTimer = nullptr; // created on the first failure
    QTimer *m_membershipEndTimer = nullptr; // created when an end time is first known
    qint64 m_membershipEndDueMs = 0;       // wall-clock time of that end, 0 = none ahead
    int m_startupRetryAttempt = 0;
    int m_startupRetryFirstMs = 2000;
    int m_startupRetryMaxMs = 60000;
    bool m_backendOffline = false;
    bool m_eventStreamLost = false; // closed since it last connected
    bool m_trayAvailable = true;
    bool m_startupHeld = false;

    // session-kick dialog
    bool m_sessionKickDialogVisible = false;
    QString m_sessionKickDialogMessage;

    // realtime events and support chat
    QWebSocket *m_eventSocket = nullptr; // child of the controller
    QString m_eventStreamToken;
    int m_eventReconnectBackoffMs = 1000;
    QElapsedTimer m_eventSocketOpenSince; // valid while the current socket is connected
    QElapsedTimer m_eventErrorReloadSince; // the last quiet reload caused by a socket error
    int m_eventErrorReloadWindowMs = 0;
    bool m_supportSendInFlight = false;

    // tunnel
    QString m_configPreview = QStringLiteral("{}");
    QByteArray m_serverConfig;
    QString m_serverConfigNodeId;
    quint64 m_workflowGeneration = 0;
    // connection workflow
    quint64 m_guardToken = 0;
    QVariantList m_candidates;
    QSet<QString> m_triedIds;
    int m_attemptCount = 0;
    QString m_lastFailureMessage;
    QString m_directNodeId;
    // The server document the running engine was started with: the preview
    // may replace m_serverConfig with one naming another control API.
    QByteArray m_launchedServerConfig;
    // Bumped by every preview rebuild; a server reply for an older value is stale.
    quint64 m_configRequestGeneration = 0;
    // the truth about the tunnel
    quint64 m_chainToken = 0;
    QString m_connectedNodeId;
    bool m_startupReattachDone = false;
    bool m_reattachScheduled = false;
    // The routing mode of the document the engine was started with.
    QString m_launchedRoutingMode;
    // everyday use: the health check of the connected tunnel and its restarts
    QTimer *m_healthTimer = nullptr;
    QTimer *m_healthRecheckTimer = nullptr;
    QTimer *m_healthRestartTimer = nullptr;
    QTimer *m_networkSettleTimer = nullptr;
    TunnelHealth::State m_healthState;
    QList<int> m_healthRestartDelaysMs;
    qint64 m_healthLastTickWallMs = 0;
    QString m_healthPreviousPhase = QStringLiteral("disconnected");
    QString m_healthNodeId;
    quint64 m_healthConnectedToken = 0;
    quint64 m_healthRecoveryToken = 0;
    bool m_healthRecovering = false;
    bool m_healthEngineSeenRunning = false;
    bool m_healthRestartWaitsForNetwork = false;
    bool m_healthNetworkReachable = true;
    bool m_healthNetworkWatched = false;
    bool m_dropNotified = false;
    bool m_autoConnectTried = false;
    bool m_trayIconConnected = false;
    bool m_startInTray = false;
    QString m_launchAtLoginProgram;

    // The engine control API's secret, one per run of the client.
    const QString m_clashSecret = QUuid::createUuid().toString(QUuid::WithoutBraces);
    // event stream keep-alive and wake-up, section refreshes asked for again
    // while one runs, and the trial claim in flight
    void ensureEventKeepAliveTimers();
    void stopEventKeepAlive();
    void pingEventStream();
    void onEventStreamSilent();
    void watchEventStreamWakeUps();
    void reloadAfterFailedDial();
    // True (and forgotten) when the gate refused a caller since the gate's run began.
    bool takeRefreshAskedAgain(const QString &key);
    void setTrialClaimInFlight(bool inFlight);
    static constexpr int kEventWakeCheckMs = 5000;
    static constexpr qint64 kEventWakeJumpMs = 20000;
    QTimer *m_eventPingTimer = nullptr;
    QTimer *m_eventPongTimer = nullptr; // single shot: the ping's answer window
    QTimer *m_eventWakeTimer = nullptr;
    QElapsedTimer m_eventWakeClock;
    qint64 m_eventWakeLastWallMs = 0;
    int m_eventPingIntervalMs = 30000;
    int m_eventPongWaitMs = 10000;
    QSet<QString> m_refreshAskedAgain;
    bool m_trialClaimInFlight = false;

    // --- the checkout notice: what became of the last checkout page, with its link so
    // that payment goes on when no browser could be opened
    Q_PROPERTY(QVariantMap checkoutNotice READ checkoutNotice NOTIFY checkoutNoticeChanged)

public:
    // The statistics page's 24 hourly bars from the dashboard's "todayUsageHourlyBytes".
    Q_INVOKABLE QVariantList hourlyUsageBars(const QVariantList &hourly) const;
    // trText for a counted text, in the plural form the count takes in the language.
    Q_INVOKABLE QString trCount(const QString &key, qint64 count) const;
    // {"opened": bool, "url": text, "orderId": text, "message": source text}; empty when none.
    QVariantMap checkoutNotice() const { return m_checkoutNotice; }
    Q_INVOKABLE void dismissCheckoutNotice();

Q_SIGNALS:
    void checkoutNoticeChanged();

private:
    void setCheckoutNotice(const QVariantMap &notice);
    QVariantMap m_checkoutNotice;
};
