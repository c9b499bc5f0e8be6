#include "smbfs/SmbfsMount.h"
#include "support/Files.h"
#include "support/SambaServer.h"
#include "support/TestMain.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <random>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace vantrel::test;

namespace {

const QString& password = testPassword;

// Writes through the system calls a program uses, reporting the first that fails.
QString writeReportingFailure(const QString& path, const QByteArray& content, bool sync = false)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return QStringLiteral("open %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    QString failure;
    if (::write(fd, content.constData(), static_cast<size_t>(content.size())) != content.size())
        failure = QStringLiteral("write: ") + QString::fromLocal8Bit(std::strerror(errno));
    else if (sync && ::fsync(fd) != 0)
        failure = QStringLiteral("fsync: ") + QString::fromLocal8Bit(std::strerror(errno));
    if (::close(fd) != 0 && failure.isEmpty())
        failure = QStringLiteral("close: ") + QString::fromLocal8Bit(std::strerror(errno));
    return failure;
}

QStringList entries(const QString& folder)
{
    QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

QString errorName(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The first offset where two contents differ, for a failure message.
QString difference(const QByteArray& actual, const QByteArray& expected)
{
    const qsizetype common = std::min(actual.size(), expected.size());
    qsizetype at = 0;
    while (at < common && actual.at(at) == expected.at(at))
        ++at;
    return QStringLiteral("%1 bytes where %2 were expected, first difference at %3")
        .arg(actual.size())
        .arg(expected.size())
        .arg(at);
}

void resizeWithZeros(QByteArray& data, qsizetype size)
{
    const qsizetype old = data.size();
    data.resize(size);
    if (size > old)
        std::memset(data.data() + old, 0, static_cast<size_t>(size - old));
}

// Random writes, truncates, reads, shared mmap writes, fsyncs and reopenings of one file, each
// step checked against a model of the content; at every fsync the server's own copy must match.
// Empty when everything matched.
QString exercise(const QString& mountFile, const QString& serverFile, quint64 seed, int steps)
{
    constexpr qint64 maxSize = 384 * 1024;
    std::mt19937_64 random(seed);
    const auto below = [&random](qint64 bound) {
        return bound <= 0 ? qint64(0) : static_cast<qint64>(random() % static_cast<quint64>(bound));
    };
    const auto bytes = [&random](qint64 length) {
        QByteArray data(length, Qt::Uninitialized);
        for (char& byte : data)
            byte = static_cast<char>(random() & 0xff);
        return data;
    };
    const long page = ::sysconf(_SC_PAGESIZE);
    const QByteArray path = QFile::encodeName(mountFile);
    QByteArray model;
    QStringList history;
    int step = 0;
    const auto failure = [&](const QString& what) {
        return QStringLiteral("seed %1, step %2: %3\nsteps before it:\n  %4")
            .arg(seed)
            .arg(step)
            .arg(what, history.mid(std::max<qsizetype>(0, history.size() - 12)).join(QStringLiteral("\n  ")));
    };
    const auto systemFailure = [&](const char* call) {
        return failure(QLatin1String(call) + QStringLiteral(": ") + errorName(errno));
    };
    const auto serverMatches = [&]() -> QString {
        const QByteArray held = readFile(serverFile);
        return held == model ? QString() : failure(QStringLiteral("the server's copy: ") + difference(held, model));
    };

    int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return systemFailure("open");
    // Other descriptors of the same file: one that only reads, one that appends.
    const int reader = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    const int appender = ::open(path.constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
    // A failure leaves nothing open, so that the mount can be unmounted.
    auto closeFiles = qScopeGuard([&fd, reader, appender] {
        for (const int open : {fd, reader, appender})
            if (open >= 0)
                ::close(open);
    });
    if (reader < 0 || appender < 0)
        return systemFailure("open");
    for (step = 0; step < steps; ++step) {
        const qint64 kind = below(100);
        if (kind < 30) {
            const qint64 offset = below(maxSize);
            const qint64 length = std::min<qint64>(1 + below(64 * 1024), maxSize - offset);
            const QByteArray data = bytes(length);
            history << QStringLiteral("pwrite %1 bytes at %2").arg(length).arg(offset);
            if (::pwrite(fd, data.constData(), static_cast<size_t>(length), offset) != length)
                return systemFailure("pwrite");
            if (model.size() < offset + length)
                resizeWithZeros(model, offset + length);
            std::memcpy(model.data() + offset, data.constData(), static_cast<size_t>(length));
        } else if (kind < 35) {
            const qint64 length = std::min<qint64>(1 + below(16 * 1024), maxSize - model.size());
            if (length <= 0)
                continue;
            const QByteArray data = bytes(length);
            history << QStringLiteral("append %1 bytes").arg(length);
            if (::write(appender, data.constData(), static_cast<size_t>(length)) != length)
                return systemFailure("write with O_APPEND");
            model += data;
        } else if (kind < 45) {
            const qint64 size = below(maxSize + 1);
            history << QStringLiteral("ftruncate to %1").arg(size);
            if (::ftruncate(fd, size) != 0)
                return systemFailure("ftruncate");
            resizeWithZeros(model, size);
        } else if (kind < 60) {
            const qint64 offset = below(model.size() + 4096);
            const qint64 length = 1 + below(64 * 1024);
            const bool other = below(2) == 1;
            history << QStringLiteral("pread %1 bytes at %2%3").arg(length).arg(offset).arg(other ? " (reader)" : "");
            QByteArray got(length, Qt::Uninitialized);
            const ssize_t read = ::pread(other ? reader : fd, got.data(), static_cast<size_t>(length), offset);
            if (read < 0)
                return systemFailure("pread");
            got.resize(read);
            const QByteArray expected = model.mid(offset, length);
            if (got != expected)
                return failure(QStringLiteral("pread: ") + difference(got, expected));
        } else if (kind < 82) {
            if (model.isEmpty())
                continue;
            const qint64 offset = below(model.size());
            const qint64 length = 1 + below(std::min<qint64>(32 * 1024, model.size() - offset));
            const qint64 start = offset - offset % page;
            const size_t mapped = static_cast<size_t>(offset + length - start);
            history << QStringLiteral("mmap write %1 bytes at %2").arg(length).arg(offset);
            void* map = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_SHARED, fd, start);
            if (map == MAP_FAILED)
                return systemFailure("mmap");
            const QByteArray data = bytes(length);
            std::memcpy(static_cast<char*>(map) + (offset - start), data.constData(), static_cast<size_t>(length));
            const int synced = ::msync(map, mapped, MS_SYNC);
            const int syncError = errno;
            ::munmap(map, mapped);
            if (synced != 0)
                return failure(QStringLiteral("msync: ") + errorName(syncError));
            std::memcpy(model.data() + offset, data.constData(), static_cast<size_t>(length));
        } else if (kind < 92) {
            history << QStringLiteral("fsync");
            if (::fsync(fd) != 0)
                return systemFailure("fsync");
            if (const QString mismatch = serverMatches(); !mismatch.isEmpty())
                return mismatch;
        } else {
            history << QStringLiteral("close and open again");
            const int closed = ::close(fd);
            fd = -1;
            if (closed != 0)
                return systemFailure("close");
            fd = ::open(path.constData(), O_RDWR | O_CLOEXEC);
            if (fd < 0)
                return systemFailure("open");
        }

        struct stat status {};
        if (::fstat(fd, &status) != 0)
            return systemFailure("fstat");
        if (status.st_size != model.size())
            return failure(
                QStringLiteral("fstat says %1 bytes, %2 were written").arg(status.st_size).arg(model.size()));
        QByteArray whole(model.size() + 1, Qt::Uninitialized);
        const ssize_t read = ::pread(fd, whole.data(), static_cast<size_t>(whole.size()), 0);
        if (read < 0)
            return systemFailure("pread of the whole file");
        whole.resize(read);
        if (whole != model)
            return failure(QStringLiteral("the whole file: ") + difference(whole, model));
    }
    history << QStringLiteral("fsync and close");
    if (::fsync(fd) != 0)
        return systemFailure("fsync");
    const int closed = ::close(fd);
    fd = -1;
    if (closed != 0)
        return systemFailure("close");
    if (const QString mismatch = serverMatches(); !mismatch.isEmpty())
        return mismatch;
    const QByteArray reread = readFile(mountFile);
    return reread == model ? QString() : failure(QStringLiteral("read after close: ") + difference(reread, model));
}

} // namespace

class SmbfsFiles : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (smbfsBinary().isEmpty())
            QSKIP("this build has no vantrel-smbfs");
        m_server = std::make_unique<SambaServer>();
        m_server->setPassword(password);
        m_folder = m_server->addShare(QStringLiteral("data"), false);
        m_caseFolder = m_server->addShare(QStringLiteral("nocase"), false,
            {QStringLiteral("case sensitive = no"), QStringLiteral("preserve case = yes")});
        QVERIFY2(m_server->start(), qPrintable(m_server->errorString()));
    }

