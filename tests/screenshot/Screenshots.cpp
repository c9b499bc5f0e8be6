#include "Screenshots.h"

#include "support/gui/SettingsFixture.h"
#include "support/gui/ViewFixture.h"

#include "app/VantrelApp.h"
#include "platform/AppInfo.h"
#include "views/main/NASDetailView.h"
#include "views/main/AboutView.h"
#include "views/main/MainWindowView.h"
#include "views/main/SettingsView.h"
#include "platform/Localization.h"
#include "platform/gui/Symbols.h"

#include <QDir>
#include <QFile>
#include <QGridLayout>
#include <QLabel>
#include <QTabWidget>
#include <QTimer>

namespace vantrel::test {

namespace {

// Every symbol as the desktop theme gives it and as its bundled stand-in, side by side.
QWidget* symbolSheet()
{
    auto* sheet = new QWidget;
    auto* grid = new QGridLayout(sheet);
    const QStringList names = Symbols::names();
    const int columns = 4;
    const QColor ink = sheet->palette().color(QPalette::WindowText);
    for (qsizetype i = 0; i < names.size(); ++i) {
        const int row = int(i / columns);
        const int column = int(i % columns) * 3;
        auto* themed = new QLabel;
        themed->setPixmap(Symbols::tinted(names.at(i), ink, 24));
        auto* bundled = new QLabel;
        bundled->setPixmap(Symbols::bundledIcon(names.at(i)).pixmap(QSize(24, 24), 1.0));
        grid->addWidget(themed, row, column);
        grid->addWidget(bundled, row, column + 1);
        grid->addWidget(new QLabel(names.at(i)), row, column + 2);
    }
    return sheet;
}

// The settings tabs' services on the fixture, with a little use to show: two cached files with
// three hits in four lookups, a clean-up two hours ago, and a log file. Made once and kept for the
// rest of the run, like the shared instances they stand for.
test::SettingsStandIns& settingsStandIns(ViewFixture& fx)
{
    static SettingsStandIns* standIns = nullptr;
    if (standIns)
        return *standIns;
    fx.defaults.setValue(CacheDirectoryManager::lastCleanupKey, QDateTime::currentDateTime().addSecs(-2 * 3600));
    standIns = new SettingsStandIns(fx);
    standIns->disk.bytes = 182'400'000'000;
    QCoro::waitFor(standIns->cacheDirectory.updateDiskSpace());

    const QUuid config = QUuid::createUuid();
    QDir().mkpath(fx.dir.filePath(QStringLiteral("share")));
    for (const QString& name : {QStringLiteral("Report.pdf"), QStringLiteral("Holiday.jpg")}) {
        QFile file(fx.dir.filePath(QStringLiteral("share/") + name));
        if (file.open(QIODevice::WriteOnly))
            file.write(QByteArray(2'400'000, 'x'));
        file.close();
        QCoro::waitFor(standIns->cache.cacheFile(QUrl::fromLocalFile(file.fileName()), config, name));
    }
    for (int i = 0; i < 3; ++i)
        standIns->cache.isCached(config, QStringLiteral("Report.pdf"));
    standIns->cache.isCached(config, QStringLiteral("Missing.txt"));

    QDir().mkpath(fx.log.logDirectory());
    QFile log(fx.log.logFilePath());
    if (log.open(QIODevice::WriteOnly))
        log.write(QByteArray(48'000, 'l'));
    return *standIns;
}

// The settings window with one tab current.
QWidget* settingsWindow(ViewFixture& fx, int tab)
{
    auto* view = new SettingsView(fx.appState, fx.configStore, fx.languageManager, settingsStandIns(fx).services());
    // Opening the window starts at the first tab; switch once it is open.
    QTimer::singleShot(0, view, [view, tab] { view->tabs()->setCurrentIndex(tab); });
    return view;
}

// The share editor on the sample share of that name.
std::optional<NASConfig> sampleShare(ViewFixture& fx, const QString& name)
{
    for (const NASConfig& candidate : fx.configStore.configs()) {
        if (candidate.name == name)
            return candidate;
    }
    return std::nullopt;
}

MainWindowView* mainWindow(ViewFixture& fx)
{
    return new MainWindowView(fx.appState, fx.configStore, [](const QString&) {},
        {&fx.network.monitor, &fx.workspace, &fx.mounts, &fx.engine, &fx.keychain});
}

QWidget* editorOf(ViewFixture& fx, const QString& name)
{
    return new NASDetailView(sampleShare(fx, name), [] {},
        {fx.configStore, fx.appState, fx.mounts, fx.engine, fx.network.monitor, fx.keychain, fx.workspace});
}

} // namespace

QList<ScreenshotWindow> screenshotWindows()
{
    const WindowRegistry::Scene about = VantrelApp::aboutScene();
    const QString settingsTitle = Localization::text(QStringLiteral("window.settings.title"), QStringLiteral("设置"));
    QList<ScreenshotWindow> windows{
        {QStringLiteral("main"), QStringLiteral("Vantrel"), QSize(760, 500),
            [](ViewFixture& fx) -> QWidget* { return mainWindow(fx); }},
        // The editor where the user meets it: in the detail column, beside the list.
        {QStringLiteral("main-editor"), QStringLiteral("Vantrel"), QSize(760, 640),
            [](ViewFixture& fx) -> QWidget* {
                MainWindowView* view = mainWindow(fx);
                if (const std::optional<NASConfig> share = sampleShare(fx, QStringLiteral("Backup Server")))
                    view->setSelectedConfigID(share->id);
                return view;
            }},
        {QStringLiteral("editor-smb"), QStringLiteral("Vantrel"), QSize(560, 860),
            [](ViewFixture& fx) { return editorOf(fx, QStringLiteral("Studio Media")); }},
        {QStringLiteral("editor-nfs"), QStringLiteral("Vantrel"), QSize(560, 860),
            [](ViewFixture& fx) { return editorOf(fx, QStringLiteral("Backup Server")); }},
        {QStringLiteral("about"), about.title, QSize(),
            [](ViewFixture& fx) -> QWidget* { return new AboutView(AppInfo::infoDictionary(), fx.workspace); }},
        {QStringLiteral("symbols"), QStringLiteral("Symbols"), QSize(), [](ViewFixture&) { return symbolSheet(); }},
    };
    const QStringList tabs{QStringLiteral("language"), QStringLiteral("launch"), QStringLiteral("notifications"),
        QStringLiteral("cache"), QStringLiteral("advanced"), QStringLiteral("logging")};
    for (int i = 0; i < tabs.size(); ++i) {
        windows.append({QStringLiteral("settings-") + tabs.at(i), settingsTitle, QSize(580, 460),
            [i](ViewFixture& fx) { return settingsWindow(fx, i); }});
    }
    return windows;
}

} // namespace vantrel::test
