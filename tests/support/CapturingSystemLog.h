#pragma once

#include "platform/SystemLog.h"

#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>

namespace vantrel {

// Keeps every record in memory instead of writing it anywhere; thread-safe.
class CapturingSystemLog final : public SystemLog {
public:
    struct Record {
        Type type;
        QString category;
        QString message;
        bool operator==(const Record&) const = default;
    };

    void write(Type type, const QString& category, const QString& message) override;
    QList<Record> records() const;
    QStringList messages() const;
    void clear();

private:
    mutable QMutex m_mutex;
    QList<Record> m_records;
};

} // namespace vantrel
