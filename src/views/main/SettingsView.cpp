#include "views/main/SettingsView.h"

namespace vantrel {

SettingsView::SettingsView(AppStateManager& appState, NASConfigStore& configStore, LanguageManager& languageManager,
    QWidget* parent)
    : QWidget(parent)
    , m_appState(appState)
    , m_configStore(configStore)
    , m_languageManager(languageManager)
{
    setObjectName(QStringLiteral("SettingsView"));
    setMinimumSize(minimumContentWidth, minimumContentHeight);
}

} // namespace vantrel
