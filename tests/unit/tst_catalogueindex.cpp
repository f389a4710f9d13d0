#include "model/catalogueindex.h"
#include "model/cataloguelistmodel.h"
#include "model/nodecatalog.h"

#include <QSignalSpy>
#include <QtTest>

namespace {

QVariantMap node(const QString &id, const QString &name, const QString &code, int latency = 0,
                 const QString &region = QString())
{
    return QVariantMap{{QStringLiteral("id"), id},         {QStringLiteral("name"), name},
                       {QStringLiteral("countryCode"), code}, {QStringLiteral("latency"), latency},
                       {QStringLiteral("region"), region}, {QStringLiteral("status"), QStringLiteral("online")}};
}

QVariantMap country(const QString &id, const QString &name, const QString &code, const QStringList &ids,
                    int latency = 0, const QString &best = QString())
{
    return QVariantMap{{QStringLiteral("id"), id},
                       {QStringLiteral("name"), name},
                       {QStringLiteral("countryCode"), code},
                       {QStringLiteral("nodeIds"), QVariant(ids).toList()},
                       {QStringLiteral("bestNodeId"), best},
                       {QStringLiteral("latency"), latency}};
}

// Four countries as the server lists them, in its order; Japan lists one node
// the catalogue lacks and leaves Osaka to its country code.
QVariantList sampleNodes()
{
    return {node(QStringLiteral("jp-tokyo"), QStringLiteral("日本 · 东京"), QStringLiteral("JP"), 0,
                 QStringLiteral("日本-JP")),
            node(QStringLiteral("us-la"), QStringLiteral("美国 · 洛杉矶"), QStringLiteral("US"), 120),
            node(QStringLiteral("hk-kowloon"), QStringLiteral("香港 · 九龙"), QStringLiteral("HK"), 45),
            node(QStringLiteral("ru-moscow"), QStringLiteral("俄罗斯 · 莫斯科"), QStringLiteral("RU"), 120),
            node(QStringLiteral("jp-osaka"), QStringLiteral("日本 · 大阪"), QStringLiteral("jp"), 0)};
}

QVariantList sampleCountries()
{
    return {country(QStringLiteral("jp"), QStringLiteral("日本"), QStringLiteral("JP"),
                    {QStringLiteral("jp-tokyo"), QStringLiteral("jp-gone")}, 0),
            country(QStringLiteral("us"), QStringLiteral("美国"), QStringLiteral("US"), {QStringLiteral("us-la")}, 120),
            country(QStringLiteral("hk"), QStringLiteral("香港"), QStringLiteral("HK"), {QStringLiteral("hk-kowloon")},
                    45),
            country(QStringLiteral("ru"), QStringLiteral("俄罗斯"), QStringLiteral("RU"), {QStringLiteral("ru-moscow")},
                    120)};
}

QStringList keysOf(const CatalogueIndex::Index &index, const QVector<int> &rows)
{
    QStringList keys;
    for (int row : rows)
        keys << index.countryKeys.value(row);
    return keys;
}

QStringList nodeIds(const QVariantList &nodes, const QVector<int> &rows)
{
    QStringList ids;
    for (int row : rows)
        ids << nodes.at(row).toMap().value(QStringLiteral("id")).toString();
    return ids;
}

} // namespace

// The servers page's index and search, and the id lookups of the catalogue.
class CatalogueIndexTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void search_data();
    void search();
    void countryMembersAndHolders();
    void sorting_data();
    void sorting();
    void chosenCountry_data();
    void chosenCountry();
    void smartEntryNode_data();
    void smartEntryNode();
    void oneCollatorPerLanguage();
    void measuredLatenciesKept_data();
    void measuredLatenciesKept();
    void lookupsByRow_data();
    void lookupsByRow();
    void listModelUpdatesInPlace();
};

void CatalogueIndexTest::search_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("query");
    QTest::addColumn<QStringList>("expected");

    const QStringList all{QStringLiteral("jp"), QStringLiteral("us"), QStringLiteral("hk"), QStringLiteral("ru")};
    QTest::newRow("empty query lists all") << "zh-Hans" << "" << all;
    QTest::newRow("blank query lists all") << "en" << "   " << all;
    QTest::newRow("chinese city") << "zh-Hans" << "东京" << QStringList{"jp"};
    QTest::newRow("city only by country code") << "zh-Hans" << "大阪" << QStringList{"jp"};
    QTest::newRow("english city, any case") << "en" << "TOKYO" << QStringList{"jp"};
    QTest::newRow("chinese in english interface") << "en" << "洛杉矶" << QStringList{"us"};
    QTest::newRow("russian city, lower case") << "ru" << "токио" << QStringList{"jp"};
    QTest::newRow("russian country") << "ru" << "гонконг" << QStringList{"hk"};
    QTest::newRow("traditional script") << "zh-Hant" << "東京" << QStringList{"jp"};
    QTest::newRow("japanese script") << "ja" << "モスクワ" << QStringList{"ru"};
    QTest::newRow("code") << "en" << "hk" << QStringList{"hk"};
    QTest::newRow("code inside a name") << "en" << "us" << QStringList{"us", "ru"};
    QTest::newRow("shown name across the separator") << "en" << "Japan · T" << QStringList{"jp"};
    QTest::newRow("raw region") << "fr" << "日本-jp" << QStringList{"jp"};
    QTest::newRow("surrounding blanks") << "zh-Hans" << " 九龙 " << QStringList{"hk"};
    QTest::newRow("another interface language's name") << "zh-Hans" << "tokyo" << QStringList{};
    QTest::newRow("no match") << "en" << "atlantis" << QStringList{};
    QTest::newRow("not across two keys") << "en" << "japan\ntokyo" << QStringList{};
}

