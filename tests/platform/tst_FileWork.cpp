#include "support/FileWorkGate.h"
#include "support/MountedShare.h"
#include "support/TestMain.h"

#include "platform/FileSystemInfo.h"
#include "platform/FileWork.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThreadPool>

using namespace vantrel;

class TestFileWork : public QObject {
    Q_OBJECT

private slots:
    void shareRootsFollowWholeComponentsAndTheDeepestDeclaration()
    {
        QTemporaryDir dir;
        const QString media = dir.filePath(QStringLiteral("Media"));
        declareShareRoot(media);
        declareShareRoot(media + QStringLiteral("/Inner/"));
        QCOMPARE(shareRootOf(media), media);
        QCOMPARE(shareRootOf(media + QStringLiteral("/Films/a.mkv")), media);
        QCOMPARE(shareRootOf(media + QStringLiteral("/Inner/b")), media + QStringLiteral("/Inner"));
        QCOMPARE(shareRootOf(media + QStringLiteral("/Films/../Inner/b")), media + QStringLiteral("/Inner"));
        QCOMPARE(shareRootOf(dir.filePath(QStringLiteral("Media2/c"))), QString());
        // The kernel's own file systems and the temporary folder are local.
        QCOMPARE(shareRootOf(QStringLiteral("/proc/self/status")), QString());
        QCOMPARE(shareRootOf(dir.path()), QString());

        QCOMPARE(&fileIOPool(media + QStringLiteral("/x")), &fileIOPool(media + QStringLiteral("/y/z")));
        QVERIFY(&fileIOPool(media) != &fileIOPool(media + QStringLiteral("/Inner")));
        QCOMPARE(&fileIOPool(dir.filePath(QStringLiteral("local"))), &localIOPool());
        QVERIFY(&localIOPool() != QThreadPool::globalInstance());
    }

    void shareRootLookupsReadTheMountTableOnlyAfterItChanged()
    {
        VANTREL_REQUIRE_SMBFS();
        QTemporaryDir dir;
        const auto lookUp = [&](const QString& inside, const QString& expected) {
            for (int i = 0; i < 5000; ++i) {
                if (shareRootOf(inside) != expected)
                    return false;
            }
            return true;
        };
        // Tests running beside this one mount and unmount too, and every change in the namespace is
        // one more read: the bound allows for them, and is still far below one read per call.
        constexpr quint64 bound = 50;
        const QString local = dir.filePath(QStringLiteral("mounted/Films/a.mkv"));
        QCOMPARE(shareRootOf(local), QString());
        quint64 reads = FileSystemInfo::mountTableReads();
        QVERIFY(lookUp(local, QString()));
        QVERIFY(FileSystemInfo::mountTableReads() - reads <= bound);

        // A real mount and unmount: a share of a Samba server through vantrel-smbfs.
        test::MountedShare share;
        QVERIFY2(share.ok(), qPrintable(share.error));
        const QString mountPoint = share.mountPoint;
        const QString inside = mountPoint + QStringLiteral("/Films/a.mkv");
        QTRY_COMPARE_WITH_TIMEOUT(shareRootOf(inside), mountPoint, 10000);
        reads = FileSystemInfo::mountTableReads();
        QVERIFY(lookUp(inside, mountPoint));
        QVERIFY(FileSystemInfo::mountTableReads() - reads <= bound);

        QVERIFY(share.unmount());
        QTRY_COMPARE(shareRootOf(inside), QString());
        reads = FileSystemInfo::mountTableReads();
        QVERIFY(lookUp(inside, QString()));
        QVERIFY(FileSystemInfo::mountTableReads() - reads <= bound);
    }

    void aShareThatHangsHoldsOnlyItsOwnLane()
    {
        QTemporaryDir dir;
        const QString hung = dir.filePath(QStringLiteral("Hung"));
        const QString healthy = dir.filePath(QStringLiteral("Healthy"));
        declareShareRoot(hung);
        declareShareRoot(healthy);
        test::FileWorkGate gate;
        gate.hold(hung);

        // Far more work on the hung share than any pool has threads: it queues in its own lane.
        QList<QFuture<int>> stuck;
        for (int i = 0; i < 40; ++i)
            stuck.append(runFileWork(hung + QStringLiteral("/file%1").arg(i), [i] { return i; }));
        QTRY_VERIFY(gate.waiting(hung) > 0);

        QFuture<int> otherShare = runFileWork(healthy + QStringLiteral("/a"), [] { return 1; });
        QFuture<int> local = runFileWork(dir.filePath(QStringLiteral("cache/b")), [] { return 2; });
        QTRY_VERIFY_WITH_TIMEOUT(otherShare.isFinished() && local.isFinished(), 2000);
        QCOMPARE(otherShare.result() + local.result(), 3);
        QVERIFY(gate.waiting(hung) <= fileIOPool(hung).maxThreadCount());
        QVERIFY(!stuck.first().isFinished());

        gate.release(hung);
        for (QFuture<int>& future : stuck)
            future.waitForFinished();
        QCOMPARE(stuck.last().result(), 39);
    }
};

VANTREL_TEST_MAIN(TestFileWork)
#include "tst_FileWork.moc"
