#pragma once

#include "devserver/devserver.h"

#include <QJsonObject>
#include <QString>

#include <functional>
#include <memory>

class QObject;
class QThread;

// Runs a DevServer on a thread of its own, so a test can talk to it with
// blocking or event-driven client code on its own thread. Every method is
// safe to call from any thread; calls are carried to the server's thread and
// wait for it. The constructor starts the server and returns once it listens.
class DevServerRunner
{
public:
    explicit DevServerRunner(const DevServer::Options &options = DevServer::Options());
    ~DevServerRunner();
    DevServerRunner(const DevServerRunner &) = delete;
    DevServerRunner &operator=(const DevServerRunner &) = delete;

    // (Re)starts with the options; false with errorString() set when it cannot listen.
    bool start(const DevServer::Options &options = DevServer::Options());
    void stop();
    bool isRunning() const { return m_server != nullptr; }
    QString errorString() const { return m_errorString; }

    QString baseUrl() const { return m_baseUrl; } // "http://127.0.0.1:PORT", empty when stopped
    quint16 port() const { return m_port; }

    int requestCount(const QString &route) const;
    void resetRequestCounts();
    void setFault(const QString &route, const DevServer::Fault &fault);
    void clearFaults();
    void setEncryption(bool enabled, const QString &token = QString(), const QString &route = QString());
    QString lastMailCode(const QString &email) const;
    int pushEvent(const QString &tokenOrEmail, const QJsonObject &event);
    int pushEvent(qint64 accountId, const QJsonObject &event);

    // The node catalogue (see DevServer).
    bool setNodeEndpoint(const QString &nodeId, const QString &host, quint16 port);
    bool setNodeStatus(const QString &nodeId, const QString &status, bool disabled);
    QJsonObject node(const QString &nodeId) const;

    // Runs the task on the server's thread and waits; for anything else a test
    // needs (store changes, clock moves). Does nothing when stopped.
    void run(const std::function<void(DevServer &)> &task) const;

private:
    std::unique_ptr<QThread> m_thread;
    QObject *m_context = nullptr; // lives on m_thread; carries the calls
    DevServer *m_server = nullptr; // created, used and deleted on m_thread
    QString m_baseUrl;
    QString m_errorString;
    quint16 m_port = 0;
};
