#include "render/bodymovinitem.h"
#include "testenvironment.h"

#include <QPainter>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QtTest>

#include <memory>

namespace {

QStringList g_warnings;
QtMessageHandler g_previousHandler = nullptr;

void recordWarnings(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtWarningMsg)
        g_warnings << message;
    else if (g_previousHandler)
        g_previousHandler(type, context, message);
}

QString referencePath(const QString &name)
{
    QString root = qEnvironmentVariable("QUILLET_SOURCE_DIR");
    if (root.isEmpty())
        root = QStringLiteral(QUILLET_SOURCE_DIR_FALLBACK);
    return root + QStringLiteral("/tests/data/lottie/") + name;
}

// The references were grabbed over the button's disc.
QImage overDisc(const QImage &frame)
{
    QImage out(frame.size(), QImage::Format_RGB32);
    out.fill(QColor(QStringLiteral("#242829")));
    QPainter painter(&out);
    painter.drawImage(0, 0, frame);
    return out;
}

const QByteArray kMinimalLayer = R"({"ty":4,"ks":{},"shapes":[{"ty":"gr","it":[
    {"ty":"sh","ks":{"k":{"v":[[0,0],[10,0],[10,10]],"c":true}}},{"ty":"fl"}]}]})";

QByteArray documentWith(const QByteArray &layers, const QByteArray &head = QByteArray())
{
    return "{" + head + R"("layers":[)" + layers + "]}";
}

} // namespace

// The C++ Bodymovin renderer: the same picture as the canvas view it replaced,
// a byte-bounded frame cache that a replay is drawn from, and documents that
// cannot be drawn give an empty item and one log line.
class BodymovinTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void matchesReference_data();
    void matchesReference();
    void replayComesFromTheCache_data();
    void replayComesFromTheCache();
    void cacheIsClearedWhenItsFramesNoLongerFit_data();
    void cacheIsClearedWhenItsFramesNoLongerFit();
    void documentPoints_data();
    void documentPoints();
    void keyframedValues_data();
    void keyframedValues();
    void badDocumentGivesAnEmptyItem_data();
    void badDocumentGivesAnEmptyItem();
    void paintsOnlyWholeFrameChanges();
    void viewChoosesTheAsset_data();
    void viewChoosesTheAsset();

private:
    std::unique_ptr<BodymovinItem> sizedItem(const QString &source, int side);
    QString writeDocument(const QByteArray &json);

    TestEnvironment m_env;
    int m_documents = 0;
};

void BodymovinTest::init()
{
    g_warnings.clear();
    g_previousHandler = qInstallMessageHandler(recordWarnings);
}

void BodymovinTest::cleanup()
{
    qInstallMessageHandler(g_previousHandler);
}

std::unique_ptr<BodymovinItem> BodymovinTest::sizedItem(const QString &source, int side)
{
    auto item = std::make_unique<BodymovinItem>();
    item->setSize(QSizeF(side, side));
    item->setSource(QUrl(source));
    return item;
}

QString BodymovinTest::writeDocument(const QByteArray &json)
{
    const QString path = m_env.path(QStringLiteral("document-%1.json").arg(++m_documents));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(json) != json.size())
        return QString();
    return path;
}

void BodymovinTest::matchesReference_data()
{
    QTest::addColumn<QString>("animation");
    QTest::addColumn<int>("frame");
    for (const char *animation : {"connect", "disconnect"}) {
        for (int frame : {0, 25, 60, 100, 140})
            QTest::addRow("%s %d", animation, frame) << QString::fromLatin1(animation) << frame;
    }
}

