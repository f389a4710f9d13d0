#include "devservertestclient.h"

#include <QNetworkProxy>
#include <QSignalSpy>
#include <QWebSocket>

DevServerTestClient::DevServerTestClient(DevServerRunner &server)
    : m_server(server)
{
    m_network.setProxy(QNetworkProxy::NoProxy);
}

DevAnswer DevServerTestClient::send(
    const QByteArray &method, const QString &path, const QByteArray &body, const QString &token)
{
    QNetworkRequest request(QUrl(m_server.baseUrl() + path));
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    if (!body.isEmpty())
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    if (!token.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    if (!m_acceptLanguage.isEmpty())
        request.setRawHeader("Accept-Language", m_acceptLanguage);
    QNetworkReply *reply = m_network.sendCustomRequest(request, method, body);
    QSignalSpy finished(reply, &QNetworkReply::finished);
    if (!reply->isFinished())
        finished.wait(20000);
    DevAnswer answer;
    answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    answer.error = reply->error();
    answer.body = reply->readAll();
    reply->deleteLater();
    return answer;
}

DevAnswer DevServerTestClient::get(const QString &path, const QString &token)
{
    return send("GET", path, QByteArray(), token);
}

DevAnswer DevServerTestClient::post(const QString &path, const QJsonObject &body, const QString &token)
{
    return send("POST", path, QJsonDocument(body).toJson(QJsonDocument::Compact), token);
}

QString DevServerTestClient::signIn(const QString &email, const QString &password, const QString &deviceId)
{
    QJsonObject body {{QStringLiteral("email"), email}, {QStringLiteral("password"), password}};
    if (!deviceId.isEmpty()) {
        body.insert(QStringLiteral("device_id"), deviceId);
        body.insert(QStringLiteral("device_name"), QStringLiteral("PC %1").arg(deviceId));
        body.insert(QStringLiteral("device_platform"), QStringLiteral("Windows"));
        body.insert(QStringLiteral("device_location"), QStringLiteral("当前网络"));
    }
    return post(QStringLiteral("/api/v1/auth/login"), body).json().value(QStringLiteral("token")).toString();
}

QString DevServerTestClient::newAccount(const QString &planId)
{
    const QString email = QStringLiteral("account-%1-%2@example.com").arg(++m_counter).arg(quintptr(this), 0, 16);
    m_server.run([&](DevServer &server) {
        const qint64 id = server.store().createAccount(email, password(), QStringLiteral("Tester"));
        const auto plan = DevServer::planById(planId);
        if (id > 0 && plan)
            server.store().setMembership(id, plan->id, plan->name, server.store().now().addDays(plan->days));
    });
    return email;
}

std::unique_ptr<QWebSocket> DevServerTestClient::openStream(const QString &token, QList<QJsonObject> *events)
{
    auto socket = std::make_unique<QWebSocket>();
    QObject::connect(socket.get(), &QWebSocket::textMessageReceived, socket.get(),
        [events](const QString &text) { events->append(QJsonDocument::fromJson(text.toUtf8()).object()); });
    QNetworkRequest request(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/v1/ws").arg(m_server.port())));
    request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    const qsizetype before = events->size();
    socket->open(request);
    QSignalSpy received(socket.get(), &QWebSocket::textMessageReceived);
    while (events->size() == before && received.wait(5000)) { }
    return socket;
}
