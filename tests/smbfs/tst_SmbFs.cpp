#include "Options.h"
#include "support/Files.h"
#include "support/SambaServer.h"
#include "support/TestMain.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using vantrel::test::SambaServer;

namespace {

using vantrel::test::readFile;

const QString kPassword = QStringLiteral("s3cret=pass");

struct Run {
    int code = -1;
    QString out;
    QString err;
};

Run runSmbfs(const QStringList& args, const QByteArray& input = {})
{
    QProcess process;
    process.start(QStringLiteral(VANTREL_SMBFS_BINARY), args);
    process.write(input);
    process.closeWriteChannel();
    Run run;
    if (!process.waitForFinished(60000))
        return run;
    run.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QByteArray login(const QString& password = kPassword)
{
    return "user=" + SambaServer::userName().toUtf8() + "\npassword=" + password.toUtf8() + "\n";
}

QString mountLine(const QString& mountPoint)
{
    QFile mounts(QStringLiteral("/proc/self/mounts"));
    if (!mounts.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray& line : mounts.readAll().split('\n'))
        if (line.split(' ').value(1) == mountPoint.toUtf8())
            return QString::fromUtf8(line);
    return {};
}

QString control(const QString& path, const QByteArray& line)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray bytes = path.toUtf8();
    std::memcpy(address.sun_path, bytes.constData(), std::min<size_t>(bytes.size(), sizeof address.sun_path - 1));
    QByteArray reply;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
        && ::write(fd, line.constData(), line.size()) == line.size()) {
        char buffer[512];
        ssize_t n = 0;
        while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
            reply.append(buffer, n);
    }
    ::close(fd);
    return QString::fromUtf8(reply).trimmed();
}

bool writeFile(const QString& path, const QByteArray& data)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, data.constData(), data.size()) == data.size() && ::fsync(fd) == 0;
    return ::close(fd) == 0 && ok;
}

} // namespace

