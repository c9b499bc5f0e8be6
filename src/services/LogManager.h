#pragma once

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

class QThreadPool;

namespace vantrel {

class Defaults;
class SystemLog;

enum class LogLevel { debug = 0, info = 1, warning = 2, error = 3, critical = 4 };

QList<LogLevel> allLogLevels();
std::optional<LogLevel> logLevelFromRaw(qint64 raw);
QString logLevelLabel(LogLevel level); // "DEBUG", "INFO", "WARN", "ERROR", "CRIT"

// The application's logger: the system log always, a rotated file under
// "<Application Support>/Vantrel/Logs" when file logging is on.
class LogManager final {
public:
    enum class Category { defaultCategory, mount, network, cache, transfer, keychain, ui, lifecycle, config, system };

    static QList<Category> allCategories();
    static QString categoryRawValue(Category category); // "Default", "Mount", ...
    static std::optional<Category> categoryFromRaw(const QString& raw);

    // Keys and limits as stored.
    static inline const QString logLevelKey = QStringLiteral("log.minimumLevel");
    static inline const QString debugModeKey = QStringLiteral("log.debugMode");
    static inline const QString fileLoggingKey = QStringLiteral("log.fileEnabled");
    static constexpr qint64 maxLogFileSize = 5'242'880;

    LogManager(Defaults& defaults, SystemLog& systemLog, const QString& logDirectory);
    ~LogManager();
    LogManager(const LogManager&) = delete;
    LogManager& operator=(const LogManager&) = delete;

    // Built on Defaults::standard(), SystemLog::shared() and the user's Application Support folder.
    static LogManager& shared();
    static QString standardLogDirectory();

    // The source of "now" for line time stamps and export names; tests pin it. Set it before
    // logging starts: it is read from every logging thread.
    using Clock = std::function<QDateTime()>;
    void setClock(Clock clock);

    // Never fails towards the caller; file work is queued on the log file's serial queue.
    void log(LogLevel level, const QString& message, Category category, const char* file, const char* function,
        int line);

    LogLevel minimumLevel() const;
    void setMinimumLevel(LogLevel level);
    bool debugMode() const;
    void setDebugMode(bool on);
    bool fileLoggingEnabled() const;
    void setFileLoggingEnabled(bool on);

    QString logDirectory() const { return m_logDirectory; }
    QString logFilePath() const;
    QString rotatedLogFilePath() const;

    QString readAllLogs() const;
    std::optional<QUrl> exportLogsToFile();
    void clearLogs();
    qint64 totalLogSize() const;

    // Waits until every queued file operation is done (tests and shut-down).
    void waitForFileQueue();

    // The line exactly as the file holds it, without the trailing line feed.
    static QString formatLine(const QDateTime& time, LogLevel level, Category category, const QString& file,
        const QString& function, int line, const QString& message);

private:
    void appendLine(const QString& line);

    Defaults& m_defaults;
    SystemLog& m_systemLog;
    QString m_logDirectory;
    Clock m_clock;
    std::unique_ptr<QThreadPool> m_fileQueue;
};

} // namespace vantrel

// Log through the shared logger, capturing the call site.
#define VLOG(level, category, message)                                                                                 \
    ::vantrel::LogManager::shared().log(::vantrel::LogLevel::level, (message),                                         \
        ::vantrel::LogManager::Category::category, __FILE__, __func__, __LINE__)
// Log through a given logger (classes that are handed one).
#define VLOG_TO(manager, level, category, message)                                                                     \
    (manager).log(::vantrel::LogLevel::level, (message), ::vantrel::LogManager::Category::category, __FILE__,          \
        __func__, __LINE__)
