#include "orderedjson.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

namespace {

QByteArray compactJsonValue(const QVariant &value)
{
    // Serialize through a one-element array so strings are escaped the same way as elsewhere.
    const QByteArray array = QJsonDocument(QJsonArray{QJsonValue::fromVariant(value)}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

} // namespace

QByteArray orderedJsonObject(std::initializer_list<std::pair<QString, QVariant>> members)
{
    QByteArray out("{");
    bool first = true;
    for (const auto &member : members) {
        if (!first)
            out += ',';
        first = false;
        out += compactJsonValue(member.first);
        out += ':';
        out += compactJsonValue(member.second);
    }
    out += '}';
    return out;
}
