#include "appcontroller.h"

// Node catalogue and selection come with the node work.
void AppController::selectNode(const QString &) {}
void AppController::selectNodeWithMode(const QString &, const QString &) {}
QString AppController::currentNodeName() const { return QString(); }
QString AppController::currentNodeLatency() const { return QString(); }
QString AppController::currentNodeQuality() const { return QString(); }
int AppController::currentNodeQualityScore() const { return 0; }
