#include "Screenshots.h"

#include "support/gui/ViewFixture.h"

#include "app/VantrelApp.h"
#include "platform/AppInfo.h"
#include "views/main/NASDetailView.h"
#include "views/main/AboutView.h"
#include "views/main/MainWindowView.h"
#include "platform/gui/Symbols.h"

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
    return {
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
}

} // namespace vantrel::test
