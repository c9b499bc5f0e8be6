#include "support/Environment.h"
#include "support/TestMain.h"

#include "platform/Defaults.h"
#include "platform/SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace vantrel;

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

// One launch of the real application in a private home.
class AppRun {
public:
    AppRun(const QString& home, const QString& runtime)
    {
        QProcessEnvironment env = test::privateHomeEnvironment(home);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("vantrel.*.info=true"));
        m_process.setProcessEnvironment(env);
        QObject::connect(&m_process, &QProcess::readyReadStandardError, &m_process,
            [this] { m_stderr += QString::fromUtf8(m_process.readAllStandardError()); });
        m_process.start(QStringLiteral(VANTREL_APP_BINARY), QStringList());
    }
    ~AppRun()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    QProcess& process() { return m_process; }
    QString errorOutput()
    {
        m_stderr += QString::fromUtf8(m_process.readAllStandardError());
        return m_stderr;
    }
    bool isUp() { return errorOutput().contains(QStringLiteral("vantrel.startup: event loop running")); }
    int activations() { return errorOutput().count(QStringLiteral("vantrel.singleinstance: activation requested")); }

private:
    QProcess m_process;
    QString m_stderr;
};

} // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    // A home whose settings turn the log file on, so the lifecycle lines can be read back.
    QString prepareHome(const QString& name)
    {
        QDir(test::shortTemporaryFolder()).mkdir(name);
        QFile::setPermissions(runtimeFolder(name), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QString home = m_dir.filePath(name);
        QDir().mkpath(home + QStringLiteral("/tmp"));
        Defaults defaults(home + QStringLiteral("/.config/Vantrel/com.vantrel.app.defaults.json"));
        defaults.setValue(QStringLiteral("log.fileEnabled"), true);
        defaults.setValue(QStringLiteral("autoMountOnLaunch"), false);
        defaults.synchronize();
        return home;
    }

    static QString runtimeFolder(const QString& name) { return test::shortTemporaryFolder() + u'/' + name; }

    static QString logText(const QString& home)
    {
        QFile file(home + QStringLiteral("/.local/share/Vantrel/Logs/Vantrel.log"));
        if (!file.open(QIODevice::ReadOnly))
            return QString();
        return QString::fromUtf8(file.readAll());
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

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

    void aFreedNameCanBeClaimedAgain()
    {
        const QString name = test::uniqueSocketPath();
        {
            SingleInstance first(name);
            QVERIFY(first.claim());
        }
        SingleInstance next(name);
        QVERIFY(next.claim());
        // Nobody there to answer: the request fails instead of hanging.
        SingleInstance lonely(test::uniqueSocketPath());
        lonely.connectTimeoutMs = 100;
        QVERIFY(!lonely.activateRunningInstance());
    }

    void secondLaunchActivatesTheFirstAndExits()
    {
        const QString home = prepareHome(QStringLiteral("twice"));
        AppRun first(home, runtimeFolder(QStringLiteral("twice")));
        QTRY_VERIFY_WITH_TIMEOUT(first.isUp(), 15000);
        QTRY_VERIFY_WITH_TIMEOUT(logText(home).contains(QStringLiteral("Vantrel application started successfully")), 10000);

        AppRun second(home, runtimeFolder(QStringLiteral("twice")));
        QVERIFY(second.process().waitForFinished(15000));
        QCOMPARE(second.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.process().exitCode(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(first.activations(), 1, 10000);

        QString log = logText(home);
        QCOMPARE(log.count(QStringLiteral("Another Vantrel instance is running. Activating it and exiting.")), 1);
        QCOMPARE(log.count(QStringLiteral("Vantrel application starting...")), 1);

        // SIGTERM quits through the event loop, so the shut-down runs.
        first.process().terminate();
        QVERIFY(first.process().waitForFinished(15000));
        QCOMPARE(first.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(first.process().exitCode(), 0);
        log = logText(home);
        QCOMPARE(log.count(QStringLiteral("Vantrel application terminating...")), 2);
        QVERIFY(log.trimmed().endsWith(QStringLiteral("Vantrel application terminated")));
    }

    void aCrashedFirstCopyDoesNotBlockTheNextLaunch()
    {
        const QString home = prepareHome(QStringLiteral("crash"));
        {
            AppRun crashed(home, runtimeFolder(QStringLiteral("crash")));
            QTRY_VERIFY_WITH_TIMEOUT(crashed.isUp(), 15000);
            crashed.process().kill(); // leaves its lock and socket behind
            QVERIFY(crashed.process().waitForFinished(5000));
        }
        AppRun next(home, runtimeFolder(QStringLiteral("crash")));
        QTRY_VERIFY_WITH_TIMEOUT(next.isUp(), 15000);
        AppRun third(home, runtimeFolder(QStringLiteral("crash")));
        QVERIFY(third.process().waitForFinished(15000));
        QCOMPARE(third.process().exitCode(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(next.activations(), 1, 10000);
        QVERIFY2(!third.errorOutput().contains(QStringLiteral("does not answer")), qPrintable(third.errorOutput()));
        next.process().terminate();
        QVERIFY(next.process().waitForFinished(15000));
        QCOMPARE(next.process().exitCode(), 0);
    }
};

VANTREL_TEST_MAIN(TestSingleInstance)
#include "tst_SingleInstance.moc"