// Antialiasing may differ by a shade along the edges; a shape out of place,
// a wrong colour or a missing layer shows as a cell that differs throughout.
void BodymovinTest::matchesReference()
{
    QFETCH(QString, animation);
    QFETCH(int, frame);
    const QImage reference = QImage(referencePath(QStringLiteral("plover_%1_%2.png").arg(animation).arg(frame, 3, 10, QLatin1Char('0'))))
                                 .convertToFormat(QImage::Format_RGB32);
    QVERIFY(!reference.isNull());
    auto item = sizedItem(QStringLiteral("qrc:/assets/plover_%1.json").arg(animation), 220);
    const QImage drawn = overDisc(item->frameImage(frame));
    QCOMPARE(drawn.size(), reference.size());

    constexpr int kCell = 11;
    const int columns = drawn.width() / kCell;
    QVector<qint64> cells(columns * (drawn.height() / kCell));
    qint64 total = 0;
    for (int y = 0; y < drawn.height(); ++y) {
        for (int x = 0; x < drawn.width(); ++x) {
            const QRgb a = drawn.pixel(x, y);
            const QRgb b = reference.pixel(x, y);
            const int difference = qAbs(qRed(a) - qRed(b)) + qAbs(qGreen(a) - qGreen(b)) + qAbs(qBlue(a) - qBlue(b));
            total += difference;
            if (x / kCell < columns && y / kCell < cells.size() / columns)
                cells[(y / kCell) * columns + x / kCell] += difference;
        }
    }
    const double mean = double(total) / (3.0 * drawn.width() * drawn.height());
    QVERIFY2(mean < 1.0, qPrintable(QStringLiteral("mean channel difference %1").arg(mean)));
    for (int cell = 0; cell < cells.size(); ++cell) {
        const double cellMean = double(cells.at(cell)) / (3.0 * kCell * kCell);
        QVERIFY2(cellMean < 12, qPrintable(QStringLiteral("cell %1,%2 differs by %3 on average")
                                               .arg(cell % columns * kCell).arg(cell / columns * kCell).arg(cellMean)));
    }
}

void BodymovinTest::replayComesFromTheCache_data()
{
    QTest::addColumn<int>("side");
    QTest::addColumn<int>("framesKept"); // 0: the cache's own bound
    QTest::addColumn<int>("repaintedOnReplay");

    QTest::newRow("the view's size: a loop fits") << 220 << 0 << 0;
    QTest::newRow("small: a loop fits") << 64 << 0 << 0;
    // Least recently used out: the loop's start is gone by its end, so a sequential
    // replay paints every frame again; the last frames shown are still there.
    QTest::newRow("a bound below one loop") << 64 << 20 << 151;
}

void BodymovinTest::replayComesFromTheCache()
{
    QFETCH(int, side);
    QFETCH(int, framesKept);
    QFETCH(int, repaintedOnReplay);
    auto item = sizedItem(QStringLiteral("qrc:/assets/plover_connect.json"), side);
    const qint64 frameBytes = qint64(side) * side * 4;
    if (framesKept > 0)
        item->setCacheLimit(frameBytes * framesKept);
    QCOMPARE(item->inPoint(), 0.0);
    QCOMPARE(item->outPoint(), 151.0);
    for (int frame = 0; frame < 151; ++frame)
        QVERIFY(!item->frameImage(frame).isNull());
    QCOMPARE(item->renderCount(), 151);
    QVERIFY2(item->cacheBytes() <= item->cacheLimit(), qPrintable(QString::number(item->cacheBytes())));
    if (framesKept > 0)
        QCOMPARE(item->cacheBytes(), frameBytes * framesKept);

    for (int frame = 0; frame < 151; ++frame)
        item->frameImage(frame);
    QCOMPARE(item->renderCount(), 151 + repaintedOnReplay);
    QVERIFY(item->cacheBytes() <= item->cacheLimit());
    if (framesKept > 0) {
        const int before = item->renderCount();
        for (int frame = 151 - framesKept; frame < 151; ++frame)
            item->frameImage(frame);
        QCOMPARE(item->renderCount(), before);
    }
    // The play ended: a resting view keeps at most the frame on screen.
    item->releaseFrames();
    QVERIFY2(item->cacheBytes() <= frameBytes, qPrintable(QString::number(item->cacheBytes())));
    const int released = item->renderCount();
    item->frameImage(0);
    QVERIFY(item->renderCount() <= released + 1);
}

void BodymovinTest::cacheIsClearedWhenItsFramesNoLongerFit_data()
{
    QTest::addColumn<QString>("change");
    QTest::newRow("resize") << "resize";
    QTest::newRow("new source") << "source";
    QTest::newRow("smaller bound") << "bound";
}

void BodymovinTest::cacheIsClearedWhenItsFramesNoLongerFit()
{
    QFETCH(QString, change);
    auto item = sizedItem(QStringLiteral("qrc:/assets/plover_connect.json"), 100);
    for (int frame = 0; frame < 5; ++frame)
        item->frameImage(frame);
    QCOMPARE(item->cacheBytes(), qint64(5 * 100 * 100 * 4));
    QSize expected(100, 100);
    if (change == QLatin1String("resize")) {
        item->setSize(QSizeF(120, 120));
        QCOMPARE(item->cacheBytes(), qint64(0));
        expected = QSize(120, 120);
    } else if (change == QLatin1String("source")) {
        item->setSource(QUrl(QStringLiteral("qrc:/assets/plover_disconnect.json")));
        QCOMPARE(item->cacheBytes(), qint64(0));
    } else {
        item->setCacheLimit(2 * 100 * 100 * 4);
        QCOMPARE(item->cacheBytes(), qint64(2 * 100 * 100 * 4));
        // The two most recent stay.
        item->frameImage(4);
        QCOMPARE(item->renderCount(), 5);
    }
    const int before = item->renderCount();
    const QImage first = item->frameImage(0);
    QCOMPARE(first.size(), expected);
    QCOMPARE(item->renderCount(), before + 1);
}