    void init()
    {
        for (const QString& folder : {m_folder, m_caseFolder}) {
            QDir(folder).removeRecursively();
            QDir().mkpath(folder);
        }
        m_mount = std::make_unique<SmbfsMount>(*m_server, QStringLiteral("data"), password);
        QVERIFY2(m_mount->start(), qPrintable(m_mount->error));
    }

    void cleanup()
    {
        if (!m_mount)
            return;
        const bool clean = m_mount->unmount();
        const QString error = m_mount->error;
        m_mount.reset();
        QVERIFY2(clean, qPrintable(error));
    }

    void cleanupTestCase() { m_server.reset(); }

    void exerciser_data()
    {
        QTest::addColumn<quint64>("seed");
        // VANTREL_SMBFS_SEED replays one seed of a failure (or tries a new one).
        const QByteArray chosen = qgetenv("VANTREL_SMBFS_SEED");
        if (!chosen.isEmpty()) {
            QTest::newRow(chosen.constData()) << chosen.toULongLong();
            return;
        }
        for (const quint64 seed : {30ULL, 1234567ULL, 20261209ULL})
            QTest::newRow(QByteArray::number(seed).constData()) << seed;
    }

    void exerciser()
    {
        QFETCH(quint64, seed);
        qInfo("exerciser seed %llu (replay with VANTREL_SMBFS_SEED=%llu)", static_cast<unsigned long long>(seed),
            static_cast<unsigned long long>(seed));
        const QString failure = exercise(m_mount->path(QStringLiteral("exercised.bin")),
            m_folder + QStringLiteral("/exercised.bin"), seed, 400);
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
    }

