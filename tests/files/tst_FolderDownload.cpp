#include "support/TestMain.h"

#include "files/FolderDownload.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>

using namespace vantrel;

namespace {

void writeFile(const QString& path, const QByteArray& content = "data")
{
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

// "relative file -> relative destination folder", sorted, for comparing plans.
QStringList describe(const FolderDownloadPlan& plan, const QString& share, const QString& local)
{
    QStringList lines;
    for (const FolderDownloadPlan::File& file : plan.files) {
        lines << QDir(share).relativeFilePath(file.source.toLocalFile()) + QStringLiteral(" -> ")
                + QDir(local).relativeFilePath(file.destinationFolder.toLocalFile());
    }
    lines.sort();
    return lines;
}

QStringList folders(const FolderDownloadPlan& plan, const QString& local)
{
    QStringList result;
    for (const QUrl& folder : plan.folders)
        result << QDir(local).relativeFilePath(folder.toLocalFile());
    result.sort();
    return result;
}

} // namespace

class TestFolderDownload : public QObject {
    Q_OBJECT

private slots:
    void mapsTheTreeBelowTheDestination()
    {
        QTemporaryDir dir;
        const QString share = dir.filePath(QStringLiteral("share"));
        const QString local = dir.filePath(QStringLiteral("local"));
        writeFile(share + QStringLiteral("/Photos/a.jpg"));
        writeFile(share + QStringLiteral("/Photos/2024/b.jpg"));
        writeFile(share + QStringLiteral("/Photos/2024/June/c.jpg"));
        writeFile(share + QStringLiteral("/Photos/.hidden"));
        QVERIFY(QDir().mkpath(share + QStringLiteral("/Photos/Empty")));
        // A link to a folder could lead back up (a loop) or out of the share: not followed. A
        // link to a file is downloaded as that file; a pipe would block a copy forever.
        writeFile(share + QStringLiteral("/elsewhere/secret.txt"));
        QVERIFY(QFile::link(share + QStringLiteral("/elsewhere"), share + QStringLiteral("/Photos/link-to-folder")));
        QVERIFY(QFile::link(share + QStringLiteral("/Photos"), share + QStringLiteral("/Photos/2024/loop")));
        QVERIFY(
            QFile::link(share + QStringLiteral("/elsewhere/secret.txt"), share + QStringLiteral("/Photos/link.txt")));
        QCOMPARE(::mkfifo(QFile::encodeName(share + QStringLiteral("/Photos/pipe")).constData(), 0600), 0);

        // A trailing slash on either URL changes nothing.
        const FolderDownloadPlan plan = planFolderDownload(QUrl::fromLocalFile(share + QStringLiteral("/Photos/")),
            QUrl::fromLocalFile(local + u'/'));
        QVERIFY(!plan.unreadable);
        QCOMPARE(describe(plan, share, local),
            (QStringList{
                "Photos/.hidden -> Photos",
                "Photos/2024/June/c.jpg -> Photos/2024/June",
                "Photos/2024/b.jpg -> Photos/2024",
                "Photos/a.jpg -> Photos",
                "Photos/link.txt -> Photos",
            }));
        QCOMPARE(folders(plan, local), (QStringList{"Photos", "Photos/2024", "Photos/2024/June", "Photos/Empty"}));
        QCOMPARE(plan.folders.first(), QUrl::fromLocalFile(local + QStringLiteral("/Photos")));

        QString failed;
        QVERIFY(createPlannedFolders(plan, &failed));
        QVERIFY(QFileInfo(local + QStringLiteral("/Photos/Empty")).isDir());
        QVERIFY(QFileInfo(local + QStringLiteral("/Photos/2024/June")).isDir());
    }

    void aFolderThatCannotBeReadPlansNothing()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath(QStringLiteral("plain.txt")));
        const QUrl local = QUrl::fromLocalFile(dir.filePath(QStringLiteral("local")));
        for (const QString& path :
            {dir.filePath(QStringLiteral("missing")), dir.filePath(QStringLiteral("plain.txt"))}) {
            const FolderDownloadPlan plan = planFolderDownload(QUrl::fromLocalFile(path), local);
            QVERIFY(plan.unreadable);
            QVERIFY(plan.files.isEmpty());
            QVERIFY(plan.folders.isEmpty());
        }
    }

    void aFileInTheWayOfAFolderFailsWithItsPath()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath(QStringLiteral("share/Docs/sub/a.txt")));
        // The destination holds a file where the tree's top folder must go.
        writeFile(dir.filePath(QStringLiteral("local/Docs")));
        const FolderDownloadPlan plan = planFolderDownload(
            QUrl::fromLocalFile(dir.filePath(QStringLiteral("share/Docs"))),
            QUrl::fromLocalFile(dir.filePath(QStringLiteral("local"))));
        QString failed;
        QVERIFY(!createPlannedFolders(plan, &failed));
        QCOMPARE(failed, dir.filePath(QStringLiteral("local/Docs")));
    }
};

VANTREL_TEST_MAIN(TestFolderDownload)
#include "tst_FolderDownload.moc"
