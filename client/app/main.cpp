#include "app/firstframe.h"
#include "app/singleinstance.h"
#include "app/startup.h"
#include "app/traytranslator.h"
#include "controller/appcontroller.h"
#include "platform/platform.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QMenu>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickWindow>
#include <QQuickStyle>
#include <QSystemTrayIcon>
#include <QWindow>

#include <cstdlib>

namespace {

void showMainWindow(QQmlApplicationEngine &engine)
{
    const QList<QObject *> roots = engine.rootObjects();
    if (roots.isEmpty())
        return;
    auto *window = qobject_cast<QWindow *>(roots.first());
    if (!window)
        return;
    window->show();
    window->showNormal();
    window->raise();
    window->requestActivate();
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Quillet"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("quillet.app"));
    QCoreApplication::setApplicationName(QStringLiteral("岚舟")); // i18n-exempt: identity
    QGuiApplication::setApplicationDisplayName(QStringLiteral("岚舟")); // i18n-exempt: identity
    QGuiApplication::setWindowIcon(QIcon(QStringLiteral(":/assets/logo.png")));
    QGuiApplication::setQuitOnLastWindowClosed(false);

    Startup::g_logDirectory = Startup::desktopLogDirectory();
    Startup::g_startupLogPath = QDir(Startup::desktopLogDirectory()).filePath(QStringLiteral("desktop.log"));
    qInstallMessageHandler(Startup::startupMessageHandler);

    const QString appDir = QCoreApplication::applicationDirPath();
    Startup::appendStartupLog(QStringLiteral("Starting 岚舟 from %1").arg(appDir)); // i18n-exempt: log
    Startup::appendStartupLog(QStringLiteral("Log directory: %1").arg(Startup::g_logDirectory));

    // One client per user: a second launch shows the running one's window and ends.
    SingleInstance instance(SingleInstance::serverNameForCurrentUser());
    if (instance.activateRunningInstance()) {
        Startup::appendStartupLog(QStringLiteral("Already running: asked the running client to show its window."));
        return 0;
    }
    if (!instance.listen())
        Startup::appendStartupLog(QStringLiteral("Single-instance socket unavailable: %1").arg(instance.serverName()));

    const QString plugins = QDir(appDir).absoluteFilePath(QStringLiteral("plugins"));
    if (QDir(plugins).exists()) {
        QCoreApplication::addLibraryPath(plugins);
        Startup::appendStartupLog(QStringLiteral("Added Qt plugin path: %1").arg(plugins));
    }

    QQmlApplicationEngine engine;
    QStringList importPaths = engine.importPathList();
    const QString bundledQml = QDir(appDir).absoluteFilePath(QStringLiteral("qml"));
    const QString resourcesQml = QDir(appDir).absoluteFilePath(QStringLiteral("../Resources/qml"));
    if (QDir(bundledQml).exists())
        importPaths.prepend(bundledQml);
    if (QDir(resourcesQml).exists())
        importPaths.prepend(resourcesQml);
    for (const QString &qrcPath : {QStringLiteral("qrc:/qt/qml"), QStringLiteral("qrc:/qt-project.org/imports")}) {
        if (!importPaths.contains(qrcPath))
            importPaths.append(qrcPath);
    }
    engine.setImportPathList(importPaths);
    Startup::appendStartupLog(QStringLiteral("QML import paths: %1").arg(importPaths.join(QStringLiteral("; "))));

    QQuickStyle::setStyle(QStringLiteral("Fusion"));

    AppController controller;
    controller.setTrayAvailable(QSystemTrayIcon::isSystemTrayAvailable());
    engine.rootContext()->setContextProperty(QStringLiteral("appController"), &controller);
    engine.load(QUrl(QStringLiteral("qrc:/qml/Main.qml")));

    if (engine.rootObjects().isEmpty()) {
        const QString message =
            QStringLiteral("界面加载失败，应用无法启动。\n日志目录：%1").arg(Startup::g_logDirectory);
        Startup::appendStartupLog(QStringLiteral("[FATAL] %1").arg(message));
        Platform::showFatalMessage(QStringLiteral("岚舟启动失败"), message);
        return -1;
    }

    if (FirstFrame::benchmarkRequested(QCoreApplication::arguments(), qgetenv("QUILLET_BENCHMARK_STARTUP")))
        FirstFrame::reportThenQuit(qobject_cast<QQuickWindow *>(engine.rootObjects().first()));

    Startup::QuitEventFilter quitFilter;
    app.installEventFilter(&quitFilter);

    TrayTranslator trayTranslator(&controller);
    QCoreApplication::installTranslator(&trayTranslator);

    QSystemTrayIcon trayIcon(QIcon(QStringLiteral(":/assets/logo.png")));
    QMenu trayMenu;
    QAction *showAction = trayMenu.addAction(QObject::tr("显示岚舟"));
    trayMenu.addSeparator();
    QAction *quitAction = trayMenu.addAction(QObject::tr("退出"));
    trayIcon.setContextMenu(&trayMenu);
    trayIcon.setToolTip(QStringLiteral("岚舟 - 专业版"));

    QObject::connect(&controller, &AppController::languageChanged, &trayMenu, [&] {
        showAction->setText(QObject::tr("显示岚舟"));
        quitAction->setText(QObject::tr("退出"));
    });
    QObject::connect(showAction, &QAction::triggered, &trayMenu, [&engine] { showMainWindow(engine); });
    QObject::connect(&instance, &SingleInstance::activationRequested, &trayMenu, [&engine] {
        Startup::appendStartupLog(QStringLiteral("Launched again: showing the window."));
        showMainWindow(engine);
    });
    QObject::connect(&trayIcon, &QSystemTrayIcon::activated, &trayMenu,
                     [&engine](QSystemTrayIcon::ActivationReason reason) {
                         if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                             showMainWindow(engine);
                     });
    // Ends the process at once: the quit filter would swallow a Qt quit, and a
    // running tunnel is left to the service.
    QObject::connect(quitAction, &QAction::triggered, &trayMenu, [] { std::exit(0); });

    if (QSystemTrayIcon::isSystemTrayAvailable())
        trayIcon.show();

    return app.exec();
}
