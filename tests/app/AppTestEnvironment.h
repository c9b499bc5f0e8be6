#pragma once

#include "app/VantrelApp.h"
#include "files/RecentFilesTracker.h"
#include "model/NASConfigStore.h"
#include "mounting/AppStateManager.h"
#include "platform/Defaults.h"
#include "platform/SecretStore.h"
#include "platform/SystemLog.h"
#include "services/KeychainManager.h"
#include "services/LanguageManager.h"
#include "services/LogManager.h"
#include "views/browser/FileBrowserState.h"

#include <QLocale>
#include <QString>

namespace vantrel::test {

// Private instances of everything the application shell observes, with its windows declared.
struct AppTestEnvironment {
    explicit AppTestEnvironment(const QString& dir)
        : defaults(dir + QStringLiteral("/defaults.json"))
        , log(defaults, systemLog, dir + QStringLiteral("/Logs"))
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

    Defaults defaults;
    CapturingSystemLog systemLog;
    LogManager log;
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
