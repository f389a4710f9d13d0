#include "nodecatalog.h"

#include "maphelpers.h"

namespace NodeCatalog {

namespace {

bool isOfflineStatus(const QVariant &status)
{
    return status.toString().trimmed().compare(QLatin1String("offline"), Qt::CaseInsensitive) == 0;
}

bool isUsable(const QVariantMap &node)
{
    return !node.value(QStringLiteral("id")).toString().trimmed().isEmpty()
        && !node.value(QStringLiteral("disabled")).toBool() && !isOfflineStatus(node.value(QStringLiteral("status")));
}

// Sets key to value; reports whether it differed.
bool assign(QVariantMap &map, const QString &key, const QVariant &value)
{
    if (map.value(key) == value && map.contains(key))
        return false;
    map.insert(key, value);
    return true;
}

} // namespace

QualityGrade assessQuality(const QString &status, bool disabled, int latencyMs)
{
    if (disabled || status.trimmed().compare(QLatin1String("offline"), Qt::CaseInsensitive) == 0)
        return {QStringLiteral("离线"), 0, true};
    if (latencyMs <= 0)
        return {QStringLiteral("未知"), 0, false};
    if (latencyMs <= 80)
        return {QStringLiteral("极佳"), 100, true};
    if (latencyMs <= 150)
        return {QStringLiteral("极佳"), 90, true};
    if (latencyMs <= 220)
        return {QStringLiteral("优秀"), 80, true};
    if (latencyMs <= 320)
        return {QStringLiteral("优秀"), 70, true};
    return {QStringLiteral("良好"), 60, true};
}

QVariantMap nodeRecordFromRaw(const QVariantMap &raw)
{
    const QVariantMap outbound = raw.value(QStringLiteral("outbound")).toMap();
    const QVariantMap meta = raw.value(QStringLiteral("meta")).toMap();
    QString host = meta.value(QStringLiteral("host")).toString().trimmed();
    if (host.isEmpty())
        host = MapHelpers::firstNonBlankValue(outbound, {QStringLiteral("server"), QStringLiteral("address")});
    if (host.isEmpty())
        host = MapHelpers::firstNonBlankValue(raw, {QStringLiteral("server"), QStringLiteral("address")});

    const int latency = raw.value(QStringLiteral("latency_ms")).toInt();
    QString label = raw.value(QStringLiteral("quality_label")).toString().trimmed();
    int score = raw.value(QStringLiteral("quality_score")).toInt();
    if (label.isEmpty()) {
        const QualityGrade grade = assessQuality(raw.value(QStringLiteral("status")).toString(),
                                                 raw.value(QStringLiteral("disabled")).toBool(), latency);
        label = grade.label;
        score = grade.score;
    }

    QString highlight = raw.value(QStringLiteral("quality_label")).toString().trimmed();
    if (highlight.isEmpty()) {
        const QVariantList tags = raw.value(QStringLiteral("tags")).toList();
        if (!tags.isEmpty())
            highlight = tags.first().toString();
        else if (raw.value(QStringLiteral("featured")).toBool())
            highlight = QStringLiteral("推荐");
        else
            highlight = QStringLiteral("可用");
    }

    return QVariantMap{
        {QStringLiteral("id"), raw.value(QStringLiteral("id")).toString()},
        {QStringLiteral("name"), raw.value(QStringLiteral("name")).toString()},
        {QStringLiteral("region"), raw.value(QStringLiteral("region")).toString()},
        {QStringLiteral("country"), raw.value(QStringLiteral("country")).toString()},
        {QStringLiteral("countryCode"), raw.value(QStringLiteral("country_code")).toString()},
        {QStringLiteral("flag"), raw.value(QStringLiteral("flag")).toString()},
        {QStringLiteral("status"), raw.value(QStringLiteral("status")).toString()},
        {QStringLiteral("disabled"), raw.value(QStringLiteral("disabled")).toBool()},
        {QStringLiteral("latency"), latency},
        {QStringLiteral("quality"), label},
        {QStringLiteral("qualityScore"), score},
        {QStringLiteral("highlight"), highlight},
        {QStringLiteral("outbound"), outbound},
        {QStringLiteral("host"), host},
    };
}

QVariantMap countryRecordFromRaw(const QVariantMap &raw)
{
    const int latency = raw.value(QStringLiteral("latency_ms")).toInt();
    QString label = raw.value(QStringLiteral("quality_label")).toString().trimmed();
    int score = raw.value(QStringLiteral("quality_score")).toInt();
    if (label.isEmpty()) {
        const QualityGrade grade = assessQuality(raw.value(QStringLiteral("status")).toString(), false, latency);
        label = grade.label;
        score = grade.score;
    }
    QVariantList nodeIds;
    for (const QVariant &id : raw.value(QStringLiteral("node_ids")).toList())
        nodeIds << id.toString();
    return QVariantMap{
        {QStringLiteral("id"), raw.value(QStringLiteral("id")).toString()},
        {QStringLiteral("name"), raw.value(QStringLiteral("name")).toString()},
        {QStringLiteral("country"), raw.value(QStringLiteral("country")).toString()},
        {QStringLiteral("countryCode"), raw.value(QStringLiteral("country_code")).toString()},
        {QStringLiteral("flag"), raw.value(QStringLiteral("flag")).toString()},
        {QStringLiteral("region"), raw.value(QStringLiteral("region")).toString()},
        {QStringLiteral("nodeCount"), raw.value(QStringLiteral("node_count")).toInt()},
        {QStringLiteral("nodeIds"), nodeIds},
        {QStringLiteral("bestNodeId"), raw.value(QStringLiteral("best_node_id")).toString()},
        {QStringLiteral("latency"), latency},
        {QStringLiteral("quality"), label},
        {QStringLiteral("qualityScore"), score},
        {QStringLiteral("status"), raw.value(QStringLiteral("status")).toString()},
    };
}

QString normalizedNodeSelectionMode(const QString &mode)
{
    return mode.trimmed().toLower() == QLatin1String("fixed") ? QStringLiteral("fixed") : QStringLiteral("smart");
}

NodeRows nodeRowsById(const QVariantList &nodes)
{
    NodeRows rows;
    rows.reserve(nodes.size());
    for (int row = 0; row < nodes.size(); ++row) {
        const QString id = nodes.at(row).toMap().value(QStringLiteral("id")).toString().trimmed();
        if (!id.isEmpty())
            rows[id].append(row);
    }
    return rows;
}

int nodeRow(const QVariantList &nodes, const QString &id, const NodeRows *rows)
{
    if (rows) {
        const auto found = rows->constFind(id.trimmed());
        if (found == rows->constEnd() || found->isEmpty())
            return -1;
        const int row = found->first();
        if (row < nodes.size() && nodes.at(row).toMap().value(QStringLiteral("id")).toString() == id)
            return row;
        // Rows of another list: look for it the long way.
    }
    for (int row = 0; row < nodes.size(); ++row) {
        if (nodes.at(row).toMap().value(QStringLiteral("id")).toString() == id)
            return row;
    }
    return -1;
}

QVariantMap selectedNode(const QVariantList &nodes, const QString &selectedId, const NodeRows *rows)
{
    const int row = nodeRow(nodes, selectedId, rows);
    if (row >= 0)
        return nodes.at(row).toMap();
    return nodes.isEmpty() ? QVariantMap() : nodes.first().toMap();
}

QVariantList connectionCandidates(const QVariantList &nodes, const QVariantList &countries, const QString &selectedId,
                                  const NodeRows *rows)
{
    const QVariantMap selected = selectedNode(nodes, selectedId, rows);
    if (selected.isEmpty())
        return {};
    const QString selectedNodeId = selected.value(QStringLiteral("id")).toString();
    const QString code = selected.value(QStringLiteral("countryCode")).toString().toLower();

    QVariantList result;
    QSet<QString> added;
    auto add = [&](const QVariantMap &node) {
        const QString id = node.value(QStringLiteral("id")).toString();
        if (!isUsable(node) || added.contains(id))
            return;
        added.insert(id);
        result << node;
    };
    // One lookup table for the whole call, so each listed id is found at once.
    NodeRows built;
    if (!rows) {
        built = nodeRowsById(nodes);
        rows = &built;
    }
    auto nodeById = [&](const QString &id) {
        const int row = nodeRow(nodes, id, rows);
        return row < 0 ? QVariantMap() : nodes.at(row).toMap();
    };

    for (const QVariant &entry : countries) {
        const QVariantMap country = entry.toMap();
        const QVariantList ids = country.value(QStringLiteral("nodeIds")).toList();
        if (country.value(QStringLiteral("bestNodeId")).toString() != selectedNodeId
            && !ids.contains(QVariant(selectedNodeId)))
            continue;
        for (const QVariant &id : ids) {
            const QVariantMap node = nodeById(id.toString());
            if (!node.isEmpty())
                add(node);
        }
        break;
    }
    if (!code.isEmpty()) {
        for (const QVariant &entry : nodes) {
            const QVariantMap node = entry.toMap();
            if (node.value(QStringLiteral("countryCode")).toString().toLower() == code)
                add(node);
        }
    }
    if (result.isEmpty())
        add(selected);
    return result;
}

bool recomputeCountryTelemetry(QVariantList &countries, const QVariantList &nodes, const NodeRows *rows)
{
    // The last node with an id stands for it, as a table filled in catalogue order would have it.
    QHash<QString, QVariantMap> byId;
    if (!rows) {
        for (const QVariant &entry : nodes) {
            const QVariantMap node = entry.toMap();
            byId.insert(node.value(QStringLiteral("id")).toString(), node);
        }
    }
    auto lookUp = [&](const QString &id, QVariantMap *node) {
        if (!rows) {
            const auto found = byId.constFind(id);
            if (found == byId.constEnd())
                return false;
            *node = *found;
            return true;
        }
        const auto found = rows->constFind(id);
        if (found == rows->constEnd() || found->isEmpty() || found->last() >= nodes.size())
            return false;
        *node = nodes.at(found->last()).toMap();
        return true;
    };
    bool anyChanged = false;
    for (QVariant &entry : countries) {
        QVariantMap country = entry.toMap();
        int best = 0;
        QString status = QStringLiteral("offline");
        for (const QVariant &idValue : country.value(QStringLiteral("nodeIds")).toList()) {
            const QString id = idValue.toString().trimmed();
            QVariantMap node;
            if (id.isEmpty() || !lookUp(id, &node))
                continue;
            const int latency = node.value(QStringLiteral("latency")).toInt();
            if (latency > 0 && (best == 0 || latency < best))
                best = latency;
            if (!node.value(QStringLiteral("disabled")).toBool() && !isOfflineStatus(node.value(QStringLiteral("status"))))
                status = QStringLiteral("online");
        }
        const QualityGrade grade = assessQuality(status, false, best);
        bool changed = assign(country, QStringLiteral("latency"), best);
        changed |= assign(country, QStringLiteral("status"), status);
        changed |= assign(country, QStringLiteral("quality"), grade.label);
        changed |= assign(country, QStringLiteral("qualityScore"), grade.score);
        if (changed) {
            entry = country;
            anyChanged = true;
        }
    }
    return anyChanged;
}

bool applyLatencySample(QVariantList &nodes, const QString &nodeId, int latencyMs, const NodeRows *rows)
{
    const QString id = nodeId.trimmed();
    if (id.isEmpty() || latencyMs <= 0)
        return false;
    auto apply = [&](QVariant &entry) {
        QVariantMap node = entry.toMap();
        if (node.value(QStringLiteral("id")).toString() != id)
            return false;
        const QualityGrade grade = assessQuality(node.value(QStringLiteral("status")).toString(),
                                                 node.value(QStringLiteral("disabled")).toBool(), latencyMs);
        bool changed = assign(node, QStringLiteral("latency"), latencyMs);
        changed |= assign(node, QStringLiteral("quality"), grade.label);
        changed |= assign(node, QStringLiteral("qualityScore"), grade.score);
        if (changed)
            entry = node;
        return changed;
    };
    bool anyChanged = false;
    const auto found = rows ? rows->constFind(id) : NodeRows::const_iterator();
    bool rowsFit = rows && found != rows->constEnd();
    if (rowsFit) {
        for (int row : *found)
            rowsFit = rowsFit && row < nodes.size()
                && nodes.at(row).toMap().value(QStringLiteral("id")).toString() == id;
    }
    if (rowsFit) {
        for (int row : *found)
            anyChanged |= apply(nodes[row]);
        return anyChanged;
    }
    for (QVariant &entry : nodes)
        anyChanged |= apply(entry);
    return anyChanged;
}

int keepMeasuredLatencies(QVariantList &built, const QVariantList &previous, const NodeRows &previousRows)
{
    const QString latencyKey = QStringLiteral("latency");
    const QString qualityKey = QStringLiteral("quality");
    const QString scoreKey = QStringLiteral("qualityScore");
    auto withoutFigures = [&](QVariantMap node) {
        node.remove(latencyKey);
        node.remove(qualityKey);
        node.remove(scoreKey);
        return node;
    };
    int kept = 0;
    for (QVariant &entry : built) {
        QVariantMap node = entry.toMap();
        if (node.value(latencyKey).toInt() > 0)
            continue;
        // A label the server gave stands; only the grade of an unknown latency is replaced.
        const QualityGrade unknown = assessQuality(node.value(QStringLiteral("status")).toString(),
                                                   node.value(QStringLiteral("disabled")).toBool(), 0);
        if (node.value(qualityKey).toString() != unknown.label || node.value(scoreKey).toInt() != unknown.score)
            continue;
        const int row = nodeRow(previous, node.value(QStringLiteral("id")).toString(), &previousRows);
        if (row < 0)
            continue;
        const QVariantMap before = previous.at(row).toMap();
        if (before.value(latencyKey).toInt() <= 0 || withoutFigures(before) != withoutFigures(node))
            continue;
        node.insert(latencyKey, before.value(latencyKey));
        node.insert(qualityKey, before.value(qualityKey));
        node.insert(scoreKey, before.value(scoreKey));
        entry = node;
        ++kept;
    }
    return kept;
}

} // namespace NodeCatalog
