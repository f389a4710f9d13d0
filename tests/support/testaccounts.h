#pragma once

#include "api/apitimings.h"

#include <QSettings>
#include <QString>

// The development backend's demo accounts, the client's settings store and
// transport time limits short enough for the suite, shared by the tests that
// drive a controller against the backend.
namespace TestSupport {

inline const QString kMemberEmail = QStringLiteral("demo@quillet.dev");
inline const QString kMemberPassword = QStringLiteral("Quillet-demo-2026");
inline const QString kTrialEmail = QStringLiteral("trial@quillet.dev");
inline const QString kTrialPassword = QStringLiteral("Quillet-trial-2026");

inline QSettings store()
{
    return QSettings(QStringLiteral("Quillet"), QStringLiteral("岚舟")); // i18n-exempt: store name
}

inline ApiTimings fastTimings()
{
    ApiTimings timings;
    timings.qtTimeoutMs = 4000;
    timings.jsonRetryDelayMs = 50;
    timings.curlFinishWaitMs = 5000;
    return timings;
}

} // namespace TestSupport