void BodymovinTest::documentPoints_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<double>("frameRate");
    QTest::addColumn<double>("inPoint");
    QTest::addColumn<double>("outPoint");

    QTest::newRow("absent: 25 fps over 0 to 151") << QByteArray() << 25.0 << 0.0 << 151.0;
    QTest::newRow("given") << QByteArray(R"("fr":30,"ip":10,"op":70,)") << 30.0 << 10.0 << 70.0;
}

void BodymovinTest::documentPoints()
{
    QFETCH(QByteArray, head);
    QFETCH(double, frameRate);
    QFETCH(double, inPoint);
    QFETCH(double, outPoint);
    auto item = sizedItem(QUrl::fromLocalFile(writeDocument(documentWith(kMinimalLayer, head))).toString(), 220);
    QVERIFY(item->loaded());
    QCOMPARE(item->frameRate(), frameRate);
    QCOMPARE(item->inPoint(), inPoint);
    QCOMPARE(item->outPoint(), outPoint);
    // The default fill colour on the triangle.
    const QImage frame = item->frameImage(0);
    QCOMPARE(frame.pixelColor(8, 2).rgba(), QColor::fromRgbF(0.98f, 0.58f, 0.04f).rgba());
    QVERIFY(g_warnings.isEmpty());
}

void BodymovinTest::keyframedValues_data()
{
    QTest::addColumn<QByteArray>("opacity");
    QTest::addColumn<int>("frame");
    QTest::addColumn<double>("low");
    QTest::addColumn<double>("high");

    const QByteArray linear = R"("o":{"x":[0],"y":[0]},"i":{"x":[1],"y":[1]})";
    QTest::newRow("linear handles, half way")
        << R"({"a":1,"k":[{"t":0,"s":[0],)" + linear + R"(},{"t":10,"s":[100]}]})" << 5 << 0.49 << 0.51;
    QTest::newRow("hold frame")
        << QByteArray(R"({"a":1,"k":[{"t":0,"s":[0],"h":1},{"t":10,"s":[100]}]})") << 9 << 0.0 << 0.0;
    QTest::newRow("before the first keyframe")
        << QByteArray(R"({"a":1,"k":[{"t":5,"s":[30]},{"t":10,"s":[100]}]})") << 0 << 0.29 << 0.31;
    QTest::newRow("past the last keyframe")
        << QByteArray(R"({"a":1,"k":[{"t":0,"s":[0]},{"t":10,"s":[80]}]})") << 40 << 0.79 << 0.81;
    QTest::newRow("end value of the older format")
        << R"({"a":1,"k":[{"t":0,"s":[0],"e":[40],)" + linear + R"(},{"t":10}]})" << 5 << 0.19 << 0.21;
    QTest::newRow("end value holds past the end")
        << QByteArray(R"({"a":1,"k":[{"t":0,"s":[0],"e":[40]},{"t":10}]})") << 12 << 0.39 << 0.41;
    // Ease in and out: slow at the start, so a quarter of the time is well short of a quarter of the way.
    QTest::newRow("eased, a quarter of the time")
        << QByteArray(R"({"a":1,"k":[{"t":0,"s":[0],"o":{"x":[0.42],"y":[0]},"i":{"x":[0.58],"y":[1]}},{"t":100,"s":[100]}]})")
        << 25 << 0.05 << 0.20;
    QTest::newRow("default easing is symmetric")
        << QByteArray(R"({"a":1,"k":[{"t":0,"s":[0]},{"t":100,"s":[100]}]})") << 50 << 0.49 << 0.51;
    QTest::newRow("bare number") << QByteArray("25") << 3 << 0.24 << 0.26;
    QTest::newRow("absent") << QByteArray("null") << 3 << 1.0 << 1.0;
}

