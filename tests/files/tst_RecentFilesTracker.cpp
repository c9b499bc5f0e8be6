#include "support/CapturingSystemLog.h"
#include "support/Files.h"
#include "support/TestMain.h"

#include "files/RecentFilesTracker.h"
#include "support/Fixtures.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <memory>

using namespace vantrel;

class TestRecentFilesTracker : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<test::Logging> m_logging;
    QDateTime m_now = QDateTime::fromMSecsSinceEpoch(1'714'555'812'345, Qt::UTC);
    int m_round = 0;

    std::unique_ptr<RecentFilesTracker> makeTracker()
    {
        return std::make_unique<RecentFilesTracker>(m_logging->defaults, m_logging->log, [this] { return m_now; });
    }

    static QUrl file(int n) { return QUrl::fromLocalFile(QStringLiteral("/home/u/Downloads/file %1.txt").arg(n)); }

private slots:
    void init()
    {
        m_logging = std::make_unique<test::Logging>(m_dir.filePath(QString::number(m_round++)));
        m_now = QDateTime::fromMSecsSinceEpoch(1'714'555'812'345, Qt::UTC);
    }

    void frontInsertionReplacesTheSameUrl()
    {
        auto tracker = makeTracker();
        tracker->recordAccess(file(1));
        tracker->recordAccess(file(2), QStringLiteral("Shown name"));
        tracker->recordAccess(file(3));
        const QUuid oldId = tracker->recentFiles().at(2).id;
        m_now = m_now.addSecs(60);
        QSignalSpy changed(tracker.get(), &RecentFilesTracker::recentFilesChanged);
        tracker->recordAccess(file(1));
        QVERIFY(changed.count() >= 1);

        const QList<RecentFile> list = tracker->recentFiles();
        QCOMPARE(list.size(), 3);
        QCOMPARE(list.at(0).url, file(1));
        QVERIFY(list.at(0).id != oldId);
        QCOMPARE(list.at(0).accessedAt, m_now);
        QCOMPARE(list.at(0).name, QStringLiteral("file 1.txt"));
        QCOMPARE(list.at(1).url, file(3));
        QCOMPARE(list.at(2).name, QStringLiteral("Shown name"));

        // A different spelling of the same file is a different entry; a trailing slash does not
        // hide the name.
        const QUrl slash = QUrl::fromLocalFile(QStringLiteral("/home/u/Downloads/dir/"));
        tracker->recordAccess(QUrl::fromLocalFile(QStringLiteral("/home/u/Downloads/dir")));
        tracker->recordAccess(slash);
        QCOMPARE(tracker->recentFiles().size(), 5);
        QCOMPARE(tracker->recentFiles().at(0).name, QStringLiteral("dir"));
    }

    void capAndStoredForm()
    {
        {
            auto tracker = makeTracker();
            for (int i = 1; i <= 21; ++i)
                tracker->recordAccess(file(i));
            QCOMPARE(tracker->recentFiles().size(), RecentFilesTracker::maxStoredCount);
            QCOMPARE(tracker->recentFiles().first().url, file(21));
            QCOMPARE(tracker->recentFiles().last().url, file(2));
        }
        const QByteArray stored = *m_logging->defaults.dataValue(RecentFilesTracker::defaultsKey);
        QVERIFY(!stored.contains('\n'));
        const QJsonArray array = QJsonDocument::fromJson(stored).array();
        QCOMPARE(array.size(), 20);
        const QJsonObject first = array.at(0).toObject();
        QCOMPARE(first.keys().size(), 4);
        QCOMPARE(first.value("url").toString(), QStringLiteral("file:///home/u/Downloads/file%2021.txt"));
        QCOMPARE(first.value("accessedAt").toString(), QStringLiteral("2024-05-01T09:30:12Z"));
        const QString id = first.value("id").toString();
        QCOMPARE(id, id.toUpper());
        QCOMPARE(id.size(), 36);

        // Reloaded exactly as stored.
        auto reloaded = makeTracker();
        QCOMPARE(reloaded->recentFiles().size(), 20);
        QCOMPARE(reloaded->recentFiles().first().url, file(21));
        QCOMPARE(reloaded->recentFiles().first().accessedAt, QDateTime::fromSecsSinceEpoch(1'714'555'812, Qt::UTC));
    }

    // Files recorded together end the list as recording them one by one would, announced and
    // stored once.
    void aBatchEndsAsOneByOne()
    {
        const QList<QUrl> earlier{file(1), file(2), file(3)};
        QList<QUrl> batch{file(2), file(4)};
        for (int i = 10; i < 40; ++i)
            batch << file(i);
        batch << file(11) << file(5);
        for (const QList<QUrl>& urls : {QList<QUrl>{file(7), file(8), file(7)}, batch}) {
            auto single = makeTracker();
            for (const QUrl& url : earlier)
                single->recordAccess(url);
            for (const QUrl& url : urls)
                single->recordAccess(url);
            const QList<RecentFile> expected = single->recentFiles();
            single.reset();

            init();
            auto together = makeTracker();
            for (const QUrl& url : earlier)
                together->recordAccess(url);
            QSignalSpy changed(together.get(), &RecentFilesTracker::recentFilesChanged);
            together->recordAccesses(urls);
            QCOMPARE(changed.size(), 1);
            const QList<RecentFile> got = together->recentFiles();
            QCOMPARE(got.size(), expected.size());
            for (qsizetype i = 0; i < got.size(); ++i) {
                QCOMPARE(got.at(i).url, expected.at(i).url);
                QCOMPARE(got.at(i).name, expected.at(i).name);
            }
            // Stored as it stands.
            const QList<RecentFile> reloaded = makeTracker()->recentFiles();
            QCOMPARE(reloaded.size(), got.size());
            QCOMPARE(reloaded.first().url, got.first().url);
            QCOMPARE(reloaded.last().url, got.last().url);
        }
    }

    void overlongStoredListLoadsWholeAndIsCutAtTheNextRecording()
    {
        QList<RecentFile> files;
        for (int i = 0; i < 25; ++i)
            files.append(RecentFile{QUuid::createUuid(), file(i), QStringLiteral("n%1").arg(i), m_now.addSecs(-i)});
        m_logging->defaults.setValue(RecentFilesTracker::defaultsKey, RecentFilesTracker::encode(files));
        auto tracker = makeTracker();
        QCOMPARE(tracker->recentFiles().size(), 25);
        tracker->recordAccess(file(100));
        QCOMPARE(tracker->recentFiles().size(), 20);
        QCOMPARE(tracker->recentFiles().at(1).name, QStringLiteral("n0"));
    }

    // An unreadable list is kept beside the settings before the next access replaces it.
    void badStoredValueIsLoggedAndKeptAside()
    {
        const QByteArray bad =
            "[{\"id\":\"6F9619FF-8B86-D011-B42D-00C04FC964FF\",\"url\":\"file:///a\",\"name\":\"a\"}]";
        m_logging->defaults.setValue(RecentFilesTracker::defaultsKey, bad);
        auto tracker = makeTracker();
        QVERIFY(tracker->recentFiles().isEmpty());
        const QString aside = tracker->corruptCopyPath();
        QVERIFY(!aside.isEmpty());
        QCOMPARE(QFileInfo(aside).absolutePath(), QFileInfo(m_logging->defaults.filePath()).absolutePath());
        QCOMPARE(m_logging->systemLog.messages(),
            (QStringList{
                QStringLiteral("Failed to load recent files: The data couldn’t be read because it is missing."),
                QStringLiteral("Unreadable recent files kept at ") + aside}));
        QCOMPARE(*m_logging->defaults.dataValue(RecentFilesTracker::defaultsKey), bad);
        QCOMPARE(test::readFile(aside), bad);

        tracker->recordAccess(file(1));
        QCOMPARE(RecentFilesTracker::decode(*m_logging->defaults.dataValue(RecentFilesTracker::defaultsKey), nullptr)
                     ->size(),
            1);
        QCOMPARE(test::readFile(aside), bad);

        for (const QVariant& malformed :
            {QVariant(QByteArray("{}")), QVariant(QByteArray("not json")),
                QVariant(QByteArray(
                    "[{\"id\":\"nope\",\"url\":\"file:///a\",\"name\":\"a\",\"accessedAt\":\"2024-05-01T09:30:12Z\"}]")),
                QVariant(QByteArray(
                    "[{\"id\":\"6F9619FF-8B86-D011-B42D-00C04FC964FF\",\"url\":\"file:///a\",\"name\":\"a\",\"accessedAt\":\"2024-05-01 09:30\"}]")),
                QVariant(QStringLiteral("[]"))}) {
            m_logging->systemLog.clear();
            m_logging->defaults.setValue(RecentFilesTracker::defaultsKey, malformed);
            auto t = makeTracker();
            QVERIFY(t->recentFiles().isEmpty());
            QCOMPARE(m_logging->systemLog.messages().size(), 2);
            QVERIFY(
                m_logging->systemLog.messages().first().startsWith(QStringLiteral("Failed to load recent files: ")));
            QVERIFY(!t->corruptCopyPath().isEmpty());
        }
        // Nothing stored: nothing logged.
        m_logging->systemLog.clear();
        m_logging->defaults.remove(RecentFilesTracker::defaultsKey);
        auto empty = makeTracker();
        QVERIFY(m_logging->systemLog.messages().isEmpty());
    }

    void listThatCannotBeKeptAsideIsNotReplaced()
    {
        // The settings' folder is a regular file: nothing can be written beside the settings.
        QVERIFY(test::writeFile(m_dir.filePath(QStringLiteral("plain")), {}));
        Defaults blocked(m_dir.filePath(QStringLiteral("plain/defaults.json")));
        QVERIFY(blocked.setValue(RecentFilesTracker::defaultsKey, QByteArray("not json")));
        RecentFilesTracker tracker(blocked, m_logging->log, [this] { return m_now; });
        QVERIFY(tracker.corruptCopyPath().isEmpty());
        QVERIFY(
            m_logging->systemLog.messages().last().startsWith(QStringLiteral("Recent files are not saved this run: ")));
        tracker.recordAccess(file(1));
        QCOMPARE(tracker.recentFiles().size(), 1);
        QCOMPARE(blocked.dataValue(RecentFilesTracker::defaultsKey), std::optional<QByteArray>("not json"));
    }
};

VANTREL_TEST_MAIN(TestRecentFilesTracker)
#include "tst_RecentFilesTracker.moc"
