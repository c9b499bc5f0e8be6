#pragma once

#include "support/Fixtures.h"

#include "app/VantrelApp.h"
#include "files/RecentFilesTracker.h"
#include "services/LanguageManager.h"
#include "support/MountingFixture.h"
#include "views/browser/FileBrowserState.h"

#include <QLocale>
#include <QString>

namespace vantrel::test {

// Private instances of everything the application shell observes, with its windows declared.
struct AppTestEnvironment : ConfigEnvironment {
    explicit AppTestEnvironment(const QString& dir)
        : ConfigEnvironment(dir)
        , recentFiles(defaults, log)
        , languageManager(defaults, [] { return QLocale(QStringLiteral("zh_CN")); })
        , app(appState, configStore, browserState, languageManager, defaults)
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

    RecentFilesTracker recentFiles;
    FileBrowserState browserState;
    LanguageManager languageManager;
    VantrelApp app;
};

} // namespace vantrel::test
