#pragma once

#include <QList>
#include <QMutex>
#include <QString>

namespace vantrel {

// The system's unified log: records carry a subsystem, a category, a type and the bare message.
// The product writes to journald; tests hand components a CapturingSystemLog instead.
class SystemLog {
public:
    enum class Type { Debug, Info, Default, Error, Fault };

    virtual ~SystemLog() = default;

    // journald, silently nothing where journald is absent.
    static SystemLog& shared();

    virtual void write(Type type, const QString& category, const QString& message) = 0;
    virtual bool isEnabled(Type) const { return true; }

    static QString subsystem() { return QStringLiteral("com.vantrel"); }
};

class JournalSystemLog final : public SystemLog {
public:
    void write(Type type, const QString& category, const QString& message) override;
};

// Keeps every record in memory; thread-safe.
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