// A fill's keyframed opacity as the frame's alpha.
void BodymovinTest::keyframedValues()
{
    QFETCH(QByteArray, opacity);
    QFETCH(int, frame);
    QFETCH(double, low);
    QFETCH(double, high);
    const QByteArray layer = R"({"ty":4,"shapes":[{"ty":"gr","it":[{"ty":"sh","ks":{"k":{"v":[[0,0],[10,0],[10,10]],"c":true}}},)"
                             R"({"ty":"fl","c":{"k":[0,0,1,1]},"o":)" + opacity + "}]}]}";
    QString error;
    const Bodymovin::Document document = Bodymovin::Document::fromJson(documentWith(layer), &error);
    QVERIFY2(!document.isNull(), qPrintable(error));
    const QList<Bodymovin::FilledPath> fills = document.evaluate(frame);
    QCOMPARE(fills.size(), 1);
    const double alpha = fills.first().colour.alphaF();
    QVERIFY2(alpha >= low - 1e-6 && alpha <= high + 1e-6, qPrintable(QString::number(alpha)));
}

void BodymovinTest::badDocumentGivesAnEmptyItem_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("reason");

    const QByteArray path = R"({"ty":"sh","ks":{"k":{"v":[[0,0],[10,0],[10,10]],"c":true}}},{"ty":"fl"})";
    auto layerWith = [](const QByteArray &items) {
        return R"({"ty":4,"shapes":[{"ty":"gr","it":[)" + items + "]}]}";
    };
    QByteArray nested = path;
    for (int depth = 0; depth < 40; ++depth)
        nested = R"({"ty":"gr","it":[)" + nested + "]}";

    QTest::newRow("not JSON") << QByteArray("{\"layers\": [") << "not JSON";
    QTest::newRow("NaN is not JSON") << documentWith(kMinimalLayer, "\"fr\":NaN,") << "not JSON";
    QTest::newRow("an array") << QByteArray("[1,2]") << "not a JSON object";
    QTest::newRow("no layers") << QByteArray(R"({"w":220,"h":220})") << "no layer list";
    QTest::newRow("layers not a list") << QByteArray(R"({"layers":{"ty":4}})") << "no layer list";
    QTest::newRow("a layer not an object") << documentWith("4") << "a layer is not an object";
    QTest::newRow("keyframe without a time")
        << documentWith(R"({"ty":4,"ks":{"o":{"a":1,"k":[{"t":"zero","s":[0]},{"t":10,"s":[100]}]}},"shapes":[{"ty":"gr","it":[)"
                        + path + "]}]}")
        << "keyframe has no time";
    QTest::newRow("keyframe value of the wrong type")
        << documentWith(R"({"ty":4,"ks":{"s":{"a":1,"k":[{"t":0,"s":"big"},{"t":10,"s":[100,100]}]}},"shapes":[{"ty":"gr","it":[)"
                        + path + "]}]}")
        << "not a number";
    QTest::newRow("path keyframe of the wrong type")
        << documentWith(layerWith(R"({"ty":"sh","ks":{"a":1,"k":[{"t":0,"s":[7]}]}},{"ty":"fl"})")) << "no vertex list";
    QTest::newRow("huge number")
        << documentWith(layerWith(R"({"ty":"sh","ks":{"k":{"v":[[0,0],[1e300,0],[10,10]],"c":true}}},{"ty":"fl"})"))
        << "out of range";
    QTest::newRow("number beyond a double") << documentWith(kMinimalLayer, "\"w\":1e999,") << "";
    QTest::newRow("zero size") << documentWith(kMinimalLayer, "\"w\":0,") << "size is empty";
    QTest::newRow("out-point before in-point") << documentWith(kMinimalLayer, "\"ip\":50,\"op\":10,") << "out-point";
    QTest::newRow("point that is not a pair")
        << documentWith(layerWith(R"({"ty":"sh","ks":{"k":{"v":[[0,0],[5],[10,10]],"c":true}}},{"ty":"fl"})"))
        << "not a pair";
    QTest::newRow("no layers at all") << documentWith("") << "nothing to draw";
    QTest::newRow("empty shapes") << documentWith(R"({"ty":4,"shapes":[]})") << "nothing to draw";
    QTest::newRow("empty path")
        << documentWith(layerWith(R"({"ty":"sh","ks":{"k":{"v":[],"c":true}}},{"ty":"fl"})")) << "nothing to draw";
    QTest::newRow("a path and no fill")
        << documentWith(layerWith(R"({"ty":"sh","ks":{"k":{"v":[[0,0],[1,1]]}}})")) << "nothing to draw";
    QTest::newRow("groups nested too deeply") << documentWith(layerWith(nested)) << "nested too deeply";
    QTest::newRow("missing file") << QByteArray() << "cannot be read";
}

