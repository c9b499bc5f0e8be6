#pragma once

#include <QString>

namespace vantrel {

// The system's unified log: records carry a subsystem, a category, a type and the bare message.
// The product writes to journald; tests hand components a capturing log instead.
class SystemLog {
public:
    enum class Type { Debug, Info, Default, Error, Fault };

    virtual ~SystemLog() = default;

    // journald, or standard error where journald is absent.
    static SystemLog& shared();

    virtual void write(Type type, const QString& category, const QString& message) = 0;
    virtual bool isEnabled(Type) const { return true; }

    static QString subsystem() { return QStringLiteral("com.vantrel"); }
};

// Writes to journald while its socket exists, and one line per record to `fallbackFd` (standard
// error) otherwise: a container or a minimal session has no journald, and sd_journal_send then
// drops records without a word.
class JournalSystemLog final : public SystemLog {
public:
    static inline const QString journalSocketPath = QStringLiteral("/run/systemd/journal/socket");

    explicit JournalSystemLog(const QString& socketPath = journalSocketPath, int fallbackFd = 2);

    void write(Type type, const QString& category, const QString& message) override;

private:
    QString m_socketPath;
    int m_fallbackFd;
};

} // namespace vantrel
