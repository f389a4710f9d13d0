#include "app/firstframe.h"

#include <QApplication>
#include <QQmlApplicationEngine>
#include <QQuickStyle>
#include <QQuickWindow>

// The yardstick for the client's start-up time and memory: a bare Qt Quick
// Controls window on the same Qt, application type, style and window size.
int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QQuickStyle::setStyle(QStringLiteral("Fusion"));
    QQmlApplicationEngine engine;
    engine.loadData(QByteArrayLiteral(R"(
import QtQuick
import QtQuick.Controls
ApplicationWindow {
    width: 1240
    height: 780
    visible: true
    title: "bare"
    Label { anchors.centerIn: parent; text: "Hello" }
}
)"));
    if (engine.rootObjects().isEmpty())
        return 1;
    if (FirstFrame::benchmarkRequested(QCoreApplication::arguments(), qgetenv("QUILLET_BENCHMARK_STARTUP")))
        FirstFrame::reportThenQuit(qobject_cast<QQuickWindow *>(engine.rootObjects().first()));
    return app.exec();
}
