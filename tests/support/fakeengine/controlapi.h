#pragma once

#include <QHostAddress>
#include <QJsonObject>
#include <QObject>
#include <QStringList>

class QTcpServer;
class QTcpSocket;

// The engine's local control API (experimental.clash_api) as the client uses
// it: GET /, /version, /traffic (streamed), /configs, PATCH and PUT /configs,
// all behind "Authorization: Bearer <secret>" when a secret is set.
class ControlApiServer : public QObject
{
    Q_OBJECT
public:
    ControlApiServer(const QJsonObject &config, bool reportTraffic, QObject *parent = nullptr);

    // Listens on external_controller; false with errorText set when it cannot.
    bool listen(const QString &address);
    QString errorText() const { return m_errorText; }
    // What GET /version names, e.g. "sing-box 1.12.24".
    void setVersionText(const QString &text) { m_versionText = text; }
    // As the engine with experimental.cache_file enabled: the mode of the last
    // run is restored from the cache file (when it is in the mode list), and
    // every switch is stored there.
    void rememberModeIn(const QString &cachePath);

private:
    struct Request
    {
        QByteArray method;
        QByteArray path;
        QByteArray version;
        QHash<QByteArray, QByteArray> headers;
        QByteArray body;
    };

    void onNewConnection();
    void processBuffer(QTcpSocket *socket);
    void handle(QTcpSocket *socket, const Request &request);
    void reply(QTcpSocket *socket, const Request &request, int status, const QByteArray &body,
        const QByteArray &contentType = "application/json");
    void startTrafficStream(QTcpSocket *socket, const Request &request);
    QByteArray configsBody() const;

    QTcpServer *m_server = nullptr;
    QString m_secret;
    QString m_mode;
    QStringList m_modeList;
    bool m_reportTraffic = true;
    QString m_errorText;
    QString m_versionText = QStringLiteral("sing-box 1.12.24");
    QString m_modeStore;
    QHash<QTcpSocket *, QByteArray> m_buffers;
};
