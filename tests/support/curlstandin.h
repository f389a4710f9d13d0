#pragma once

#include <QString>

// A shell script that stands in for curl: it appends every argument to
// "calls.log" beside itself ("arg:<value>"), records the mode and path of the
// file given after "-K" ("config-mode:", "config-path:"), then runs the real
// curl with the same arguments.
QString curlRecorderScript(const QString &realCurl);
