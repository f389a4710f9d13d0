#include "maphelpers.h"

namespace MapHelpers {

QVariantMap firstNestedMap(const QVariantMap &map, const QStringList &keys)
{
    for (const QString &key : keys) {
        const QVariantMap nested = map.value(key).toMap();
        if (!nested.isEmpty())
            return nested;
    }
    return QVariantMap();
}

QString firstNonBlankValue(const QVariantMap &map, const QStringList &keys)
{
    for (const QString &key : keys) {
        const QString text = map.value(key).toString().trimmed();
        if (!text.isEmpty())
            return text;
    }
    return QString();
}

bool mapContainsAnyKey(const QVariantMap &map, const QStringList &keys)
{
    for (const QString &key : keys) {
        const auto it = map.constFind(key);
        if (it != map.constEnd() && it.value().isValid())
            return true;
    }
    return false;
}

bool leadingInteger(const QVariant &value, int *out)
{
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
        *out = value.toInt();
        return true;
    default:
        break;
    }
    const QString text = value.toString().trimmed();
    int end = 0;
    if (end < text.size() && (text.at(0) == QLatin1Char('-') || text.at(0) == QLatin1Char('+')))
        ++end;
    const int digitsStart = end;
    while (end < text.size() && text.at(end).isDigit())
        ++end;
    if (end == digitsStart)
        return false;
    bool ok = false;
    const int number = text.left(end).toInt(&ok);
    if (!ok)
        return false;
    *out = number;
    return true;
}

bool firstInteger(const QVariantMap &map, const QStringList &keys, int *out)
{
    for (const QString &key : keys) {
        const auto it = map.constFind(key);
        if (it != map.constEnd() && leadingInteger(it.value(), out))
            return true;
    }
    return false;
}

} // namespace MapHelpers
