#include "support/CapturingSystemLog.h"
#include "support/Environment.h"
#include "support/Files.h"
#include "support/TestMain.h"

#include "platform/SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <vector>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace vantrel;
using namespace std::chrono_literals;

namespace {

// Leaves a socket file that nobody listens on, as a crashed process does.
bool makeStaleSocket(const QString& path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    const QByteArray encoded = QFile::encodeName(path);
    if (encoded.size() >= static_cast<qsizetype>(sizeof(address.sun_path))) {
        ::close(fd);
        return false;
    }
    memcpy(address.sun_path, encoded.constData(), encoded.size());
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    ::close(fd);
    return bound && QFile::exists(path);
}

} // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT

private slots:
    void staleSocketDoesNotBlockTheNextLaunch()
    {
        const QString name = test::uniqueSocketPath();
        QVERIFY(makeStaleSocket(name));

        SingleInstance first(name);
        QVERIFY(first.claim());
        QVERIFY(first.isPrimary());
        QVERIFY(first.isListening());
        QVERIFY(first.claim()); // asking again changes nothing

        QSignalSpy activation(&first, &SingleInstance::activationRequested);
        SingleInstance second(name);
        QVERIFY(!second.claim());
        QVERIFY(!second.isListening());
        QVERIFY(second.activateRunningInstance());
        QTRY_COMPARE(activation.count(), 1);

        // Other users or products never meet: the name carries both.
        QVERIFY(SingleInstance::defaultSocketPath().endsWith(
            QStringLiteral("/com.vantrel.app-") + QString::number(::getuid())));
    }

    void clientsCannotMakeTheFirstCopyHoldMuch()
    {
        const QString name = test::uniqueSocketPath();
        SingleInstance first(name);
        first.maxConnections = 4;
        first.maxMessageBytes = 64;
        first.idleTimeout = 150ms;
        QVERIFY(first.claim());
        QSignalSpy activation(&first, &SingleInstance::activationRequested);

        // More idle clients than it keeps: the oldest go at once, the rest once idle too long.
        std::vector<std::unique_ptr<QLocalSocket>> idle;
        for (int i = 0; i < 10; ++i) {
            idle.push_back(std::make_unique<QLocalSocket>());
            idle.back()->connectToServer(name);
            QVERIFY(idle.back()->waitForConnected(1000));
        }
        const auto closedCount = [&idle] {
            return std::count_if(idle.cbegin(), idle.cend(),
                [](const auto& socket) { return socket->state() == QLocalSocket::UnconnectedState; });
        };
        QTRY_VERIFY(closedCount() >= 6);
        QTRY_COMPARE(closedCount(), 10);

        // A message without an end is cut off at the bound.
        QLocalSocket flood;
        flood.connectToServer(name);
        QVERIFY(flood.waitForConnected(1000));
        flood.write(QByteArray(100'000, 'x'));
        QTRY_COMPARE(flood.state(), QLocalSocket::UnconnectedState);

        // A launch is heard while clients linger.
        std::vector<std::unique_ptr<QLocalSocket>> lingering;
        for (int i = 0; i < 6; ++i) {
            lingering.push_back(std::make_unique<QLocalSocket>());
            lingering.back()->connectToServer(name);
        }
        SingleInstance second(name);
        QVERIFY(second.activateRunningInstance());
        QTRY_COMPARE(activation.count(), 1);
    }

    void theFirstCopyListensAgainWhenItsSocketCloses()
    {
        const QString name = test::uniqueSocketPath();
        CapturingSystemLog log;
        SingleInstance first(name, log);
        first.listenCheckInterval = 30ms;
        QVERIFY(first.claim());
        QSignalSpy activation(&first, &SingleInstance::activationRequested);
        // What the server does itself when accepting fails: close, and remove its socket file.
        first.findChild<QLocalServer*>()->close();
        QVERIFY(!first.isListening());
        QVERIFY(!QFile::exists(name));
        QTRY_VERIFY(first.isListening());
        QCOMPARE(log.records().size(), 1);
        QVERIFY2(log.records().first().message.startsWith(QStringLiteral("Stopped listening on ") + name),
            qPrintable(log.records().first().message));

        SingleInstance second(name);
        QVERIFY(second.activateRunningInstance());
        QTRY_COMPARE(activation.count(), 1);
    }

    // Nothing wakes an idle first copy; that its socket file went is what makes it listen again.
    void anIdleFirstCopyStaysAsleepAndListensAgainWhenItsSocketFileGoes()
    {
        const QString name = test::uniqueSocketPath();
        CapturingSystemLog log;
        SingleInstance first(name, log);
        first.listenCheckInterval = 30ms;
        QVERIFY(first.claim());
        const auto noTimerRuns = [&first] {
            const QList<QTimer*> timers = first.findChildren<QTimer*>();
            return std::none_of(timers.cbegin(), timers.cend(), [](const QTimer* timer) { return timer->isActive(); });
        };
        QVERIFY(noTimerRuns());

        // Removed by someone else while the server still listens: nobody could reach it there.
        QVERIFY(QFile::remove(name));
        QTRY_VERIFY(QFile::exists(name));
        QSignalSpy activation(&first, &SingleInstance::activationRequested);
        SingleInstance second(name);
        QVERIFY(second.activateRunningInstance());
        QTRY_COMPARE(activation.count(), 1);
        QTRY_VERIFY(noTimerRuns());
    }

    // A file or a link renamed over the socket's path hides it as well as a removal does; and a
    // copy that listened again keeps watching its new socket file.
    void aReplacedOrAgainRemovedSocketFileIsListenedOnAgain()
    {
        const QString name = test::uniqueSocketPath();
        QTemporaryDir scratch;
        QVERIFY(scratch.isValid());
        CapturingSystemLog log;
        SingleInstance first(name, log);
        first.listenCheckInterval = 30ms;
        QVERIFY(first.claim());
        QSignalSpy activation(&first, &SingleInstance::activationRequested);
        const auto reachable = [&name, &activation] {
            const qsizetype before = activation.count();
            SingleInstance later(name);
            later.connectTimeoutMs = 200;
            return later.activateRunningInstance() && QTest::qWaitFor([&] { return activation.count() > before; });
        };
        const auto listensAnew = [&log](qsizetype times) {
            return QTest::qWaitFor([&] {
                qsizetype count = 0;
                for (const auto& record : log.records())
                    count += record.message.startsWith(QStringLiteral("Stopped listening on ")) ? 1 : 0;
                return count >= times;
            });
        };

        const QString file = scratch.filePath(QStringLiteral("plain"));
        QVERIFY(test::writeFile(file, "not a socket"));
        QCOMPARE(::rename(QFile::encodeName(file).constData(), QFile::encodeName(name).constData()), 0);
        QVERIFY(listensAnew(1));
        QVERIFY(reachable());

        const QString link = scratch.filePath(QStringLiteral("link"));
        QVERIFY(QFile::link(scratch.path(), link));
        QCOMPARE(::rename(QFile::encodeName(link).constData(), QFile::encodeName(name).constData()), 0);
        QVERIFY(listensAnew(2));
        QVERIFY(reachable());

        QVERIFY(QFile::remove(name));
        QVERIFY(listensAnew(3));
        QVERIFY(reachable());
        QVERIFY(QFile::remove(name));
        QVERIFY(listensAnew(4));
        QVERIFY(reachable());
    }

    void withoutARuntimeFolderTheLockLivesInAPrivateFolder()
    {
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
        const QByteArray temporary = qgetenv("TMPDIR");
        qunsetenv("XDG_RUNTIME_DIR");
        QTemporaryDir shared;
        QVERIFY(::chmod(QFile::encodeName(shared.path()).constData(), 01777) == 0);
        qputenv("TMPDIR", QFile::encodeName(shared.path()));
        const QString uid = QString::number(::getuid());
        const QString name = QStringLiteral("/com.vantrel.app-") + uid;
        const QString own = shared.filePath(QStringLiteral("vantrel-") + uid);

        QCOMPARE(SingleInstance::defaultSocketPath(), own + name);
        struct stat info {};
        QCOMPARE(::lstat(QFile::encodeName(own).constData(), &info), 0);
        QCOMPARE(info.st_mode & 07777, mode_t(0700));
        QCOMPARE(info.st_uid, ::getuid());
        // Opened up behind our back: closed again.
        QVERIFY(::chmod(QFile::encodeName(own).constData(), 0777) == 0);
        QCOMPARE(SingleInstance::defaultSocketPath(), own + name);
        QCOMPARE(::lstat(QFile::encodeName(own).constData(), &info), 0);
        QCOMPARE(info.st_mode & 07777, mode_t(0700));

        // A link in its place, or a folder of another user's, is not used.
        const QString cacheFolder = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)
            + QStringLiteral("/Vantrel");
        QVERIFY(QDir(own).removeRecursively());
        QVERIFY(QFile::link(shared.path(), own));
        QCOMPARE(SingleInstance::defaultSocketPath(), cacheFolder + name);
        if (::geteuid() == 0) {
            QVERIFY(QFile::remove(own));
            QVERIFY(QDir().mkdir(own));
            QVERIFY(::chown(QFile::encodeName(own).constData(), 65534, 65534) == 0);
            QCOMPARE(SingleInstance::defaultSocketPath(), cacheFolder + name);
        }
        QCOMPARE(::lstat(QFile::encodeName(cacheFolder).constData(), &info), 0);
        QCOMPARE(info.st_mode & 07777, mode_t(0700));

        qputenv("TMPDIR", temporary);
        if (!runtime.isEmpty())
            qputenv("XDG_RUNTIME_DIR", runtime);
    }

    void aFreedNameCanBeClaimedAgain()
    {
        const QString name = test::uniqueSocketPath();
        {
            SingleInstance first(name);
            QVERIFY(first.claim());
        }
        SingleInstance next(name);
        QVERIFY(next.claim());
        // Nobody there to answer: the request fails instead of hanging, and says so.
        CapturingSystemLog log;
        SingleInstance lonely(test::uniqueSocketPath(), log);
        lonely.connectTimeoutMs = 100;
        QVERIFY(!lonely.activateRunningInstance());
        QCOMPARE(log.records().size(), 1);
        QCOMPARE(log.records().first().type, SystemLog::Type::Error);
        QCOMPARE(log.records().first().category, QStringLiteral("SingleInstance"));
        QVERIFY2(log.records().first().message.startsWith(QStringLiteral("The running instance does not answer: ")),
            qPrintable(log.records().first().message));
    }
};

VANTREL_TEST_MAIN(TestSingleInstance)
#include "tst_SingleInstance.moc"
