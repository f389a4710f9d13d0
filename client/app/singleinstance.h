#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

// One running client per user: the first launch listens on a local socket
// named for the user; a later launch asks it to show its window and exits.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    explicit SingleInstance(const QString &serverName, QObject *parent = nullptr);

    // The socket name of this user (and home folder), so two users of one
    // machine each get their own client.
    static QString serverNameForCurrentUser();

    // True when a running instance took the request to show itself.
    bool activateRunningInstance(int timeoutMs = 2000);
    // Listens for later launches; a name left behind by a crashed run is
    // taken over. False when the name cannot be taken.
    bool listen();
    QString serverName() const { return m_serverName; }

Q_SIGNALS:
    void activationRequested();

private:
    void onNewConnection();

    QString m_serverName;
    QLocalServer *m_server = nullptr;
};