class TestSmbFs : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (::access("/dev/fuse", R_OK | W_OK) != 0)
            QSKIP("no access to /dev/fuse");
        m_server.setPassword(kPassword);
        m_shareFolder = m_server.addShare(QStringLiteral("data"), false);
        m_server.addShare(QStringLiteral("open"), true);
        QDir().mkpath(m_shareFolder + QStringLiteral("/sub"));
        QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
        m_source = QStringLiteral("//127.0.0.1:%1/data").arg(m_server.port());
    }

    void cleanup()
    {
        if (!m_mountPoint.isEmpty() && !mountLine(m_mountPoint).isEmpty())
            ::umount2(QFile::encodeName(m_mountPoint).constData(), MNT_DETACH);
    }

    void parsesTheCommandLine()
    {
        using namespace vantrel::smbfs;
        Options options;
        std::string error;
        const char* full[] = {"vantrel-smbfs", "--timeout", "7", "--read-only", "--uid", "1234", "--",
            "//nas.local:4455/Share/a/b/", "/mnt/x"};
        QVERIFY(parseOptions(9, const_cast<char**>(full), options, error));
        QCOMPARE(options.host, std::string("nas.local"));
        QCOMPARE(options.port, 4455);
        QCOMPARE(options.share, std::string("Share"));
        QCOMPARE(options.folder, std::string("/a/b"));
        QCOMPARE(options.source, std::string("//nas.local:4455/Share/a/b/"));
        QCOMPARE(options.timeoutSeconds, 7);
        QVERIFY(options.readOnly);
        QCOMPARE(options.uid, 1234u);
        QCOMPARE(options.mountPoint, std::string("/mnt/x"));

        for (const char* source :
            {"nas/share", "//nas", "//nas/", "//:445/share", "//nas:0/share", "//nas:99999/share", "//nas/share//x"}) {
            Options bad;
            QVERIFY2(!parseSource(source, bad), source);
        }
        const char* noTimeout[] = {"vantrel-smbfs", "--timeout", "0", "--", "//nas/share", "/mnt"};
        QVERIFY(!parseOptions(6, const_cast<char**>(noTimeout), options, error));
        const char* missingPoint[] = {"vantrel-smbfs", "--", "//nas/share"};
        QVERIFY(!parseOptions(3, const_cast<char**>(missingPoint), options, error));

        // The password is the rest of its line, '=' and spaces included.
        const Credentials credentials = parseCredentials("user=anna\ndomain=WORK\npassword= a=b c\n");
        QCOMPARE(credentials.user, std::string("anna"));
        QCOMPARE(credentials.domain, std::string("WORK"));
        QCOMPARE(credentials.password, std::string(" a=b c"));
    }

    // The engine finds the socket by the same name: the first 16 hex digits of the mount point's SHA-256.
    void namesTheControlSocketAfterTheMountPoint()
    {
        using namespace vantrel::smbfs;
        QCOMPARE(sha256Hex(""), std::string("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"));
        QCOMPARE(sha256Hex(std::string(1000, 'a')).substr(0, 16), std::string("41edece42d63e8d9"));
        qputenv("XDG_RUNTIME_DIR", "/run/user/77");
        QCOMPARE(defaultControlPath("/home/anna/Shares/Data"),
            "/run/user/77/vantrel/smbfs-" + sha256Hex("/home/anna/Shares/Data").substr(0, 16) + ".sock");
        qunsetenv("XDG_RUNTIME_DIR");
        QCOMPARE(defaultControlPath("/m").substr(0, 13 + std::to_string(::getuid()).size()),
            "/tmp/vantrel-" + std::to_string(::getuid()));
    }

    // Every failure the engine tells apart has its own exit code and a line saying what failed.
    void checkReportsEachCause()
    {
        const QString port = QString::number(m_server.port());
        Run ok = runSmbfs(
            {QStringLiteral("--check"), QStringLiteral("--credentials-stdin"), QStringLiteral("--"), m_source},
            login());
        QCOMPARE(ok.code, 0);
        QVERIFY2(QRegularExpression(QStringLiteral("^latency_ms=\\d+\\n$")).match(ok.out).hasMatch(),
            qPrintable(ok.out));

        const struct {
            QStringList args;
            QByteArray input;
            int code;
        } cases[] = {
            {{QStringLiteral("--check"), QStringLiteral("--credentials-stdin"), QStringLiteral("--"), m_source},
                login(QStringLiteral("wrong")), 4},
            {{QStringLiteral("--check"), QStringLiteral("--credentials-stdin"), QStringLiteral("--"),
                 QStringLiteral("//127.0.0.1:%1/nosuch").arg(port)},
                login(), 5},
            {{QStringLiteral("--check"), QStringLiteral("--credentials-stdin"), QStringLiteral("--"),
                 m_source + QStringLiteral("/no/folder")},
                login(), 5},
            {{QStringLiteral("--check"), QStringLiteral("--"), m_source}, {}, 8},
            {{QStringLiteral("--check"), QStringLiteral("--timeout"), QStringLiteral("5"), QStringLiteral("--"),
                 QStringLiteral("//127.0.0.1:1/data")},
                {}, 3},
            {{QStringLiteral("--check"), QStringLiteral("--"), QStringLiteral("127.0.0.1/data")}, {}, 2},
            {{QStringLiteral("--bogus"), QStringLiteral("--"), m_source, QStringLiteral("/tmp")}, {}, 2},
        };
        for (const auto& c : cases) {
            const Run run = runSmbfs(c.args, c.input);
            QVERIFY2(run.code == c.code,
                qPrintable(c.args.join(QLatin1Char(' ')) + QStringLiteral(" -> %1: ").arg(run.code) + run.err));
            QCOMPARE(run.err.count(QLatin1Char('\n')), 1);
        }
        // Guests reach a share that admits them.
        const Run guest = runSmbfs(
            {QStringLiteral("--check"), QStringLiteral("--"), QStringLiteral("//127.0.0.1:%1/open").arg(port)});
        QCOMPARE(guest.code, 0);
    }

    void refusesAnUnusableMountPoint()
    {
        QTemporaryDir parent;
        const QString busy = parent.path() + QStringLiteral("/busy");
        QDir().mkpath(busy);
        QVERIFY(writeFile(busy + QStringLiteral("/local.txt"), "x"));
        for (const QString& point :
            {busy, parent.path() + QStringLiteral("/missing"), busy + QStringLiteral("/local.txt")}) {
            const Run run = runSmbfs({QStringLiteral("--credentials-stdin"), QStringLiteral("--"), m_source, point},
                login());
            QVERIFY2(run.code == 7, qPrintable(point + QStringLiteral(": %1 ").arg(run.code) + run.err));
            QVERIFY(mountLine(point).isEmpty());
        }
    }

    // The daemon's whole life: live when the starter returns, writes on the server when closed,
    // an editor's save, case-only names, a file deleted while open, status and quit.
    void mountServesFilesAndEndsAfterQuit()
    {
        QTemporaryDir parent;
        m_mountPoint = parent.path() + QStringLiteral("/mnt");
        QDir().mkpath(m_mountPoint);
        const QString socket = parent.path() + QStringLiteral("/control.sock");
        const Run started = runSmbfs({QStringLiteral("--credentials-stdin"), QStringLiteral("--control"), socket,
                                         QStringLiteral("--"), m_source, m_mountPoint},
            login());
        QVERIFY2(started.code == 0, qPrintable(started.err));
        const QStringList fields = mountLine(m_mountPoint).split(QLatin1Char(' '));
        QCOMPARE(fields.value(0), m_source);
        QCOMPARE(fields.value(2), QStringLiteral("fuse.vantrel-smbfs"));
        QCOMPARE(QFileInfo(socket).permissions() & (QFile::ReadGroup | QFile::ReadOther), QFileDevice::Permissions());

        const QString status = control(socket, "status\n");
        QVERIFY2(status.startsWith(QStringLiteral("state=online pid=")), qPrintable(status));
        QVERIFY2(status.contains(
                     QStringLiteral(" open=0 source=") + m_source + QStringLiteral(" mountpoint=") + m_mountPoint),
            qPrintable(status));

        // Written through the mount: on the server once closed; and the other way round.
        QVERIFY(writeFile(m_mountPoint + QStringLiteral("/notes.txt"), "first"));
        QCOMPARE(readFile(m_shareFolder + QStringLiteral("/notes.txt")), QByteArray("first"));
        QVERIFY(writeFile(m_shareFolder + QStringLiteral("/sub/server.txt"), "from the server"));
        QCOMPARE(readFile(m_mountPoint + QStringLiteral("/sub/server.txt")), QByteArray("from the server"));

        // An editor's save: a temporary file renamed over the document, again and again.
        for (int i = 0; i < 10; ++i) {
            const QByteArray content = "version " + QByteArray::number(i);
            QVERIFY(writeFile(m_mountPoint + QStringLiteral("/.notes.txt.tmp"), content));
            QCOMPARE(::rename(QFile::encodeName(m_mountPoint + QStringLiteral("/.notes.txt.tmp")).constData(),
                         QFile::encodeName(m_mountPoint + QStringLiteral("/notes.txt")).constData()),
                0);
            QCOMPARE(readFile(m_mountPoint + QStringLiteral("/notes.txt")), content);
            QCOMPARE(readFile(m_shareFolder + QStringLiteral("/notes.txt")), content);
        }
        QVERIFY(!QFile::exists(m_shareFolder + QStringLiteral("/.notes.txt.tmp")));

        // The server folds case: both spellings are one file, listed once as the server has it.
        QVERIFY(writeFile(m_mountPoint + QStringLiteral("/readme.md"), "lower"));
        struct stat lower {};
        struct stat upper {};
        QCOMPARE(::stat(QFile::encodeName(m_mountPoint + QStringLiteral("/readme.md")).constData(), &lower), 0);
        QCOMPARE(::stat(QFile::encodeName(m_mountPoint + QStringLiteral("/README.md")).constData(), &upper), 0);
        QCOMPARE(upper.st_ino, lower.st_ino);
        QCOMPARE(QDir(m_mountPoint).entryList(QDir::Files).filter(QStringLiteral("readme"), Qt::CaseInsensitive),
            QStringList{QStringLiteral("readme.md")});

        // Errors a program can act on, never EIO.
        errno = 0;
        QCOMPARE(::rmdir(QFile::encodeName(m_mountPoint + QStringLiteral("/sub")).constData()), -1);
        QCOMPARE(errno, ENOTEMPTY);
        QCOMPARE(::mkdir(QFile::encodeName(m_mountPoint + QStringLiteral("/sub")).constData(), 0755), -1);
        QCOMPARE(errno, EEXIST);
        QCOMPARE(::symlink("notes.txt", QFile::encodeName(m_mountPoint + QStringLiteral("/link")).constData()), -1);
        QVERIFY(errno == EPERM || errno == EOPNOTSUPP);
        const QString longName = m_mountPoint + QLatin1Char('/') + QString(256, QLatin1Char('n'));
        QCOMPARE(::open(QFile::encodeName(longName).constData(), O_CREAT | O_WRONLY, 0644), -1);
        QCOMPARE(errno, ENAMETOOLONG);

        // Deleted while open: gone from every listing, still readable and writable until closed.
        const QByteArray held = QFile::encodeName(m_mountPoint + QStringLiteral("/held.bin"));
        const int fd = ::open(held.constData(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, "held", 4), 4);
        QVERIFY2(control(socket, "status\n").contains(QStringLiteral(" open=1 ")),
            qPrintable(control(socket, "status\n")));
        QCOMPARE(::unlink(held.constData()), 0);
        QVERIFY(!QDir(m_mountPoint).entryList(QDir::AllEntries | QDir::Hidden).contains(QStringLiteral("held.bin")));
        QCOMPARE(::pwrite(fd, "!", 1, 4), 1);
        char back[5] = {};
        QCOMPARE(::pread(fd, back, 5, 0), 5);
        QCOMPARE(QByteArray(back, 5), QByteArray("held!"));

        // Quit with a file open: detached at once, served until closed, then the daemon ends.
        QCOMPARE(control(socket, "quit\n"), QStringLiteral("ok"));
        QTRY_VERIFY(mountLine(m_mountPoint).isEmpty());
        QCOMPARE(::fsync(fd), 0);
        QCOMPARE(::close(fd), 0);
        QTRY_VERIFY(!QFile::exists(socket));
        const QStringList left = QDir(m_shareFolder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        QCOMPARE(left.join(QLatin1Char(' ')), QStringLiteral("notes.txt readme.md sub"));
    }

    // A server that goes away: the mount stays, calls fail at once, the status says offline; when
    // it is back the daemon reconnects and a file kept open goes on being written.
    void staysMountedWhileTheServerIsGone()
    {
        QTemporaryDir parent;
        m_mountPoint = parent.path() + QStringLiteral("/mnt");
        QDir().mkpath(m_mountPoint);
        const QString socket = parent.path() + QStringLiteral("/control.sock");
        const Run started = runSmbfs({QStringLiteral("--credentials-stdin"), QStringLiteral("--timeout"),
                                         QStringLiteral("5"), QStringLiteral("--control"), socket, QStringLiteral("--"),
                                         m_source, m_mountPoint},
            login());
        QVERIFY2(started.code == 0, qPrintable(started.err));
        const QByteArray path = QFile::encodeName(m_mountPoint + QStringLiteral("/kept.txt"));
        // Close-on-exec: the restarted server must not inherit it (it would hold the mount).
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, "before ", 7), 7);
        QCOMPARE(::fsync(fd), 0);

        m_server.stop();
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(m_mountPoint + QStringLiteral("/sub")).constData(), &st) == 0
                && ::stat(QFile::encodeName(m_mountPoint + QStringLiteral("/absent")).constData(), &st) == 0,
            false);
        QTRY_VERIFY(control(socket, "status\n").startsWith(QStringLiteral("state=offline")));
        QVERIFY(!mountLine(m_mountPoint).isEmpty());

        QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
        QTRY_VERIFY_WITH_TIMEOUT(control(socket, "status\n").startsWith(QStringLiteral("state=online")), 15000);
        QCOMPARE(::pwrite(fd, "after", 5, 7), 5);
        QCOMPARE(::fsync(fd), 0);
        QCOMPARE(::close(fd), 0);
        QCOMPARE(readFile(m_shareFolder + QStringLiteral("/kept.txt")), QByteArray("before after"));
        QCOMPARE(control(socket, "quit\n"), QStringLiteral("ok"));
        QTRY_VERIFY(!QFile::exists(socket));
    }

    // Servers that insist on signing and on encryption are reached all the same.
    void logsInWhereSigningAndEncryptionAreRequired()
    {
        SambaServer strict;
        strict.setPassword(kPassword);
        strict.addGlobalOption(QStringLiteral("server signing = mandatory"));
        strict.addGlobalOption(QStringLiteral("smb encrypt = required"));
        const QString folder = strict.addShare(QStringLiteral("safe"), false);
        QVERIFY(writeFile(folder + QStringLiteral("/inside.txt"), "sealed"));
        QVERIFY2(strict.start(), qPrintable(strict.errorString()));
        const QString source = QStringLiteral("//127.0.0.1:%1/safe").arg(strict.port());
        for (const QStringList& extra : {QStringList{}, QStringList{QStringLiteral("--encrypt")}}) {
            const Run run = runSmbfs(QStringList{QStringLiteral("--check"), QStringLiteral("--credentials-stdin")}
                    + extra + QStringList{QStringLiteral("--"), source},
                login());
            QVERIFY2(run.code == 0, qPrintable(run.err));
        }
        QTemporaryDir parent;
        m_mountPoint = parent.path();
        const QString socket = parent.path() + QStringLiteral(".sock");
        const Run started = runSmbfs({QStringLiteral("--credentials-stdin"), QStringLiteral("--control"), socket,
                                         QStringLiteral("--"), source, m_mountPoint},
            login());
        QVERIFY2(started.code == 0, qPrintable(started.err));
        QCOMPARE(readFile(m_mountPoint + QStringLiteral("/inside.txt")), QByteArray("sealed"));
        QCOMPARE(control(socket, "quit\n"), QStringLiteral("ok"));
        QTRY_VERIFY(mountLine(m_mountPoint).isEmpty());
        QTRY_VERIFY(!QFile::exists(socket));
    }

private:
    SambaServer m_server;
    QString m_shareFolder;
    QString m_source;
    QString m_mountPoint;
};

VANTREL_TEST_MAIN(TestSmbFs)
#include "tst_SmbFs.moc"
