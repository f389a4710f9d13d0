#include "appcontroller.h"

// Runtime traffic statistics and the speed test come with the traffic work.
void AppController::resetRuntimeTrafficStatistics() {}
void AppController::onTrafficTimer() {}
void AppController::runSpeedTest() {}
