#include "support/Environment.h"
#include "support/Files.h"
#include "support/Fixtures.h"
#include "support/TestMain.h"

#include "app/CrashReporter.h"
#include "platform/AppInfo.h"
#include "platform/CrashSignals.h"
#include "platform/Defaults.h"
#include "platform/Encodings.h"
#include "platform/SystemLog.h"
#include "services/LogManager.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <qcoro/qcorotask.h>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>

using namespace vantrel;
using vantrel::test::isOwnerOnly;
using vantrel::test::readFile;
using vantrel::test::writeFile;

namespace {

// A minimal HTTP/1.1 server on 127.0.0.1 that records each request and answers with `status`
// (0: never answers).
class HttpServer : public QObject {
public:
    struct Request {
        QByteArray method;
        QByteArray path;
        QByteArray contentType;
        QByteArray body;
    };

    int status = 200;
    bool cutShort = false;
    QList<Request> requests;

    HttpServer()
    {
        QVERIFY(m_server.listen(QHostAddress::LocalHost, 0));
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { onData(socket); });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }

    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1/api").arg(m_server.serverPort()); }

private:
    void onData(QTcpSocket* socket)
    {
        QByteArray& buffer = m_buffers[socket];
        buffer += socket->readAll();
        const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            return;
        const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
        Request request;
        const QList<QByteArray> first = lines.first().trimmed().split(' ');
        request.method = first.value(0);
        request.path = first.value(1);
        qsizetype length = 0;
        for (const QByteArray& line : lines.mid(1)) {
            const qsizetype colon = line.indexOf(':');
            const QByteArray name = line.left(colon).trimmed().toLower();
            const QByteArray value = line.mid(colon + 1).trimmed();
            if (name == "content-length")
                length = value.toLongLong();
            else if (name == "content-type")
                request.contentType = value;
        }
        if (buffer.size() < headerEnd + 4 + length)
            return;
        request.body = buffer.mid(headerEnd + 4, length);
        m_buffers.remove(socket);
        requests.append(request);
        if (status == 0)
            return;
        if (cutShort) {
            // The status line arrives, then the connection drops before the announced body.
            socket->write(
                QStringLiteral("HTTP/1.1 %1 Status\r\nContent-Length: 100\r\n\r\nabc").arg(status).toLatin1());
            socket->disconnectFromHost();
            return;
        }
        socket->write(QStringLiteral("HTTP/1.1 %1 Status\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
                          .arg(status)
                          .toLatin1());
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
    QHash<QTcpSocket*, QByteArray> m_buffers;
};

using vantrel::test::Logging;

QStringList reportFiles(const QString& dir)
{
    return QDir(dir).entryList({QStringLiteral("*.vantrel-crash")}, QDir::Files, QDir::Name);
}

// Set in the child before its handlers are installed.
char markerPath[1024];

void writeMarker(const char* text)
{
    const int fd = open(markerPath, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd >= 0) {
        [[maybe_unused]] const ssize_t n = write(fd, text, strlen(text));
        close(fd);
    }
}

void earlierInfoHandler(int signal, siginfo_t* info, void* context)
{
    char text[] = "siginfo 00 info ctx";
    text[8] = static_cast<char>('0' + signal / 10);
    text[9] = static_cast<char>('0' + signal % 10);
    if (!info || info->si_signo != signal)
        memcpy(text + 11, "none", 4);
    if (!context)
        memcpy(text + 16, "nil", 3);
    writeMarker(text);
}

void earlierPlainHandler(int signal)
{
    writeMarker(signal == SIGABRT ? "plain 6" : "plain other");
}

void installEarlierHandler(int signal, bool withInfo)
{
    struct sigaction action {};
    sigemptyset(&action.sa_mask);
    if (withInfo) {
        action.sa_sigaction = earlierInfoHandler;
        action.sa_flags = SA_SIGINFO;
    } else {
        action.sa_handler = earlierPlainHandler;
    }
    sigaction(signal, &action, nullptr);
}

void touchUnmappedPage()
{
    void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    *static_cast<volatile int*>(page) = 1;
}

// Reading a mapped page past the end of its file raises a real SIGBUS.
void readPastEndOfFile()
{
    const QByteArray path = QFile::encodeName(QDir::tempPath() + QStringLiteral("/bus"));
    const int fd = open(path.constData(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || ftruncate(fd, 4096) != 0)
        return;
    void* page = mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0);
    if (page == MAP_FAILED || ftruncate(fd, 0) != 0)
        return;
    [[maybe_unused]] volatile int value = *static_cast<volatile int*>(page);
}

// An exception whose message cannot be read: the crash happens inside the terminate handler.
struct FaultingException : std::exception {
    const char* what() const noexcept override
    {
        touchUnmappedPage();
        return "unreachable";
    }
};

} // namespace

class TestCrashReporter : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_children = 0;

