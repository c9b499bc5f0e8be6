#include "smbfs/SmbfsMount.h"
#include "support/Files.h"
#include "support/SambaServer.h"
#include "support/TestMain.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTemporaryDir>

#include <csignal>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

using namespace vantrel::test;

namespace {

const QString& password = testPassword;

quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

bool processEnded(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray line = stat.readAll();
    return line.mid(line.lastIndexOf(')') + 2, 1) == "Z";
}

int fusermount(const QStringList& arguments)
{
    return QProcess::execute(QStringLiteral("fusermount3"), arguments);
}

} // namespace

class SmbfsLifecycle : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (smbfsBinary().isEmpty())
            QSKIP("this build has no vantrel-smbfs");
        m_server = std::make_unique<SambaServer>();
        m_server->setPassword(password);
        m_folder = m_server->addShare(QStringLiteral("data"), false);
        QDir().mkpath(m_folder + QStringLiteral("/folder"));
        QVERIFY2(m_server->start(), qPrintable(m_server->errorString()));
    }

    void cleanupTestCase() { m_server.reset(); }

    // Each failure ends the process with its own code and one line, before anything is mounted.
    void refusedMountsSayWhy_data()
    {
        QTest::addColumn<QString>("share");
        QTest::addColumn<QString>("secret");
        QTest::addColumn<bool>("answering");
        QTest::addColumn<bool>("occupied");
        QTest::addColumn<int>("code");
        QTest::newRow("wrong password") << "data"
                                        << "wrong" << true << false << 4;
        QTest::newRow("no such share") << "missing" << password << true << false << 5;
        QTest::newRow("no such folder") << "data/missing" << password << true << false << 5;
        QTest::newRow("no server") << "data" << password << false << false << 3;
        QTest::newRow("mount point not empty") << "data" << password << true << true << 7;
    }

    void refusedMountsSayWhy()
    {
        QFETCH(QString, share);
        QFETCH(QString, secret);
        QFETCH(bool, answering);
        QFETCH(bool, occupied);
        QFETCH(int, code);
        SmbfsMount mount(*m_server, share, secret);
        if (!answering)
            mount.source = QStringLiteral("//127.0.0.1:%1/%2").arg(closedPort()).arg(share);
        if (occupied) {
            QFile file(mount.path(QStringLiteral("mine.txt")));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("mine") == 4);
        }
        QVERIFY2(!mount.start(), "it mounted");
        QVERIFY2(mount.exitCode == code, qPrintable(mount.error));
        QVERIFY(!isSmbfsMounted(mount.mountPoint));
        QVERIFY2(!mount.output().trimmed().isEmpty(), "no line said what failed");
        if (occupied)
            QCOMPARE(readFile(mount.path(QStringLiteral("mine.txt"))), QByteArray("mine"));
    }

    void checkLogsIn_data()
    {
        QTest::addColumn<QString>("share");
        QTest::addColumn<QString>("secret");
        QTest::addColumn<bool>("answering");
        QTest::addColumn<int>("code");
        QTest::newRow("logged in") << "data" << password << true << 0;
        QTest::newRow("folder") << "data/folder" << password << true << 0;
        QTest::newRow("wrong password") << "data"
                                        << "wrong" << true << 4;
        QTest::newRow("no such share") << "missing" << password << true << 5;
        QTest::newRow("no server") << "data" << password << false << 3;
    }

    void checkLogsIn()
    {
        QFETCH(QString, share);
        QFETCH(QString, secret);
        QFETCH(bool, answering);
        QFETCH(int, code);
        QProcess check;
        check.start(smbfsBinary(),
            {QStringLiteral("--check"), QStringLiteral("--credentials-stdin"), QStringLiteral("--"),
                QStringLiteral("//127.0.0.1:%1/%2").arg(answering ? m_server->port() : closedPort()).arg(share)});
        check.write("user=" + SambaServer::userName().toUtf8() + "\npassword=" + secret.toUtf8() + '\n');
        check.closeWriteChannel();
        QVERIFY2(check.waitForFinished(30000), "--check did not end within 30 s");
        const QByteArray output = check.readAllStandardOutput();
        const QByteArray errors = check.readAllStandardError();
        QVERIFY2(check.exitStatus() == QProcess::NormalExit && check.exitCode() == code,
            qPrintable(QStringLiteral("code %1: %2 %3").arg(check.exitCode()).arg(output, errors)));
        if (code == 0)
            QVERIFY2(
                QRegularExpression(QStringLiteral("^latency_ms=\\d+\\n?$")).match(QString::fromUtf8(output)).hasMatch(),
                output.constData());
        else
            QVERIFY2(!errors.trimmed().isEmpty(), "no line said what failed");
    }

    // Without --foreground the starting process returns once the mount is live; the daemon lives
    // on in a session of its own and ends when told to quit.
    void daemonServesUntilToldToQuit()
    {
        QTemporaryDir root;
        QTemporaryDir sockets(QStringLiteral("/tmp/vantrel-smbfs-XXXXXX"));
        const QString mountPoint = root.path() + QStringLiteral("/share");
        const QString control = sockets.path() + QStringLiteral("/control.sock");
        QVERIFY(QDir().mkpath(mountPoint));
        qint64 daemon = 0;
        auto cleanUp = qScopeGuard([&] {
            if (daemon > 0 && !processEnded(daemon))
                ::kill(static_cast<pid_t>(daemon), SIGKILL);
            if (isSmbfsMounted(mountPoint))
                fusermount({QStringLiteral("-u"), QStringLiteral("-z"), mountPoint});
        });

        QProcess starter;
        starter.setProcessChannelMode(QProcess::MergedChannels);
        const QString source = QStringLiteral("//127.0.0.1:%1/data").arg(m_server->port());
        starter.start(smbfsBinary(),
            {QStringLiteral("--credentials-stdin"), QStringLiteral("--control"), control, QStringLiteral("--"), source,
                mountPoint});
        starter.write("user=" + SambaServer::userName().toUtf8() + "\npassword=" + password.toUtf8() + '\n');
        starter.closeWriteChannel();
        QVERIFY2(starter.waitForFinished(30000), "the starting process did not return within 30 s");
        QVERIFY2(starter.exitStatus() == QProcess::NormalExit && starter.exitCode() == 0,
            starter.readAll().constData());
        QVERIFY(isSmbfsMounted(mountPoint));

        const QMap<QString, QString> status = parseStatus(askControl(control, "status\n"));
        daemon = status.value(QStringLiteral("pid")).toLongLong();
        QVERIFY2(daemon > 0 && !processEnded(daemon), qPrintable(status.value(QStringLiteral("pid"))));
        QCOMPARE(::getsid(static_cast<pid_t>(daemon)), static_cast<pid_t>(daemon));
        QCOMPARE(status.value(QStringLiteral("state")), QStringLiteral("online"));
        QCOMPARE(status.value(QStringLiteral("source")), source);
        QCOMPARE(status.value(QStringLiteral("mountpoint")), QDir(mountPoint).canonicalPath());
        const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup
            | QFileDevice::ReadOther | QFileDevice::WriteOther;
        QVERIFY(!(QFileInfo(control).permissions() & others));

        QFile file(mountPoint + QStringLiteral("/hello.txt"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("hello") == 5);
        file.close();
        QCOMPARE(readFile(m_folder + QStringLiteral("/hello.txt")), QByteArray("hello"));

        QCOMPARE(askControl(control, "quit\n"), QByteArray("ok"));
        QTRY_VERIFY_WITH_TIMEOUT(!isSmbfsMounted(mountPoint), 15000);
        QTRY_VERIFY_WITH_TIMEOUT(processEnded(daemon), 15000);
        QVERIFY(!QFile::exists(control));
        QFile::remove(m_folder + QStringLiteral("/hello.txt"));
    }

    // A busy mount is detached lazily; its process serves the open file until it is closed,
    // delivers every write, then ends by itself.
    void detachedMountServesOpenFilesToTheEnd_data()
    {
        QTest::addColumn<bool>("byQuit");
        QTest::newRow("fusermount3 -u -z") << false;
        QTest::newRow("quit") << true;
    }

    void detachedMountServesOpenFilesToTheEnd()
    {
        QFETCH(bool, byQuit);
        SmbfsMount mount(*m_server, QStringLiteral("data"), password);
        QVERIFY2(mount.start(), qPrintable(mount.error));
        const QByteArray first(1 << 20, 'f');
        const QByteArray second(1 << 20, 's');
        const int fd = ::open(QFile::encodeName(mount.path(QStringLiteral("busy.bin"))).constData(),
            O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        QVERIFY(fd >= 0);
        auto closeFile = qScopeGuard([fd] { ::close(fd); });
        QCOMPARE(::write(fd, first.constData(), first.size()), ssize_t(first.size()));

        // The polite unmount leaves a busy mount alone.
        QVERIFY(fusermount({QStringLiteral("-u"), mount.mountPoint}) != 0);
        QVERIFY(isSmbfsMounted(mount.mountPoint));
        if (byQuit)
            QCOMPARE(askControl(mount.controlPath, "quit\n"), QByteArray("ok"));
        else
            QCOMPARE(fusermount({QStringLiteral("-u"), QStringLiteral("-z"), mount.mountPoint}), 0);
        QTRY_VERIFY_WITH_TIMEOUT(!isSmbfsMounted(mount.mountPoint), 15000);
        QVERIFY(mount.processRunning());

        QCOMPARE(::write(fd, second.constData(), second.size()), ssize_t(second.size()));
        QCOMPARE(::fsync(fd), 0);
        closeFile.dismiss();
        QCOMPARE(::close(fd), 0);
        QCOMPARE(readFile(m_folder + QStringLiteral("/busy.bin")), first + second);
        QVERIFY2(mount.waitForEnd(20000), "the process did not end after the last file was closed");
        QVERIFY2(mount.unmount(), qPrintable(mount.error));
        QFile::remove(m_folder + QStringLiteral("/busy.bin"));
    }

private:
    std::unique_ptr<SambaServer> m_server;
    QString m_folder;
};

VANTREL_TEST_MAIN(SmbfsLifecycle)
#include "tst_SmbfsLifecycle.moc"
