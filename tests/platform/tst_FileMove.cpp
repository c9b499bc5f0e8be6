#include "support/TestMain.h"

#include "platform/FileMove.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>

using namespace vantrel;

namespace {

void writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<absent>");
}

dev_t deviceOf(const QString& path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_dev : 0;
}

} // namespace

class TestFileMove : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void replacesAFileThereAndTakesTheSourceAway()
    {
        const QString source = m_dir.filePath(QStringLiteral("source.log"));
        const QString destination = m_dir.filePath(QStringLiteral("destination.log"));
        writeFile(source, "new");
        writeFile(destination, "old");
        QCOMPARE(moveFileReplacing(source, destination), std::nullopt);
        QCOMPARE(readFile(destination), QByteArray("new"));
        QVERIFY(!QFile::exists(source));
    }

    void aFailureKeepsBothSides()
    {
        const QString source = m_dir.filePath(QStringLiteral("kept.log"));
        writeFile(source, "log");
        const QString folder = m_dir.filePath(QStringLiteral("a-folder"));
        QVERIFY(QDir().mkpath(folder + QStringLiteral("/child")));
        for (const QString& destination : {folder, m_dir.filePath(QStringLiteral("missing/x.log")),
                 m_dir.filePath(QStringLiteral("kept.log/under-a-file"))}) {
            const std::optional<QString> failure = moveFileReplacing(source, destination);
            QVERIFY2(failure && !failure->isEmpty(), qPrintable(destination));
            QCOMPARE(readFile(source), QByteArray("log"));
        }
        QVERIFY(QFileInfo(folder + QStringLiteral("/child")).isDir());
        QVERIFY(moveFileReplacing(source, QString()));
    }

    void acrossFileSystemsTheDataIsCopiedIntoPlace()
    {
        QTemporaryDir other(QStringLiteral("/dev/shm/vantrel-move-XXXXXX"));
        if (!other.isValid() || deviceOf(other.path()) == deviceOf(m_dir.path()))
            QSKIP("no second file system to move across");
        const QString source = m_dir.filePath(QStringLiteral("across.log"));
        writeFile(source, QByteArray(3 << 20, 'z'));
        QFile::setPermissions(source, QFile::ReadOwner | QFile::WriteOwner);
        const QString destination = other.filePath(QStringLiteral("exported.log"));
        writeFile(destination, "old");
        QCOMPARE(moveFileReplacing(source, destination), std::nullopt);
        QCOMPARE(readFile(destination), QByteArray(3 << 20, 'z'));
        const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther
            | QFile::WriteOther | QFile::ExeOther;
        QVERIFY(!(QFile::permissions(destination) & others)); // stays the owner's alone
        QVERIFY(!QFile::exists(source));

        // A failed copy across keeps the source.
        writeFile(source, "again");
        QVERIFY(moveFileReplacing(source, other.filePath(QStringLiteral("missing/exported.log"))));
        QCOMPARE(readFile(source), QByteArray("again"));
    }
};

VANTREL_TEST_MAIN(TestFileMove)
#include "tst_FileMove.moc"
