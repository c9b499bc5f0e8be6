#include "support/CapturingSystemLog.h"

namespace vantrel {

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
