#pragma once

#include <QWidget>

class QTabWidget;

namespace vantrel {

class AppStateManager;
class CacheDirectoryManager;
class CacheManager;
class Defaults;
class FileDialogs;
class LanguageManager;
class LaunchAtLoginManager;
class LogManager;
class NASConfigStore;
class NotificationPreferences;

// What the settings tabs read and call; each one left out is the shared instance.
struct SettingsServices {
    Defaults* defaults = nullptr;
    LaunchAtLoginManager* launchAtLogin = nullptr;
    NotificationPreferences* notifications = nullptr;
    CacheManager* cache = nullptr;
    CacheDirectoryManager* cacheDirectory = nullptr;
    LogManager* log = nullptr;
    FileDialogs* fileDialogs = nullptr;
};

// The content of the settings window: one tab per settings area, the first current whenever the
// window opens.
class SettingsView final : public QWidget {
    Q_OBJECT

public:
    static constexpr int minimumContentWidth = 560;
    static constexpr int minimumContentHeight = 400;

    using Services = SettingsServices;

    SettingsView(AppStateManager& appState, NASConfigStore& configStore, LanguageManager& languageManager,
        const Services& services = {}, QWidget* parent = nullptr);

    QTabWidget* tabs() const { return m_tabs; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    LanguageManager& m_languageManager;
    QTabWidget* m_tabs;
};

} // namespace vantrel
