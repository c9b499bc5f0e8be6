#pragma once

#include <QList>
#include <QString>

namespace vantrel {

// Process-level crash handling: fatal signals through sigaction, uncaught C++ exceptions through
// std::set_terminate. A crash writes one JSON report to a path chosen in advance and ends the
// process with _exit: the signal number for a signal, 6 for an uncaught exception.
//
// Everything a handler needs (path, id, fixed fields, buffers) is prepared by install(), so the
// signal path uses async-signal-safe calls only.
class CrashSignals final {
public:
    struct Preparation {
        QString reportDirectory;
        QString reportExtension;
        QString reportId; // the id and file base name of the report a crash will write
        QString homePath; // replaced by "~" in the stack lines of signal reports
        QString appVersion;
        QString buildNumber;
        QString osVersion;
        QString deviceModel;
    };

    // Only the first call in a process installs anything. A handler that was installed before
    // is kept and called after the report is written; SIGPIPE is ignored unless a handler
    // function already owns it.
    static void install(const Preparation& preparation);
    static bool isInstalled();

    // SIGABRT, SIGILL, SIGSEGV, SIGBUS, SIGTRAP (this platform's numbers).
    static QList<int> handledSignals();
    // "SIGSEGV", "SIGPIPE", ... and "SIGUNKNOWN(<n>)" for any other number.
    static QString signalName(int signal);

    // The machine's model name, empty when unavailable.
    static QString machineModel(const QString& path = QStringLiteral("/sys/class/dmi/id/product_name"));
};

} // namespace vantrel