void CatalogueIndexTest::search()
{
    QFETCH(QString, language);
    QFETCH(QString, query);
    QFETCH(QStringList, expected);
    const CatalogueIndex::Index index = CatalogueIndex::build(sampleNodes(), sampleCountries(), language);
    QCOMPARE(keysOf(index, CatalogueIndex::matchingCountries(index, query)), expected);
}

void CatalogueIndexTest::countryMembersAndHolders()
{
    QVariantList nodes = sampleNodes();
    nodes << node(QStringLiteral("jp-tokyo"), QStringLiteral("duplicate"), QStringLiteral("JP"));
    QVariantList countries = sampleCountries();
    // A second group lists Tokyo again and names Hong Kong as its best node.
    countries << country(QStringLiteral("asia"), QStringLiteral("亚洲"), QString(), {QStringLiteral("jp-tokyo")}, 0,
                         QStringLiteral("hk-kowloon"));
    const CatalogueIndex::Index index = CatalogueIndex::build(nodes, countries, QStringLiteral("en"));

    // Listed ids first (a missing one skipped), then the code's nodes in catalogue order, each once.
    QCOMPARE(nodeIds(nodes, index.countryNodeRows.at(0)), (QStringList{"jp-tokyo", "jp-osaka"}));
    QCOMPARE(index.countryNodeRows.at(0), (QVector<int>{0, 4}));
    QCOMPARE(nodeIds(nodes, index.countryNodeRows.at(4)), QStringList{"jp-tokyo"});
    QCOMPARE(index.nodeRowById.value(QStringLiteral("jp-tokyo")), 0);
    QCOMPARE(index.nodeRowsById.value(QStringLiteral("jp-tokyo")), (QVector<int>{0, 5}));
    // The first country that holds a node is where the page opens for it.
    QCOMPARE(index.countryRowHoldingNode.value(QStringLiteral("jp-tokyo")), 0);
    QCOMPARE(index.countryRowHoldingNode.value(QStringLiteral("jp-osaka")), 0);
    QCOMPARE(index.countryRowHoldingNode.value(QStringLiteral("jp-gone")), 0);
    QCOMPARE(index.countryRowHoldingNode.value(QStringLiteral("hk-kowloon")), 2);
    QCOMPARE(index.nodeNames.at(0), QStringLiteral("Japan · Tokyo"));
    QCOMPARE(index.countryNames.at(3), QStringLiteral("Russia"));
}

void CatalogueIndexTest::sorting_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QStringList>("countries");
    QTest::addColumn<QStringList>("japanNodes");

    // Tokyo and Osaka are both unmeasured: by name; Japan itself is unmeasured and goes last.
    QTest::newRow("en latency") << "en" << "latency" << QStringList{"hk", "ru", "us", "jp"}
                                << QStringList{"jp-osaka", "jp-tokyo"};
    QTest::newRow("en name") << "en" << "name" << QStringList{"hk", "jp", "ru", "us"}
                             << QStringList{"jp-osaka", "jp-tokyo"};
    QTest::newRow("zh-Hans name, by pinyin") << "zh-Hans" << "name" << QStringList{"ru", "us", "jp", "hk"}
                                             << QStringList{"jp-osaka", "jp-tokyo"};
    QTest::newRow("ru name, Cyrillic order") << "ru" << "name" << QStringList{"hk", "ru", "us", "jp"}
                                             << QStringList{"jp-osaka", "jp-tokyo"};
    QTest::newRow("ru latency") << "ru" << "latency" << QStringList{"hk", "ru", "us", "jp"}
                                << QStringList{"jp-osaka", "jp-tokyo"};
}

