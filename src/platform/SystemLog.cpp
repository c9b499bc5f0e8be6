#include "platform/SystemLog.h"

#include <systemd/sd-journal.h>

#include <syslog.h>

namespace vantrel {

SystemLog& SystemLog::shared()
{
    static JournalSystemLog* instance = new JournalSystemLog;
    return *instance;
}

void JournalSystemLog::write(Type type, const QString& category, const QString& message)
{
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
    // Without journald the call fails quietly; there is nowhere better to report that.
    sd_journal_send("MESSAGE=%s", msg.constData(), "PRIORITY=%d", priority, "SYSLOG_IDENTIFIER=%s", sub.constData(),
        "VANTREL_SUBSYSTEM=%s", sub.constData(), "VANTREL_CATEGORY=%s", cat.constData(), nullptr);
}

void CapturingSystemLog::write(Type type, const QString& category, const QString& message)
{
    QMutexLocker locker(&m_mutex);
    m_records.append({type, category, message});
}

QList<CapturingSystemLog::Record> CapturingSystemLog::records() const
{
    QMutexLocker locker(&m_mutex);
    return m_records;
}

QStringList CapturingSystemLog::messages() const
{
    QMutexLocker locker(&m_mutex);
    QStringList out;
    for (const Record& r : m_records)
        out << r.message;
    return out;
}

void CapturingSystemLog::clear()
{
    QMutexLocker locker(&m_mutex);
    m_records.clear();
}

} // namespace vantrel
