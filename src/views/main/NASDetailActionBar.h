#pragma once

#include <QString>
#include <QWidget>

#include <optional>

class QFrame;
class QHBoxLayout;
class QLabel;
class QPushButton;

namespace vantrel {

class BusyButton;
class ElidedLabel;
class Spinner;

// The outcome of a connection test as the share editor shows it.
struct TestConnectionResult {
    enum class Kind { success, failure, testing };

    Kind kind = Kind::testing;
    double latency = 0.0; // seconds, for success
    QString message;      // for failure

    static TestConnectionResult success(double seconds) { return {Kind::success, seconds, {}}; }
    static TestConnectionResult failure(const QString& message) { return {Kind::failure, 0.0, message}; }
    static TestConnectionResult testing() { return {Kind::testing, 0.0, {}}; }

    // Equal when the same case carries equal payloads.
    bool operator==(const TestConnectionResult& other) const;
};

// The bar pinned below the share editor's form: the line of the last connection test's result,
// then the action row (test, the mount controls for the share's state, close, save). It shows
// state; the editor decides it and connects the buttons. No button reacts to Return.
class NASDetailActionBar final : public QWidget {
    Q_OBJECT

public:
    enum class MountControls {
        none,    // a share that is not stored yet
        mount,   // idle, offline, failed or without a status
        busy,    // mounting or unmounting: one disabled progress button
        mounted, // open in the file manager, unmount
    };

    explicit NASDetailActionBar(bool showsClose, QWidget* parent = nullptr);

    void setTestResult(const std::optional<TestConnectionResult>& result);
    void setMountControls(MountControls controls);
    void setTestEnabled(bool enabled);
    void setSaveEnabled(bool enabled);

    // The result line's text: the latency in whole milliseconds, or the whole error message.
    static QString resultText(const TestConnectionResult& result);

    BusyButton* testButton() const { return m_test; }
    BusyButton* mountingButton() const { return m_mounting; }
    QPushButton* mountButton() const { return m_mount; }
    QPushButton* openInFinderButton() const { return m_openInFinder; }
    QPushButton* unmountButton() const { return m_unmount; }
    QPushButton* closeButton() const { return m_close; }
    QPushButton* saveButton() const { return m_save; }

private:
    QWidget* m_resultLine;
    Spinner* m_resultSpinner;
    QLabel* m_resultSymbol;
    ElidedLabel* m_resultText;
    QFrame* m_divider;
    BusyButton* m_test;
    BusyButton* m_mounting;
    QPushButton* m_mount;
    QWidget* m_mountedControls;
    QPushButton* m_openInFinder;
    QPushButton* m_unmount;
    QPushButton* m_close = nullptr;
    QPushButton* m_save;
};

} // namespace vantrel
