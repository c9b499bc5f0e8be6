#include "services/LogManager.h"

#include "platform/Defaults.h"
#include "platform/Encodings.h"
#include "platform/SystemLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QThreadPool>

namespace vantrel {

namespace {

constexpr auto ownerOnlyFile = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

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
    if (info.exists() && info.size() >= LogManager::maxLogFileSize) {
        QFile::remove(rotatedPath);
        QFile::rename(path, rotatedPath);
    }
    QFile file(path);
    // Appends to an existing file; a new one is created readable by the owner only.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append, ownerOnlyFile))
        return;
    file.write(bytes);
}

// The whole file as text, or none when it is missing, unreadable or not valid UTF-8.
std::optional<QString> readUtf8File(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

qint64 fileSize(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() ? info.size() : 0;
}

} // namespace

QList<LogLevel> allLogLevels()
{
    return {LogLevel::debug, LogLevel::info, LogLevel::warning, LogLevel::error, LogLevel::critical};
}

std::optional<LogLevel> logLevelFromRaw(qint64 raw)
{
    if (raw < 0 || raw > 4)
        return std::nullopt;
    return static_cast<LogLevel>(raw);
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

QList<LogManager::Category> LogManager::allCategories()
{
    return {Category::defaultCategory, Category::mount, Category::network, Category::cache, Category::transfer,
        Category::keychain, Category::ui, Category::lifecycle, Category::config, Category::system};
}

QString LogManager::categoryRawValue(Category category)
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

std::optional<LogManager::Category> LogManager::categoryFromRaw(const QString& raw)
{
    for (Category c : allCategories())
        if (categoryRawValue(c) == raw)
            return c;
    return std::nullopt;
}

LogManager::LogManager(Defaults& defaults, SystemLog& systemLog, const QString& logDirectory)
    : m_defaults(defaults)
    , m_systemLog(systemLog)
    , m_logDirectory(logDirectory)
    , m_clock([] { return QDateTime::currentDateTime(); })
    , m_fileQueue(std::make_unique<QThreadPool>())
{
    // One thread keeps appends, rotations and deletions in submission order.
    m_fileQueue->setMaxThreadCount(1);
    m_fileQueue->setObjectName(QStringLiteral("com.vantrel.logfile"));
    if (!QFileInfo::exists(m_logDirectory) && QDir().mkpath(m_logDirectory))
        QFile::setPermissions(m_logDirectory, ownerOnlyFile | QFileDevice::ExeOwner);
}

LogManager::~LogManager()
{
    // Lines handed over before destruction still reach the file; nothing queued outlives us.
    m_fileQueue->waitForDone();
}

LogManager& LogManager::shared()
{
    static LogManager* instance = new LogManager(Defaults::standard(), SystemLog::shared(), standardLogDirectory());
    return *instance;
}

QString LogManager::standardLogDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Vantrel/Logs");
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
    if (const auto level = logLevelFromRaw(m_defaults.integerValue(logLevelKey).value_or(0)))
        return *level;
    return debugMode() ? LogLevel::debug : LogLevel::info;
}

void LogManager::setMinimumLevel(LogLevel level)
{
    m_defaults.setValue(logLevelKey, static_cast<qint64>(level));
}

bool LogManager::debugMode() const
{
    return m_defaults.boolValue(debugModeKey).value_or(false);
}

void LogManager::setDebugMode(bool on)
{
    m_defaults.setValue(debugModeKey, on);
    if (on)
        m_defaults.setValue(logLevelKey, static_cast<qint64>(LogLevel::debug));
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
        + categoryRawValue(category) + QStringLiteral("] ") + fileName + QLatin1Char(':') + QString::number(line)
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
        m_systemLog.write(type, categoryRawValue(category), message);

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
    // then land in the working directory, so keep the named folder and let the write fail.
    QString tempDir = QDir::tempPath();
    if (tempDir.isEmpty())
        tempDir = QDir::cleanPath(qEnvironmentVariable("TMPDIR"));
    const QString path = QDir(tempDir).filePath(QStringLiteral("Vantrel-Logs-") + stamp + QStringLiteral(".log"));

    QSaveFile file(path);
    bool ok = file.open(QIODevice::WriteOnly);
    if (ok) {
        file.setPermissions(ownerOnlyFile);
        ok = file.write(text.toUtf8()) >= 0 && file.commit();
    }
    if (!ok) {
        VLOG_TO(*this, error, defaultCategory, QStringLiteral("Failed to export logs: ") + file.errorString());
        return std::nullopt;
    }
    return QUrl::fromLocalFile(path);
}

void LogManager::clearLogs()
{
    m_fileQueue->start([path = logFilePath(), rotated = rotatedLogFilePath()] {
        QFile::remove(path);
        QFile::remove(rotated);
    });
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
