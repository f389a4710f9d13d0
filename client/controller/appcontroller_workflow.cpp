#include "appcontroller.h"

// The connection workflow and the configuration preview come with the tunnel work.
void AppController::toggleConnection() {}
void AppController::requestDashboardConnectionToggle() {}
void AppController::promptMembershipDialogForConnection() {}
void AppController::resetConnectionWorkflow() {}
void AppController::onConnectionTimeout() {}
void AppController::rebuildConfigPreview() {}
void AppController::refreshRemoteConfigPreview() {}
