#pragma once

#include <QSet>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

// The node catalogue: records built from the server's raw lists, quality
// grades, country figures and the nodes a connection attempt may try.
namespace NodeCatalog {

struct QualityGrade
{
    QString label;
    int score = 0;
    bool known = false;
};

QualityGrade assessQuality(const QString &status, bool disabled, int latencyMs);

QVariantMap nodeRecordFromRaw(const QVariantMap &raw);
QVariantMap countryRecordFromRaw(const QVariantMap &raw);

// "fixed" stays "fixed"; anything else is "smart".
QString normalizedNodeSelectionMode(const QString &mode);

// The record with this id, else the first record, else an empty map.
QVariantMap selectedNode(const QVariantList &nodes, const QString &selectedId);

// Nodes a connection may try, best first: the selected node's country group,
// then its country code's nodes; never a disabled, offline or repeated node.
QVariantList connectionCandidates(const QVariantList &nodes, const QVariantList &countries, const QString &selectedId);

// Recomputes each country's latency, status and grade from its member nodes.
// Returns whether any record changed.
bool recomputeCountryTelemetry(QVariantList &countries, const QVariantList &nodes);

// Writes one latency sample and its grade into every node with this id.
// Returns whether anything changed.
bool applyLatencySample(QVariantList &nodes, const QString &nodeId, int latencyMs);

} // namespace NodeCatalog