    void fioVerifies_data()
    {
        QTest::addColumn<QStringList>("job");
        QTest::newRow("psync") << QStringList{QStringLiteral("--ioengine=psync"), QStringLiteral("--bsrange=4k-256k"),
            QStringLiteral("--size=16m"), QStringLiteral("--fsync=8")};
        QTest::newRow("mmap") << QStringList{QStringLiteral("--ioengine=mmap"), QStringLiteral("--bsrange=4k-64k"),
            QStringLiteral("--size=8m")};
        // More than the daemon answers before the server took it.
        QTest::newRow("sequential") << QStringList{QStringLiteral("--ioengine=psync"), QStringLiteral("--rw=write"),
            QStringLiteral("--bs=1m"), QStringLiteral("--size=80m")};
    }

    // fio's own check of what it wrote, through the mount and then in the server's copy.
    void fioVerifies()
    {
        QFETCH(QStringList, job);
        const QStringList common{QStringLiteral("--name=verified"), QStringLiteral("--rw=randwrite"),
            QStringLiteral("--verify=crc32c"), QStringLiteral("--verify_fatal=1"), QStringLiteral("--randseed=30"),
            QStringLiteral("--end_fsync=1"), QStringLiteral("--verify_state_save=0")};
        for (const QStringList& where : {QStringList{QStringLiteral("--directory=") + m_mount->mountPoint},
                 QStringList{QStringLiteral("--directory=") + m_folder, QStringLiteral("--verify_only")}}) {
            QProcess fio;
            fio.setProcessChannelMode(QProcess::MergedChannels);
            fio.start(QStringLiteral("fio"), common + job + where);
            QVERIFY2(fio.waitForFinished(90000), "fio did not finish within 90 s");
            const QString output = QString::fromUtf8(fio.readAll());
            QVERIFY2(fio.exitStatus() == QProcess::NormalExit && fio.exitCode() == 0,
                qPrintable(where.join(' ') + output));
            QVERIFY2(!output.contains(QLatin1String("verify:")) && !output.contains(QLatin1String("bad magic")),
                qPrintable(where.join(' ') + output));
        }
    }

