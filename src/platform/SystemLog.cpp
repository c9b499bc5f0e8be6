#include "platform/SystemLog.h"

#include "platform/Threading.h"

#include <QFileInfo>

#include <systemd/sd-journal.h>

#include <cerrno>
#include <syslog.h>
#include <unistd.h>

namespace vantrel {

SystemLog& SystemLog::shared()
{
    return sharedInstance([] { return new JournalSystemLog; });
}

namespace {

QString typeName(SystemLog::Type type)
{
    using Type = SystemLog::Type;
    switch (type) {
    case Type::Debug: return QStringLiteral("Debug");
    case Type::Info: return QStringLiteral("Info");
    case Type::Default: return QStringLiteral("Default");
    case Type::Error: return QStringLiteral("Error");
    case Type::Fault: return QStringLiteral("Fault");
    }
    return QString();
}

// The whole line in one call where possible, so that lines from several threads do not interleave.
void writeAll(int fd, const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return; // nowhere left to report it
        done += written;
    }
}

} // namespace

JournalSystemLog::JournalSystemLog(const QString& socketPath, int fallbackFd)
    : m_socketPath(socketPath)
    , m_fallbackFd(fallbackFd)
{
}

void JournalSystemLog::write(Type type, const QString& category, const QString& message)
{
    // Checked on every record: journald may start or stop while the application runs.
    if (!QFileInfo::exists(m_socketPath)) {
        const QString line = subsystem() + QStringLiteral(" [") + category + QStringLiteral("] ") + typeName(type)
            + QStringLiteral(": ") + message + QLatin1Char('\n');
        writeAll(m_fallbackFd, line.toUtf8());
        return;
    }

    int priority = LOG_NOTICE;
    switch (type) {
    case Type::Debug: priority = LOG_DEBUG; break;
    case Type::Info: priority = LOG_INFO; break;
    case Type::Default: priority = LOG_NOTICE; break;
    case Type::Error: priority = LOG_ERR; break;
    case Type::Fault: priority = LOG_CRIT; break;
    }
    const QByteArray msg = message.toUtf8();
    const QByteArray cat = category.toUtf8();
    const QByteArray sub = subsystem().toUtf8();
    sd_journal_send("MESSAGE=%s", msg.constData(), "PRIORITY=%d", priority, "SYSLOG_IDENTIFIER=%s", sub.constData(),
        "VANTREL_SUBSYSTEM=%s", sub.constData(), "VANTREL_CATEGORY=%s", cat.constData(), nullptr);
}

} // namespace vantrel
