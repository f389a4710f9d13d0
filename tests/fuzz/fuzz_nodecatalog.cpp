// The node catalogue built from a server's lists. Input: a JSON document
// {"nodes": [...], "countries": [...], "selected": "..."} of any shape. The
// candidates of a connection are catalogue nodes, each once, none disabled,
// without an id or offline; a latency sample lands only on that node.
#include "fuzzsupport.h"
#include "model/nodecatalog.h"

#include <QJsonDocument>
#include <QSet>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QVariantMap raw =
        QJsonDocument::fromJson(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size))).toVariant().toMap();
    QVariantList nodes;
    for (const QVariant &node : raw.value(QStringLiteral("nodes")).toList())
        nodes.append(NodeCatalog::nodeRecordFromRaw(node.toMap()));
    QVariantList countries;
    for (const QVariant &country : raw.value(QStringLiteral("countries")).toList())
        countries.append(NodeCatalog::countryRecordFromRaw(country.toMap()));
    const QString selected = raw.value(QStringLiteral("selected")).toString();

    QSet<QString> ids;
    for (const QVariant &node : nodes)
        ids.insert(node.toMap().value(QStringLiteral("id")).toString());
    QSet<QString> seen;
    for (const QVariant &candidate : NodeCatalog::connectionCandidates(nodes, countries, selected)) {
        const QVariantMap node = candidate.toMap();
        const QString id = node.value(QStringLiteral("id")).toString();
        Fuzz::require(!id.trimmed().isEmpty(), "a candidate without an id");
        Fuzz::require(ids.contains(id), "a candidate that is not in the catalogue", id.toUtf8());
        Fuzz::require(!seen.contains(id), "a candidate twice", id.toUtf8());
        Fuzz::require(!node.value(QStringLiteral("disabled")).toBool(), "a disabled candidate", id.toUtf8());
        seen.insert(id);
    }

    NodeCatalog::recomputeCountryTelemetry(countries, nodes);
    NodeCatalog::selectedNode(nodes, selected);
    const QVariantList before = nodes;
    const int latency = int(size % 3000) + 1;
    NodeCatalog::applyLatencySample(nodes, selected, latency);
    // The sample's id is taken without surrounding blanks, as the catalogue's ids are.
    for (qsizetype i = 0; i < nodes.size(); ++i) {
        if (nodes.at(i).toMap().value(QStringLiteral("id")).toString() != selected.trimmed())
            Fuzz::require(nodes.at(i) == before.at(i), "a sample changed another node");
    }
    NodeCatalog::recomputeCountryTelemetry(countries, nodes);
    return 0;
}
