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

} // namespace vantrel
