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
};

VANTREL_TEST_MAIN(TestFileSystemInfo)
#include "tst_FileSystemInfo.moc"
