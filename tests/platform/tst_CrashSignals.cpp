#include "support/TestMain.h"

#include "platform/CrashSignals.h"

#include <csignal>

using namespace vantrel;

class TestCrashSignals : public QObject {
    Q_OBJECT

private slots:
    void signalNamesUseThisPlatformsNumbers()
    {
        QCOMPARE(CrashSignals::signalName(SIGSEGV), QStringLiteral("SIGSEGV"));
        QCOMPARE(CrashSignals::signalName(7), QStringLiteral("SIGBUS"));
        QCOMPARE(CrashSignals::signalName(SIGPIPE), QStringLiteral("SIGPIPE"));
        QCOMPARE(CrashSignals::signalName(10), QStringLiteral("SIGUNKNOWN(10)")); // SIGUSR1 here
        QCOMPARE(CrashSignals::signalName(30), QStringLiteral("SIGUNKNOWN(30)"));
        QCOMPARE(CrashSignals::handledSignals(), (QList<int>{SIGABRT, SIGILL, SIGSEGV, SIGBUS, SIGTRAP}));
    }
};

VANTREL_TEST_MAIN(TestCrashSignals)
#include "tst_CrashSignals.moc"
