#include "support/Fixtures.h"
#include "support/TestMain.h"

#include "platform/Defaults.h"
#include "services/LogManager.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <memory>
#include <thread>
#include <vector>

using namespace vantrel;
using Type = SystemLog::Type;

namespace {

struct Fixture : test::LoggingFixture {
    void logAll(std::initializer_list<LogLevel> levels)
    {
        for (LogLevel level : levels)
            log.log(level, logLevelLabel(level), LogManager::Category::defaultCategory, "f.cpp", "fn", 1);
    }
    QStringList passed() { return systemLog.messages(); }
};

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

} // namespace

class TestLogManager : public QObject {
    Q_OBJECT

private slots:
    void freshSettingsLogEverythingToTheSystemLogOnly()
    {
        Fixture fx;
        QVERIFY(QFileInfo(fx.log.logDirectory()).isDir());
        fx.logAll({LogLevel::debug, LogLevel::info, LogLevel::warning, LogLevel::error, LogLevel::critical});
        fx.log.log(LogLevel::info, QStringLiteral("m"), LogManager::Category::ui, "a/b.cpp", "fn", 2);
        fx.log.waitForFileQueue();
        QVERIFY(!QFile::exists(fx.log.logFilePath()));

        const auto records = fx.systemLog.records();
        QCOMPARE(records.size(), 6);
        const QList<Type> types{Type::Debug, Type::Info, Type::Error, Type::Error, Type::Fault};
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(records[i].type, types[i]);
            QCOMPARE(records[i].category, QStringLiteral("Default"));
        }
        QCOMPARE(records[5], (CapturingSystemLog::Record{Type::Info, QStringLiteral("UI"), QStringLiteral("m")}));
    }

    void minimumLevelFiltersAtTheBoundary()
    {
        Fixture fx;
        fx.defaults.setValue(LogManager::logLevelKey, 3);
        fx.logAll({LogLevel::debug, LogLevel::info, LogLevel::warning, LogLevel::error, LogLevel::critical});
        QCOMPARE(fx.passed(), (QStringList{"ERROR", "CRIT"}));

        // Changes apply to the very next message.
        fx.systemLog.clear();
        fx.log.setMinimumLevel(LogLevel::warning);
        QCOMPARE(fx.defaults.value(LogManager::logLevelKey), QVariant(qint64(2)));
        fx.logAll({LogLevel::info, LogLevel::warning});
        QCOMPARE(fx.passed(), (QStringList{"WARN"}));
    }

    void outOfRangeMinimumFollowsDebugMode()
    {
        for (qint64 stored : {qint64(7), qint64(-1), qint64(5)}) {
            Fixture fx;
            fx.defaults.setValue(LogManager::logLevelKey, stored);
            QCOMPARE(fx.log.minimumLevel(), LogLevel::info);
            fx.logAll({LogLevel::debug, LogLevel::info});
            QCOMPARE(fx.passed(), (QStringList{"INFO"}));

            fx.systemLog.clear();
            fx.defaults.setValue(LogManager::debugModeKey, true);
            QCOMPARE(fx.log.minimumLevel(), LogLevel::debug);
            fx.logAll({LogLevel::debug});
            QCOMPARE(fx.passed(), (QStringList{"DEBUG"}));
        }
    }

    void debugModeSetterStoresDebugLevel()
    {
        Fixture fx;
        fx.log.setMinimumLevel(LogLevel::error);
        fx.log.setDebugMode(true);
        QCOMPARE(fx.defaults.value(LogManager::debugModeKey), QVariant(true));
        QCOMPARE(fx.defaults.value(LogManager::logLevelKey), QVariant(qint64(0)));
        fx.log.setDebugMode(false);
        QVERIFY(!fx.log.debugMode());
        QCOMPARE(fx.defaults.value(LogManager::logLevelKey), QVariant(qint64(0)));
        fx.logAll({LogLevel::debug});
        QCOMPARE(fx.passed(), (QStringList{"DEBUG"}));
    }

    void fileLineHasTheExactFormat()
    {
        Fixture fx;
        fx.log.setClock([] { return QDateTime(QDate(2024, 5, 1), QTime(9, 30, 12, 45), Qt::LocalTime); });
        fx.log.setFileLoggingEnabled(true);
        QCOMPARE(fx.defaults.value(LogManager::fileLoggingKey), QVariant(true));

        const int line = __LINE__ + 1;
        VLOG_TO(fx.log, warning, mount, QStringLiteral("hello 世界"));
        fx.log.log(LogLevel::critical, QStringLiteral("x"), LogManager::Category::system, "plain.mm", "f()", 0);
        fx.log.waitForFileQueue();

        const QByteArray expected = "[2024-05-01 09:30:12.045] [WARN] [Mount] tst_LogManager.cpp:"
            + QByteArray::number(line) + " fileLineHasTheExactFormat - " + QStringLiteral("hello 世界").toUtf8() + "\n"
            + "[2024-05-01 09:30:12.045] [CRIT] [System] plain.mm:0 f() - x\n";
        QCOMPARE(readFile(fx.log.logFilePath()), expected);
        // The system log gets the bare message.
        QCOMPARE(fx.passed(), (QStringList{QStringLiteral("hello 世界"), "x"}));
        // Lines may carry the user's data.
        QCOMPARE(QFile::permissions(fx.log.logFilePath()) & 0x0077, QFileDevice::Permissions());
    }

    void rotationAtExactlyTheThreshold()
    {
        Fixture fx;
        fx.log.setFileLoggingEnabled(true);
        const QString current = fx.log.logFilePath();
        const QString rotated = fx.log.rotatedLogFilePath();

        // One byte under the limit: the line is appended.
        writeFile(current, QByteArray(LogManager::maxLogFileSize - 1, 'a'));
        fx.log.log(LogLevel::info, QStringLiteral("one"), LogManager::Category::defaultCategory, "f", "g", 1);
        fx.log.waitForFileQueue();
        QVERIFY(!QFile::exists(rotated));
        QVERIFY(readFile(current).endsWith("g - one\n"));

        // Exactly at the limit: moved aside, replacing the older predecessor; the new file holds the line.
        writeFile(current, QByteArray(LogManager::maxLogFileSize, 'b'));
        writeFile(rotated, "older\n");
        fx.log.log(LogLevel::info, QStringLiteral("two"), LogManager::Category::defaultCategory, "f", "g", 1);
        fx.log.waitForFileQueue();
        QCOMPARE(QFileInfo(rotated).size(), LogManager::maxLogFileSize);
        QVERIFY(readFile(current).endsWith("] [INFO] [Default] f:1 g - two\n"));
        QCOMPARE(readFile(current).count('\n'), 1);
        QCOMPARE(fx.log.totalLogSize(), LogManager::maxLogFileSize + QFileInfo(current).size());
    }

    void readAllLogsJoinsWhatExists()
    {
        Fixture fx;
        QCOMPARE(fx.log.readAllLogs(), QString());
        writeFile(fx.log.logFilePath(), "current\n");
        QCOMPARE(fx.log.readAllLogs(), QStringLiteral("current\n"));
        QFile::rename(fx.log.logFilePath(), fx.log.rotatedLogFilePath());
        QCOMPARE(fx.log.readAllLogs(), QStringLiteral("current\n\n"));
        writeFile(fx.log.logFilePath(), "new\n");
        QCOMPARE(fx.log.readAllLogs(), QStringLiteral("current\n\nnew\n"));
    }

    void exportIsNamedByUtcTimeAndSkipsEmptyLogs()
    {
        Fixture fx;
        fx.log.setClock([] { return QDateTime(QDate(2024, 5, 1), QTime(9, 30, 12, 999), Qt::UTC); });
        const QDir temp(QDir::tempPath());
        const auto before = temp.entryList(QDir::Files);

        QVERIFY(!fx.log.exportLogsToFile().has_value());
        writeFile(fx.log.logFilePath(), "");
        writeFile(fx.log.rotatedLogFilePath(), "");
        QVERIFY(!fx.log.exportLogsToFile().has_value());
        QCOMPARE(temp.entryList(QDir::Files), before);

        writeFile(fx.log.logFilePath(), "line 1\n");
        const auto url = fx.log.exportLogsToFile();
        QVERIFY(url.has_value());
        const QString path = temp.filePath(QStringLiteral("Vantrel-Logs-2024-05-01T09-30-12Z.log"));
        QCOMPARE(url->toLocalFile(), path);
        QCOMPARE(readFile(path), QByteArray("line 1\n"));
        QCOMPARE(QFile::permissions(path) & 0x0077, QFileDevice::Permissions());
        QFile::remove(path);
        QVERIFY(fx.systemLog.records().isEmpty());
    }

    void failedExportIsLoggedAndReturnsNone()
    {
        Fixture fx;
        writeFile(fx.log.logFilePath(), "x\n");
        // A temporary folder beneath a regular file cannot be written to.
        writeFile(fx.dir.filePath("plain"), "");
        const QByteArray savedTmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", fx.dir.filePath("plain/tmp").toUtf8());
        const auto url = fx.log.exportLogsToFile();
        qputenv("TMPDIR", savedTmp);
        QVERIFY(!url.has_value());
        const auto records = fx.systemLog.records();
        QCOMPARE(records.size(), 1);
        QCOMPARE(records[0].type, Type::Error);
        QCOMPARE(records[0].category, QStringLiteral("Default"));
        QVERIFY(records[0].message.startsWith(QStringLiteral("Failed to export logs: ")));
        QVERIFY(records[0].message.size() > QStringLiteral("Failed to export logs: ").size());
    }

    void clearLogsRunsAfterPendingWrites()
    {
        Fixture fx;
        fx.log.setFileLoggingEnabled(true);
        writeFile(fx.log.rotatedLogFilePath(), "old\n");
        for (int i = 0; i < 200; ++i)
            fx.log.log(LogLevel::info, QString::number(i), LogManager::Category::defaultCategory, "f", "g", i);
        fx.log.clearLogs();
        fx.log.waitForFileQueue();
        QVERIFY(!QFile::exists(fx.log.logFilePath()));
        QVERIFY(!QFile::exists(fx.log.rotatedLogFilePath()));
        QCOMPARE(fx.log.totalLogSize(), qint64(0));

        fx.log.log(LogLevel::info, QStringLiteral("after"), LogManager::Category::defaultCategory, "f", "g", 1);
        fx.log.waitForFileQueue();
        QVERIFY(readFile(fx.log.logFilePath()).endsWith("g - after\n"));
    }

    void concurrentLoggingWritesWholeLinesInOrderPerThread()
    {
        QTemporaryDir dir;
        auto logging = std::make_unique<test::Logging>(dir.path());
        LogManager& manager = logging->log;
        const QString logDir = manager.logDirectory();
        constexpr int threads = 8;
        constexpr int perThread = 400;
        manager.setFileLoggingEnabled(true);
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t)
            workers.emplace_back([&manager, t] {
                for (int i = 0; i < perThread; ++i)
                    manager.log(LogLevel::info,
                        QStringLiteral("t%1 n%2 ").arg(t).arg(i) + QString(40, QLatin1Char('x')),
                        LogManager::Category::transfer, "w.cpp", "work", t);
            });
        for (auto& w : workers)
            w.join();
        QCOMPARE(logging->systemLog.records().size(), threads * perThread);
        // Destroyed without waiting: queued lines still reach the file.
        logging.reset();

        const QStringList lines = QString::fromUtf8(readFile(logDir + "/Vantrel.log")).split('\n');
        QCOMPARE(lines.size(), threads * perThread + 1);
        QCOMPARE(lines.last(), QString());
        static const QRegularExpression shape(QStringLiteral(
            R"(^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\] \[INFO\] \[Transfer\] w\.cpp:(\d) work - t(\d) n(\d+) x{40}$)"));
        std::vector<int> next(threads, 0);
        for (int k = 0; k < threads * perThread; ++k) {
            const auto m = shape.match(lines[k]);
            QVERIFY2(m.hasMatch(), qPrintable(lines[k]));
            const int t = m.captured(2).toInt();
            QCOMPARE(m.captured(1).toInt(), t);
            QCOMPARE(m.captured(3).toInt(), next[t]++);
        }
    }

    void enumerationsAndRawValues()
    {
        QCOMPARE(logLevelFromRaw(4), std::optional<LogLevel>(LogLevel::critical));
        QVERIFY(!logLevelFromRaw(5).has_value());
        QVERIFY(!logLevelFromRaw(-1).has_value());
        QStringList raws;
        for (auto c : LogManager::allCategories())
            raws << LogManager::categoryRawValue(c);
        QCOMPARE(raws.join(','),
            QStringLiteral("Default,Mount,Network,Cache,Transfer,Keychain,UI,Lifecycle,Config,System"));
        QCOMPARE(LogManager::categoryFromRaw("UI"), std::optional(LogManager::Category::ui));
        QVERIFY(!LogManager::categoryFromRaw("ui").has_value());
    }
};

VANTREL_TEST_MAIN(TestLogManager)
#include "tst_LogManager.moc"
