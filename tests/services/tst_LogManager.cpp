#include "support/TestMain.h"

#include "platform/Defaults.h"
#include "platform/SystemLog.h"
#include "services/LogManager.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <thread>
#include <vector>

using namespace vantrel;
using Type = SystemLog::Type;

namespace {

// A logger with its own defaults file, log folder and captured system log.
struct Fixture {
    QTemporaryDir dir;
    Defaults defaults{dir.filePath(QStringLiteral("defaults.json"))};
    CapturingSystemLog sink;
    LogManager manager{defaults, sink, dir.filePath(QStringLiteral("Logs"))};

    void logAll(std::initializer_list<LogLevel> levels)
    {
        for (LogLevel level : levels)
            manager.log(level, logLevelLabel(level), LogManager::Category::defaultCategory, "f.cpp", "fn", 1);
    }
    QStringList passed() { return sink.messages(); }
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
        QVERIFY(QFileInfo(fx.manager.logDirectory()).isDir());
        fx.logAll({LogLevel::debug, LogLevel::info, LogLevel::warning, LogLevel::error, LogLevel::critical});
        fx.manager.log(LogLevel::info, QStringLiteral("m"), LogManager::Category::ui, "a/b.cpp", "fn", 2);
        fx.manager.waitForFileQueue();
        QVERIFY(!QFile::exists(fx.manager.logFilePath()));

        const auto records = fx.sink.records();
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
        fx.sink.clear();
        fx.manager.setMinimumLevel(LogLevel::warning);
        QCOMPARE(fx.defaults.value(LogManager::logLevelKey), QVariant(qint64(2)));
        fx.logAll({LogLevel::info, LogLevel::warning});
        QCOMPARE(fx.passed(), (QStringList{"WARN"}));
    }

    void outOfRangeMinimumFollowsDebugMode()
    {
        for (qint64 stored : {qint64(7), qint64(-1), qint64(5)}) {
            Fixture fx;
            fx.defaults.setValue(LogManager::logLevelKey, stored);
            QCOMPARE(fx.manager.minimumLevel(), LogLevel::info);
            fx.logAll({LogLevel::debug, LogLevel::info});
            QCOMPARE(fx.passed(), (QStringList{"INFO"}));

            fx.sink.clear();
            fx.defaults.setValue(LogManager::debugModeKey, true);
            QCOMPARE(fx.manager.minimumLevel(), LogLevel::debug);
            fx.logAll({LogLevel::debug});
            QCOMPARE(fx.passed(), (QStringList{"DEBUG"}));
        }
    }

    void debugModeSetterStoresDebugLevel()
    {
        Fixture fx;
        fx.manager.setMinimumLevel(LogLevel::error);
        fx.manager.setDebugMode(true);
        QCOMPARE(fx.defaults.value(LogManager::debugModeKey), QVariant(true));
        QCOMPARE(fx.defaults.value(LogManager::logLevelKey), QVariant(qint64(0)));
        fx.manager.setDebugMode(false);
        QVERIFY(!fx.manager.debugMode());
        QCOMPARE(fx.defaults.value(LogManager::logLevelKey), QVariant(qint64(0)));
        fx.logAll({LogLevel::debug});
        QCOMPARE(fx.passed(), (QStringList{"DEBUG"}));
    }

    void fileLineHasTheExactFormat()
    {
        Fixture fx;
        fx.manager.setClock([] { return QDateTime(QDate(2024, 5, 1), QTime(9, 30, 12, 45), Qt::LocalTime); });
        fx.manager.setFileLoggingEnabled(true);
        QCOMPARE(fx.defaults.value(LogManager::fileLoggingKey), QVariant(true));

        const int line = __LINE__ + 1;
        VLOG_TO(fx.manager, warning, mount, QStringLiteral("hello 世界"));
        fx.manager.log(LogLevel::critical, QStringLiteral("x"), LogManager::Category::system, "plain.mm", "f()", 0);
        fx.manager.waitForFileQueue();

        const QByteArray expected = "[2024-05-01 09:30:12.045] [WARN] [Mount] tst_LogManager.cpp:" + QByteArray::number(line)
            + " fileLineHasTheExactFormat - " + QStringLiteral("hello 世界").toUtf8() + "\n"
            + "[2024-05-01 09:30:12.045] [CRIT] [System] plain.mm:0 f() - x\n";
        QCOMPARE(readFile(fx.manager.logFilePath()), expected);
        // The system log gets the bare message.
        QCOMPARE(fx.passed(), (QStringList{QStringLiteral("hello 世界"), "x"}));
        // Lines may carry the user's data.
        QCOMPARE(QFile::permissions(fx.manager.logFilePath()) & 0x0077, QFileDevice::Permissions());
    }

