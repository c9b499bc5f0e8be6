#include "support/SilentListener.h"
#include "support/TestMain.h"

#include "platform/TcpProbe.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>

#include <qcoro/qcorotask.h>

#include <cstdio>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

using namespace vantrel;
using namespace std::chrono_literals;
using Outcome = TcpProbe::Result::Outcome;

namespace {

const char* const probeHostVariable = "VANTREL_PROBE_HOST";
const char* const probePortVariable = "VANTREL_PROBE_PORT";

// This binary as a child: one check of the named host, its outcome and duration on stdout.
int probeMain(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString host = qEnvironmentVariable(probeHostVariable);
    const auto port = static_cast<quint16>(qEnvironmentVariableIntValue(probePortVariable));
    QElapsedTimer clock;
    clock.start();
    const TcpProbe::Result result = QCoro::waitFor(TcpProbe::check(host, port, 3000ms));
    std::printf("%d %lld %s\n", static_cast<int>(result.outcome), static_cast<long long>(clock.elapsed()),
        qPrintable(result.reason));
    return 0;
}

QCoro::Task<TcpProbe::Result> checkOf(QString host, quint16 port, std::chrono::milliseconds limit)
{
    co_return co_await TcpProbe::check(std::move(host), port, limit);
}

} // namespace

class TestTcpProbe : public QObject {
    Q_OBJECT

private slots:
    void addressesAlternateByFamilyStartingWithTheFirst()
    {
        const QHostAddress v6a(QStringLiteral("2001:db8::1"));
        const QHostAddress v6b(QStringLiteral("2001:db8::2"));
        const QHostAddress v4a(QStringLiteral("192.0.2.10"));
        const QHostAddress v4b(QStringLiteral("192.0.2.11"));
        QCOMPARE(TcpProbe::attemptOrder({v6a, v6b, v4a, v4b}), (QList<QHostAddress>{v6a, v4a, v6b, v4b}));
        QCOMPARE(TcpProbe::attemptOrder({v4a, v6a, v6b, v4a}), (QList<QHostAddress>{v4a, v6a, v6b}));
        QVERIFY(TcpProbe::attemptOrder({}).isEmpty());
    }

    // The server's answers: accepted, refused at once, silent until the limit.
    void outcomesOfTheServer()
    {
        QTcpServer open;
        QVERIFY(open.listen(QHostAddress::LocalHost, 0));
        QVERIFY(QCoro::waitFor(checkOf(QStringLiteral("127.0.0.1"), open.serverPort(), 3000ms)).accepted());

        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        const quint16 closedPort = closed.serverPort();
        closed.close();
        QElapsedTimer clock;
        clock.start();
        const TcpProbe::Result refused = QCoro::waitFor(checkOf(QStringLiteral("127.0.0.1"), closedPort, 3000ms));
        QCOMPARE(refused.outcome, Outcome::refused);
        QVERIFY(!refused.reason.isEmpty());
        QVERIFY(clock.elapsed() < 2500);

        test::SilentListener silent;
        QVERIFY(silent.isListening());
        const TcpProbe::Result unanswered = QCoro::waitFor(checkOf(QStringLiteral("::1"), silent.port(), 200ms));
        QCOMPARE(unanswered.outcome, Outcome::unanswered);

        const TcpProbe::Result linkLocal = QCoro::waitFor(checkOf(QStringLiteral("fe80::1"), 445, 500ms));
        QCOMPARE(linkLocal.outcome, Outcome::refused);
        QVERIFY2(linkLocal.reason.contains(QStringLiteral("interface")), qPrintable(linkLocal.reason));
    }

    // Out of descriptors, this computer cannot even try: that is said, and not blamed on the server.
    void noDescriptorLeftIsALocalFailure()
    {
        QTcpServer open;
        QVERIFY(open.listen(QHostAddress::LocalHost, 0));
        rlimit before{};
        QCOMPARE(::getrlimit(RLIMIT_NOFILE, &before), 0);
        const auto restore = qScopeGuard([before] { ::setrlimit(RLIMIT_NOFILE, &before); });
        // Every descriptor below the limit taken.
        std::vector<int> taken;
        rlimit low = before;
        low.rlim_cur = 256;
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &low), 0);
        for (int fd = ::dup(0); fd >= 0; fd = ::dup(0))
            taken.push_back(fd);
        const auto release = qScopeGuard([&taken] {
            for (const int fd : taken)
                ::close(fd);
        });
        auto checking = checkOf(QStringLiteral("127.0.0.1"), open.serverPort(), 1000ms);
        const TcpProbe::Result result = QCoro::waitFor(checking);
        QCOMPARE(result.outcome, Outcome::localFailure);
        QVERIFY(!result.reason.isEmpty());
    }

    // A name whose IPv6 address never answers and whose IPv4 address does is reached well within
    // the bound: the next address starts while the first is still pending. The name comes from a
    // hosts file seen only by a child in a private mount namespace.
    void aNameWithASilentIPv6AddressIsReachedThroughItsIPv4One()
    {
        const QString unshare = QStandardPaths::findExecutable(QStringLiteral("unshare"));
        if (unshare.isEmpty() || ::geteuid() != 0)
            QSKIP("needs unshare and root for a private /etc/hosts");
        QTcpServer reachable;
        QVERIFY(reachable.listen(QHostAddress::LocalHost, 0));
        test::SilentListener silent(reachable.serverPort());
        QVERIFY2(silent.isListening(), "::1 is taken at the IPv4 listener's port");

        QTemporaryDir dir;
        const QString hosts = dir.filePath(QStringLiteral("hosts"));
        {
            QFile file(hosts);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("::1 dual.vantrel.test\n127.0.0.1 dual.vantrel.test\n");
        }
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QString::fromLatin1(probeHostVariable), QStringLiteral("dual.vantrel.test"));
        environment.insert(QString::fromLatin1(probePortVariable), QString::number(reachable.serverPort()));
        child.setProcessEnvironment(environment);
        child.start(unshare,
            {QStringLiteral("-m"), QStringLiteral("sh"), QStringLiteral("-c"),
                QStringLiteral("mount --bind \"$0\" /etc/hosts && exec \"$1\""), hosts,
                QCoreApplication::applicationFilePath()});
        QVERIFY(child.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(child.state() == QProcess::NotRunning, 20000);
        const QString output = QString::fromUtf8(child.readAllStandardOutput()).trimmed();
        if (child.exitCode() != 0 || output.isEmpty())
            QSKIP(qPrintable(
                QStringLiteral("no private mount namespace here: ") + QString::fromUtf8(child.readAllStandardError())));
        const QStringList fields = output.split(QLatin1Char(' '));
        QVERIFY2(fields.size() >= 2, qPrintable(output));
        QVERIFY2(fields.at(0).toInt() == static_cast<int>(Outcome::accepted), qPrintable(output));
        QVERIFY2(fields.at(1).toLongLong() < 3000, qPrintable(output));
    }
};

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsSet(probeHostVariable))
        return probeMain(argc, argv);
    vantrel::test::prepareEnvironment();
    QCoreApplication app(argc, argv);
    TestTcpProbe test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_TcpProbe.moc"
