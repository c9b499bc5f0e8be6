#include "Screenshots.h"

#include "support/gui/ViewFixture.h"

#include "app/VantrelApp.h"
#include "mounting/MountEngine.h"
#include "platform/AppInfo.h"
#include "platform/FileSystemInfo.h"
#include "views/main/NASDetailView.h"
#include "views/main/AboutView.h"
#include "views/main/MainWindowView.h"
#include "platform/gui/Symbols.h"

#include <QDir>
#include <QGridLayout>
#include <QLabel>

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

// The share editor on the sample share of that name.
QWidget* editorOf(ViewFixture& fx, const QString& name)
{
    static MountEngine engine(standInTools(), QDir::tempPath(), FileSystemInfo::system(), fx.keychain);
    std::optional<NASConfig> config;
    for (const NASConfig& candidate : fx.configStore.configs()) {
        if (candidate.name == name)
            config = candidate;
    }
    return new NASDetailView(config, [] {},
        {fx.configStore, fx.appState, fx.mounts, engine, fx.network.monitor, fx.keychain, fx.workspace});
}

} // namespace

QList<ScreenshotWindow> screenshotWindows()
{
    const WindowRegistry::Scene about = VantrelApp::aboutScene();
    return {
        {QStringLiteral("main"), QStringLiteral("Vantrel"), QSize(760, 500),
            [](ViewFixture& fx) -> QWidget* {
                return new MainWindowView(fx.appState, fx.configStore, [](const QString&) {},
                    {&fx.network.monitor, &fx.workspace, &fx.mounts});
            }},
        {QStringLiteral("editor-smb"), QStringLiteral("Vantrel"), QSize(560, 860),
            [](ViewFixture& fx) { return editorOf(fx, QStringLiteral("Studio Media")); }},
        {QStringLiteral("editor-nfs"), QStringLiteral("Vantrel"), QSize(560, 860),
            [](ViewFixture& fx) { return editorOf(fx, QStringLiteral("Backup Server")); }},
        {QStringLiteral("about"), about.title, QSize(),
            [](ViewFixture& fx) -> QWidget* { return new AboutView(AppInfo::infoDictionary(), fx.workspace); }},
        {QStringLiteral("symbols"), QStringLiteral("Symbols"), QSize(), [](ViewFixture&) { return symbolSheet(); }},
    };
}

} // namespace vantrel::test
