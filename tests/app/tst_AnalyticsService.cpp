#include "support/Fixtures.h"
#include "support/TestMain.h"

#include "app/AnalyticsService.h"
#include "platform/Defaults.h"
#include "services/LogManager.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <thread>

using namespace vantrel;

namespace {

// 2024-05-01T09:30:12.5Z is 736248612.5 seconds after 2001-01-01T00:00:00Z.
const QDateTime fixedTime = QDateTime::fromMSecsSinceEpoch(1714555812500, Qt::UTC);

struct Fixture : test::Logging {
    explicit Fixture(const QString& root)
        : Logging(root)
        , folder(root + QStringLiteral("/Vantrel"))
    {
    }
    QString folder;
};

QJsonArray readArray(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).array();
}

} // namespace

class TestAnalyticsService : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void recordsUseTheStoredEncodings()
    {
        Fixture f(m_dir.filePath(QStringLiteral("enc")));
        AnalyticsService service(f.defaults, f.log, f.folder, [] { return fixedTime; });
        QCOMPARE(service.storagePath(), f.folder + QStringLiteral("/analytics.json"));
        service.track(AnalyticsEvent::appLaunch);
        service.track(AnalyticsEvent::nasMount, AnalyticsMetadata{{QStringLiteral("protocol"), QStringLiteral("smb")}});
        service.waitForQueue();

        QFile file(service.storagePath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(!bytes.contains('\n')); // compact
        const QJsonArray array = QJsonDocument::fromJson(bytes).array();
        QCOMPARE(array.size(), 2);
        const QJsonObject first = array.at(0).toObject();
        QCOMPARE(first.value("event").toString(), QStringLiteral("app_launch"));
        QCOMPARE(first.value("timestamp").toDouble(), 736248612.5);
        const QString id = first.value("id").toString();
        QCOMPARE(id.size(), 36);
        QCOMPARE(id, id.toUpper());
        QVERIFY(!first.contains("metadata"));
        const QJsonObject second = array.at(1).toObject();
        QCOMPARE(second.value("event").toString(), QStringLiteral("nas_mount"));
        QCOMPARE(second.value("metadata").toObject().value("protocol").toString(), QStringLiteral("smb"));
        QCOMPARE(f.systemLog.messages(),
            (QStringList{"Analytics: tracked app_launch", "Analytics: tracked nas_mount"}));

        // A new instance reads the same form back and keeps appending.
        AnalyticsService reloaded(f.defaults, f.log, f.folder, [] { return fixedTime; });
        reloaded.track(AnalyticsEvent::cacheHit);
        reloaded.waitForQueue();
        const QJsonArray after = readArray(service.storagePath());
        QCOMPARE(after.size(), 3);
        QCOMPARE(after.at(0).toObject(), first);
        QCOMPARE(after.at(1).toObject(), second);
        QCOMPARE(analyticsEventRawValue(AnalyticsEvent::fileTransfer), QStringLiteral("file_transfer"));
    }

    void settingDecidesWhetherToRecord()
    {
        Fixture f(m_dir.filePath(QStringLiteral("setting")));
        AnalyticsService service(f.defaults, f.log, f.folder);

        f.defaults.setValue(AnalyticsService::enabledKey, false);
        QVERIFY(!service.isEnabled());
        service.track(AnalyticsEvent::appLaunch);
        service.waitForQueue();
        QVERIFY(!QFile::exists(service.storagePath()));
        QVERIFY(f.systemLog.messages().isEmpty());

        // Anything but a Boolean counts as on, as does an absent key.
        f.defaults.setValue(AnalyticsService::enabledKey, QStringLiteral("no"));
        QVERIFY(service.isEnabled());
        f.defaults.setValue(AnalyticsService::enabledKey, 0);
        QVERIFY(service.isEnabled());
        f.defaults.remove(AnalyticsService::enabledKey);
        QVERIFY(service.isEnabled());
        service.track(AnalyticsEvent::appLaunch);
        f.defaults.setValue(AnalyticsService::enabledKey, true);
        service.track(AnalyticsEvent::cacheHit);
        service.waitForQueue();
        QCOMPARE(readArray(service.storagePath()).size(), 2);
    }

    void capKeepsTheNewestFiveHundred()
    {
        Fixture f(m_dir.filePath(QStringLiteral("cap")));
        AnalyticsService service(f.defaults, f.log, f.folder);
        for (int i = 1; i <= 501; ++i)
            service.track(AnalyticsEvent::fileTransfer, AnalyticsMetadata{{QStringLiteral("n"), QString::number(i)}});
        service.waitForQueue();
        const QJsonArray array = readArray(service.storagePath());
        QCOMPARE(array.size(), 500);
        QCOMPARE(array.first().toObject().value("metadata").toObject().value("n").toString(), QStringLiteral("2"));
        QCOMPARE(array.last().toObject().value("metadata").toObject().value("n").toString(), QStringLiteral("501"));

        // The cap holds across launches.
        AnalyticsService next(f.defaults, f.log, f.folder);
        next.track(AnalyticsEvent::appLaunch);
        next.waitForQueue();
        const QJsonArray later = readArray(service.storagePath());
        QCOMPARE(later.size(), 500);
        QCOMPARE(later.first().toObject().value("metadata").toObject().value("n").toString(), QStringLiteral("3"));
    }

    void corruptFileIsReportedKeptAsideAndReplaced()
    {
        const QByteArray corrupt = "[{\"id\":\"not-a-uuid\",\"event\":\"app_launch\",\"timestamp\":1}]";
        const QByteArray invalid[] = {corrupt, "{not json", "{\"id\":1}",
            "[{\"id\":\"6F1C2A6E-0D43-4B7E-9E55-1A2B3C4D5E6F\",\"event\":\"x\",\"timestamp\":\"2024\"}]",
            "[{\"id\":\"6F1C2A6E-0D43-4B7E-9E55-1A2B3C4D5E6F\",\"event\":\"x\",\"timestamp\":1,\"metadata\":{\"k\":2}}]"};
        for (const QByteArray& bytes : invalid)
            QVERIFY2(!AnalyticsService::decode(bytes), bytes.constData());
        QVERIFY(AnalyticsService::decode(
            "[{\"id\":\"6f1c2a6e-0d43-4b7e-9e55-1a2b3c4d5e6f\",\"event\":\"x\",\"timestamp\":-1.25}]"));

        Fixture f(m_dir.filePath(QStringLiteral("corrupt")));
        QVERIFY(QDir().mkpath(f.folder));
        QFile file(f.folder + QStringLiteral("/analytics.json"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(corrupt);
        file.close();

        AnalyticsService service(f.defaults, f.log, f.folder);
        const QStringList messages = f.systemLog.messages();
        QCOMPARE(messages.size(), 1);
        QVERIFY2(messages.first().startsWith(QStringLiteral("Failed to load analytics: ")),
            qPrintable(messages.first()));
        QCOMPARE(f.systemLog.records().first().type, SystemLog::Type::Error);

        QVERIFY(!service.corruptCopyPath().isEmpty());
        QFile copy(service.corruptCopyPath());
        QVERIFY(copy.open(QIODevice::ReadOnly));
        QCOMPARE(copy.readAll(), corrupt);

        service.track(AnalyticsEvent::appLaunch);
        service.waitForQueue();
        const auto records = AnalyticsService::decode([&] {
            QFile f2(service.storagePath());
            f2.open(QIODevice::ReadOnly);
            return f2.readAll();
        }());
        QVERIFY(records);
        QCOMPARE(records->size(), 1);
        QCOMPARE(records->first().event, QStringLiteral("app_launch"));
    }

    void failedSaveKeepsThePreviousFile()
    {
        Fixture f(m_dir.filePath(QStringLiteral("savefail")));
        AnalyticsService service(f.defaults, f.log, f.folder);
        service.track(AnalyticsEvent::appLaunch);
        service.waitForQueue();
        const QByteArray before = [&] {
            QFile file(service.storagePath());
            file.open(QIODevice::ReadOnly);
            return file.readAll();
        }();
        // A folder where the temporary file of the atomic write must go cannot be faked, so put
        // the storage path beneath a regular file instead.
        AnalyticsService broken(f.defaults, f.log, service.storagePath());
        broken.track(AnalyticsEvent::cacheHit);
        broken.waitForQueue();
        QVERIFY(f.systemLog.messages().contains(QStringLiteral("Analytics: tracked cache_hit")));
        bool logged = false;
        for (const QString& m : f.systemLog.messages())
            logged = logged || m.startsWith(QStringLiteral("Failed to save analytics: "));
        QVERIFY(logged);
        QFile file(service.storagePath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), before);
    }

    void eventsFromTwoThreadsAllArrive()
    {
        Fixture f(m_dir.filePath(QStringLiteral("threads")));
        AnalyticsService service(f.defaults, f.log, f.folder);
        const auto worker = [&service](AnalyticsEvent event) {
            for (int i = 0; i < 50; ++i)
                service.track(event, AnalyticsMetadata{{QStringLiteral("i"), QString::number(i)}});
        };
        std::thread a(worker, AnalyticsEvent::nasMount);
        std::thread b(worker, AnalyticsEvent::cacheHit);
        a.join();
        b.join();
        service.waitForQueue();
        const QJsonArray array = readArray(service.storagePath());
        QCOMPARE(array.size(), 100);
        // Each thread's events keep their order.
        int nextMount = 0, nextHit = 0;
        for (const QJsonValue& value : array) {
            const QJsonObject o = value.toObject();
            int& next = o.value("event").toString() == QStringLiteral("nas_mount") ? nextMount : nextHit;
            QCOMPARE(o.value("metadata").toObject().value("i").toString().toInt(), next);
            ++next;
        }
        QCOMPARE(nextMount, 50);
        QCOMPARE(nextHit, 50);
    }
};

VANTREL_TEST_MAIN(TestAnalyticsService)
#include "tst_AnalyticsService.moc"
