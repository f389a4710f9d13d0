#include "appcontroller.h"

// Messages and the support chat come with the support work.
void AppController::markMessagesRead(const QVariantList &) {}
void AppController::refreshSupportChat() {}
void AppController::sendSupportChatMessage(const QString &, const QVariantList &) {}
QVariantMap AppController::uploadSupportMedia(const QString &) { return QVariantMap(); }
QVariantList AppController::pickSupportMediaFiles() { return QVariantList(); }
