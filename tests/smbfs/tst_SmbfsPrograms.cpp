#include "smbfs/SmbfsMount.h"
#include "support/Files.h"
#include "support/SambaServer.h"
#include "support/TestMain.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <memory>

#include <sys/stat.h>
#include <utime.h>

using namespace vantrel::test;

namespace {

const QString& password = testPassword;

struct Run {
    int exitCode = -1;
    QString output;
    bool ok() const { return exitCode == 0; }
};

// Runs a program the way a user's shell would, in the folder; standard input from the data.
Run run(const QString& folder, const QString& program, const QStringList& arguments, const QByteArray& input = {})
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setWorkingDirectory(folder);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("GIT_CONFIG_NOSYSTEM"), QStringLiteral("1"));
    environment.insert(QStringLiteral("GIT_CONFIG_GLOBAL"), QStringLiteral("/dev/null"));
    environment.insert(QStringLiteral("GIT_AUTHOR_NAME"), QStringLiteral("Tester"));
    environment.insert(QStringLiteral("GIT_AUTHOR_EMAIL"), QStringLiteral("tester@example.com"));
    environment.insert(QStringLiteral("GIT_COMMITTER_NAME"), QStringLiteral("Tester"));
    environment.insert(QStringLiteral("GIT_COMMITTER_EMAIL"), QStringLiteral("tester@example.com"));
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
    Run done;
    if (!process.waitForFinished(90000)) {
        process.kill();
        process.waitForFinished(5000);
        done.output = QStringLiteral("did not finish within 90 s: ");
    } else if (process.exitStatus() == QProcess::NormalExit) {
        done.exitCode = process.exitCode();
    }
    done.output += program + QLatin1Char(' ') + arguments.join(QLatin1Char(' ')) + QStringLiteral(": ")
        + QString::fromUtf8(process.readAll()).right(3000);
    return done;
}

// Every file below the folder (relative path -> content), folders as entries ending in '/'.
QMap<QString, QByteArray> tree(const QString& root)
{
    QMap<QString, QByteArray> found;
    QDirIterator walk(root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (walk.hasNext()) {
        const QString path = walk.next();
        const QString relative = QDir(root).relativeFilePath(path);
        if (walk.fileInfo().isDir())
            found.insert(relative + QLatin1Char('/'), {});
        else
            found.insert(relative, readFile(path));
    }
    return found;
}

} // namespace

