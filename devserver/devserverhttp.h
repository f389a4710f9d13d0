#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QString>
#include <QUrlQuery>

// One request as a route handler sees it: copied out of the HTTP layer, so it
// stays valid when the answer is deferred (delay faults).
struct DevRequest
{
    QByteArray method; // upper case: "GET", "POST", ...
    QString path; // without the query
    QUrlQuery query;
    QHash<QByteArray, QByteArray> headers; // lower-case names
    QByteArray body;
    QJsonObject json; // the body parsed as an object; empty when it is not one
    bool jsonValid = false; // the body is a JSON object (or empty)

    // Filled by the server before the handler runs.
    QString token; // a bearer token the server accepted, or empty
    qint64 accountId = -1; // its account, or -1

    QByteArray header(const QByteArray &name) const { return headers.value(name.toLower()); }
    QString queryValue(const QString &key) const { return query.queryItemValue(key, QUrl::FullyDecoded); }
    // A body string, trimmed; a missing or non-string value gives an empty string.
    QString text(const QString &key) const;
};

// A handler's answer. JSON by default; success answers may be sealed into the
// encrypted envelope unless encryptable is false.
struct DevReply
{
    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/json";
    bool encryptable = true;

    bool isSuccess() const { return status < 400; }

    static DevReply json(const QJsonObject &object, int status = 200);
    static DevReply error(int status, const QString &message);
    static DevReply raw(const QByteArray &body, const QByteArray &contentType, int status = 200);
};