void CatalogueIndexTest::sorting()
{
    QFETCH(QString, language);
    QFETCH(QString, mode);
    QFETCH(QStringList, countries);
    QFETCH(QStringList, japanNodes);
    const QVariantList nodes = sampleNodes();
    const QVariantList groups = sampleCountries();
    const CatalogueIndex::Index index = CatalogueIndex::build(nodes, groups, language);
    const QVector<int> all = CatalogueIndex::matchingCountries(index, QString());
    QCOMPARE(keysOf(index, CatalogueIndex::sortedCountryRows(index, groups, all, mode)), countries);
    QCOMPARE(nodeIds(nodes, CatalogueIndex::sortedNodeRows(index, nodes, index.countryNodeRows.at(0), mode)),
             japanNodes);
}

void CatalogueIndexTest::chosenCountry_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("selected");
    QTest::addColumn<QVector<int>>("visible");
    QTest::addColumn<int>("expected");

    QTest::newRow("the clicked country") << "ru" << "jp-tokyo" << QVector<int>{0, 1} << 3;
    QTest::newRow("an unknown key: the selection's country") << "xx" << "hk-kowloon" << QVector<int>{0} << 2;
    QTest::newRow("a node found by its code") << "" << "jp-osaka" << QVector<int>{1} << 0;
    QTest::newRow("an unlisted selection: the first shown") << "" << "nowhere" << QVector<int>{3, 1} << 3;
    QTest::newRow("nothing shown") << "" << "" << QVector<int>{} << -1;
}

void CatalogueIndexTest::chosenCountry()
{
    QFETCH(QString, key);
    QFETCH(QString, selected);
    QFETCH(QVector<int>, visible);
    QFETCH(int, expected);
    const CatalogueIndex::Index index = CatalogueIndex::build(sampleNodes(), sampleCountries(), QStringLiteral("en"));
    QCOMPARE(CatalogueIndex::chosenCountryRow(index, key, selected, visible), expected);
}

void CatalogueIndexTest::smartEntryNode_data()
{
    QTest::addColumn<QStringList>("listed");
    QTest::addColumn<QString>("best");
    QTest::addColumn<QString>("expected");

    QTest::newRow("first listed id, even unknown") << QStringList{" ", "jp-gone", "jp-tokyo"} << "jp-osaka"
                                                    << "jp-gone";
    QTest::newRow("best node") << QStringList{} << "jp-osaka" << "jp-osaka";
    QTest::newRow("first node by code") << QStringList{} << "" << "jp-tokyo";
}

void CatalogueIndexTest::smartEntryNode()
{
    QFETCH(QStringList, listed);
    QFETCH(QString, best);
    QFETCH(QString, expected);
    const QVariantList nodes = sampleNodes();
    const QVariantList countries{country(QStringLiteral("jp"), QStringLiteral("日本"), QStringLiteral("JP"), listed, 0, best)};
    const CatalogueIndex::Index index = CatalogueIndex::build(nodes, countries, QStringLiteral("en"));
    QCOMPARE(CatalogueIndex::smartNodeId(index, nodes, countries, 0), expected);
    QCOMPARE(CatalogueIndex::smartNodeId(index, nodes, countries, 1), QString());
}

void CatalogueIndexTest::oneCollatorPerLanguage()
{
    const CatalogueIndex::Index first = CatalogueIndex::build(sampleNodes(), sampleCountries(), QStringLiteral("ru"));
    const CatalogueIndex::Index again = CatalogueIndex::build(sampleNodes(), {}, QStringLiteral("ru"));
    const CatalogueIndex::Index other = CatalogueIndex::build(sampleNodes(), {}, QStringLiteral("en"));
    QCOMPARE(first.collator.get(), again.collator.get());
    QVERIFY(first.collator.get() != other.collator.get());
    // Numbers by value: "节点 2" before "节点 10".
    QVERIFY(CatalogueIndex::collatorForLanguage(QStringLiteral("zh-Hans"))->compare(QStringLiteral("节点 2"),
                                                                                    QStringLiteral("节点 10"))
            < 0);
}

void CatalogueIndexTest::measuredLatenciesKept_data()
{
    QTest::addColumn<QVariantMap>("arriving"); // raw node of the new snapshot
    QTest::addColumn<int>("latency");
    QTest::addColumn<QString>("quality");

    const QVariantMap same{{QStringLiteral("id"), QStringLiteral("a")},
                           {QStringLiteral("name"), QStringLiteral("A")},
                           {QStringLiteral("status"), QStringLiteral("online")},
                           {QStringLiteral("outbound"), QVariantMap{{QStringLiteral("server"), QStringLiteral("h")}}}};
    QTest::newRow("unchanged node keeps its measurement") << same << 42 << QStringLiteral("极佳");
    QVariantMap moved = same;
    moved.insert(QStringLiteral("outbound"), QVariantMap{{QStringLiteral("server"), QStringLiteral("elsewhere")}});
    QTest::newRow("moved node is measured again") << moved << 0 << QStringLiteral("未知");
    QVariantMap offline = same;
    offline.insert(QStringLiteral("status"), QStringLiteral("offline"));
    QTest::newRow("node gone offline") << offline << 0 << QStringLiteral("离线");
    QVariantMap serverFigure = same;
    serverFigure.insert(QStringLiteral("latency_ms"), 300);
    QTest::newRow("server's own latency wins") << serverFigure << 300 << QStringLiteral("优秀");
    QVariantMap labelled = same;
    labelled.insert(QStringLiteral("quality_label"), QStringLiteral("维护中"));
    QTest::newRow("server's label stands") << labelled << 0 << QStringLiteral("维护中");
    QVariantMap fresh = same;
    fresh.insert(QStringLiteral("id"), QStringLiteral("b"));
    QTest::newRow("new node") << fresh << 0 << QStringLiteral("未知");
}

