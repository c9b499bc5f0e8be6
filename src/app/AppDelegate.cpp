#include "app/AppDelegate.h"

#include "app/AnalyticsService.h"
#include "app/CrashReporter.h"
#include "app/MenuBarController.h"
#include "app/UpdateManager.h"
#include "files/CacheDirectoryManager.h"
#include "files/CacheManager.h"
#include "mounting/AutoMountStrategy.h"
#include "mounting/NetworkMonitor.h"
#include "mounting/ProcessRunner.h"
#include "platform/Defaults.h"
#include "platform/PowerEvents.h"
#include "platform/SingleInstance.h"
#include "platform/Threading.h"
#include "services/LogManager.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

namespace vantrel {

AppDelegate::Services AppDelegate::productServices()
{
    Services services;
    services.startCrashReporting = [] {
        CrashReporter& reporter = CrashReporter::shared();
        reporter.setBackendURL(CrashReporter::productBackendURL);
        reporter.startMonitoring();
    };
    services.configureUpdates = [](const QUrl& feedURL) { UpdateManager::shared().configure(feedURL); };
    services.observeSystemWake = [](MenuBarController& controller) {
        QObject::connect(&PowerEvents::shared(), &PowerEvents::didWake, &controller,
            &MenuBarController::handleSystemWake);
    };
    services.requestNotificationAuthorization = [] { return NotificationCenter::shared().requestAuthorization(); };
    services.startNetworkMonitoring = [] { NetworkMonitor::shared().startMonitoring(); };
    services.startAutoMount = [] { AutoMountStrategy::shared().start(); };
    // Analytics and the cache are touched at shut-down only when start-up has used them: a second
    // copy that only activates the first one has nothing queued there.
    auto cacheUsed = std::make_shared<bool>(false);
    services.startPeriodicCleanup = [cacheUsed] {
        *cacheUsed = true;
        CacheDirectoryManager::shared().startPeriodicCleanup();
    };
    services.performStartupCleanup = [cacheUsed] {
        *cacheUsed = true;
        return CacheDirectoryManager::shared().performStartupCleanup();
    };
    auto analyticsUsed = std::make_shared<bool>(false);
    services.trackLaunch = [analyticsUsed] {
        *analyticsUsed = true;
        AnalyticsService::shared().track(AnalyticsEvent::appLaunch);
    };
    services.stopAutoMount = [] { AutoMountStrategy::shared().stop(); };
    services.unmountAll = [] { return AutoMountStrategy::shared().shutDown(); };
    services.endChildProcesses = [] { ProcessRunner::endAll(); };
    services.flush = [analyticsUsed, cacheUsed] {
        Defaults::standard().synchronize();
        if (*analyticsUsed)
            AnalyticsService::shared().waitForQueue();
        if (*cacheUsed)
            CacheManager::shared().waitForIndexWrites();
        LogManager::shared().waitForFileQueue();
    };
    services.terminate = [] {
        // Queued: a quit asked before the event loop runs would otherwise be lost.
        QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
    };
    return services;
}

AppDelegate::AppDelegate(LogManager& log, SingleInstance& singleInstance, Services services, QObject* parent)
    : QObject(parent)
    , m_log(log)
    , m_singleInstance(singleInstance)
    , m_services(std::move(services))
{
}

AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching()
{
    if (!ensureSingleInstance())
        return;

    VLOG_TO(m_log, info, lifecycle, QStringLiteral("Vantrel application starting..."));

    if (m_services.startCrashReporting)
        m_services.startCrashReporting();

    const QUrl feedURL(updateFeedAddress, QUrl::StrictMode);
    if (feedURL.isValid() && m_services.configureUpdates)
        m_services.configureUpdates(feedURL);

    if (m_services.makeMenuBarController) {
        m_menuBarController = m_services.makeMenuBarController();
        if (m_menuBarController) {
            m_menuBarController->setupStatusItem();
            m_menuBarController->subscribeToState();
            if (m_services.observeSystemWake)
                m_services.observeSystemWake(*m_menuBarController);
        }
    }

    {
        auto permission = requestNotificationPermission();
        Q_UNUSED(permission); // answers later; start-up goes on
    }

    if (m_services.startNetworkMonitoring)
        m_services.startNetworkMonitoring();
    VLOG_TO(m_log, info, network, QStringLiteral("Network monitoring started"));

    if (m_services.startAutoMount)
        m_services.startAutoMount();
    VLOG_TO(m_log, info, mount, QStringLiteral("Auto-mount strategy started"));

    if (m_services.startPeriodicCleanup)
        m_services.startPeriodicCleanup();
    if (m_services.performStartupCleanup)
        startDeferred(this, m_services.performStartupCleanup);

    if (m_services.trackLaunch)
        m_services.trackLaunch();

    VLOG_TO(m_log, info, lifecycle, QStringLiteral("Vantrel application started successfully"));
}

bool AppDelegate::ensureSingleInstance()
{
    if (m_singleInstance.claim()) {
        m_isPrimaryInstance = true;
        return true;
    }
    VLOG_TO(m_log, info, lifecycle, QStringLiteral("Another Vantrel instance is running. Activating it and exiting."));
    m_singleInstance.activateRunningInstance();
    if (m_services.terminate)
        m_services.terminate();
    return false;
}

QCoro::Task<> AppDelegate::requestNotificationPermission()
{
    if (!m_services.requestNotificationAuthorization)
        co_return;
    QPointer<AppDelegate> self(this);
    auto request = m_services.requestNotificationAuthorization();
    const NotificationAuthorization answer = co_await request;
    if (!self)
        co_return;
    if (answer.granted)
        VLOG_TO(m_log, info, defaultCategory, QStringLiteral("Notification permission granted"));
    else if (answer.error)
        VLOG_TO(m_log, warning, defaultCategory, QStringLiteral("Notification permission denied: ") + *answer.error);
}

void AppDelegate::applicationDidBecomeActive()
{
    if (m_menuBarController && !m_menuBarController->hasUsableStatusItem())
        m_menuBarController->setupStatusItem();
}

void AppDelegate::applicationWillTerminate()
{
    if (m_terminated)
        return;
    m_terminated = true;

    VLOG_TO(m_log, info, lifecycle, QStringLiteral("Vantrel application terminating..."));

    // A delayed mount, retry or keep-alive pass must not mount anew while everything is unmounted.
    if (m_services.stopAutoMount)
        m_services.stopAutoMount();
    if (m_services.unmountAll) {
        // The unmount needs this thread for its reads and status updates, so the wait runs the
        // event loop instead of blocking it; user input waits until the process ends.
        QEventLoop loop;
        bool finished = false;
        QTimer::singleShot(shutdownTimeout, &loop, &QEventLoop::quit);
        auto unmount = m_services.unmountAll();
        QCoro::connect(std::move(unmount), &loop, [&finished, &loop] {
            finished = true;
            loop.quit();
        });
        if (!finished)
            loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    if (m_services.endChildProcesses)
        m_services.endChildProcesses();

    VLOG_TO(m_log, info, lifecycle, QStringLiteral("Vantrel application terminated"));

    if (m_services.flush)
        m_services.flush();
}

} // namespace vantrel
