#pragma once

#include <QString>

namespace vantrel {

class LogManager;
class LoginItems;

// Registers the application to start at login; the settings window's switch drives it.
class LaunchAtLoginManager final {
public:
    LaunchAtLoginManager(LoginItems& loginItems, LogManager& log, const QString& serviceIdentifier);

    static LaunchAtLoginManager& shared();

    QString serviceIdentifier() const { return m_serviceIdentifier; }

    // Asks the system anew on every read.
    bool isEnabled() const;
    // Failures are logged, not returned.
    void setEnabled(bool enabled);

private:
    LoginItems& m_loginItems;
    LogManager& m_log;
    const QString m_serviceIdentifier;
};

} // namespace vantrel
