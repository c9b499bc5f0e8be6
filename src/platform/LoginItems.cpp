#include "platform/LoginItems.h"

#include "platform/AppInfo.h"
#include "platform/StoredFile.h"
#include "platform/Threading.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace vantrel {

namespace {

// Far more than any entry we write; anything larger is not ours.
constexpr qint64 maxEntrySize = 64 * 1024;

// The value of `key` in the [Desktop Entry] group, or none.
std::optional<QString> desktopEntryValue(const QByteArray& content, const QString& key)
{
    bool inMainGroup = false;
    const QList<QByteArray> lines = content.split('\n');
    for (const QByteArray& raw : lines) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.startsWith(u'[')) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inMainGroup || line.startsWith(u'#'))
            continue;
        const qsizetype eq = line.indexOf(u'=');
        if (eq > 0 && line.left(eq).trimmed() == key)
            return line.mid(eq + 1).trimmed();
    }
    return std::nullopt;
}

// Desktop entry string escapes (\\, \n, \t, \r) for a single-line value.
QString escapeString(QString value)
{
    value.replace(u'\\', QLatin1String("\\\\"));
    value.replace(u'\n', QLatin1String("\\n"));
    value.replace(u'\t', QLatin1String("\\t"));
    value.replace(u'\r', QLatin1String("\\r"));
    return value;
}

} // namespace

LoginItems::LoginItems()
    : LoginItems(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/autostart"),
        programPath(QCoreApplication::applicationFilePath(), AppInfo::installedExecutable()))
{
}

QString LoginItems::programPath(const QString& runningExecutable, const QString& installedExecutable)
{
    const QString running = QFileInfo(runningExecutable).canonicalFilePath();
    if (!running.isEmpty() && running == QFileInfo(installedExecutable).canonicalFilePath())
        return installedExecutable;
    return runningExecutable;
}

LoginItems::LoginItems(const QString& autostartDirectory, const QString& executablePath)
    : m_directory(autostartDirectory)
    , m_executablePath(executablePath)
{
}

LoginItems& LoginItems::shared()
{
    return sharedInstance([] { return new LoginItems(); });
}

QString LoginItems::entryPath(const QString& identifier) const
{
    return m_directory + u'/' + identifier + QStringLiteral(".desktop");
}

LoginItems::Status LoginItems::status(const QString& identifier) const
{
    const StoredFile::Contents entry = StoredFile::read(entryPath(identifier), maxEntrySize);
    if (entry.state != StoredFile::Contents::State::read)
        return Status::notRegistered;
    const QByteArray& content = entry.bytes;
    if (desktopEntryValue(content, QStringLiteral("Hidden")) == QStringLiteral("true"))
        return Status::notRegistered;
    if (desktopEntryValue(content, QStringLiteral("X-GNOME-Autostart-enabled")) == QStringLiteral("false"))
        return Status::notRegistered;
    return Status::enabled;
}

bool LoginItems::startsThisProgram(const QString& identifier) const
{
    const StoredFile::Contents entry = StoredFile::read(entryPath(identifier), maxEntrySize);
    return entry.state == StoredFile::Contents::State::read
        && desktopEntryValue(entry.bytes, QStringLiteral("Exec")) == execValue(m_executablePath);
}

QString LoginItems::execValue(const QString& path)
{
    // Quoting rules of the Exec key first, then the general string escapes; "%" is a field code.
    QString quoted;
    for (const QChar c : path) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    quoted.replace(u'%', QLatin1String("%%"));
    return escapeString(u'"' + quoted + u'"');
}

std::optional<QString> LoginItems::registerItem(const QString& identifier, const QString& displayName)
{
    const QString content = QStringLiteral("[Desktop Entry]\n"
                                           "Type=Application\n"
                                           "Name=%1\n"
                                           "Exec=%2\n"
                                           "Terminal=false\n"
                                           "X-GNOME-Autostart-enabled=true\n")
                                .arg(escapeString(displayName), execValue(m_executablePath));
    return StoredFile::write(entryPath(identifier), content.toUtf8());
}

std::optional<QString> LoginItems::unregisterItem(const QString& identifier)
{
    QFile file(entryPath(identifier));
    if (!file.exists())
        return std::nullopt;
    if (!file.remove())
        return file.errorString();
    return std::nullopt;
}

} // namespace vantrel
