#pragma once

#include <QPushButton>
#include <QTimer>

namespace vantrel {

// A push button that shows a turning progress indicator before its text while it is busy. It
// never acts as a default button, so Return in a field nearby does not press it.
class BusyButton final : public QPushButton {
    Q_OBJECT

public:
    explicit BusyButton(const QString& text = {}, QWidget* parent = nullptr);

    bool isBusy() const { return m_busy; }
    void setBusy(bool busy);
    // The spoke drawn darkest; it advances while the button is busy and shown.
    int phase() const { return m_phase; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void updateTimer();
    int indicatorSize() const;

    QTimer m_timer;
    bool m_busy = false;
    int m_phase = 0;
};

} // namespace vantrel
