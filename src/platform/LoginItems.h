#pragma once

#include <QString>

#include <optional>

namespace vantrel {

// Login items as XDG autostart entries: "<autostart folder>/<identifier>.desktop".
// A session starts every entry in that folder that is not marked hidden or disabled.
class LoginItems final {
public:
    enum class Status { notRegistered, enabled };

    // The autostart folder under the user's config folder (honours XDG_CONFIG_HOME) and the
    // running executable.
    LoginItems();
    LoginItems(const QString& autostartDirectory, const QString& executablePath);

    static LoginItems& shared();

    QString autostartDirectory() const { return m_directory; }
    QString entryPath(const QString& identifier) const;

    // Enabled exactly when the entry exists and the session would start it.
    Status status(const QString& identifier) const;

    // Both return none on success, else a description of what failed. The previous entry
    // survives a failed write.
    std::optional<QString> registerItem(const QString& identifier, const QString& displayName);
    std::optional<QString> unregisterItem(const QString& identifier);

    // The Exec value that starts `path` with no arguments, quoted and escaped for a desktop entry.
    static QString execValue(const QString& path);

private:
    QString m_directory;
    QString m_executablePath;
};

} // namespace vantrel
