#pragma once

#include <QString>

#include <optional>

namespace vantrel {

// Login items as XDG autostart entries: "<autostart folder>/<identifier>.desktop".
// A session starts every entry in that folder that is not marked hidden or disabled.
class LoginItems final {
public:
    enum class Status { notRegistered, enabled };

    // The autostart folder under the user's config folder (honours XDG_CONFIG_HOME), and the
    // program that `programPath` picks for this process.
    LoginItems();
    LoginItems(const QString& autostartDirectory, const QString& executablePath);

    static LoginItems& shared();

    QString autostartDirectory() const { return m_directory; }
    QString executablePath() const { return m_executablePath; }
    QString entryPath(const QString& identifier) const;

    // Enabled exactly when the entry exists and the session would start it.
    Status status(const QString& identifier) const;
    // Whether the entry starts this program, not one at another path (an older build or install).
    bool startsThisProgram(const QString& identifier) const;

    // Both return none on success, else a description of what failed. The previous entry
    // survives a failed write.
    std::optional<QString> registerItem(const QString& identifier, const QString& displayName);
    std::optional<QString> unregisterItem(const QString& identifier);

    // The Exec value that starts `path` with no arguments, quoted and escaped for a desktop entry.
    static QString execValue(const QString& path);
    // What a login should start: the installed path when the running executable is the installed
    // one (the path stays valid however the prefix's links resolve), else the running executable
    // itself, such as a build's.
    static QString programPath(const QString& runningExecutable, const QString& installedExecutable);

private:
    QString m_directory;
    QString m_executablePath;
};

} // namespace vantrel
