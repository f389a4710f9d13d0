#include "app/firstframe.h"
#include "app/memoryrelease.h"
#include "app/singleinstance.h"
#include "app/startup.h"
#include "app/trayicons.h"
#include "app/traytranslator.h"
#include "app/windowmotion.h"
#include "tunnel/singboxprocessmanager.h"
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
#include <QTimer>
#include <QWindow>

#include <cstdlib>
#include <memory>

namespace {

void showMainWindow(QQmlApplicationEngine &engine)
{
    const QList<QObject *> roots = engine.rootObjects();
    if (roots.isEmpty())
        return;
    auto *window = qobject_cast<QWindow *>(roots.first());
    if (!window)
        return;
    // Shown again, a window is placed anew by the window manager (after show() returns, so
    // its move arrives later): the first move within a moment goes back where the user left it.
    const bool wasHidden = !window->isVisible();
    const QPoint where = window->position();
    window->show();
    window->showNormal();
    if (wasHidden) {
        auto *watch = new QObject(window);
        const auto putBack = [window, where, watch] {
            if (window->position() != where)
                window->setPosition(where);
            watch->deleteLater();
        };
        QObject::connect(window, &QWindow::xChanged, watch, putBack);
        QObject::connect(window, &QWindow::yChanged, watch, putBack);
        QTimer::singleShot(1500, watch, &QObject::deleteLater);
        if (window->position() != where)
            window->setPosition(where);
    }
    window->raise();
    window->requestActivate();
}

// The tray icon with its menu, in the order the tray is set up.
struct Tray
{
    Tray(AppController &controller, QQmlApplicationEngine &engine);