void CatalogueIndexTest::measuredLatenciesKept()
{
    QFETCH(QVariantMap, arriving);
    QFETCH(int, latency);
    QFETCH(QString, quality);
    QVariantMap base{{QStringLiteral("id"), QStringLiteral("a")},
                     {QStringLiteral("name"), QStringLiteral("A")},
                     {QStringLiteral("status"), QStringLiteral("online")},
                     {QStringLiteral("outbound"), QVariantMap{{QStringLiteral("server"), QStringLiteral("h")}}}};
    QVariantList previous{NodeCatalog::nodeRecordFromRaw(base)};
    QVERIFY(NodeCatalog::applyLatencySample(previous, QStringLiteral("a"), 42));
    QVariantList built{NodeCatalog::nodeRecordFromRaw(arriving)};
    NodeCatalog::keepMeasuredLatencies(built, previous, NodeCatalog::nodeRowsById(previous));
    QCOMPARE(built.first().toMap().value(QStringLiteral("latency")).toInt(), latency);
    QCOMPARE(built.first().toMap().value(QStringLiteral("quality")).toString(), quality);
}

void CatalogueIndexTest::lookupsByRow_data()
{
    QTest::addColumn<bool>("staleRows");
    QTest::newRow("rows of this list") << false;
    QTest::newRow("rows of an older list") << true;
}

// The row table answers the lookups, and rows that no longer fit the list never give a wrong record.
void CatalogueIndexTest::lookupsByRow()
{
    QFETCH(bool, staleRows);
    QVariantList nodes{node(QStringLiteral("x"), QStringLiteral("X"), QStringLiteral("HK")),
                       node(QStringLiteral("y"), QStringLiteral("Y"), QStringLiteral("HK")),
                       node(QStringLiteral("y"), QStringLiteral("Y2"), QStringLiteral("HK"))};
    const NodeCatalog::NodeRows rows = NodeCatalog::nodeRowsById(nodes);
    if (staleRows)
        nodes.move(0, 2); // y, y, x
    const int x = staleRows ? 2 : 0;
    QCOMPARE(NodeCatalog::nodeRow(nodes, QStringLiteral("x"), &rows), x);
    QCOMPARE(NodeCatalog::selectedNode(nodes, QStringLiteral("x"), &rows).value(QStringLiteral("name")).toString(),
             QStringLiteral("X"));
    QCOMPARE(NodeCatalog::nodeRow(nodes, QStringLiteral("missing"), &rows), -1);
    QVERIFY(NodeCatalog::applyLatencySample(nodes, QStringLiteral("y"), 30, &rows));
    int measured = 0;
    for (const QVariant &entry : nodes)
        measured += entry.toMap().value(QStringLiteral("latency")).toInt() == 30 ? 1 : 0;
    QCOMPARE(measured, 2); // every node with the id
    QCOMPARE(NodeCatalog::nodeRow(nodes, QStringLiteral("x"), &rows), x);
}

void CatalogueIndexTest::listModelUpdatesInPlace()
{
    QVariantList records{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")};
    CatalogueListModel model([&](int row) { return records.value(row); });
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    QSignalSpy count(&model, &CatalogueListModel::countChanged);
    const int role = model.roleNames().key(QByteArrayLiteral("record"));

    model.setRows({0, 1});
    QCOMPARE(reset.count(), 1);
    QCOMPARE(count.count(), 1);
    QCOMPARE(model.data(model.index(1), role).toString(), QStringLiteral("b"));
    // Same number of rows, another order: updated where it stands, no reset.
    records[1] = QStringLiteral("B");
    model.setRows({1, 0});
    QCOMPARE(reset.count(), 1);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(model.data(model.index(0), role).toString(), QStringLiteral("B"));
    model.setRows({2});
    QCOMPARE(reset.count(), 2);
    QCOMPARE(model.count(), 1);
    QCOMPARE(model.data(model.index(1), role), QVariant());
}

QTEST_APPLESS_MAIN(CatalogueIndexTest)
#include "tst_catalogueindex.moc"
