#include "platform/LoginItems.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

namespace vantrel {

namespace {

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
        QCoreApplication::applicationFilePath())
{
}

LoginItems::LoginItems(const QString& autostartDirectory, const QString& executablePath)
    : m_directory(autostartDirectory)
    , m_executablePath(executablePath)
{
}

LoginItems& LoginItems::shared()
{
    static LoginItems* p = new LoginItems();
    return *p;
}

QString LoginItems::entryPath(const QString& identifier) const
{
    return m_directory + u'/' + identifier + QStringLiteral(".desktop");
}

LoginItems::Status LoginItems::status(const QString& identifier) const
{
    QFile file(entryPath(identifier));
    if (!file.open(QIODevice::ReadOnly))
        return Status::notRegistered;
    const QByteArray content = file.readAll();
    if (desktopEntryValue(content, QStringLiteral("Hidden")) == QStringLiteral("true"))
        return Status::notRegistered;
    if (desktopEntryValue(content, QStringLiteral("X-GNOME-Autostart-enabled")) == QStringLiteral("false"))
        return Status::notRegistered;
    return Status::enabled;
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
    if (!QDir().mkpath(m_directory))
        return QStringLiteral("The folder \"%1\" could not be created.").arg(m_directory);
    const QString content = QStringLiteral("[Desktop Entry]\n"
                                           "Type=Application\n"
                                           "Name=%1\n"
                                           "Exec=%2\n"
                                           "Terminal=false\n"
                                           "X-GNOME-Autostart-enabled=true\n")
                                .arg(escapeString(displayName), execValue(m_executablePath));
    QSaveFile file(entryPath(identifier));
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    file.write(content.toUtf8());
    if (!file.commit())
        return file.errorString();
    return std::nullopt;
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
