#pragma once

#include <QString>
#include <QVariantList>
#include <QVariantMap>

// The inbox ("messages" section) and the support chat ("support" section):
// the several answer shapes the server may send, read into one form.
namespace Inbox {

// "items" from "items", "messages", "records" or "notices" (first non-empty);
// "categories" from "categories" or "tabs", else the items' distinct
// categories in order of first appearance. Other keys stay as sent.
QVariantMap normalizedMessagesSection(const QVariantMap &section);

// The section with every listed unread item marked read; *changed tells
// whether any item changed (the section is returned as given otherwise).
QVariantMap messagesMarkedRead(const QVariantMap &section, const QVariantList &messageIds, bool *changed);

// The chat answer's payload: "data" or "payload" when one is a non-empty map,
// else the answer itself.
QVariantMap normalizedSupportPayload(const QVariantMap &response);
QVariantMap normalizedSupportConversationMap(const QVariantMap &payload);
QVariantMap normalizedSupportContactMap(const QVariantMap &payload);

// The support section with the answer's conversation and contact stored,
// each only when the answer has one: an empty reading never erases what is shown.
QVariantMap mergedSupportSection(const QVariantMap &section, const QVariantMap &response);

// Whether a link from server text may be opened: http or https with a host.
bool isOpenableLink(const QString &url);

} // namespace Inbox