void BodymovinTest::badDocumentGivesAnEmptyItem()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, reason);
    const QString path = json.isNull() ? m_env.path(QStringLiteral("absent.json")) : writeDocument(json);
    auto item = sizedItem(QUrl::fromLocalFile(path).toString(), 60);
    QVERIFY(!item->loaded());
    QVERIFY(item->frameImage(0).isNull());
    QCOMPARE(item->renderCount(), 0);
    QCOMPARE(g_warnings.size(), 1);
    const QString line = g_warnings.first();
    QVERIFY2(line.startsWith(QStringLiteral("Bodymovin animation ")) && line.contains(QStringLiteral(" not loaded: "))
                 && line.contains(reason) && !line.contains(QLatin1Char('\n')),
             qPrintable(line));
    for (const QChar c : line)
        QVERIFY2(c.unicode() < 128, qPrintable(line));
    // Its defaults stay usable for the view's frame stepping.
    QCOMPARE(item->frameRate(), 25.0);
    QCOMPARE(item->outPoint(), 151.0);
}

// In a window: a tick inside the same whole frame paints nothing, and a view at
// rest paints nothing at all.
void BodymovinTest::paintsOnlyWholeFrameChanges()
{
    QQuickWindow window;
    window.resize(120, 120);
    auto *item = new BodymovinItem(window.contentItem());
    item->setSize(QSizeF(100, 100));
    item->setSource(QUrl(QStringLiteral("qrc:/assets/plover_connect.json")));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTRY_COMPARE(item->renderCount(), 1);
    QCOMPARE(item->shownFrame(), 0);

    item->setFrame(3.2);
    QTRY_COMPARE(item->renderCount(), 2);
    item->setFrame(3.6);
    item->setFrame(3.99);
    QTest::qWait(100);
    QCOMPARE(item->renderCount(), 2);
    item->setFrame(4.0);
    QTRY_COMPARE(item->renderCount(), 3);
    // Back to a frame it has painted: from the cache.
    item->setFrame(0);
    QTest::qWait(100);
    QCOMPARE(item->shownFrame(), 0);
    QCOMPARE(item->renderCount(), 3);
    window.contentItem()->update();
    QTest::qWait(200);
    QCOMPARE(item->renderCount(), 3);
}

void BodymovinTest::viewChoosesTheAsset_data()
{
    QTest::addColumn<QString>("animationSource");
    QTest::addColumn<QString>("drawn");

    QTest::newRow("connect") << "qrc:/assets/plover_connect.json" << "qrc:/assets/plover_connect.json";
    QTest::newRow("disconnect") << "qrc:/assets/plover_disconnect.json" << "qrc:/assets/plover_disconnect.json";
    QTest::newRow("neither asset") << "qrc:/assets/elsewhere.json" << "qrc:/assets/plover_connect.json";
}

// The QML view: a source naming neither asset plays the connect animation, a play
// runs its timer and ends on the in-point.
void BodymovinTest::viewChoosesTheAsset()
{
    QFETCH(QString, animationSource);
    QFETCH(QString, drawn);
    QQmlEngine engine;
    QQmlComponent component(&engine, QUrl(QStringLiteral("qrc:/qml/components/LottieBodymovinView.qml")));
    std::unique_ptr<QObject> view(component.createWithInitialProperties(
        {{QStringLiteral("animationSource"), QUrl(animationSource)}}));
    QVERIFY2(view, qPrintable(component.errorString()));
    auto *renderer = view->findChild<BodymovinItem *>();
    QVERIFY(renderer);
    QCOMPARE(renderer->source(), QUrl(drawn));
    QVERIFY(view->property("loaded").toBool());
    QCOMPARE(view->property("outPoint").toReal(), 151.0);
    QVERIFY(!view->property("running").toBool());
    QVERIFY(QMetaObject::invokeMethod(view.get(), "play"));
    QVERIFY(view->property("running").toBool());
    for (int tick = 0; tick < 10; ++tick)
        QVERIFY(QMetaObject::invokeMethod(view.get(), "advance"));
    QCOMPARE(renderer->shownFrame(), 10);
    QVERIFY(QMetaObject::invokeMethod(view.get(), "stop"));
    QVERIFY(!view->property("running").toBool());
    QCOMPARE(renderer->shownFrame(), 0);
    QVERIFY(g_warnings.isEmpty());
}

QTEST_MAIN(BodymovinTest)
#include "tst_bodymovin.moc"
