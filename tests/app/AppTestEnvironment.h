#pragma once

#include "support/Fixtures.h"

#include "app/VantrelApp.h"
#include "files/RecentFilesManager.h"
#include "model/NASConfigStore.h"
#include "mounting/AppStateManager.h"
#include "platform/SecretStore.h"
#include "services/KeychainManager.h"
#include "services/LanguageManager.h"
#include "views/browser/FileBrowserState.h"

#include <QLocale>
#include <QString>

namespace vantrel::test {

// Private instances of everything the application shell observes, with its windows declared.
struct AppTestEnvironment : Logging {
    explicit AppTestEnvironment(const QString& dir)
        : Logging(dir)
        , keychain(secrets, log)
        , configStore(defaults, systemLog, appState, keychain)
        , recentFiles(defaults, log)
        , languageManager(defaults, [] { return QLocale(QStringLiteral("zh_CN")); })
        , app(appState, configStore, browserState, languageManager)
    {
    }

    NASConfig addConfig(const QString& name)
    {
        NASConfig config;
        config.name = name;
        config.address = QStringLiteral("192.168.1.10");
        config.sharePath = QStringLiteral("share");
        config.authMethod = AuthMethod::guest;
        configStore.addConfig(config);
        return config;
    }

    AppStateManager appState;
    SecretStore secrets;
    KeychainManager keychain;
    NASConfigStore configStore;
    RecentFilesTracker recentFiles;
    FileBrowserState browserState;
    LanguageManager languageManager;
    VantrelApp app;
};

} // namespace vantrel::test
