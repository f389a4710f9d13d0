#include "inbox.h"

#include "maphelpers.h"

#include <QSet>
#include <QStringList>
#include <QUrl>

namespace Inbox {

namespace {

// The first of the keys whose value is a non-empty list; *key names it.
QVariantList firstNonEmptyList(const QVariantMap &map, const QStringList &keys, QString *key)
{
    for (const QString &candidate : keys) {
        const QVariantList list = map.value(candidate).toList();
        if (!list.isEmpty()) {
            if (key)
                *key = candidate;
            return list;
        }
    }
    return QVariantList();
}

// The first non-empty map under one of nestedKeys; else the map itself when
// it holds one of ownKeys; else empty.
QVariantMap nestedOrOwnMap(const QVariantMap &map, const QStringList &nestedKeys, const QStringList &ownKeys)
{
    const QVariantMap nested = MapHelpers::firstNestedMap(map, nestedKeys);
    if (!nested.isEmpty())
        return nested;
    return MapHelpers::mapContainsAnyKey(map, ownKeys) ? map : QVariantMap();
}

} // namespace

QVariantMap normalizedMessagesSection(const QVariantMap &section)
{
    QVariantMap normalized = section;
    QString itemsKey;
    const QVariantList items = firstNonEmptyList(
        section,
        {QStringLiteral("items"), QStringLiteral("messages"), QStringLiteral("records"), QStringLiteral("notices")},
        &itemsKey);
    if (!items.isEmpty() && itemsKey != QLatin1String("items"))
        normalized.insert(QStringLiteral("items"), items);

    QVariantList categories =
        firstNonEmptyList(section, {QStringLiteral("categories"), QStringLiteral("tabs")}, nullptr);
    if (categories.isEmpty()) {
        QSet<QString> seen;
        for (const QVariant &item : items) {
            const QString category = item.toMap().value(QStringLiteral("category")).toString().trimmed();
            if (category.isEmpty() || seen.contains(category))
                continue;
            seen.insert(category);
            categories.append(category);
        }
    }
    normalized.insert(QStringLiteral("categories"), categories);
    return normalized;
}

QVariantMap messagesMarkedRead(const QVariantMap &section, const QVariantList &messageIds, bool *changed)
{
    *changed = false;
    QSet<QString> ids;
    for (const QVariant &id : messageIds) {
        const QString text = id.toString().trimmed();
        if (!text.isEmpty())
            ids.insert(text);
    }
    QVariantList items = section.value(QStringLiteral("items")).toList();
    for (QVariant &entry : items) {
        QVariantMap item = entry.toMap();
        if (!ids.contains(item.value(QStringLiteral("id")).toString().trimmed())
            || item.value(QStringLiteral("read")).toBool())
            continue;
        item.insert(QStringLiteral("read"), true);
        entry = item;
        *changed = true;
    }
    if (!*changed)
        return section;
    QVariantMap updated = section;
    updated.insert(QStringLiteral("items"), items);
    return updated;
}

QVariantMap normalizedSupportPayload(const QVariantMap &response)
{
    const QVariantMap payload =
        MapHelpers::firstNestedMap(response, {QStringLiteral("data"), QStringLiteral("payload")});
    return payload.isEmpty() ? response : payload;
}

QVariantMap normalizedSupportConversationMap(const QVariantMap &payload)
{
    return nestedOrOwnMap(payload,
                          {QStringLiteral("conversation"), QStringLiteral("chat"), QStringLiteral("session"),
                           QStringLiteral("support_chat")},
                          {QStringLiteral("messages"), QStringLiteral("items"), QStringLiteral("records"),
                           QStringLiteral("list"), QStringLiteral("id"), QStringLiteral("conversation_id"),
                           QStringLiteral("chat_id")});
}

QVariantMap normalizedSupportContactMap(const QVariantMap &payload)
{
    return nestedOrOwnMap(payload,
                          {QStringLiteral("contact"), QStringLiteral("support_contact"), QStringLiteral("support"),
                           QStringLiteral("channels")},
                          {QStringLiteral("email"), QStringLiteral("support_email"), QStringLiteral("telegram"),
                           QStringLiteral("tg"), QStringLiteral("website"), QStringLiteral("url")});
}

QVariantMap mergedSupportSection(const QVariantMap &section, const QVariantMap &response)
{
    QVariantMap merged = section;
    if (response.isEmpty())
        return merged;
    const QVariantMap payload = normalizedSupportPayload(response);
    const QVariantMap conversation = normalizedSupportConversationMap(payload);
    const QVariantMap contact = normalizedSupportContactMap(payload);
    if (!conversation.isEmpty())
        merged.insert(QStringLiteral("conversation"), conversation);
    if (!contact.isEmpty())
        merged.insert(QStringLiteral("contact"), contact);
    return merged;
}

bool isOpenableLink(const QString &url)
{
    const QUrl parsed(url.trimmed(), QUrl::StrictMode);
    const QString scheme = parsed.scheme().toLower();
    return parsed.isValid() && !parsed.host().isEmpty()
           && (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

} // namespace Inbox
