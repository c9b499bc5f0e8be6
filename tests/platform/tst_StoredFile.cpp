#include "support/Files.h"
#include "support/TestMain.h"

#include "platform/StoredFile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace vantrel;
using namespace vantrel::test;
using State = StoredFile::Contents::State;

class TestStoredFile : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString path(const QString& name) const { return m_dir.filePath(name); }

    QString fifo(const QString& name) const
    {
        const QString p = path(name);
        return ::mkfifo(QFile::encodeName(p).constData(), 0600) == 0 ? p : QString();
    }

private slots:
    void writeIsOwnerOnlyAndMakesOwnerOnlyFolders()
    {
        const QString folder = path(QStringLiteral("shared"));
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(QFile::setPermissions(folder, QFileDevice::Permissions(0x7755)));
        const QString target = folder + QStringLiteral("/a/b/store.json");

        QCOMPARE(StoredFile::write(target, "{}"), std::nullopt);
        QCOMPARE(readFile(target), QByteArray("{}"));
        QVERIFY(isOwnerOnly(target));
        QVERIFY(isOwnerOnly(folder + QStringLiteral("/a")));
        QVERIFY(isOwnerOnly(folder + QStringLiteral("/a/b")));
        // A folder that was there keeps what its owner chose.
        QCOMPARE(QFileInfo(folder).permissions() & QFileDevice::ReadOther, QFileDevice::ReadOther);

        // Replacing a file others could read leaves one they cannot.
        QVERIFY(QFile::setPermissions(target, QFileDevice::Permissions(0x6644)));
        QCOMPARE(StoredFile::write(target, "[]"), std::nullopt);
        QCOMPARE(readFile(target), QByteArray("[]"));
        QVERIFY(isOwnerOnly(target));
    }

    void failedWriteLeavesThePreviousFileWhole()
    {
        const QString target = path(QStringLiteral("keep/store.json"));
        QCOMPARE(StoredFile::write(target, "previous"), std::nullopt);

        // The disk refuses the new bytes part-way (a file size limit stands in for a full disk).
        struct rlimit saved {};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        struct rlimit small = saved;
        small.rlim_cur = 4;
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
        const std::optional<QString> failure = StoredFile::write(target, QByteArray(64, 'n'));
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previousHandler);

        QVERIFY(failure && !failure->isEmpty());
        QCOMPARE(readFile(target), QByteArray("previous"));
        QCOMPARE(QDir(path(QStringLiteral("keep"))).entryList(QDir::Files | QDir::Hidden), QStringList{"store.json"});

        // A folder standing where the file goes, or a file where a folder goes, is reported.
        QVERIFY(QDir().mkpath(path(QStringLiteral("dir.json/inside"))));
        QVERIFY(StoredFile::write(path(QStringLiteral("dir.json")), "x"));
        QVERIFY(QFileInfo(path(QStringLiteral("dir.json/inside"))).isDir());
        QVERIFY(StoredFile::write(target + QStringLiteral("/below"), "x"));
        QCOMPARE(readFile(target), QByteArray("previous"));
    }

    void readTakesOnlyRegularFilesWithinTheBound()
    {
        QCOMPARE(StoredFile::read(path(QStringLiteral("absent")), 10).state, State::missing);
        QVERIFY(QFile::link(path(QStringLiteral("absent")), path(QStringLiteral("dangling"))));
        QCOMPARE(StoredFile::read(path(QStringLiteral("dangling")), 10).state, State::missing);

        QVERIFY(writeFile(path(QStringLiteral("ten")), "0123456789"));
        StoredFile::Contents contents = StoredFile::read(path(QStringLiteral("ten")), 10);
        QCOMPARE(contents.state, State::read);
        QCOMPARE(contents.bytes, QByteArray("0123456789"));
        QVERIFY(QFile::link(path(QStringLiteral("ten")), path(QStringLiteral("linked"))));
        QCOMPARE(StoredFile::read(path(QStringLiteral("linked")), 10).bytes, QByteArray("0123456789"));
        QCOMPARE(StoredFile::read(path(QStringLiteral("ten")), 0).state, State::unreadable);
        QVERIFY(writeFile(path(QStringLiteral("empty")), {}));
        QCOMPARE(StoredFile::read(path(QStringLiteral("empty")), 0).state, State::read);

        contents = StoredFile::read(path(QStringLiteral("ten")), 9);
        QCOMPARE(contents.state, State::unreadable);
        QCOMPARE(contents.problem, QStringLiteral("it is larger than 9 bytes"));
    }

    // None of these may block or be read without end: each answers at once.
    void readRefusesWhatIsNotARegularFile()
    {
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path(QStringLiteral("zero"))));
        const QString pipe = fifo(QStringLiteral("pipe"));
        QVERIFY(!pipe.isEmpty());
        QVERIFY(QDir().mkpath(path(QStringLiteral("folder"))));

        QElapsedTimer timer;
        timer.start();
        for (const char* name : {"zero", "pipe", "folder"}) {
            const StoredFile::Contents contents = StoredFile::read(path(QString::fromLatin1(name)), 1 << 20);
            QCOMPARE(contents.state, State::unreadable);
            QVERIFY2(contents.problem.startsWith(QStringLiteral("it is ")), qPrintable(contents.problem));
            QVERIFY(contents.bytes.isEmpty());
        }
        QVERIFY(timer.elapsed() < 1000);
    }

    void moveAsideKeepsTheFileWholeUnderAFreeName()
    {
        const QString target = path(QStringLiteral("aside/store.json"));
        QVERIFY(writeFile(target, "first"));
        QString error;
        const std::optional<QString> first = StoredFile::moveAside(target, &error);
        QVERIFY2(first, qPrintable(error));
        static const QRegularExpression name(QStringLiteral("^store\\.json\\.unreadable-\\d{8}-\\d{6}(-\\d+)?$"));
        QVERIFY2(name.match(QFileInfo(*first).fileName()).hasMatch(), qPrintable(*first));
        QCOMPARE(QFileInfo(*first).absolutePath(), QFileInfo(target).absolutePath());
        QCOMPARE(readFile(*first), QByteArray("first"));
        QVERIFY(isOwnerOnly(*first));
        QVERIFY(!QFileInfo::exists(target));

        // A second one in the same second takes the next free name; a FIFO moves without opening.
        QVERIFY(::mkfifo(QFile::encodeName(target).constData(), 0600) == 0);
        const std::optional<QString> second = StoredFile::moveAside(target, &error);
        QVERIFY2(second && *second != *first, qPrintable(error));
        QVERIFY(!QFileInfo::exists(target));
        QCOMPARE(readFile(*first), QByteArray("first"));

        // What is not there, or a folder, stays put.
        QVERIFY(!StoredFile::moveAside(target, &error));
        QVERIFY(QDir().mkpath(target + QStringLiteral("/inside")));
        QVERIFY(!StoredFile::moveAside(target, &error));
        QCOMPARE(error, QStringLiteral("it is a folder"));
        QVERIFY(QFileInfo(target + QStringLiteral("/inside")).isDir());
    }

    void writeAsideStoresBytesOwnerOnlyUnderFreeNames()
    {
        const QString target = path(QStringLiteral("values/com.vantrel.list"));
        QVERIFY(QDir().mkpath(path(QStringLiteral("values"))));
        const std::optional<QString> first = StoredFile::writeAside(target, "one");
        const std::optional<QString> second = StoredFile::writeAside(target, "two");
        QVERIFY(first && second && *first != *second);
        QVERIFY(QFileInfo(*first).fileName().startsWith(QStringLiteral("com.vantrel.list.unreadable-")));
        QCOMPARE(readFile(*first), QByteArray("one"));
        QCOMPARE(readFile(*second), QByteArray("two"));
        QVERIFY(isOwnerOnly(*first));

        QString error;
        QVERIFY(!StoredFile::writeAside(path(QStringLiteral("values/com.vantrel.list/below")), "x", &error));
        QVERIFY(!error.isEmpty());
    }

    void leftoversOfAnInterruptedWriteGoAndNothingElse()
    {
        const QString folder = path(QStringLiteral("leftovers"));
        const QStringList leftovers{"store.json.vantrel-save-AbCdEf", "r1.report.vantrel-save-qwErty"};
        // The user's own files that merely look like temporary ones stay.
        const QStringList kept{"store.json", "store.json.1", "store.json.unreadable-20240101-000000",
            "other.json.vantrel-save-AbCdEf", "store.json.vantrel-save-AbCdEfG", "r1.report", "store.json.backup",
            "store.json.AbCdEf", "r1.report.orig12", "store.json.vantrel-save-linkXy"};
        const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-120);
        for (const QString& name : leftovers + kept.mid(0, kept.size() - 1)) {
            QFile file(folder + u'/' + name);
            QVERIFY(writeFile(file.fileName(), "x"));
            QVERIFY(file.open(QIODevice::ReadWrite) && file.setFileTime(before, QFileDevice::FileModificationTime));
        }
        QVERIFY(QFile::link(folder + QStringLiteral("/store.json"), folder + u'/' + kept.last()));
        // One being written this moment by another instance stays.
        QVERIFY(writeFile(folder + QStringLiteral("/store.json.vantrel-save-NowNow"), "x"));

        StoredFile::removeLeftovers(folder + QStringLiteral("/store.json"));
        StoredFile::removeLeftovers(folder + QStringLiteral("/*.report"));
        QStringList expected = kept + QStringList{"store.json.vantrel-save-NowNow"};
        expected.sort();
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::System | QDir::Hidden, QDir::Name), expected);
    }
};

VANTREL_TEST_MAIN(TestStoredFile)
#include "tst_StoredFile.moc"
