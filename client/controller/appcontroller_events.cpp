#include "appcontroller.h"

// The realtime event stream comes with the events work.
void AppController::startEventStreamIfNeeded() {}
void AppController::stopEventStream() {}
