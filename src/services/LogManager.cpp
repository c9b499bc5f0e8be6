#include "services/LogManager.h"

#include "platform/AppPaths.h"
#include "platform/Defaults.h"
#include "platform/Encodings.h"
#include "platform/StoredFile.h"
#include "platform/SystemLog.h"
#include "platform/Threading.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QPromise>
#include <QThreadPool>

#include <memory>

namespace vantrel {

namespace {

using Category = LogManager::Category;

// A log file rotates at maxLogFileSize, and one long line may carry it past that; a file far larger
// is not one of ours and is left out.
constexpr qint64 maxReadableLogSize = 4 * LogManager::maxLogFileSize;

SystemLog::Type systemLogType(LogLevel level)
{
    switch (level) {
    case LogLevel::debug: return SystemLog::Type::Debug;
    case LogLevel::info: return SystemLog::Type::Info;
    case LogLevel::warning: return SystemLog::Type::Error;
    case LogLevel::error: return SystemLog::Type::Error;
    case LogLevel::critical: return SystemLog::Type::Fault;
    }
    return SystemLog::Type::Default;
}

// Runs on the file queue only. Touches nothing but the two paths, so it cannot reach a manager.
void appendToLogFile(const QString& path, const QString& rotatedPath, const QByteArray& bytes)
{
    const QFileInfo info(path);
    // Opening a FIFO put in the file's place would stall the queue until someone reads it.
    if (info.exists() && !info.isFile())
        return;
    if (info.exists() && info.size() >= LogManager::maxLogFileSize) {
        QFile::remove(rotatedPath);
        QFile::rename(path, rotatedPath);
    }
    QFile file(path);
    // Appends to an existing file; a new one is created readable by the owner only.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append, StoredFile::ownerOnly))
        return;
    file.write(bytes);
}

// The whole file as text, or none when it is missing, unreadable or not valid UTF-8.
std::optional<QString> readUtf8File(const QString& path)
{
    const StoredFile::Contents contents = StoredFile::read(path, maxReadableLogSize);
    if (contents.state != StoredFile::Contents::State::read)
        return std::nullopt;
    return encoding::parseUtf8(contents.bytes);
}

qint64 fileSize(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() ? info.size() : 0;
}

} // namespace

template <>
QList<LogLevel> allCases<LogLevel>()
{
    return {LogLevel::debug, LogLevel::info, LogLevel::warning, LogLevel::error, LogLevel::critical};
}

qint64 rawValue(LogLevel level)
{
    return static_cast<qint64>(level);
}

QString logLevelLabel(LogLevel level)
{
    switch (level) {
    case LogLevel::debug: return QStringLiteral("DEBUG");
    case LogLevel::info: return QStringLiteral("INFO");
    case LogLevel::warning: return QStringLiteral("WARN");
    case LogLevel::error: return QStringLiteral("ERROR");
    case LogLevel::critical: return QStringLiteral("CRIT");
    }
    return {};
}

template <>
QList<LogManager::Category> allCases<LogManager::Category>()
{
    return {Category::defaultCategory, Category::mount, Category::network, Category::cache, Category::transfer,
        Category::keychain, Category::ui, Category::lifecycle, Category::config, Category::system};
}

QString rawValue(LogManager::Category category)
{
    switch (category) {
    case Category::defaultCategory: return QStringLiteral("Default");
    case Category::mount: return QStringLiteral("Mount");
    case Category::network: return QStringLiteral("Network");
    case Category::cache: return QStringLiteral("Cache");
    case Category::transfer: return QStringLiteral("Transfer");
    case Category::keychain: return QStringLiteral("Keychain");
    case Category::ui: return QStringLiteral("UI");
    case Category::lifecycle: return QStringLiteral("Lifecycle");
    case Category::config: return QStringLiteral("Config");
    case Category::system: return QStringLiteral("System");
    }
    return QStringLiteral("Default");
}

LogManager::LogManager(Defaults& defaults, SystemLog& systemLog, const QString& logDirectory)
    : m_defaults(defaults)
    , m_systemLog(systemLog)
    , m_logDirectory(logDirectory)
    , m_clock(systemNow)
    , m_fileQueue(std::make_unique<QThreadPool>())
{
    // One thread keeps appends, rotations and deletions in submission order.
    m_fileQueue->setMaxThreadCount(1);
    m_fileQueue->setObjectName(QStringLiteral("com.vantrel.logfile"));
    StoredFile::makeFolder(m_logDirectory);
}

LogManager::~LogManager()
{
    // Lines handed over before destruction still reach the file; nothing queued outlives us.
    m_fileQueue->waitForDone();
}

LogManager& LogManager::shared()
{
    return sharedInstance(
        [] { return new LogManager(Defaults::standard(), SystemLog::shared(), standardLogDirectory()); });
}

QString LogManager::standardLogDirectory()
{
    return AppPaths::dataDirectory() + QStringLiteral("/Logs");
}

void LogManager::setClock(Clock clock)
{
    m_clock = std::move(clock);
}

QString LogManager::logFilePath() const
{
    return m_logDirectory + QStringLiteral("/Vantrel.log");
}

QString LogManager::rotatedLogFilePath() const
{
    return m_logDirectory + QStringLiteral("/Vantrel.log.1");
}

LogLevel LogManager::minimumLevel() const
{
    if (const auto level = fromRawValue<LogLevel>(m_defaults.integerValue(logLevelKey).value_or(0)))
        return *level;
    return debugMode() ? LogLevel::debug : LogLevel::info;
}

void LogManager::setMinimumLevel(LogLevel level)
{
    m_defaults.setValue(logLevelKey, rawValue(level));
}

bool LogManager::debugMode() const
{
    return m_defaults.boolValue(debugModeKey).value_or(false);
}

void LogManager::setDebugMode(bool on)
{
    m_defaults.setValue(debugModeKey, on);
    if (on)
        m_defaults.setValue(logLevelKey, rawValue(LogLevel::debug));
}

bool LogManager::fileLoggingEnabled() const
{
    return m_defaults.boolValue(fileLoggingKey).value_or(false);
}

void LogManager::setFileLoggingEnabled(bool on)
{
    m_defaults.setValue(fileLoggingKey, on);
}

QString LogManager::formatLine(const QDateTime& time, LogLevel level, Category category, const QString& file,
    const QString& function, int line, const QString& message)
{
    const QString stamp = QLocale::c().toString(time.toLocalTime(), QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    const QString fileName = file.mid(file.lastIndexOf(QLatin1Char('/')) + 1);
    return QLatin1Char('[') + stamp + QStringLiteral("] [") + logLevelLabel(level) + QStringLiteral("] [")
        + rawValue(category) + QStringLiteral("] ") + fileName + QLatin1Char(':') + QString::number(line)
        + QLatin1Char(' ') + function + QStringLiteral(" - ") + message;
}

void LogManager::log(LogLevel level, const QString& message, Category category, const char* file, const char* function,
    int line)
{
    // Settings are read afresh every time so that a change applies to the next message.
    if (static_cast<int>(level) < static_cast<int>(minimumLevel()))
        return;

    const QString formatted = formatLine(m_clock(), level, category, QString::fromUtf8(file),
        QString::fromUtf8(function), line, message);

    const SystemLog::Type type = systemLogType(level);
    if (m_systemLog.isEnabled(type))
        m_systemLog.write(type, rawValue(category), message);

    if (fileLoggingEnabled())
        appendLine(formatted);
}

void LogManager::appendLine(const QString& line)
{
    m_fileQueue->start([path = logFilePath(), rotated = rotatedLogFilePath(),
                           bytes = (line + QLatin1Char('\n')).toUtf8()] { appendToLogFile(path, rotated, bytes); });
}

QString LogManager::readAllLogs() const
{
    QString text;
    // An empty predecessor adds nothing, so that two empty files read as no logs at all.
    if (const auto previous = readUtf8File(rotatedLogFilePath()); previous && !previous->isEmpty())
        text += *previous + QLatin1Char('\n');
    if (const auto current = readUtf8File(logFilePath()))
        text += *current;
    return text;
}

std::optional<QUrl> LogManager::exportLogsToFile()
{
    const QString text = readAllLogs();
    if (text.isEmpty())
        return std::nullopt;

    const QString stamp = encoding::iso8601(m_clock()).replace(QLatin1Char(':'), QLatin1Char('-'));
    // Qt answers an empty temporary path when TMPDIR names a missing folder; a relative name would
    // then land in the working directory, so keep the named folder.
    QString tempDir = QDir::tempPath();
    if (tempDir.isEmpty())
        tempDir = QDir::cleanPath(qEnvironmentVariable("TMPDIR"));
    const QString path = QDir(tempDir).filePath(QStringLiteral("Vantrel-Logs-") + stamp + QStringLiteral(".log"));

    if (const std::optional<QString> failure = StoredFile::write(path, text.toUtf8())) {
        VLOG_TO(*this, error, defaultCategory, QStringLiteral("Failed to export logs: ") + *failure);
        return std::nullopt;
    }
    return QUrl::fromLocalFile(path);
}

QFuture<void> LogManager::clearLogs()
{
    // A promise, not QtConcurrent::run: waiting on a run's future may take its task off the queue
    // and run it at once, ahead of the lines still waiting to be written.
    auto done = std::make_shared<QPromise<void>>();
    QFuture<void> future = done->future();
    done->start();
    m_fileQueue->start([path = logFilePath(), rotated = rotatedLogFilePath(), done] {
        QFile::remove(path);
        QFile::remove(rotated);
        done->finish();
    });
    return future;
}

qint64 LogManager::totalLogSize() const
{
    return fileSize(logFilePath()) + fileSize(rotatedLogFilePath());
}

void LogManager::waitForFileQueue()
{
    m_fileQueue->waitForDone();
}

} // namespace vantrel
