#pragma once

#include <QHash>
#include <QSet>
#include <QString>
#include <QVector>
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

// Every row of each node id (trimmed ids; blank ids left out), in catalogue order.
using NodeRows = QHash<QString, QVector<int>>;
NodeRows nodeRowsById(const QVariantList &nodes);

// The first row whose "id" equals the id, or -1. With rows, a lookup that the
// rows answer for this list; without, or when they no longer fit the list, a scan.
int nodeRow(const QVariantList &nodes, const QString &id, const NodeRows *rows = nullptr);

// The record with this id, else the first record, else an empty map.
QVariantMap selectedNode(const QVariantList &nodes, const QString &selectedId, const NodeRows *rows = nullptr);

// Nodes a connection may try, best first: the selected node's country group,
// then its country code's nodes; never a disabled, offline or repeated node.
QVariantList connectionCandidates(const QVariantList &nodes, const QVariantList &countries, const QString &selectedId,
                                  const NodeRows *rows = nullptr);

// Recomputes each country's latency, status and grade from its member nodes.
// Returns whether any record changed.
bool recomputeCountryTelemetry(QVariantList &countries, const QVariantList &nodes, const NodeRows *rows = nullptr);

// Writes one latency sample and its grade into every node with this id.
// Returns whether anything changed.
bool applyLatencySample(QVariantList &nodes, const QString &nodeId, int latencyMs, const NodeRows *rows = nullptr);

// The nodes of a new snapshot with what this computer measured kept: a node that
// is the same as before apart from its figures, and for which the server knows
// no latency and gives no label, keeps its measured latency and grade, so it is
// not probed again. Returns how many nodes kept their figures.
int keepMeasuredLatencies(QVariantList &built, const QVariantList &previous, const NodeRows &previousRows);

} // namespace NodeCatalog
