#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariantMap>

// The arithmetic and choices of the connection workflow: time limits, probe
// targets and thresholds, and whether a server document is for a node.
namespace ConnectionRules {

// The whole-connection guard: "connect_timeout_ms" (default 35000) within 15000..90000.
int connectTimeoutGuardMs(const QVariantMap &connectivity);

// What the connectivity probe fetches and how many answers it needs.
struct ProbePlan
{
    QStringList targets;
    int required = 1;
    int percent = 20;
    int timeoutMs = 5000;
    int delayMs = 1000;
};

// From the connectivity settings; "test_urls" entries that are not http(s)
// URLs with a host are skipped, and the defaults stand in when none remains.
ProbePlan probePlan(const QVariantMap &connectivity, const QStringList &defaultTargets);

// The share of count, rounded up, within 1..count.
int requiredSuccesses(int count, int percent);

// Whether the node's id stands in the document as a whole token, or as a whole
// dot- or dash-separated part of a tag or host ("proxy-hk1", "hk1.example.net"),
// or the id is empty. Only an id of letters with a digit or separator counts
// as a part; others count only as a whole token, so "1" is not found in
// "10.0.0.1" nor "sg" in "sg.example.com".
bool configNamesNode(const QByteArray &document, const QString &nodeId);

// The node a document's proxy goes through: the "proxy" selector's default,
// else the first outbound that is not direct, block, dns or a group. Empty
// when the document is not JSON or has none.
QString proxyNodeTagFromConfig(const QByteArray &document);

// "global" for the routing mode "global" (any case, blanks ignored), else "rule".
QString runtimeClashModeForRoutingMode(const QString &routingMode);

// "global" or "smart".
QString normalizedRoutingMode(const QString &routingMode);

// curl's whole-second limit for a probe time-out: rounded up, 1..15.
int curlProbeSeconds(int timeoutMs);

// The arguments of one curl probe; the body goes to the null device.
QStringList curlProbeArguments(const QString &url, int seconds, const QString &nullDevice);

// The status curl printed with "-w %{http_code}", or 0.
int curlProbeStatus(const QByteArray &output);

} // namespace ConnectionRules
