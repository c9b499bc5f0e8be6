#include "smbfs/SmbfsMount.h"
#include "support/Files.h"
#include "support/SambaServer.h"
#include "support/SlowLink.h"
#include "support/TestMain.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>

#include <cerrno>
#include <cstring>
#include <memory>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vantrel::test;

namespace {

const QString& password = testPassword;
// A call the daemon answers at once takes far less; one that waits for a lost server is bounded
// by the mount's time-out.
constexpr int callBoundMs = 20000;

QString describe(const BoundedCall& call)
{
    if (!call.finished)
        return QStringLiteral("no answer within %1 ms").arg(call.elapsedMs);
    return QStringLiteral("result %1 (%2) after %3 ms")
        .arg(call.result)
        .arg(call.result < 0 ? QString::fromLocal8Bit(std::strerror(call.error)) : QStringLiteral("ok"))
        .arg(call.elapsedMs);
}

// Creates the file with the content, synced and closed; -1 at the first call that fails.
BoundedCall writeCall(const QString& path, const QByteArray& content, int boundMs = callBoundMs)
{
    const QByteArray name = QFile::encodeName(path);
    return runBounded(
        [name, content] {
            const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (fd < 0)
                return -1L;
            if (::write(fd, content.constData(), static_cast<size_t>(content.size())) != content.size()
                || ::fsync(fd) != 0) {
                const int error = errno;
                ::close(fd);
                errno = error;
                return -1L;
            }
            return long(::close(fd));
        },
        boundMs);
}

// Reads the whole file; the result is its size, the content lands in *content.
BoundedCall readCall(const QString& path, std::shared_ptr<QByteArray> content, int boundMs = callBoundMs)
{
    const QByteArray name = QFile::encodeName(path);
    return runBounded(
        [name, content] {
            const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
            if (fd < 0)
                return -1L;
            char buffer[65536];
            ssize_t got = 0;
            while ((got = ::read(fd, buffer, sizeof buffer)) > 0)
                content->append(buffer, got);
            const int error = errno;
            ::close(fd);
            errno = error;
            return got < 0 ? -1L : long(content->size());
        },
        boundMs);
}

BoundedCall listCall(const QString& path, std::shared_ptr<QStringList> names, int boundMs = callBoundMs)
{
    const QByteArray name = QFile::encodeName(path);
    return runBounded(
        [name, names] {
            DIR* folder = ::opendir(name.constData());
            if (!folder)
                return -1L;
            errno = 0;
            while (const dirent* entry = ::readdir(folder)) {
                const QString found = QFile::decodeName(entry->d_name);
                if (found != QLatin1String(".") && found != QLatin1String(".."))
                    names->append(found);
            }
            const int error = errno;
            ::closedir(folder);
            errno = error;
            names->sort();
            return error == 0 ? long(names->size()) : -1L;
        },
        boundMs);
}

BoundedCall pwriteCall(int fd, const QByteArray& data, qint64 offset, bool sync, int boundMs = callBoundMs)
{
    return runBounded(
        [fd, data, offset, sync] {
            if (::pwrite(fd, data.constData(), static_cast<size_t>(data.size()), offset) != data.size())
                return -1L;
            return sync ? long(::fsync(fd)) : 0L;
        },
        boundMs);
}

BoundedCall fsyncCall(int fd, int boundMs = callBoundMs)
{
    return runBounded([fd] { return long(::fsync(fd)); }, boundMs);
}

BoundedCall closeCall(int fd, int boundMs = callBoundMs)
{
    return runBounded([fd] { return long(::close(fd)); }, boundMs);
}

// A call that hangs leaves the mount aborted (which ends the call) and the test failed.
#define VERIFY_ANSWERED(mount, call)                                                                                   \
    do {                                                                                                               \
        if (!(call).finished) {                                                                                        \
            (mount).abort();                                                                                           \
            QFAIL(qPrintable(QStringLiteral(#call ": ") + describe(call)));                                            \
        }                                                                                                              \
    } while (false)

#define VERIFY_SUCCEEDS(mount, call)                                                                                   \
    do {                                                                                                               \
        VERIFY_ANSWERED(mount, call);                                                                                  \
        QVERIFY2((call).result >= 0, qPrintable(QStringLiteral(#call ": ") + describe(call) + (mount).output()));      \
    } while (false)

struct Server {
    explicit Server(const QStringList& globalOptions = {})
    {
        server.setPassword(password);
        for (const QString& option : globalOptions)
            server.addGlobalOption(option);
        folder = server.addShare(QStringLiteral("data"), false);
    }
    SambaServer server;
    QString folder;
};

} // namespace

class SmbfsServerLoss : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (smbfsBinary().isEmpty())
            QSKIP("this build has no vantrel-smbfs");
    }

    // A server drops a connection it finds idle (as after 40 s without a call): the next calls
    // go on as if nothing happened, the file left open included.
    void callsAfterTheServerDroppedTheConnection()
    {
        Server share;
        QVERIFY2(share.server.start(), qPrintable(share.server.errorString()));
        SmbfsMount mount(share.server, QStringLiteral("data"), password,
            {QStringLiteral("--timeout"), QStringLiteral("5")});
        QVERIFY2(mount.start(), qPrintable(mount.error));
        const BoundedCall before = writeCall(mount.path(QStringLiteral("before.txt")), "before");
        VERIFY_SUCCEEDS(mount, before);
        const int fd = ::open(QFile::encodeName(mount.path(QStringLiteral("kept.txt"))).constData(),
            O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        QVERIFY(fd >= 0);
        auto closeKept = qScopeGuard([fd] { ::close(fd); });
        const BoundedCall kept = pwriteCall(fd, "kept", 0, true);
        VERIFY_SUCCEEDS(mount, kept);

        // The release of the file closed before reaches the daemon after close() returned.
        QTRY_COMPARE_WITH_TIMEOUT(parseStatus(mount.status()).value(QStringLiteral("open")), QStringLiteral("1"),
            10000);
        const QMap<QString, QString> status = parseStatus(mount.status());
        QCOMPARE(status.value(QStringLiteral("state")), QStringLiteral("online"));
        QCOMPARE(status.value(QStringLiteral("source")), mount.source);

        QVERIFY(share.server.dropConnections() > 0);

        auto names = std::make_shared<QStringList>();
        const BoundedCall list = listCall(mount.mountPoint, names);
        VERIFY_SUCCEEDS(mount, list);
        QCOMPARE(*names, (QStringList{QStringLiteral("before.txt"), QStringLiteral("kept.txt")}));
        auto content = std::make_shared<QByteArray>();
        const BoundedCall read = readCall(mount.path(QStringLiteral("before.txt")), content);
        VERIFY_SUCCEEDS(mount, read);
        QCOMPARE(*content, QByteArray("before"));
        const BoundedCall after = writeCall(mount.path(QStringLiteral("after.txt")), "after");
        VERIFY_SUCCEEDS(mount, after);
        QCOMPARE(readFile(share.folder + QStringLiteral("/after.txt")), QByteArray("after"));
        const BoundedCall more = pwriteCall(fd, " and more", 4, true);
        VERIFY_SUCCEEDS(mount, more);
        closeKept.dismiss();
        const BoundedCall closed = closeCall(fd);
        VERIFY_SUCCEEDS(mount, closed);
        QCOMPARE(readFile(share.folder + QStringLiteral("/kept.txt")), QByteArray("kept and more"));
        QCOMPARE(mount.state(), QStringLiteral("online"));
        // The release of the last file reaches the daemon after close() returned.
        QTRY_COMPARE_WITH_TIMEOUT(parseStatus(mount.status()).value(QStringLiteral("open")), QStringLiteral("0"),
            10000);
        QVERIFY2(mount.unmount(), qPrintable(mount.error));
    }

    // Written while the server was stopped, closed after it came back: the server has the data,
    // or close() said it has not.
    void writeAcrossAServerRestartIsDeliveredOrReported()
    {
        Server share;
        QVERIFY2(share.server.start(), qPrintable(share.server.errorString()));
        SmbfsMount mount(share.server, QStringLiteral("data"), password,
            {QStringLiteral("--timeout"), QStringLiteral("3")});
        QVERIFY2(mount.start(), qPrintable(mount.error));
        const QByteArray first(64 * 1024, 'A');
        const QByteArray second(64 * 1024, 'B');
        const int fd = ::open(QFile::encodeName(mount.path(QStringLiteral("report.doc"))).constData(),
            O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        QVERIFY(fd >= 0);
        auto closeFile = qScopeGuard([fd] { ::close(fd); });
        const BoundedCall synced = pwriteCall(fd, first, 0, true);
        VERIFY_SUCCEEDS(mount, synced);
        QCOMPARE(readFile(share.folder + QStringLiteral("/report.doc")), first);

        share.server.stop();
        const BoundedCall written = pwriteCall(fd, second, first.size(), false);
        VERIFY_ANSWERED(mount, written);
        QVERIFY2(share.server.start(), qPrintable(share.server.errorString()));
        QTRY_COMPARE_WITH_TIMEOUT(mount.state(), QStringLiteral("online"), 30000);
        closeFile.dismiss();
        const BoundedCall closed = closeCall(fd);
        VERIFY_ANSWERED(mount, closed);
        const QByteArray held = readFile(share.folder + QStringLiteral("/report.doc"));
        if (written.result == 0 && closed.result == 0)
            QVERIFY2(held == first + second,
                qPrintable(QStringLiteral("write and close succeeded, the server holds %1 of %2 bytes")
                               .arg(held.size())
                               .arg(first.size() + second.size())));
        else
            QVERIFY2(held.startsWith(first), "the synced part was lost");
        QVERIFY(isSmbfsMounted(mount.mountPoint));
        QVERIFY2(mount.unmount(), qPrintable(mount.error));
    }

    // fsync() while the server is stopped cannot succeed; once it is back, the writer that kept the
    // file open writes again and the server holds everything.
    void writerGoesOnAfterTheServerCameBack()
    {
        Server share;
        QVERIFY2(share.server.start(), qPrintable(share.server.errorString()));
        SmbfsMount mount(share.server, QStringLiteral("data"), password,
            {QStringLiteral("--timeout"), QStringLiteral("3")});
        QVERIFY2(mount.start(), qPrintable(mount.error));
        const QByteArray first(100 * 1000, 'a');
        const QByteArray second(50 * 1000, 'b');
        const int fd = ::open(QFile::encodeName(mount.path(QStringLiteral("journal.log"))).constData(),
            O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        QVERIFY(fd >= 0);
        auto closeFile = qScopeGuard([fd] { ::close(fd); });
        const BoundedCall synced = pwriteCall(fd, first, 0, true);
        VERIFY_SUCCEEDS(mount, synced);

        share.server.stop();
        const BoundedCall written = pwriteCall(fd, second, first.size(), false);
        VERIFY_ANSWERED(mount, written);
        const BoundedCall lost = fsyncCall(fd);
        VERIFY_ANSWERED(mount, lost);
        if (written.result == 0)
            QVERIFY2(lost.result == -1, qPrintable(QStringLiteral("fsync with the server stopped: ") + describe(lost)));
        QVERIFY(isSmbfsMounted(mount.mountPoint));
        QCOMPARE(mount.state(), QStringLiteral("offline"));

        QVERIFY2(share.server.start(), qPrintable(share.server.errorString()));
        QTRY_COMPARE_WITH_TIMEOUT(mount.state(), QStringLiteral("online"), 30000);
        const BoundedCall again = pwriteCall(fd, second, first.size(), true);
        VERIFY_SUCCEEDS(mount, again);
        closeFile.dismiss();
        const BoundedCall closed = closeCall(fd);
        VERIFY_SUCCEEDS(mount, closed);
        QCOMPARE(readFile(share.folder + QStringLiteral("/journal.log")), first + second);
        QVERIFY2(mount.unmount(), qPrintable(mount.error));
    }

    // A link of a megabyte a second under a time-out of a second: a read-ahead of several
    // megabytes, or a megabyte written at once, would each outlast the bound and take the mount
    // offline. Large files go through both ways, and the mount stays online.
    void aSlowLinkCarriesLargeFilesWithinTheBound()
    {
        Server share;
        QVERIFY2(share.server.start(), qPrintable(share.server.errorString()));
        SlowLink link(share.server.port(), 1024 * 1024);
        QVERIFY2(link.start(), qPrintable(link.errorString));
        SmbfsMount mount(share.server, QStringLiteral("data"), password,
            {QStringLiteral("--timeout"), QStringLiteral("1")});
        mount.source = QStringLiteral("//127.0.0.1:%1/data").arg(link.port());
        QVERIFY2(mount.start(), qPrintable(mount.error));

        QByteArray content;
        for (int i = 0; content.size() < 3 * 1024 * 1024; ++i)
            content += QByteArray::number(i) + ' ';
        QVERIFY(writeFile(share.folder + QStringLiteral("/large.bin"), content));
        const auto read = std::make_shared<QByteArray>();
        const BoundedCall reading = readCall(mount.path(QStringLiteral("large.bin")), read);
        VERIFY_SUCCEEDS(mount, reading);
        QVERIFY2(*read == content,
            qPrintable(QStringLiteral("read %1 of %2 bytes").arg(read->size()).arg(content.size())));
        QCOMPARE(mount.state(), QStringLiteral("online"));

        const QByteArray upload = content.left(3 * 1024 * 1024 / 2);
        const BoundedCall writing = writeCall(mount.path(QStringLiteral("upload.bin")), upload);
        VERIFY_SUCCEEDS(mount, writing);
        QCOMPARE(readFile(share.folder + QStringLiteral("/upload.bin")), upload);
        QCOMPARE(mount.state(), QStringLiteral("online"));
        QVERIFY2(mount.unmount(), qPrintable(mount.error));
    }

    void frozenServerFailsCallsWithinTheBound_data()
    {
        QTest::addColumn<bool>("releasing");
        QTest::newRow("idle") << false;
        // The last close of a file reaches the daemon after close() returned, when the server is
        // frozen already: what the daemon does with it counts against the bound of the next call.
        QTest::newRow("a file being released") << true;
    }

    void frozenServerFailsCallsWithinTheBound()
    {
        QFETCH(bool, releasing);
        constexpr int timeoutSeconds = 4;
        Server share;
        QVERIFY2(share.server.start(), qPrintable(share.server.errorString()));
        SmbfsMount mount(share.server, QStringLiteral("data"), password,
            {QStringLiteral("--timeout"), QString::number(timeoutSeconds)});
        QVERIFY2(mount.start(), qPrintable(mount.error));
        const BoundedCall before = writeCall(mount.path(QStringLiteral("before.txt")), "before");
        VERIFY_SUCCEEDS(mount, before);
        const QList<int> lostServer{EIO, ETIMEDOUT};
        int open = -1;
        if (releasing) {
            open = ::open(QFile::encodeName(mount.path(QStringLiteral("open.txt"))).constData(),
                O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
            QVERIFY(open >= 0);
            const BoundedCall synced = pwriteCall(open, "open", 0, true);
            VERIFY_SUCCEEDS(mount, synced);
        }
        auto closeOpen = qScopeGuard([open] {
            if (open >= 0)
                ::close(open);
        });
        QTRY_COMPARE_WITH_TIMEOUT(parseStatus(mount.status()).value(QStringLiteral("open")),
            QString::number(releasing ? 1 : 0), 10000);

        share.server.freeze();
        // Declared after the mount, so it runs first: a failed test thaws before the unmount.
        auto thaw = qScopeGuard([&share] { share.server.thaw(); });
        if (releasing) {
            closeOpen.dismiss();
            const BoundedCall closed = closeCall(open);
            VERIFY_ANSWERED(mount, closed);
        }
        // The first call waits for the bound; the control socket answers meanwhile.
        BoundedCall first;
        // Creating a file has to reach the server, whatever the daemon keeps of the folder.
        std::thread waiting([&first, &mount] { first = writeCall(mount.path(QStringLiteral("first.txt")), "first"); });
        QElapsedTimer asking;
        asking.start();
        const QByteArray status = mount.status();
        const qint64 answerMs = asking.elapsed();
        waiting.join();
        QVERIFY2(!status.isEmpty(), "the control socket did not answer while a call waited for the server");
        QVERIFY2(answerMs < 2000, qPrintable(QStringLiteral("status took %1 ms").arg(answerMs)));
        VERIFY_ANSWERED(mount, first);
        QVERIFY2(first.result == -1 && lostServer.contains(first.error), qPrintable(describe(first)));
        QVERIFY2(first.elapsedMs < timeoutSeconds * 1000 + 3000, qPrintable(describe(first)));
        // Later calls fail at once, without waiting for the bound again.
        const BoundedCall second = writeCall(mount.path(QStringLiteral("second.txt")), "second");
        VERIFY_ANSWERED(mount, second);
        QVERIFY2(second.result == -1 && lostServer.contains(second.error), qPrintable(describe(second)));
        QVERIFY2(second.elapsedMs < timeoutSeconds * 1000 / 2, qPrintable(describe(second)));
        QVERIFY(isSmbfsMounted(mount.mountPoint));
        QVERIFY(mount.processRunning());
        QCOMPARE(mount.state(), QStringLiteral("offline"));

        thaw.dismiss();
        share.server.thaw();
        QTRY_COMPARE_WITH_TIMEOUT(mount.state(), QStringLiteral("online"), 30000);
        auto content = std::make_shared<QByteArray>();
        const BoundedCall read = readCall(mount.path(QStringLiteral("before.txt")), content);
        VERIFY_SUCCEEDS(mount, read);
        QCOMPARE(*content, QByteArray("before"));
        const BoundedCall after = writeCall(mount.path(QStringLiteral("after.txt")), "after");
        VERIFY_SUCCEEDS(mount, after);
        QCOMPARE(readFile(share.folder + QStringLiteral("/after.txt")), QByteArray("after"));
        QVERIFY2(mount.unmount(), qPrintable(mount.error));
    }

    void serversThatRequireProtection_data()
    {
        QTest::addColumn<QStringList>("serverOptions");
        QTest::addColumn<QStringList>("mountOptions");
        QTest::newRow("signing mandatory")
            << QStringList{QStringLiteral("server signing = mandatory")} << QStringList{};
        QTest::newRow("encryption required")
            << QStringList{QStringLiteral("server smb encrypt = required")} << QStringList{};
        QTest::newRow("encryption asked for")
            << QStringList{QStringLiteral("server smb encrypt = required")} << QStringList{QStringLiteral("--encrypt")};
    }

    void serversThatRequireProtection()
    {
        QFETCH(QStringList, serverOptions);
        QFETCH(QStringList, mountOptions);
        Server share(serverOptions);
        QVERIFY2(share.server.start(), qPrintable(share.server.errorString()));
        QFile held(share.folder + QStringLiteral("/from-server.txt"));
        QVERIFY(held.open(QIODevice::WriteOnly) && held.write(QByteArray(300000, 's')) == 300000);
        held.close();
        SmbfsMount mount(share.server, QStringLiteral("data"), password, mountOptions);
        QVERIFY2(mount.start(), qPrintable(mount.error));
        auto content = std::make_shared<QByteArray>();
        const BoundedCall read = readCall(mount.path(QStringLiteral("from-server.txt")), content);
        VERIFY_SUCCEEDS(mount, read);
        QCOMPARE(*content, QByteArray(300000, 's'));
        const BoundedCall written = writeCall(mount.path(QStringLiteral("from-mount.txt")), QByteArray(200000, 'm'));
        VERIFY_SUCCEEDS(mount, written);
        QCOMPARE(readFile(share.folder + QStringLiteral("/from-mount.txt")), QByteArray(200000, 'm'));
        QVERIFY2(mount.unmount(), qPrintable(mount.error));
    }
};

VANTREL_TEST_MAIN(SmbfsServerLoss)
#include "tst_SmbfsServerLoss.moc"
