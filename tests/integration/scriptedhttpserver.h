#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QString>

#include <memory>

class QObject;
class QThread;
class QTcpServer;

// A tiny HTTP/1.1 responder on 127.0.0.1 with a thread of its own, for the
// exchanges the development backend has no route for (redirects). It must not
// share the test's thread: the curl fallback blocks that thread while it runs.
// Each request to a path gets the next scripted raw answer (the last repeats);
// the connection is closed after every answer.
class ScriptedHttpServer
{
public:
    using Headers = QHash<QByteArray, QByteArray>; // lower-case names

    ScriptedHttpServer();
    ~ScriptedHttpServer();
    ScriptedHttpServer(const ScriptedHttpServer &) = delete;
    ScriptedHttpServer &operator=(const ScriptedHttpServer &) = delete;

    bool isListening() const { return m_port != 0; }
    quint16 port() const { return m_port; }
    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_port); }

    void script(const QByteArray &path, const QList<QByteArray> &answers);
    // The headers of every request to the path so far, in arrival order.
    QList<Headers> requests(const QByteArray &path) const;

    static QByteArray jsonAnswer(const QByteArray &json, int status = 200);
    static QByteArray redirectAnswer(const QString &location);
    static QByteArray garbageAnswer();
    // A header block promising a body that never comes: Qt fails at once
    // (no silent re-send as after garbage).
    static QByteArray truncatedAnswer();

private:
    friend class ScriptedHttpConnection;
    QByteArray answerFor(const QByteArray &path, const Headers &headers);

    std::unique_ptr<QThread> m_thread;
    QObject *m_context = nullptr; // lives on m_thread; carries the set-up and tear-down
    QTcpServer *m_server = nullptr; // lives on m_thread
    quint16 m_port = 0;

    mutable QMutex m_mutex;
    QHash<QByteArray, QList<QByteArray>> m_answers;
    QHash<QByteArray, QList<Headers>> m_requests;
};
