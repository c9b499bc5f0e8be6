#include "support/TestMain.h"

#include "platform/FileSystemInfo.h"

#include <QDir>
#include <QTemporaryDir>

using namespace vantrel;

class TestFileSystemInfo : public QObject {
    Q_OBJECT

private slots:
    void magicNumbersMapToPlatformNames()
    {
        QCOMPARE(FileSystemInfo::nameForMagic(0xFF534D42UL), QStringLiteral("smbfs"));
        QCOMPARE(FileSystemInfo::nameForMagic(0xFE534D42UL), QStringLiteral("smbfs"));
        QCOMPARE(FileSystemInfo::nameForMagic(0x517BUL), QStringLiteral("smbfs"));
        QCOMPARE(FileSystemInfo::nameForMagic(0x6969UL), QStringLiteral("nfs"));
        QCOMPARE(FileSystemInfo::nameForMagic(0xEF53UL), QStringLiteral("ext4"));
        QCOMPARE(FileSystemInfo::nameForMagic(0x12345678UL), QString());
    }

    void typeAndMountRootOfRealPaths()
    {
        const FileSystemInfo& fs = FileSystemInfo::system();
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("plain"));
        QVERIFY(QDir().mkpath(folder));

        QVERIFY(fs.typeName(folder).has_value());
        QVERIFY(!fs.typeName(dir.filePath(QStringLiteral("missing"))).has_value());
        QCOMPARE(fs.typeName(QStringLiteral("/proc")), std::optional<QString>(QString())); // a type we do not name

        QVERIFY(fs.isMountRoot(QStringLiteral("/")));
        QVERIFY(fs.isMountRoot(QStringLiteral("/proc")));
        QVERIFY(!fs.isMountRoot(folder));
        QVERIFY(!fs.isMountRoot(dir.filePath(QStringLiteral("missing"))));
        QVERIFY(!fs.isMountRoot(QString()));
    }

    void mountTableIsParsed()
    {
        using Entry = FileSystemInfo::MountEntry;
        const QByteArray text = QByteArrayLiteral(
            "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
            "45 22 0:40 / /home/ann/VantrelVolumes/Team\\040Docs rw,nosuid,nodev - fuse.vantrel-smbfs //nas:4450/data rw,user_id=0\n"
            "46 22 0:41 / /mnt/back\\134slash rw master:3 shared:9 - nfs4 nas:/export rw\n"
            "garbage line\n"
            "47 22 x:y / /bad rw - ext4 /dev/sdb rw\n"
            "\n");
        const QList<Entry> entries = FileSystemInfo::parseMountInfo(text);
        QCOMPARE(entries.size(), 3);
        QCOMPARE(entries.at(0),
            (Entry{8, 1, QStringLiteral("/"), QStringLiteral("ext4"), QStringLiteral("/dev/sda1")}));
        QCOMPARE(entries.at(1),
            (Entry{0, 40, QStringLiteral("/home/ann/VantrelVolumes/Team Docs"), QStringLiteral("fuse.vantrel-smbfs"),
                QStringLiteral("//nas:4450/data")}));
        QCOMPARE(entries.at(2).mountPoint, QStringLiteral("/mnt/back\\slash"));
        QCOMPARE(entries.at(2).type, QStringLiteral("nfs4"));
    }

    void mountedTypeIsReadFromTheTableWithoutTouchingTheMount()
    {
        const FileSystemInfo& fs = FileSystemInfo::system();
        QCOMPARE(fs.mountedTypeAt(QStringLiteral("/proc")), std::optional<QString>(QStringLiteral("proc")));
        QCOMPARE(fs.mountedTypeAt(QStringLiteral("/proc/../proc/")), std::optional<QString>(QStringLiteral("proc")));
        QTemporaryDir dir;
        QVERIFY(!fs.mountedTypeAt(dir.path()));
        QVERIFY(!fs.mountedTypeAt(QString()));
        // A path through a link to the mount's parent names the same mount.
        QVERIFY(QFile::link(QStringLiteral("/"), dir.filePath(QStringLiteral("root"))));
        QCOMPARE(fs.mountedTypeAt(dir.filePath(QStringLiteral("root/proc"))),
            std::optional<QString>(QStringLiteral("proc")));
        QCOMPARE(fs.mountAt(QStringLiteral("/proc"))->mountPoint, QStringLiteral("/proc"));
    }
};

VANTREL_TEST_MAIN(TestFileSystemInfo)
#include "tst_FileSystemInfo.moc"
