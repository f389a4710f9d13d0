#include "catalogueindex.h"

#include "i18n/placenames.h"
#include "i18n/translations.h"

#include <QLocale>
#include <QSet>

#include <algorithm>

namespace CatalogueIndex {

namespace {

const QString kId = QStringLiteral("id");
const QString kName = QStringLiteral("name");
const QString kCountry = QStringLiteral("country");
const QString kCountryCode = QStringLiteral("countryCode");
const QString kRegion = QStringLiteral("region");
const QString kLatency = QStringLiteral("latency");

QString text(const QVariantMap &map, const QString &key)
{
    return map.value(key).toString().trimmed();
}

QString firstText(const QVariantMap &map, std::initializer_list<const QString *> keys)
{
    for (const QString *key : keys) {
        const QString value = text(map, *key);
        if (!value.isEmpty())
            return value;
    }
    return QString();
}

// One folded line per non-blank key, so a query never matches across two keys.
QString searchText(const QStringList &keys)
{
    QStringList folded;
    folded.reserve(keys.size());
    for (const QString &key : keys) {
        const QString value = key.trimmed();
        if (!value.isEmpty())
            folded << value.toCaseFolded();
    }
    folded.removeDuplicates();
    return folded.join(QLatin1Char('\n'));
}

int latencySortValue(const QVariant &latency)
{
    const int value = latency.toInt();
    return value > 0 ? value : 999999;
}

template <typename Records>
QVector<int> sortedRows(const Records &records, QVector<int> rows, const QString &mode,
                        const std::vector<QCollatorSortKey> &sortKeys)
{
    const bool byLatency = mode == QLatin1String("latency");
    QHash<int, int> latency; // read once per row, not once per comparison
    if (byLatency) {
        latency.reserve(rows.size());
        for (int row : std::as_const(rows))
            latency.insert(row, latencySortValue(records.at(row).toMap().value(kLatency)));
    }
    std::stable_sort(rows.begin(), rows.end(), [&](int left, int right) {
        if (byLatency) {
            const int difference = latency.value(left) - latency.value(right);
            if (difference != 0)
                return difference < 0;
        }
        return sortKeys[size_t(left)].compare(sortKeys[size_t(right)]) < 0;
    });
    return rows;
}

} // namespace

QString displayName(const QVariantMap &record, const QString &language)
{
    const QString name = firstText(record, {&kName, &kCountry, &kCountryCode, &kId});
    return I18n::localizedPlaceName(language, name, text(record, kCountryCode));
}

QString countryKey(const QVariantMap &country)
{
    return firstText(country, {&kId, &kCountryCode, &kName, &kCountry});
}

std::shared_ptr<QCollator> collatorForLanguage(const QString &language)
{
    static QHash<QString, std::shared_ptr<QCollator>> collators;
    std::shared_ptr<QCollator> &collator = collators[language];
    if (!collator) {
        collator = std::make_shared<QCollator>(QLocale(I18n::acceptLanguageForDesktopLanguage(language)));
        collator->setCaseSensitivity(Qt::CaseInsensitive);
        collator->setNumericMode(true);
    }
    return collator;
}

Index build(const QVariantList &nodes, const QVariantList &countries, const QString &language)
{
    Index index;
    index.language = language;
    index.nodeCount = int(nodes.size());
    index.countryCount = int(countries.size());
    index.collator = collatorForLanguage(language);
    const QString chinese = QStringLiteral("zh-Hans");

    QHash<QString, QVector<int>> nodeRowsByCode; // lower-cased code
    index.nodeNames.reserve(nodes.size());
    index.nodeSearchText.reserve(nodes.size());
    index.nodeSortKeys.reserve(size_t(nodes.size()));
    for (int row = 0; row < nodes.size(); ++row) {
        const QVariantMap node = nodes.at(row).toMap();
        const QString id = text(node, kId);
        if (!id.isEmpty()) {
            index.nodeRowById.insert(id, row); // replaced below when an earlier row has it
            index.nodeRowsById[id].append(row);
        }
        const QString code = text(node, kCountryCode).toLower();
        if (!code.isEmpty())
            nodeRowsByCode[code].append(row);
        const QString shown = displayName(node, language);
        const QString region = text(node, kRegion);
        index.nodeNames << shown;
        index.nodeSortKeys.push_back(index.collator->sortKey(shown));
        index.nodeSearchText << searchText({shown, displayName(node, chinese), text(node, kName), region,
                                            I18n::translateText(language, region), text(node, kCountry),
                                            text(node, kCountryCode)});
    }
    for (auto it = index.nodeRowsById.cbegin(); it != index.nodeRowsById.cend(); ++it)
        index.nodeRowById.insert(it.key(), it.value().first());

    index.countryNodeRows.reserve(countries.size());
    index.countryNames.reserve(countries.size());
    index.countrySearchText.reserve(countries.size());
    index.countrySortKeys.reserve(size_t(countries.size()));
    for (int row = 0; row < countries.size(); ++row) {
        const QVariantMap country = countries.at(row).toMap();
        const QString key = countryKey(country);
        index.countryKeys << key;
        if (!key.isEmpty() && !index.countryRowByKey.contains(key))
            index.countryRowByKey.insert(key, row);

        QVector<int> members;
        QSet<int> seen;
        const QVariantList ids = country.value(QStringLiteral("nodeIds")).toList();
        for (const QVariant &idValue : ids) {
            const QString id = idValue.toString().trimmed();
            const auto found = index.nodeRowById.constFind(id);
            if (found != index.nodeRowById.constEnd() && !seen.contains(*found)) {
                seen.insert(*found);
                members << *found;
            }
            if (!id.isEmpty() && !index.countryRowHoldingNode.contains(id))
                index.countryRowHoldingNode.insert(id, row);
        }
        const QString best = text(country, QStringLiteral("bestNodeId"));
        if (!best.isEmpty() && !index.countryRowHoldingNode.contains(best))
            index.countryRowHoldingNode.insert(best, row);
        const QString code = text(country, kCountryCode).toLower();
        if (!code.isEmpty()) {
            for (int nodeRow : nodeRowsByCode.value(code)) {
                const QString id = text(nodes.at(nodeRow).toMap(), kId);
                // Only a node's first row counts: a later duplicate id is not shown twice.
                if (id.isEmpty() || index.nodeRowById.value(id) != nodeRow)
                    continue;
                if (!seen.contains(nodeRow)) {
                    seen.insert(nodeRow);
                    members << nodeRow;
                }
                if (!index.countryRowHoldingNode.contains(id))
                    index.countryRowHoldingNode.insert(id, row);
            }
        }
        index.countryNodeRows << members;

        const QString shown = displayName(country, language);
        index.countryNames << shown;
        index.countrySortKeys.push_back(index.collator->sortKey(shown));
        index.countrySearchText << searchText({shown, displayName(country, chinese), text(country, kName),
                                               text(country, kCountry), text(country, kCountryCode),
                                               text(country, kRegion)});
    }
    return index;
}

QVector<int> matchingCountries(const Index &index, const QString &query)
{
    const QString needle = query.trimmed().toCaseFolded();
    QVector<int> rows;
    rows.reserve(index.countryCount);
    for (int row = 0; row < index.countryCount; ++row) {
        bool matches = needle.isEmpty() || index.countrySearchText.at(row).contains(needle);
        if (!matches) {
            for (int nodeRow : index.countryNodeRows.at(row)) {
                if (index.nodeSearchText.at(nodeRow).contains(needle)) {
                    matches = true;
                    break;
                }
            }
        }
        if (matches)
            rows << row;
    }
    return rows;
}

QVector<int> sortedNodeRows(const Index &index, const QVariantList &nodes, QVector<int> rows, const QString &mode)
{
    return sortedRows(nodes, std::move(rows), mode, index.nodeSortKeys);
}

QVector<int> sortedCountryRows(const Index &index, const QVariantList &countries, QVector<int> rows,
                               const QString &mode)
{
    return sortedRows(countries, std::move(rows), mode, index.countrySortKeys);
}

int chosenCountryRow(const Index &index, const QString &key, const QString &selectedNodeId,
                     const QVector<int> &visibleRows)
{
    if (!key.isEmpty()) {
        const auto found = index.countryRowByKey.constFind(key);
        if (found != index.countryRowByKey.constEnd())
            return *found;
    }
    const QString selected = selectedNodeId.trimmed();
    if (!selected.isEmpty()) {
        const auto holder = index.countryRowHoldingNode.constFind(selected);
        if (holder != index.countryRowHoldingNode.constEnd())
            return *holder;
    }
    return visibleRows.isEmpty() ? -1 : visibleRows.first();
}

QString smartNodeId(const Index &index, const QVariantList &nodes, const QVariantList &countries, int countryRow)
{
    if (countryRow < 0 || countryRow >= countries.size())
        return QString();
    const QVariantMap country = countries.at(countryRow).toMap();
    for (const QVariant &id : country.value(QStringLiteral("nodeIds")).toList()) {
        if (!id.toString().trimmed().isEmpty())
            return id.toString().trimmed();
    }
    const QString best = text(country, QStringLiteral("bestNodeId"));
    if (!best.isEmpty())
        return best;
    if (countryRow < index.countryNodeRows.size() && !index.countryNodeRows.at(countryRow).isEmpty())
        return text(nodes.at(index.countryNodeRows.at(countryRow).first()).toMap(), kId);
    return text(country, kId);
}

} // namespace CatalogueIndex