    void rotationAtExactlyTheThreshold()
    {
        Fixture fx;
        fx.manager.setFileLoggingEnabled(true);
        const QString current = fx.manager.logFilePath();
        const QString rotated = fx.manager.rotatedLogFilePath();

        // One byte under the limit: the line is appended.
        writeFile(current, QByteArray(LogManager::maxLogFileSize - 1, 'a'));
        fx.manager.log(LogLevel::info, QStringLiteral("one"), LogManager::Category::defaultCategory, "f", "g", 1);
        fx.manager.waitForFileQueue();
        QVERIFY(!QFile::exists(rotated));
        QVERIFY(readFile(current).endsWith("g - one\n"));

        // Exactly at the limit: moved aside, replacing the older predecessor; the new file holds the line.
        writeFile(current, QByteArray(LogManager::maxLogFileSize, 'b'));
        writeFile(rotated, "older\n");
        fx.manager.log(LogLevel::info, QStringLiteral("two"), LogManager::Category::defaultCategory, "f", "g", 1);
        fx.manager.waitForFileQueue();
        QCOMPARE(QFileInfo(rotated).size(), LogManager::maxLogFileSize);
        QVERIFY(readFile(current).endsWith("] [INFO] [Default] f:1 g - two\n"));
        QCOMPARE(readFile(current).count('\n'), 1);
        QCOMPARE(fx.manager.totalLogSize(), LogManager::maxLogFileSize + QFileInfo(current).size());
    }

    void readAllLogsJoinsWhatExists()
    {
        Fixture fx;
        QCOMPARE(fx.manager.readAllLogs(), QString());
        writeFile(fx.manager.logFilePath(), "current\n");
        QCOMPARE(fx.manager.readAllLogs(), QStringLiteral("current\n"));
        QFile::rename(fx.manager.logFilePath(), fx.manager.rotatedLogFilePath());
        QCOMPARE(fx.manager.readAllLogs(), QStringLiteral("current\n\n"));
        writeFile(fx.manager.logFilePath(), "new\n");
        QCOMPARE(fx.manager.readAllLogs(), QStringLiteral("current\n\nnew\n"));
    }

    void exportIsNamedByUtcTimeAndSkipsEmptyLogs()
    {
        Fixture fx;
        fx.manager.setClock([] { return QDateTime(QDate(2024, 5, 1), QTime(9, 30, 12, 999), Qt::UTC); });
        const QDir temp(QDir::tempPath());
        const auto before = temp.entryList(QDir::Files);

        QVERIFY(!fx.manager.exportLogsToFile().has_value());
        writeFile(fx.manager.logFilePath(), "");
        writeFile(fx.manager.rotatedLogFilePath(), "");
        QVERIFY(!fx.manager.exportLogsToFile().has_value());
        QCOMPARE(temp.entryList(QDir::Files), before);

        writeFile(fx.manager.logFilePath(), "line 1\n");
        const auto url = fx.manager.exportLogsToFile();
        QVERIFY(url.has_value());
        const QString path = temp.filePath(QStringLiteral("Vantrel-Logs-2024-05-01T09-30-12Z.log"));
        QCOMPARE(url->toLocalFile(), path);
        QCOMPARE(readFile(path), QByteArray("line 1\n"));
        QCOMPARE(QFile::permissions(path) & 0x0077, QFileDevice::Permissions());
        QFile::remove(path);
        QVERIFY(fx.sink.records().isEmpty());
    }

