#pragma once

#include <QWidget>

namespace vantrel {

class AppStateManager;
class LanguageManager;
class NASConfigStore;

// The content of the settings window: one tab per settings area.
class SettingsView final : public QWidget {
    Q_OBJECT

public:
    static constexpr int minimumContentWidth = 560;
    static constexpr int minimumContentHeight = 400;

    SettingsView(AppStateManager& appState, NASConfigStore& configStore, LanguageManager& languageManager,
        QWidget* parent = nullptr);

private:
    AppStateManager& m_appState;
    NASConfigStore& m_configStore;
    LanguageManager& m_languageManager;
};

} // namespace vantrel
