#pragma once

#include <QList>
#include <QObject>

#include <csignal>

class QSocketNotifier;

namespace vantrel {

// Turns termination signals into a normal quit: the handler only writes the signal number to a
// pipe, and the event loop reads it and emits received(), so the regular shut-down runs.
class TerminationSignals final : public QObject {
    Q_OBJECT

public:
    explicit TerminationSignals(QObject* parent = nullptr);
    // Restores the previous handlers.
    ~TerminationSignals() override;

    // Only one instance per process can hold the handlers; false for a second one or when the
    // pipe cannot be made.
    bool install(const QList<int>& signalNumbers = {SIGTERM, SIGINT});

signals:
    void received(int signalNumber);

private:
    void readPipe();

    QSocketNotifier* m_notifier = nullptr;
    QList<int> m_signalNumbers;
    QList<struct sigaction> m_previous;
};

} // namespace vantrel
