#pragma once

#include <QString>

namespace vantrel {

// The system's unified log: records carry a subsystem, a category, a type and the bare message.
// The product writes to journald; tests hand components a capturing log instead.
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

} // namespace vantrel
