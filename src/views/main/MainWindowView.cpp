#include "views/main/MainWindowView.h"

namespace vantrel {

MainWindowView::MainWindowView(AppStateManager& appState, NASConfigStore& configStore, OpenWindowAction openWindow,
    QWidget* parent)
    : QWidget(parent)
    , m_appState(appState)
    , m_configStore(configStore)
    , m_openWindow(std::move(openWindow))
{
    setObjectName(QStringLiteral("MainWindowView"));
    setMinimumSize(minimumContentWidth, minimumContentHeight);
}

} // namespace vantrel
