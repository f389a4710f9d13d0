#include "devserverrunner.h"

#include <QMetaObject>
#include <QObject>
#include <QThread>

DevServerRunner::DevServerRunner(const DevServer::Options &options)
{
    start(options);
}

DevServerRunner::~DevServerRunner()
{
    stop();
}

bool DevServerRunner::start(const DevServer::Options &options)
{
    stop();
    m_thread = std::make_unique<QThread>();
    m_thread->setObjectName(QStringLiteral("quillet-devserver"));
    m_context = new QObject;
    m_context->moveToThread(m_thread.get());
    QObject::connect(m_thread.get(), &QThread::finished, m_context, &QObject::deleteLater);
    m_thread->start();

    bool started = false;
    QMetaObject::invokeMethod(
        m_context,
        [this, &options, &started] {
            auto *server = new DevServer;
            started = server->start(options);
            if (started) {
                m_server = server;
                m_port = server->port();
                m_baseUrl = server->baseUrl();
                m_errorString.clear();
            } else {
                m_errorString = server->errorString();
                delete server;
            }
        },
        Qt::BlockingQueuedConnection);

    if (!started) {
        m_thread->quit();
        m_thread->wait();
        m_thread.reset();
        m_context = nullptr;
    }
    return started;
}

void DevServerRunner::stop()
{
    if (!m_thread)
        return;
    if (m_server) {
        QMetaObject::invokeMethod(
            m_context, [this] { delete std::exchange(m_server, nullptr); }, Qt::BlockingQueuedConnection);
    }
    m_thread->quit();
    m_thread->wait();
    m_thread.reset();
    m_context = nullptr;
    m_port = 0;
    m_baseUrl.clear();
}

void DevServerRunner::run(const std::function<void(DevServer &)> &task) const
{
    if (!m_server)
        return;
    if (QThread::currentThread() == m_thread.get()) {
        task(*m_server);
        return;
    }
    QMetaObject::invokeMethod(
        m_context, [this, &task] { task(*m_server); }, Qt::BlockingQueuedConnection);
}

int DevServerRunner::requestCount(const QString &route) const
{
    int count = 0;
    run([&](DevServer &server) { count = server.requestCount(route); });
    return count;
}

void DevServerRunner::resetRequestCounts()
{
    run([](DevServer &server) { server.resetRequestCounts(); });
}

void DevServerRunner::setFault(const QString &route, const DevServer::Fault &fault)
{
    run([&](DevServer &server) { server.setFault(route, fault); });
}

void DevServerRunner::clearFaults()
{
    run([](DevServer &server) { server.clearFaults(); });
}

void DevServerRunner::setEncryption(bool enabled, const QString &token, const QString &route)
{
    run([&](DevServer &server) { server.setEncryption(enabled, token, route); });
}

QString DevServerRunner::lastMailCode(const QString &email) const
{
    QString code;
    run([&](DevServer &server) { code = server.lastMailCode(email); });
    return code;
}

int DevServerRunner::pushEvent(const QString &tokenOrEmail, const QJsonObject &event)
{
    int reached = 0;
    run([&](DevServer &server) { reached = server.pushEvent(tokenOrEmail, event); });
    return reached;
}

int DevServerRunner::pushEvent(qint64 accountId, const QJsonObject &event)
{
    int reached = 0;
    run([&](DevServer &server) { reached = server.pushEvent(accountId, event); });
    return reached;
}

bool DevServerRunner::setNodeEndpoint(const QString &nodeId, const QString &host, quint16 port)
{
    bool changed = false;
    run([&](DevServer &server) { changed = server.setNodeEndpoint(nodeId, host, port); });
    return changed;
}

bool DevServerRunner::setNodeStatus(const QString &nodeId, const QString &status, bool disabled)
{
    bool changed = false;
    run([&](DevServer &server) { changed = server.setNodeStatus(nodeId, status, disabled); });
    return changed;
}

QJsonObject DevServerRunner::node(const QString &nodeId) const
{
    QJsonObject record;
    run([&](DevServer &server) { record = server.nodeJson(nodeId); });
    return record;
}
