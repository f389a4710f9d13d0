#include "appcontroller.h"

// Diagnostic upload and log clearing come with the diagnostics work.
void AppController::uploadDiagnosticLog() {}
void AppController::clearCachedLogs() {}