    void failedExportIsLoggedAndReturnsNone()
    {
        Fixture fx;
        writeFile(fx.manager.logFilePath(), "x\n");
        // A temporary folder beneath a regular file cannot be written to.
        writeFile(fx.dir.filePath("plain"), "");
        const QByteArray savedTmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", fx.dir.filePath("plain/tmp").toUtf8());
        const auto url = fx.manager.exportLogsToFile();
        qputenv("TMPDIR", savedTmp);
        QVERIFY(!url.has_value());
        const auto records = fx.sink.records();
        QCOMPARE(records.size(), 1);
        QCOMPARE(records[0].type, Type::Error);
        QCOMPARE(records[0].category, QStringLiteral("Default"));
        QVERIFY(records[0].message.startsWith(QStringLiteral("Failed to export logs: ")));
        QVERIFY(records[0].message.size() > QStringLiteral("Failed to export logs: ").size());
    }

    void clearLogsRunsAfterPendingWrites()
    {
        Fixture fx;
        fx.manager.setFileLoggingEnabled(true);
        writeFile(fx.manager.rotatedLogFilePath(), "old\n");
        for (int i = 0; i < 200; ++i)
            fx.manager.log(LogLevel::info, QString::number(i), LogManager::Category::defaultCategory, "f", "g", i);
        fx.manager.clearLogs();
        fx.manager.waitForFileQueue();
        QVERIFY(!QFile::exists(fx.manager.logFilePath()));
        QVERIFY(!QFile::exists(fx.manager.rotatedLogFilePath()));
        QCOMPARE(fx.manager.totalLogSize(), qint64(0));

        fx.manager.log(LogLevel::info, QStringLiteral("after"), LogManager::Category::defaultCategory, "f", "g", 1);
        fx.manager.waitForFileQueue();
        QVERIFY(readFile(fx.manager.logFilePath()).endsWith("g - after\n"));
    }

    void concurrentLoggingWritesWholeLinesInOrderPerThread()
    {
        QTemporaryDir dir;
        Defaults defaults(dir.filePath("defaults.json"));
        CapturingSystemLog sink;
        const QString logDir = dir.filePath("Logs");
        constexpr int threads = 8;
        constexpr int perThread = 400;
        {
            LogManager manager(defaults, sink, logDir);
            manager.setFileLoggingEnabled(true);
            std::vector<std::thread> workers;
            for (int t = 0; t < threads; ++t)
                workers.emplace_back([&manager, t] {
                    for (int i = 0; i < perThread; ++i)
                        manager.log(LogLevel::info, QStringLiteral("t%1 n%2 ").arg(t).arg(i) + QString(40, QLatin1Char('x')),
                            LogManager::Category::transfer, "w.cpp", "work", t);
                });
            for (auto& w : workers)
                w.join();
            // Destroyed without waiting: queued lines still reach the file.
        }
        const QStringList lines = QString::fromUtf8(readFile(logDir + "/Vantrel.log")).split('\n');
        QCOMPARE(lines.size(), threads * perThread + 1);
        QCOMPARE(lines.last(), QString());
        static const QRegularExpression shape(
            QStringLiteral(R"(^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\] \[INFO\] \[Transfer\] w\.cpp:(\d) work - t(\d) n(\d+) x{40}$)"));
        std::vector<int> next(threads, 0);
        for (int k = 0; k < threads * perThread; ++k) {
            const auto m = shape.match(lines[k]);
            QVERIFY2(m.hasMatch(), qPrintable(lines[k]));
            const int t = m.captured(2).toInt();
            QCOMPARE(m.captured(1).toInt(), t);
            QCOMPARE(m.captured(3).toInt(), next[t]++);
        }
        QCOMPARE(sink.records().size(), threads * perThread);
    }

    void enumerationsAndRawValues()
    {
        QCOMPARE(logLevelFromRaw(4), std::optional<LogLevel>(LogLevel::critical));
        QVERIFY(!logLevelFromRaw(5).has_value());
        QVERIFY(!logLevelFromRaw(-1).has_value());
        QStringList raws;
        for (auto c : LogManager::allCategories())
            raws << LogManager::categoryRawValue(c);
        QCOMPARE(raws.join(','), QStringLiteral("Default,Mount,Network,Cache,Transfer,Keychain,UI,Lifecycle,Config,System"));
        QCOMPARE(LogManager::categoryFromRaw("UI"), std::optional(LogManager::Category::ui));
        QVERIFY(!LogManager::categoryFromRaw("ui").has_value());
    }
};

VANTREL_TEST_MAIN(TestLogManager)
#include "tst_LogManager.moc"