    struct Child {
        int exitCode = -1;
        QProcess::ExitStatus exitStatus = QProcess::CrashExit;
        QByteArray output;
        QString reportDir;
        QString marker;
    };

    // Runs this binary's crashChild() with the scenario; its reports land in a folder of their own.
    Child runChild(const QByteArray& scenario)
    {
        const QString root = m_dir.filePath(QStringLiteral("child%1").arg(++m_children));
        Child child;
        child.reportDir = root + QStringLiteral("/reports");
        child.marker = root + QStringLiteral("/marker");
        QDir().mkpath(root);
        QProcessEnvironment env = test::privateHomeEnvironment(root + QStringLiteral("/home"));
        env.insert(QStringLiteral("VANTREL_CRASH_SCENARIO"), QString::fromLatin1(scenario));
        env.insert(QStringLiteral("VANTREL_CRASH_DIR"), child.reportDir);
        env.insert(QStringLiteral("VANTREL_CRASH_MARKER"), child.marker);
        // HOME above the test binary, so that stack lines hold the home path.
        env.insert(QStringLiteral("HOME"), binaryHome());
        // Sanitizer builds: leave the crash signals to the handlers under test.
        env.insert(QStringLiteral("ASAN_OPTIONS"),
            env.value(QStringLiteral("ASAN_OPTIONS"))
                + QStringLiteral(":handle_segv=0:handle_sigbus=0:handle_abort=0:detect_leaks=0"));
        QProcess process;
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(QCoreApplication::applicationFilePath(),
            {QStringLiteral("-nocrashhandler"), QStringLiteral("crashChild")});
        if (!process.waitForFinished(60'000))
            process.kill();
        child.exitCode = process.exitCode();
        child.exitStatus = process.exitStatus();
        child.output = process.readAll();
        return child;
    }

    static QString binaryHome()
    {
        QDir dir(QCoreApplication::applicationDirPath());
        dir.cdUp();
        return dir.absolutePath();
    }

    // The one report a crashed child left, checked for the fields every report carries.
    static std::optional<CrashReport> onlyReport(const Child& child, QByteArray* raw = nullptr)
    {
        const QStringList files = reportFiles(child.reportDir);
        if (files.size() != 1) {
            qWarning() << "reports:" << files << child.output;
            return std::nullopt;
        }
        const QByteArray bytes = readFile(child.reportDir + u'/' + files.first());
        if (raw)
            *raw = bytes;
        auto report = CrashReport::fromJson(bytes);
        if (!report) {
            qWarning() << "undecodable report:" << bytes;
            return std::nullopt;
        }
        const bool ok = files.first() == report->id + QStringLiteral(".vantrel-crash")
            && encoding::parseUuid(report->id) && report->id == report->id.toUpper()
            && encoding::parseIso8601(report->timestamp)
            && qAbs(encoding::parseIso8601(report->timestamp)->secsTo(QDateTime::currentDateTimeUtc())) < 600
            && report->timestamp.endsWith(u'Z') && report->appVersion == AppInfo::version()
            && report->buildNumber == CrashReporter::buildNumber() && report->osVersion == CrashReporter::osVersion()
            && report->deviceModel == CrashReporter::deviceModel() && !report->stackTrace.isEmpty();
        if (!ok) {
            qWarning() << "unexpected report:" << bytes;
            return std::nullopt;
        }
        return report;
    }

private slots:
    // Not a test of its own: the process that crashes for the tests below.
    void crashChild()
    {
        const QByteArray scenario = qgetenv("VANTREL_CRASH_SCENARIO");
        if (scenario.isEmpty())
            QSKIP("runs only as a child of this test");
        const QByteArray marker = qgetenv("VANTREL_CRASH_MARKER");
        QVERIFY(static_cast<size_t>(marker.size()) < sizeof markerPath);
        memcpy(markerPath, marker.constData(), static_cast<size_t>(marker.size()));

        if (scenario == "chained-siginfo")
            installEarlierHandler(SIGSEGV, true);
        if (scenario == "chained-plain")
            installEarlierHandler(SIGABRT, false);

        // Deliberately leaked: the process ends inside a handler.
        auto* logging = new Logging(QDir::tempPath());
        auto* reporter = new CrashReporter(logging->log, qEnvironmentVariable("VANTREL_CRASH_DIR"));
        reporter->startMonitoring();

        if (scenario == "segv" || scenario == "chained-siginfo")
            touchUnmappedPage();
        else if (scenario == "abort" || scenario == "chained-plain")
            std::abort();
        else if (scenario == "bus")
            readPastEndOfFile();
        else if (scenario == "exception")
            std::thread([] { throw std::runtime_error("disk on fire"); }).join();
        else if (scenario == "exception-without-reason")
            std::thread([] { throw 42; }).join();
        else if (scenario == "exception-faulting-what")
            std::thread([] { throw FaultingException(); }).join();
        else if (scenario == "sigpipe") {
            int fds[2];
            QCOMPARE(pipe(fds), 0);
            close(fds[0]);
            errno = 0;
            QCOMPARE(write(fds[1], "x", 1), ssize_t(-1));
            QCOMPARE(errno, EPIPE);
            close(fds[1]);
            return; // still alive: exit status 0
        }
        QFAIL("the scenario did not crash");
    }

    void fatalSignalsWriteOneReportAndExitWithTheSignalNumber_data()
    {
        QTest::addColumn<QByteArray>("scenario");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("name");
        QTest::newRow("segmentation fault") << QByteArray("segv") << 11 << QStringLiteral("SIGSEGV");
        QTest::newRow("abort") << QByteArray("abort") << 6 << QStringLiteral("SIGABRT");
        QTest::newRow("bus error") << QByteArray("bus") << 7 << QStringLiteral("SIGBUS");
    }

    void fatalSignalsWriteOneReportAndExitWithTheSignalNumber()
    {
        QFETCH(QByteArray, scenario);
        QFETCH(int, status);
        QFETCH(QString, name);
        const Child child = runChild(scenario);
        QCOMPARE(child.exitStatus, QProcess::NormalExit);
        QCOMPARE(child.exitCode, status);
        const auto report = onlyReport(child);
        QVERIFY(report);
        QCOMPARE(report->exceptionType, QStringLiteral("Signal"));
        QCOMPARE(report->exceptionName, std::optional<QString>(name));
        QCOMPARE(report->reason,
            std::optional<QString>(QStringLiteral("Fatal signal ") + name + QStringLiteral(" received")));
        // The home folder shows as "~".
        const QString home = binaryHome();
        bool tilde = false;
        for (const QString& line : report->stackTrace) {
            QVERIFY2(!line.contains(home), qPrintable(line));
            tilde = tilde || line.startsWith(QStringLiteral("~/"));
        }
        QVERIFY2(tilde, qPrintable(report->stackTrace.join(u'\n')));
        QVERIFY(!QFile::exists(child.marker));
    }

    void earlierHandlersAreChainedWithTheirOwnConvention()
    {
        const Child withInfo = runChild("chained-siginfo");
        QCOMPARE(withInfo.exitStatus, QProcess::NormalExit);
        QCOMPARE(withInfo.exitCode, 11);
        QCOMPARE(readFile(withInfo.marker), QByteArray("siginfo 11 info ctx"));
        QVERIFY(onlyReport(withInfo));

        const Child plain = runChild("chained-plain");
        QCOMPARE(plain.exitStatus, QProcess::NormalExit);
        QCOMPARE(plain.exitCode, 6);
        QCOMPARE(readFile(plain.marker), QByteArray("plain 6"));
        QVERIFY(onlyReport(plain));
    }

    void uncaughtExceptionsWriteAReportAndExitWithSix()
    {
        QByteArray raw;
        const Child child = runChild("exception");
        QCOMPARE(child.exitStatus, QProcess::NormalExit);
        QCOMPARE(child.exitCode, 6);
        const auto report = onlyReport(child, &raw);
        QVERIFY(report);
        QCOMPARE(report->exceptionType, QStringLiteral("NSException"));
        QCOMPARE(report->exceptionName, std::optional<QString>(QStringLiteral("std::runtime_error")));
        QCOMPARE(report->reason, std::optional<QString>(QStringLiteral("disk on fire")));
        // Exception reports keep full paths.
        bool fullPath = false;
        for (const QString& line : report->stackTrace)
            fullPath = fullPath || line.contains(binaryHome());
        QVERIFY2(fullPath, qPrintable(report->stackTrace.join(u'\n')));

        const Child bare = runChild("exception-without-reason");
        QCOMPARE(bare.exitStatus, QProcess::NormalExit);
        QCOMPARE(bare.exitCode, 6);
        const auto bareReport = onlyReport(bare, &raw);
        QVERIFY(bareReport);
        QCOMPARE(bareReport->exceptionName, std::optional<QString>(QStringLiteral("int")));
        QVERIFY(!QJsonDocument::fromJson(raw).object().contains(QStringLiteral("reason")));
    }

    void crashWhileHandlingACrashEndsTheProcess()
    {
        const Child child = runChild("exception-faulting-what");
        QCOMPARE(child.exitStatus, QProcess::CrashExit);
        QCOMPARE(child.exitCode, SIGSEGV);
    }

    void brokenPipeDoesNotEndTheProcess()
    {
        const Child child = runChild("sigpipe");
        QCOMPARE(child.exitStatus, QProcess::NormalExit);
        QVERIFY2(child.exitCode == 0, child.output.constData());
        QVERIFY(reportFiles(child.reportDir).isEmpty());
    }

    void acceptedReportsAreDeletedOthersKept()
    {
        Logging logging(m_dir.filePath(QStringLiteral("send")));
        const QString reports = m_dir.filePath(QStringLiteral("send/Crashes"));
        CrashReporter reporter(logging.log, reports);
        QVERIFY(QDir(reports).exists());
        reporter.saveReport(QStringLiteral("Signal"), QStringLiteral("SIGSEGV"),
            QStringLiteral("Fatal signal SIGSEGV received"), {QStringLiteral("frame 0"), QStringLiteral("frame 1")});
        reporter.saveReport(QStringLiteral("NSException"), QStringLiteral("std::logic_error"), std::nullopt, {});
        const QStringList saved = reportFiles(reports);
        QCOMPARE(saved.size(), 2);
        QList<CrashReport> originals;
        for (const QString& name : saved)
            originals.append(*CrashReport::fromJson(readFile(reports + u'/' + name)));
        QFile junk(reports + QStringLiteral("/junk.vantrel-crash"));
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write("{\"id\":\"x\"");
        junk.close();
        QFile other(reports + QStringLiteral("/notes.txt"));
        QVERIFY(other.open(QIODevice::WriteOnly));
        other.close();

        HttpServer server;
        // An empty address keeps everything for a later launch.
        QCoro::waitFor(reporter.sendPendingReports());
        QCOMPARE(server.requests.size(), 0);
        QCOMPARE(reportFiles(reports).size(), 3);

        // Reports and their folder are the user's alone. A file far too large for a report, and
        // what a save killed half-way left, go with the unreadable ones.
        QVERIFY(isOwnerOnly(reports));
        QVERIFY(isOwnerOnly(reports + u'/' + saved.first()));
        QVERIFY(writeFile(reports + QStringLiteral("/huge.vantrel-crash"), QByteArray(2 << 20, ' ')));
        QFile leftover(reports + u'/' + saved.first() + QStringLiteral(".vantrel-save-AbCdEf"));
        QVERIFY(writeFile(leftover.fileName(), "{"));
        QVERIFY(leftover.open(QIODevice::ReadWrite));
        QVERIFY(leftover.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-600), QFileDevice::FileModificationTime));
        leftover.close();

        // Anything but 200 keeps the report and logs its id.
        reporter.setBackendURL(server.baseUrl());
        server.status = 201;
        logging.systemLog.clear();
        QCoro::waitFor(reporter.sendPendingReports());
        QCOMPARE(server.requests.size(), 2);
        QCOMPARE(reportFiles(reports), saved); // the unreadable files are gone, silently
        QVERIFY(!leftover.exists());
        QVERIFY(QFile::exists(other.fileName()));
        QStringList expected;
        for (const CrashReport& report : originals)
            expected.append(QStringLiteral("Failed to upload crash report: ") + report.id);
        QCOMPARE(logging.systemLog.messages(), expected);

        server.status = 200;
        server.requests.clear();
        logging.systemLog.clear();
        QCoro::waitFor(reporter.sendPendingReports());
        QCOMPARE(server.requests.size(), 2);
        for (int i = 0; i < 2; ++i) {
            const HttpServer::Request& request = server.requests.at(i);
            QCOMPARE(request.method, QByteArray("POST"));
            QCOMPARE(request.path, QByteArray("/api/crash-report"));
            QCOMPARE(request.contentType, QByteArray("application/json"));
            QCOMPARE(CrashReport::fromJson(request.body), std::optional<CrashReport>(originals.at(i)));
        }
        QVERIFY(reportFiles(reports).isEmpty());
        QCOMPARE(logging.systemLog.messages(),
            (QStringList{QStringLiteral("Crash report uploaded: ") + originals.at(0).id,
                QStringLiteral("Crash report uploaded: ") + originals.at(1).id}));
        QVERIFY(QFile::exists(other.fileName()));
        // An absent reason is left out of the file.
        for (const QString& name : saved) {
            const QJsonObject object = QJsonDocument::fromJson(server.requests.at(saved.indexOf(name)).body).object();
            QCOMPARE(object.contains(QStringLiteral("reason")),
                object.value("exceptionType") == QStringLiteral("Signal"));
        }
    }

