#pragma once

#include <QCollator>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>
#include <QVector>

#include <memory>
#include <vector>

// What the servers page and the lookups by id need from the catalogue, worked
// out once per catalogue and language instead of on every key, sample or
// repaint: rows by id, each country's nodes, the names as the reader sees them,
// their sort keys and folded search texts. Rows point into the node and
// country lists the index was built from; latency and quality are read from
// those lists when asked, so a latency sample leaves the index valid.
namespace CatalogueIndex {

struct Index
{
    QString language; // the interface language the names and keys are for
    int nodeCount = 0;
    int countryCount = 0;

    QHash<QString, int> nodeRowById; // the first node with the id
    QHash<QString, QVector<int>> nodeRowsById; // every node with the id, in order
    // Per country: its listed nodes that exist (first occurrence, once each), then
    // every other node with its country code, in catalogue order.
    QVector<QVector<int>> countryNodeRows;
    QStringList countryKeys; // "id", else "countryCode", "name", "country"
    QHash<QString, int> countryRowByKey; // the first country with the key
    // The first country holding a node id: as its best node, among its listed
    // ids, or by the node's country code.
    QHash<QString, int> countryRowHoldingNode;

    QStringList nodeNames; // in the interface language
    QStringList countryNames;
    // Folded search texts, one key per line: names in the interface language and in
    // Chinese, the raw name, country, country code and region (raw and translated).
    QStringList nodeSearchText;
    QStringList countrySearchText;

    std::shared_ptr<QCollator> collator; // one per language, shared by every index built for it
    std::vector<QCollatorSortKey> nodeSortKeys;
    std::vector<QCollatorSortKey> countrySortKeys;

    bool isEmpty() const { return nodeCount == 0 && countryCount == 0; }
};

// The shown name of a node or country record: "name", else "country",
// "countryCode", "id", in the language, through the place-name table.
QString displayName(const QVariantMap &record, const QString &language);

// The key the page tells countries apart by.
QString countryKey(const QVariantMap &country);

// The collator that orders names for the language (numbers by value, case aside);
// the same object for every call with the same language.
std::shared_ptr<QCollator> collatorForLanguage(const QString &language);

Index build(const QVariantList &nodes, const QVariantList &countries, const QString &language);

// Countries (in catalogue order) whose own keys or any of whose nodes' keys
// contain the query, case aside; every country for a blank query.
QVector<int> matchingCountries(const Index &index, const QString &query);

// Orders rows for the page: "latency" puts the lowest positive latency first
// and the unmeasured last, then by name; anything else orders by name alone.
// Stable, so equal rows keep their catalogue order.
QVector<int> sortedNodeRows(const Index &index, const QVariantList &nodes, QVector<int> rows, const QString &mode);
QVector<int> sortedCountryRows(const Index &index, const QVariantList &countries, QVector<int> rows,
                               const QString &mode);

// The country the page opens on: the one with the key, else the first holding
// the selected node, else the first visible one; -1 when there is none.
int chosenCountryRow(const Index &index, const QString &key, const QString &selectedNodeId,
                     const QVector<int> &visibleRows);

// The node a country's smart entry selects: its first listed id, else its best
// node, else its first node, else the country's own id.
QString smartNodeId(const Index &index, const QVariantList &nodes, const QVariantList &countries, int countryRow);

} // namespace CatalogueIndex
