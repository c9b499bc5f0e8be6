#pragma once

#include <QToolBar>

namespace vantrel {

// The main window's toolbar: about, settings and the add button, which carries its title, at the
// trailing end. It only reports the clicks; the window acts on them.
class MainWindowToolbar final : public QToolBar {
    Q_OBJECT

public:
    explicit MainWindowToolbar(QWidget* parent = nullptr);

signals:
    void aboutRequested();
    void settingsRequested();
    void addRequested();
};

} // namespace vantrel