    void uploadFailsWithoutAnAnswer()
    {
        Logging logging(m_dir.filePath(QStringLiteral("noanswer")));
        CrashReporter reporter(logging.log, m_dir.filePath(QStringLiteral("noanswer/Crashes")));
        const CrashReport report{QStringLiteral("6F1C2A6E-0D43-4B7E-9E55-1A2B3C4D5E6F"),
            QStringLiteral("2024-05-01T09:30:12Z"), QStringLiteral("1.0.0"), QStringLiteral("1"), QStringLiteral("os"),
            QString(), QStringLiteral("Signal"), std::nullopt, std::nullopt, {}};

        reporter.setBackendURL(QStringLiteral("not a url"));
        QVERIFY(!QCoro::waitFor(reporter.upload(report)));

        HttpServer silent;
        silent.status = 0;
        reporter.setBackendURL(silent.baseUrl());
        reporter.uploadTimeout = std::chrono::milliseconds(200);
        QVERIFY(!QCoro::waitFor(reporter.upload(report)));
        QCOMPARE(silent.requests.size(), 1);

        // A 200 whose answer breaks off is a transport error, not an acceptance.
        HttpServer broken;
        broken.cutShort = true;
        reporter.setBackendURL(broken.baseUrl());
        QVERIFY(!QCoro::waitFor(reporter.upload(report)));
        QCOMPARE(broken.requests.size(), 1);

        // A closed port.
        quint16 port = 0;
        {
            QTcpServer closed;
            QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
            port = closed.serverPort();
        }
        reporter.setBackendURL(QStringLiteral("http://127.0.0.1:%1").arg(port));
        QVERIFY(!QCoro::waitFor(reporter.upload(report)));
    }

