#include "app/VantrelApp.h"
#include "mounting/AppStateManager.h"
#include "mounting/NASConfigStore.h"
#include "platform/AppInfo.h"
#include "platform/Defaults.h"
#include "platform/Localization.h"
#include "platform/TerminationSignals.h"
#include "platform/gui/Symbols.h"
#include "services/LanguageManager.h"
#include "services/LogManager.h"
#include "views/browser/FileBrowserState.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

int main(int argc, char* argv[])
{
    QElapsedTimer sinceMain;
    sinceMain.start();

    QApplication::setApplicationName(vantrel::AppInfo::displayName());
    QApplication::setApplicationVersion(vantrel::AppInfo::version());
    QApplication::setOrganizationName(vantrel::AppInfo::displayName());
    QApplication::setDesktopFileName(vantrel::AppInfo::bundleIdentifier());
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    vantrel::Symbols::useSymbolicFallbackTheme();

    vantrel::Localization::useLanguageFrom(vantrel::Defaults::standard());

    // SIGTERM and SIGINT quit through the event loop, so the shut-down still unmounts the shares.
    vantrel::TerminationSignals termination;
    termination.install();
    QObject::connect(&termination, &vantrel::TerminationSignals::received, &app, &QCoreApplication::quit);

    vantrel::VantrelApp vantrelApp(vantrel::AppStateManager::shared(), vantrel::NASConfigStore::shared(),
        vantrel::FileBrowserState::shared(), vantrel::LanguageManager::shared(), vantrel::Defaults::standard());

    QTimer::singleShot(0, &app, [&sinceMain] {
        VLOG(debug, lifecycle, QStringLiteral("Event loop running %1 ms after main()").arg(sinceMain.elapsed()));
    });
    return vantrelApp.exec();
}