    // An editor's save: a temporary file, fsync, rename over the document.
    void saveByRenameKeepsEveryVersion()
    {
        const QString document = m_mount->path(QStringLiteral("notes.txt"));
        const QString temporary = m_mount->path(QStringLiteral(".notes.txt.swp"));
        for (int version = 1; version <= 30; ++version) {
            const QByteArray content = QByteArray("version ") + QByteArray::number(version) + '\n'
                + QByteArray(3000 + version * 97, 'a' + char(version % 26));
            const QString failure = writeReportingFailure(temporary, content, true);
            QVERIFY2(failure.isEmpty(), qPrintable(QStringLiteral("version %1: ").arg(version) + failure));
            QVERIFY2(::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(document).constData()) == 0,
                qPrintable(QStringLiteral("rename of version %1: %2").arg(version).arg(errorName(errno))));
            QCOMPARE(readFile(m_folder + QStringLiteral("/notes.txt")), content);
            QCOMPARE(entries(m_folder), QStringList{QStringLiteral("notes.txt")});
            QCOMPARE(readFile(document), content);
        }
    }

    void caseOnlyNamesAreOneFile()
    {
        SmbfsMount mount(*m_server, QStringLiteral("nocase"), password);
        QVERIFY2(mount.start(), qPrintable(mount.error));
        QCOMPARE(writeReportingFailure(mount.path(QStringLiteral("readme.md")), "one"), QString());
        QCOMPARE(writeReportingFailure(mount.path(QStringLiteral("README.md")), "two"), QString());
        QCOMPARE(entries(m_caseFolder), QStringList{QStringLiteral("readme.md")});
        QCOMPARE(readFile(m_caseFolder + QStringLiteral("/readme.md")), QByteArray("two"));
        // The mount lists what the server holds, and both spellings read the one file.
        QCOMPARE(entries(mount.mountPoint), entries(m_caseFolder));
        QCOMPARE(readFile(mount.path(QStringLiteral("readme.md"))), QByteArray("two"));
        QCOMPARE(readFile(mount.path(QStringLiteral("README.md"))), QByteArray("two"));

        // A case-only rename leaves one file, listed as the server holds it.
        QVERIFY2(::rename(QFile::encodeName(mount.path(QStringLiteral("readme.md"))).constData(),
                     QFile::encodeName(mount.path(QStringLiteral("README.md"))).constData())
                == 0,
            qPrintable(errorName(errno)));
        QCOMPARE(entries(m_caseFolder).size(), 1);
        QCOMPARE(entries(mount.mountPoint), entries(m_caseFolder));
        QCOMPARE(readFile(mount.path(QStringLiteral("README.md"))), QByteArray("two"));
        QCOMPARE(QFile::remove(mount.path(entries(m_caseFolder).value(0))), true);

        QVERIFY(QDir().mkdir(mount.path(QStringLiteral("Docs"))));
        errno = 0;
        QCOMPARE(::mkdir(QFile::encodeName(mount.path(QStringLiteral("docs"))).constData(), 0755), -1);
        QCOMPARE(errno, EEXIST);
        QCOMPARE(entries(m_caseFolder), QStringList{QStringLiteral("Docs")});
        QCOMPARE(entries(mount.mountPoint), QStringList{QStringLiteral("Docs")});
        QVERIFY2(mount.unmount(), qPrintable(mount.error));
    }

    // The errors programs act on, never EIO for what the server refused on purpose.
    void refusalsHaveTheirOwnErrors()
    {
        const auto call = [](int result) { return result == 0 ? 0 : errno; };
        const QByteArray folder = QFile::encodeName(m_mount->path(QStringLiteral("folder")));
        const QByteArray file = QFile::encodeName(m_mount->path(QStringLiteral("file.txt")));
        QCOMPARE(writeReportingFailure(QString::fromUtf8(file), "content"), QString());
        QCOMPARE(call(::mkdir(folder.constData(), 0755)), 0);
        QCOMPARE(writeReportingFailure(QString::fromUtf8(folder + "/inside"), "x"), QString());

        QCOMPARE(call(::rmdir(folder.constData())), ENOTEMPTY);
        QCOMPARE(call(::mkdir(folder.constData(), 0755)), EEXIST);
        QCOMPARE(call(::mkdir(file.constData(), 0755)), EEXIST);
        QCOMPARE(call(::open(file.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644) >= 0 ? 0 : -1), EEXIST);
        QCOMPARE(call(::rmdir(file.constData())), ENOTDIR);
        QCOMPARE(call(::open(QFile::encodeName(m_mount->path(QStringLiteral("missing"))).constData(), O_RDONLY) >= 0
                         ? 0
                         : -1),
            ENOENT);
        // What the server may not hold: rename over a folder that is not empty.
        QCOMPARE(call(::mkdir(QFile::encodeName(m_mount->path(QStringLiteral("other"))).constData(), 0755)), 0);
        const int renameError = call(
            ::rename(QFile::encodeName(m_mount->path(QStringLiteral("other"))).constData(), folder.constData()));
        QVERIFY2(renameError == ENOTEMPTY || renameError == EEXIST,
            qPrintable(QStringLiteral("rename: ") + errorName(renameError)));

        const QList<int> unsupported{EPERM, EOPNOTSUPP};
        const int symlinkError = call(
            ::symlink("file.txt", QFile::encodeName(m_mount->path(QStringLiteral("link"))).constData()));
        QVERIFY2(unsupported.contains(symlinkError), qPrintable(QStringLiteral("symlink: ") + errorName(symlinkError)));
        const int linkError = call(
            ::link(file.constData(), QFile::encodeName(m_mount->path(QStringLiteral("hard"))).constData()));
        QVERIFY2(unsupported.contains(linkError), qPrintable(QStringLiteral("link: ") + errorName(linkError)));
        const int fifoError = call(
            ::mkfifo(QFile::encodeName(m_mount->path(QStringLiteral("fifo"))).constData(), 0644));
        QVERIFY2(unsupported.contains(fifoError), qPrintable(QStringLiteral("mkfifo: ") + errorName(fifoError)));

        char value[64];
        errno = 0;
        QCOMPARE(::getxattr(file.constData(), "user.comment", value, sizeof value), ssize_t(-1));
        QVERIFY2(errno == ENODATA || errno == ENOTSUP, qPrintable(QStringLiteral("getxattr: ") + errorName(errno)));
        const int setError = call(::setxattr(file.constData(), "user.comment", "x", 1, 0));
        QVERIFY2(setError == 0 || setError == ENOTSUP, qPrintable(QStringLiteral("setxattr: ") + errorName(setError)));

        // Nothing the refusals left behind on the server.
        QCOMPARE(entries(m_folder),
            (QStringList{QStringLiteral("file.txt"), QStringLiteral("folder"), QStringLiteral("other")}));
        QCOMPARE(readFile(m_folder + QStringLiteral("/file.txt")), QByteArray("content"));
    }

    void namesUpTo255Bytes()
    {
        const QString ascii(255, QLatin1Char('n'));
        const QString wide(85, QChar(0x65e5)); // 255 bytes in UTF-8
        for (const QString& name : {ascii, wide}) {
            QCOMPARE(QFile::encodeName(name).size(), 255);
            QCOMPARE(writeReportingFailure(m_mount->path(name), name.toUtf8()), QString());
            QCOMPARE(readFile(m_folder + QLatin1Char('/') + name), name.toUtf8());
        }
        for (const QString& name : {ascii + QLatin1Char('n'), wide + QChar(0x65e5)}) {
            const QByteArray path = QFile::encodeName(m_mount->path(name));
            errno = 0;
            QCOMPARE(::open(path.constData(), O_WRONLY | O_CREAT, 0644), -1);
            QCOMPARE(errno, ENAMETOOLONG);
            QCOMPARE(::mkdir(path.constData(), 0755), -1);
            QCOMPARE(errno, ENAMETOOLONG);
        }
        QStringList expected{ascii, wide};
        expected.sort();
        QCOMPARE(entries(m_mount->mountPoint), expected);
        QCOMPARE(entries(m_folder), expected);
    }

    // Offsets past 32 bits, in a sparse file.
    void filesOver4GiB()
    {
        constexpr qint64 fourGiB = qint64(4) << 30;
        constexpr qint64 tail = fourGiB + 3 * 4096 + 100;
        const QByteArray path = QFile::encodeName(m_mount->path(QStringLiteral("huge.bin")));
        const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        QVERIFY2(fd >= 0, qPrintable(errorName(errno)));
        auto closeFile = qScopeGuard([fd] { ::close(fd); });
        QCOMPARE(::pwrite(fd, "head", 4, 0), ssize_t(4));
        QCOMPARE(::pwrite(fd, "tail", 4, tail), ssize_t(4));
        QCOMPARE(::fsync(fd), 0);
        struct stat status {};
        QCOMPARE(::fstat(fd, &status), 0);
        QCOMPARE(qint64(status.st_size), tail + 4);

        QFile held(m_folder + QStringLiteral("/huge.bin"));
        QVERIFY(held.open(QIODevice::ReadOnly));
        QCOMPARE(held.size(), tail + 4);
        QVERIFY(held.seek(tail));
        QCOMPARE(held.read(4), QByteArray("tail"));
        char back[8] = {1, 1, 1, 1, 1, 1, 1, 1};
        QCOMPARE(::pread(fd, back, 4, tail), ssize_t(4));
        QCOMPARE(QByteArray(back, 4), QByteArray("tail"));
        QCOMPARE(::pread(fd, back, 8, fourGiB - 4), ssize_t(8));
        QCOMPARE(QByteArray(back, 8), QByteArray(8, '\0'));

        QCOMPARE(::ftruncate(fd, fourGiB + 1), 0);
        QCOMPARE(::fsync(fd), 0);
        QCOMPARE(QFileInfo(held.fileName()).size(), fourGiB + 1);
        closeFile.dismiss();
        QCOMPARE(::close(fd), 0);
        QCOMPARE(QFileInfo(QString::fromUtf8(path)).size(), fourGiB + 1);
    }

    // A copy into a new folder asks for every name before making it; the mount answers from what
    // it knows is absent. Nothing made since may be missed, in any spelling the server folds.
    void namesKnownAbsentAppearOnceMade()
    {
        SmbfsMount mount(*m_server, QStringLiteral("nocase"), password);
        QVERIFY2(mount.start(), qPrintable(mount.error));
        const auto exists = [](const QString& path) {
            struct stat status {};
            return ::stat(QFile::encodeName(path).constData(), &status) == 0;
        };
        const QString copy = mount.path(QStringLiteral("copy"));
        QVERIFY(QDir().mkdir(copy));
        QVERIFY(!exists(copy + QStringLiteral("/Notes.txt")));
        QCOMPARE(writeReportingFailure(copy + QStringLiteral("/Notes.txt"), "notes"), QString());
        // A spelling the kernel has not seen yet is asked of the daemon.
        QVERIFY(exists(copy + QStringLiteral("/NOTES.TXT")));
        QCOMPARE(readFile(copy + QStringLiteral("/notes.txt")), QByteArray("notes"));

        // A folder moved in, also over an empty one made here, brings what it holds.
        for (const QString& target : {QStringLiteral("tree"), QStringLiteral("empty")}) {
            const QString tree = mount.path(QStringLiteral("moved"));
            QVERIFY(QDir().mkdir(tree));
            QCOMPARE(writeReportingFailure(tree + QStringLiteral("/inner.txt"), target.toUtf8()), QString());
            if (target == QLatin1String("empty"))
                QVERIFY(QDir().mkdir(copy + QLatin1Char('/') + target));
            QVERIFY2(::rename(QFile::encodeName(tree).constData(),
                         QFile::encodeName(copy + QLatin1Char('/') + target).constData())
                    == 0,
                qPrintable(errorName(errno)));
            QCOMPARE(readFile(copy + QLatin1Char('/') + target.toUpper() + QStringLiteral("/INNER.txt")),
                target.toUtf8());
        }

        // What the server has been told by someone else is seen once the kernel's own caches
        // would have asked again.
        const QString theirs = mount.path(QStringLiteral("theirs.txt"));
        QVERIFY(!exists(theirs));
        QVERIFY(writeFile(m_caseFolder + QStringLiteral("/theirs.txt"), "theirs"));
        QTRY_VERIFY_WITH_TIMEOUT(exists(theirs), 4000);
        QCOMPARE(readFile(theirs), QByteArray("theirs"));
        QVERIFY2(mount.unmount(), qPrintable(mount.error));
    }

    // The kernel forgets a folder's attributes after each change in it and asks again; the
    // answer carries the times of the change, not those from before it.
    void aFolderShowsTheTimeOfTheChangesMadeInIt()
    {
        const QString folder = m_folder + QStringLiteral("/dated");
        QVERIFY(QDir().mkdir(folder));
        const timespec old[2] = {{978307200, 0}, {978307200, 0}}; // 2001-01-01
        QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(folder).constData(), old, 0), 0);
        const QByteArray seen = QFile::encodeName(m_mount->path(QStringLiteral("dated")));
        const auto modified = [&] {
            struct stat status {};
            return ::stat(seen.constData(), &status) == 0 ? qint64(status.st_mtim.tv_sec) : qint64(-1);
        };
        QCOMPARE(modified(), qint64(978307200));
        const qint64 before = QDateTime::currentSecsSinceEpoch() - 60;
        for (const char* change : {"create", "rename", "remove"}) {
            QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(folder).constData(), old, 0), 0);
            const QString file = m_mount->path(QStringLiteral("dated/file"));
            if (!std::strcmp(change, "create"))
                QCOMPARE(writeReportingFailure(file, "x"), QString());
            else if (!std::strcmp(change, "rename"))
                QCOMPARE(::rename(QFile::encodeName(file).constData(), QFile::encodeName(file + "2").constData()), 0);
            else
                QCOMPARE(::unlink(QFile::encodeName(file + "2").constData()), 0);
            QVERIFY2(modified() >= before, change);
        }
    }

    void unlinkWhileOpen()
    {
        const QByteArray path = QFile::encodeName(m_mount->path(QStringLiteral("scratch")));
        const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        QVERIFY2(fd >= 0, qPrintable(errorName(errno)));
        auto closeFile = qScopeGuard([fd] { ::close(fd); });
        QCOMPARE(::write(fd, "first", 5), ssize_t(5));
        QCOMPARE(::unlink(path.constData()), 0);
        struct stat status {};
        QCOMPARE(::stat(path.constData(), &status), -1);
        QCOMPARE(errno, ENOENT);
        QCOMPARE(entries(m_mount->mountPoint), QStringList());
        // The open file goes on working.
        QCOMPARE(::pwrite(fd, " second", 7, 5), ssize_t(7));
        char back[32] = {};
        QCOMPARE(::pread(fd, back, sizeof back, 0), ssize_t(12));
        QCOMPARE(QByteArray(back), QByteArray("first second"));
        QCOMPARE(::fsync(fd), 0);
        closeFile.dismiss();
        QCOMPARE(::close(fd), 0);
        // The release reaches the daemon after close() returns; nothing of the file stays behind.
        QCOMPARE(writeReportingFailure(m_mount->path(QStringLiteral("marker")), "m"), QString());
        QTRY_COMPARE_WITH_TIMEOUT(entries(m_folder), QStringList{QStringLiteral("marker")}, 15000);
        QCOMPARE(entries(m_mount->mountPoint), QStringList{QStringLiteral("marker")});
    }

private:
    std::unique_ptr<SambaServer> m_server;
    std::unique_ptr<SmbfsMount> m_mount;
    QString m_folder;
    QString m_caseFolder;
};

VANTREL_TEST_MAIN(SmbfsFiles)
#include "tst_SmbfsFiles.moc"
