#include "devserverhttp.h"

#include <QJsonDocument>
#include <QJsonValue>

QString DevRequest::text(const QString &key) const
{
    const QJsonValue value = json.value(key);
    return value.isString() ? value.toString().trimmed() : QString();
}

DevReply DevReply::json(const QJsonObject &object, int status)
{
    DevReply reply;
    reply.status = status;
    reply.body = QJsonDocument(object).toJson(QJsonDocument::Compact);
    return reply;
}

DevReply DevReply::error(int status, const QString &message)
{
    return json(QJsonObject {{QStringLiteral("error"), message}}, status);
}

DevReply DevReply::raw(const QByteArray &body, const QByteArray &contentType, int status)
{
    DevReply reply;
    reply.status = status;
    reply.body = body;
    reply.contentType = contentType;
    return reply;
}
