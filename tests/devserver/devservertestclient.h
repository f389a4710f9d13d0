#pragma once

#include "devserver/devserverrunner.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QString>
#include <QStringList>

#include <memory>

class QWebSocket;

// One HTTP answer of the devserver, read to the end.
struct DevAnswer
{
    int status = 0;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QByteArray body;

    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
    QString errorText() const { return json().value(QStringLiteral("error")).toString(); }
};

// Real HTTP and WebSocket traffic against a DevServerRunner, plus the
// account set-up the tests share. Lives on the test's thread.
class DevServerTestClient
{
public:
    explicit DevServerTestClient(DevServerRunner &server);

    DevAnswer send(const QByteArray &method, const QString &path, const QByteArray &body = QByteArray(),
        const QString &token = QString());
    DevAnswer get(const QString &path, const QString &token = QString());
    DevAnswer post(const QString &path, const QJsonObject &body, const QString &token = QString());

    // The Accept-Language every later request sends: the service's own language unless
    // a test asks for another (Qt would send the test machine's locale).
    void setAcceptLanguage(const QByteArray &value) { m_acceptLanguage = value; }

    // Signs in with a password from the named device; empty on failure.
    QString signIn(const QString &email, const QString &password, const QString &deviceId = QString());

    // A fresh account, with an active membership of the plan when one is named.
    QString newAccount(const QString &planId = QString());
    static QString password() { return QStringLiteral("Account-pass-1"); }

    // An event stream for the token, open and past its "connected" greeting;
    // received frames (parsed) are collected in *events.
    std::unique_ptr<QWebSocket> openStream(const QString &token, QList<QJsonObject> *events);

private:
    DevServerRunner &m_server;
    QNetworkAccessManager m_network;
    int m_counter = 0;
    QByteArray m_acceptLanguage = "zh-CN";
};
