#pragma once

#include "platform/NotificationCenter.h"

#include <QObject>
#include <QPointer>
#include <QUrl>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <functional>
#include <memory>

namespace vantrel {

class LogManager;
class MenuBarController;
class SingleInstance;

// Starts the application's services in a fixed order once launching has finished, keeps the tray
// icon alive, and unmounts the shares when the application quits. Main thread only.
class AppDelegate final : public QObject {
    Q_OBJECT

public:
    // The product's update feed.
    static inline const QString updateFeedAddress = QStringLiteral("https://vantrel.app/updates/appcast.xml");

    // The services the delegate starts and stops, as calls so tests can record the order.
    struct Services {
        std::function<void()> startCrashReporting;
        std::function<void(const QUrl& feedURL)> configureUpdates;
        std::function<std::unique_ptr<MenuBarController>()> makeMenuBarController;
        // Makes the controller hear about the system waking from sleep.
        std::function<void(MenuBarController&)> observeSystemWake;
        std::function<QCoro::Task<NotificationAuthorization>()> requestNotificationAuthorization;
        std::function<void()> startNetworkMonitoring;
        std::function<void()> startAutoMount;
        std::function<void()> startPeriodicCleanup;
        std::function<QCoro::Task<>()> performStartupCleanup;
        std::function<void()> trackLaunch;
        // Stops whatever would start a mount by itself, before the shares are unmounted at quit.
        std::function<void()> stopAutoMount;
        // Quitting: leaves nothing mounted and ends every tool this application started.
        std::function<QCoro::Task<>()> unmountAll;
        // Kills the tools still running once the wait for unmountAll is over, finished or not.
        std::function<void()> endChildProcesses;
        // Puts what is still queued (settings, records, the cache index, log lines) on disk before
        // the process ends.
        std::function<void()> flush;
        // Asks the application to quit once its event loop runs.
        std::function<void()> terminate;
    };
    // The shared instances of the product. The menu-bar controller is the caller's to supply.
    static Services productServices();

    AppDelegate(LogManager& log, SingleInstance& singleInstance, Services services, QObject* parent = nullptr);
    ~AppDelegate() override;

    // How long the shut-down waits for the shares to unmount; tests shorten it.
    std::chrono::milliseconds shutdownTimeout{5000};

    // Null until start-up has created it; stays null in a second copy.
    MenuBarController* menuBarController() const { return m_menuBarController.get(); }
    bool isPrimaryInstance() const { return m_isPrimaryInstance; }

    void applicationDidFinishLaunching();
    void applicationDidBecomeActive();
    // Runs once, however often the application signals that it quits.
    void applicationWillTerminate();

    bool ensureSingleInstance();
    // Asks for permission to post notifications and logs the answer.
    QCoro::Task<> requestNotificationPermission();

private:
    LogManager& m_log;
    SingleInstance& m_singleInstance;
    Services m_services;
    std::unique_ptr<MenuBarController> m_menuBarController;
    bool m_isPrimaryInstance = false;
    bool m_terminated = false;
};

} // namespace vantrel