class SmbfsPrograms : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (smbfsBinary().isEmpty())
            QSKIP("this build has no vantrel-smbfs");
        m_server = std::make_unique<SambaServer>();
        m_server->setPassword(password);
        m_folder = m_server->addShare(QStringLiteral("data"), false);
        QVERIFY2(m_server->start(), qPrintable(m_server->errorString()));
    }

    void init()
    {
        QDir(m_folder).removeRecursively();
        QDir().mkpath(m_folder);
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

    void sedInPlaceKeepsEveryEdit()
    {
        QByteArray original;
        QByteArray edited;
        for (int line = 0; line < 20; ++line) {
            original += "line " + QByteArray::number(line) + '\n';
            edited += "edited " + QByteArray::number(line) + '\n';
        }
        QVERIFY(writeFile(m_mount->path(QStringLiteral("list.txt")), original));
        for (int line = 0; line < 20; ++line) {
            const Run sed = run(m_mount->mountPoint, QStringLiteral("sed"),
                {QStringLiteral("-i"), QStringLiteral("s/^line %1$/edited %1/").arg(line), QStringLiteral("list.txt")});
            QVERIFY2(sed.ok(), qPrintable(sed.output));
        }
        QCOMPARE(readFile(m_folder + QStringLiteral("/list.txt")), edited);
        QCOMPARE(readFile(m_mount->path(QStringLiteral("list.txt"))), edited);
        // sed's temporary files are gone too.
        QCOMPARE(QDir(m_folder).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("list.txt")});
    }

    void gitCommitsAndChecksClean()
    {
        const QString repository = m_mount->path(QStringLiteral("repo"));
        QVERIFY(QDir().mkdir(repository));
        QVERIFY(writeFile(repository + QStringLiteral("/README.md"), "# A repository on the share\n"));
        QVERIFY(writeFile(repository + QStringLiteral("/src/main.c"), "int main(void) { return 0; }\n"));
        for (const QStringList& command : QList<QStringList>{
                 {QStringLiteral("init"), QStringLiteral("-q"), QStringLiteral("-b"), QStringLiteral("main")},
                 {QStringLiteral("add"), QStringLiteral("-A")},
                 {QStringLiteral("commit"), QStringLiteral("-q"), QStringLiteral("-m"), QStringLiteral("First")}}) {
            const Run git = run(repository, QStringLiteral("git"), command);
            QVERIFY2(git.ok(), qPrintable(git.output));
        }
        QVERIFY(writeFile(repository + QStringLiteral("/README.md"), "# A repository on the share\n\nEdited.\n"));
        const Run second = run(repository, QStringLiteral("git"),
            {QStringLiteral("commit"), QStringLiteral("-q"), QStringLiteral("-a"), QStringLiteral("-m"),
                QStringLiteral("Second")});
        QVERIFY2(second.ok(), qPrintable(second.output));
        const Run gc = run(repository, QStringLiteral("git"), {QStringLiteral("gc"), QStringLiteral("-q")});
        QVERIFY2(gc.ok(), qPrintable(gc.output));

        // Through the mount and in the server's own copy.
        const QString held = m_folder + QStringLiteral("/repo");
        for (const QString& folder : {repository, held}) {
            const Run fsck = run(folder, QStringLiteral("git"),
                {QStringLiteral("fsck"), QStringLiteral("--full"), QStringLiteral("--strict")});
            QVERIFY2(fsck.ok(), qPrintable(fsck.output));
            const Run log = run(folder, QStringLiteral("git"), {QStringLiteral("log"), QStringLiteral("--format=%s")});
            QVERIFY2(log.ok() && log.output.endsWith(QLatin1String(": Second\nFirst\n")), qPrintable(log.output));
            const Run status = run(folder, QStringLiteral("git"),
                {QStringLiteral("status"), QStringLiteral("--porcelain")});
            QVERIFY2(status.ok() && status.output.endsWith(QLatin1String(": ")), qPrintable(status.output));
        }
    }

    void sqliteRollbackJournalStaysIntact()
    {
        // 2,000 statements: inserts, updates and deletes in transactions of ten, each with its
        // journal created, synced and deleted.
        QByteArray script = "PRAGMA journal_mode=DELETE;\nCREATE TABLE notes(id INTEGER PRIMARY KEY, body TEXT);\n";
        int statements = 2;
        int rows = 0;
        while (statements < 2000) {
            script += "BEGIN;\n";
            for (int i = 0; i < 8 && statements < 2000; ++i, ++statements) {
                if (i == 5 && rows > 10) {
                    script += "UPDATE notes SET body = hex(randomblob(300)) WHERE id = " + QByteArray::number(rows / 2)
                        + ";\n";
                } else if (i == 7 && rows > 20) {
                    script += "DELETE FROM notes WHERE id = (SELECT min(id) FROM notes);\n";
                    --rows;
                } else {
                    script += "INSERT INTO notes(body) VALUES (hex(randomblob(200 + "
                        + QByteArray::number(statements % 700) + ")));\n";
                    ++rows;
                }
            }
            script += "COMMIT;\n";
        }
        const Run sqlite = run(m_mount->mountPoint, QStringLiteral("sqlite3"),
            {QStringLiteral("-bail"), QStringLiteral("notes.db")}, script);
        QVERIFY2(sqlite.ok() && !sqlite.output.contains(QLatin1String("Error")), qPrintable(sqlite.output));

        const QByteArray check = "PRAGMA integrity_check;\nSELECT count(*) FROM notes;\n";
        const QString expected = QStringLiteral("ok\n%1\n").arg(rows);
        for (const QString& database :
            {m_mount->path(QStringLiteral("notes.db")), m_folder + QStringLiteral("/notes.db")}) {
            const Run checked = run(m_mount->mountPoint, QStringLiteral("sqlite3"), {QStringLiteral("-bail"), database},
                check);
            QVERIFY2(checked.ok() && checked.output.endsWith(expected),
                qPrintable(checked.output + QStringLiteral(" (expected ") + expected + QLatin1Char(')')));
        }
        QVERIFY(!QFile::exists(m_folder + QStringLiteral("/notes.db-journal")));
    }

    void copyOfATreeKeepsEverything()
    {
        QTemporaryDir source;
        const QString root = source.path() + QStringLiteral("/project");
        QVERIFY(writeFile(root + QStringLiteral("/empty"), {}));
        QVERIFY(writeFile(root + QStringLiteral("/big.bin"), QByteArray(5 * 1024 * 1024 + 17, 'b')));
        QVERIFY(writeFile(root + QStringLiteral("/Überweisung 日本.txt"), "unicode"));
        QVERIFY(QDir().mkpath(root + QStringLiteral("/empty folder")));
        for (int i = 0; i < 60; ++i)
            QVERIFY(writeFile(root + QStringLiteral("/a/b%1/c/file%2.txt").arg(i % 4).arg(i),
                QByteArray::number(i).repeated(i * 31)));
        QVERIFY(
            QFile::setPermissions(root + QStringLiteral("/big.bin"), QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        // Old times, so that a copy that does not keep them shows.
        utimbuf times{981158400, 981158400};
        QVERIFY(::utime(QFile::encodeName(root + QStringLiteral("/big.bin")).constData(), &times) == 0);
        QVERIFY(::utime(QFile::encodeName(root + QStringLiteral("/a/b1/c/file5.txt")).constData(), &times) == 0);

        const Run cp = run(source.path(), QStringLiteral("cp"),
            {QStringLiteral("-a"), root, m_mount->path(QStringLiteral("copy"))});
        QVERIFY2(cp.ok(), qPrintable(cp.output));
        const QMap<QString, QByteArray> expected = tree(root);
        QCOMPARE(tree(m_folder + QStringLiteral("/copy")), expected);
        QCOMPARE(tree(m_mount->path(QStringLiteral("copy"))), expected);
        for (const QString& name : {QStringLiteral("big.bin"), QStringLiteral("a/b1/c/file5.txt")}) {
            QCOMPARE(QFileInfo(m_folder + QStringLiteral("/copy/") + name).lastModified().toSecsSinceEpoch(),
                qint64(981158400));
            QCOMPARE(QFileInfo(m_mount->path(QStringLiteral("copy/") + name)).lastModified().toSecsSinceEpoch(),
                qint64(981158400));
        }
    }

private:
    std::unique_ptr<SambaServer> m_server;
    std::unique_ptr<SmbfsMount> m_mount;
    QString m_folder;
};

VANTREL_TEST_MAIN(SmbfsPrograms)
#include "tst_SmbfsPrograms.moc"