    TrayTranslator translator;
    QSystemTrayIcon icon;
    QMenu menu;
};

Tray::Tray(AppController &controller, QQmlApplicationEngine &engine)
    : translator(&controller)
    , icon(TrayIcons::trayIcon(controller.trayIconConnected()))
{
    QCoreApplication::installTranslator(&translator);

    QAction *showAction = menu.addAction(QObject::tr("显示岚舟"));
    menu.addSeparator();
    // The tunnel's state (not clickable) and the power button's own workflow.
    QAction *stateAction = menu.addAction(controller.trayStateText());
    stateAction->setEnabled(false);
    QAction *toggleAction = menu.addAction(controller.trayToggleText());
    menu.addSeparator();
    QAction *disconnectQuitAction = menu.addAction(QObject::tr("断开并退出"));
    QAction *quitAction = menu.addAction(QObject::tr("退出"));
    icon.setContextMenu(&menu);
    icon.setToolTip(controller.trayToolTip());

    auto refreshState = [&controller, this, stateAction, toggleAction, disconnectQuitAction] {
        icon.setToolTip(controller.trayToolTip());
        stateAction->setText(controller.trayStateText());
        toggleAction->setText(controller.trayToggleText());
        toggleAction->setEnabled(controller.loggedIn() && controller.vpnPhase() != QLatin1String("disconnecting"));
        disconnectQuitAction->setVisible(controller.vpnPhase() != QLatin1String("disconnected")
                                         || controller.engineController()->cachedRunning());
    };
    refreshState();
    for (auto signal : {&AppController::connectionStatusTextChanged, &AppController::vpnPhaseChanged,
                        &AppController::loggedInChanged, &AppController::languageChanged})
        QObject::connect(&controller, signal, &menu, refreshState);
    QObject::connect(&controller, &AppController::languageChanged, &menu, [showAction, quitAction, disconnectQuitAction] {
        showAction->setText(QObject::tr("显示岚舟"));
        disconnectQuitAction->setText(QObject::tr("断开并退出"));
        quitAction->setText(QObject::tr("退出"));
    });
    QObject::connect(showAction, &QAction::triggered, &menu, [&engine] { showMainWindow(engine); });
    QObject::connect(toggleAction, &QAction::triggered, &menu,
                     [&controller] { controller.requestDashboardConnectionToggle(); });
    QObject::connect(&controller, &AppController::trayIconConnectedChanged, &menu,
                     [this, &controller] { icon.setIcon(TrayIcons::trayIcon(controller.trayIconConnected())); });
    QObject::connect(&controller, &AppController::trayNotificationRequested, &menu,
                     [this](const QString &title, const QString &message) {
                         if (icon.isVisible() && QSystemTrayIcon::supportsMessages())
                             icon.showMessage(title, message, QSystemTrayIcon::Warning, 10000);
                     });
    QObject::connect(&icon, &QSystemTrayIcon::activated, &menu, [&engine](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            showMainWindow(engine);
    });
    // Ends the process at once: the quit filter would swallow a Qt quit, and a
    // running tunnel is left to the service (the next start takes it over).
    QObject::connect(quitAction, &QAction::triggered, &menu, [] { std::exit(0); });
    QObject::connect(disconnectQuitAction, &QAction::triggered, &menu, [&controller] {
        controller.disconnectForExit();
        std::exit(0);
    });

    if (QSystemTrayIcon::isSystemTrayAvailable())
        icon.show();
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Quillet"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("quillet.app"));
    QCoreApplication::setApplicationName(QStringLiteral("岚舟")); // i18n-exempt: identity
    QGuiApplication::setApplicationDisplayName(QStringLiteral("岚舟")); // i18n-exempt: identity
    // With its size given the icon is decoded when a window first needs it, not here.
    QIcon appIcon;
    appIcon.addFile(QStringLiteral(":/assets/logo.png"), QSize(256, 256));
    QGuiApplication::setWindowIcon(appIcon);
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

    // Outlives the engine: the window's bindings read it until the end.
    WindowMotion windowMotion;
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

    AppController controller(AppController::StartupTiming::AfterFirstFrame);
    // Started at login: the window waits in the tray, unless there is no tray to reopen it from.
    controller.setStartInTray(QCoreApplication::arguments().contains(QStringLiteral("--minimized"))
                              && QSystemTrayIcon::isSystemTrayAvailable());
    engine.rootContext()->setContextProperty(QStringLiteral("appController"), &controller);
    engine.rootContext()->setContextProperty(QStringLiteral("windowMotion"), &windowMotion);
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

    windowMotion.attach(qobject_cast<QWindow *>(engine.rootObjects().first()));

    Startup::QuitEventFilter quitFilter;
    app.installEventFilter(&quitFilter);

    // What a page left behind goes back once the next one has settled.
    MemoryRelease memoryRelease(&engine, qobject_cast<QQuickWindow *>(engine.rootObjects().first()));
    QObject::connect(&controller, &AppController::currentPageChanged, &memoryRelease, &MemoryRelease::schedule);

    QObject::connect(&instance, &SingleInstance::activationRequested, &app, [&engine] {
        Startup::appendStartupLog(QStringLiteral("Launched again: showing the window."));
        showMainWindow(engine);
    });

    // The first page needs neither the tray nor the controller's held start-up
    // work: both come once the window has shown its first frame (or after the
    // controller's fallback delay when no frame is reported).
    std::unique_ptr<Tray> tray;
    auto afterFirstFrame = [&] {
        if (tray)
            return;
        controller.setTrayAvailable(QSystemTrayIcon::isSystemTrayAvailable());
        tray = std::make_unique<Tray>(controller, engine);
        controller.windowShown();
        // The motion preference may wait for a helper program: never before the first frame.
        windowMotion.readPreference();
    };
    if (auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().first())) {
        auto connection = std::make_shared<QMetaObject::Connection>();
        *connection = QObject::connect(
            window, &QQuickWindow::frameSwapped, &app,
            [connection, afterFirstFrame] {
                QObject::disconnect(*connection);
                afterFirstFrame();
            },
            Qt::QueuedConnection);
    }
    QTimer::singleShot(AppController::kWindowShownFallbackMs, &app, afterFirstFrame);
    // A window that starts in the tray draws no frame: the tray comes at once.
    if (controller.startInTray())
        QTimer::singleShot(0, &app, afterFirstFrame);

    return app.exec();
}