    // Last: it installs the crash handlers in this process.
    void startMonitoringRunsOnce()
    {
        Logging logging(m_dir.filePath(QStringLiteral("monitor")));
        const QString reports = m_dir.filePath(QStringLiteral("monitor/Crashes"));
        CrashReporter reporter(logging.log, reports);
        reporter.saveReport(QStringLiteral("Signal"), QStringLiteral("SIGILL"), std::nullopt, {});
        HttpServer server;
        reporter.setBackendURL(server.baseUrl());
        QSignalSpy processed(&reporter, &CrashReporter::pendingReportsProcessed);
        reporter.startMonitoring();
        reporter.startMonitoring();
        QVERIFY(reporter.isMonitoring());
        QVERIFY(CrashSignals::isInstalled());
        QTRY_COMPARE(processed.count(), 1);
        QTest::qWait(50);
        QCOMPARE(processed.count(), 1);
        QCOMPARE(server.requests.size(), 1);
        QVERIFY(reportFiles(reports).isEmpty());
        QCOMPARE(logging.systemLog.messages().count(QStringLiteral("CrashReporter monitoring started")), 1);
        struct sigaction pipeAction {};
        sigaction(SIGPIPE, nullptr, &pipeAction);
        QVERIFY(pipeAction.sa_handler == SIG_IGN);
    }
};

VANTREL_TEST_MAIN(TestCrashReporter)
#include "tst_CrashReporter.moc"
