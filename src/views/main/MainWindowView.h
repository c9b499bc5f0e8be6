#pragma once

#include <QString>
#include <QWidget>

#include <functional>

namespace vantrel {

class AppStateManager;
class NASConfigStore;

// The content of the main window: the share list and the selected share's details.
class MainWindowView final : public QWidget {
    Q_OBJECT

public:
    // Opens (or brings forward) the application's window with the given identifier.
    using OpenWindowAction = std::function<void(const QString& identifier)>;

    static constexpr int minimumContentWidth = 500;
    static constexpr int minimumContentHeight = 400;

    MainWindowView(AppStateManager& appState, NASConfigStore& configStore, OpenWindowAction openWindow,
        QWidget* parent = nullptr);

private:
    AppStateManager& m_appState;
    NASConfigStore& m_configStore;
    OpenWindowAction m_openWindow;
};

} // namespace vantrel
