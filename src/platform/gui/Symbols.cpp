#include "platform/gui/Symbols.h"

#include "platform/AppInfo.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QPainter>
#include <QThread>

#include <atomic>

namespace vantrel {

namespace {

struct Entry {
    QString name;
    QStringList themeNames;
};

// Only one-colour theme icons qualify: a tint replaces every colour of the icon.
const QList<Entry>& table()
{
    static const QList<Entry> entries = [] {
        const auto s = [](const char* name) { return QString::fromLatin1(name) + QStringLiteral("-symbolic"); };
        return QList<Entry>{
            {QStringLiteral("arrow.backward"), {s("go-previous")}},
            {QStringLiteral("arrow.clockwise"), {s("view-refresh")}},
            {QStringLiteral("arrow.clockwise.circle"), {}},
            {QStringLiteral("arrow.down.circle"), {}},
            {QStringLiteral("arrow.up.arrow.down"), {}},
            {QStringLiteral("arrow.up.arrow.down.circle"), {}},
            {QStringLiteral("arrow.up.circle"), {}},
            {QStringLiteral("arrow.up.forward.app"), {}},
            {QStringLiteral("bed.double.circle"), {}},
            {QStringLiteral("bell"), {s("preferences-system-notifications")}},
            {QStringLiteral("bubble.left.and.bubble.right"), {}},
            {QStringLiteral("character"), {}},
            {QStringLiteral("checkmark.circle"), {}},
            {QStringLiteral("checkmark.circle.fill"), {}},
            {QStringLiteral("chevron.down"), {}},
            {QStringLiteral("chevron.right"), {}},
            {QStringLiteral("chevron.up"), {}},
            {QStringLiteral("doc"), {s("text-x-generic")}},
            {QStringLiteral("doc.plaintext"), {s("text-x-generic")}},
            {QStringLiteral("doc.text"), {s("x-office-document")}},
            {QStringLiteral("doc.zipper"), {s("package-x-generic")}},
            {QStringLiteral("eject"), {s("media-eject")}},
            {QStringLiteral("exclamationmark.triangle"), {s("dialog-warning")}},
            {QStringLiteral("exclamationmark.triangle.fill"), {s("dialog-warning")}},
            {QStringLiteral("externaldrive.badge.plus"), {}},
            {QStringLiteral("externaldrive.badge.xmark"), {}},
            {QStringLiteral("externaldrive.connected.to.line.below"), {}},
            {QStringLiteral("externaldrive.fill"), {}},
            {QStringLiteral("film"), {s("video-x-generic")}},
            {QStringLiteral("finder"), {s("system-file-manager")}},
            {QStringLiteral("folder"), {s("folder")}},
            {QStringLiteral("gear"), {s("emblem-system")}},
            {QStringLiteral("gearshape.2"), {}},
            {QStringLiteral("globe"), {}},
            {QStringLiteral("house"), {s("user-home")}},
            {QStringLiteral("info.circle"), {}},
            {QStringLiteral("internaldrive"), {s("drive-harddisk")}},
            {QStringLiteral("lock.open"), {s("changes-allow")}},
            {QStringLiteral("minus.circle.fill"), {}},
            {QStringLiteral("music.note"), {s("audio-x-generic")}},
            {QStringLiteral("network"), {s("network-wired")}},
            {QStringLiteral("pause.fill"), {s("media-playback-pause")}},
            {QStringLiteral("photo"), {s("image-x-generic")}},
            {QStringLiteral("play.fill"), {s("media-playback-start")}},
            {QStringLiteral("plus"), {s("list-add")}},
            {QStringLiteral("power"), {s("system-shutdown")}},
            {QStringLiteral("square.and.arrow.up"), {s("send-to")}},
            {QStringLiteral("terminal"), {s("utilities-terminal")}},
            {QStringLiteral("trash"), {s("user-trash")}},
            {QStringLiteral("wifi"), {s("network-wireless")}},
            {QStringLiteral("wifi.circle"), {}},
            {QStringLiteral("xmark.bin"), {}},
            {QStringLiteral("xmark.circle"), {}},
            {QStringLiteral("xmark.circle.fill"), {}},
            {QStringLiteral("xmark.fill"), {s("window-close")}},
            {QStringLiteral("xmark.octagon"), {}},
        };
    }();
    return entries;
}

const QHash<QString, QStringList>& themeIndex()
{
    static const QHash<QString, QStringList> index = [] {
        QHash<QString, QStringList> result;
        for (const Entry& entry : table())
            result.insert(entry.name, entry.themeNames);
        return result;
    }();
    return index;
}

QString bundledPath(const QString& symbolName)
{
    return QStringLiteral(":/symbols/") + symbolName + QStringLiteral(".svg");
}

QIcon unknownSymbolIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(Qt::black, std::max(1.0, size / 12.0)));
        const qreal inset = size * 0.2;
        painter.drawRoundedRect(QRectF(inset, inset, size - 2 * inset, size - 2 * inset), size * 0.1, size * 0.1);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

std::atomic<quint64> renders{0};

QPixmap render(const QString& symbolName, const QColor& color, int size)
{
    ++renders;
    // A theme may have only smaller fixed sizes of an icon: scale up rather than draw it small.
    QPixmap pixmap = Symbols::icon(symbolName).pixmap(QSize(size, size), 1.0);
    if (pixmap.isNull())
        pixmap = Symbols::bundledIcon(symbolName).pixmap(QSize(size, size), 1.0);
    if (pixmap.width() != size || pixmap.height() != size)
        pixmap = pixmap.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QPixmap result(size, size);
    result.fill(Qt::transparent);
    QPainter painter(&result);
    painter.drawPixmap((size - pixmap.width()) / 2, (size - pixmap.height()) / 2, pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(result.rect(), color);
    return result;
}

// Looked-up icons and rendered drawings; touched on the GUI thread only (pixmaps belong there).
// The entries are bounded by the names, tints and sizes the interface uses.
struct Kept {
    struct Drawing {
        QString name;
        QRgb color;
        int size;
        bool operator==(const Drawing&) const = default;
    };
    QString theme;
    QHash<QString, QIcon> icons;
    QHash<Drawing, QPixmap> drawings;
};

size_t qHash(const Kept::Drawing& drawing, size_t seed = 0)
{
    return qHashMulti(seed, drawing.name, drawing.color, drawing.size);
}

bool onGuiThread()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

// What a theme lookup depends on.
QString themeSettings()
{
    return QIcon::themeName() + u'\n' + QIcon::fallbackThemeName() + u'\n' + QIcon::themeSearchPaths().join(u'\n');
}

// The kept icons and drawings, emptied first when the theme's settings changed since they were kept.
Kept& kept()
{
    static Kept* instance = new Kept;
    QString theme = themeSettings();
    if (theme != instance->theme) {
        instance->theme = std::move(theme);
        instance->icons.clear();
        instance->drawings.clear();
    }
    return *instance;
}

QIcon lookUp(const QString& symbolName)
{
    for (const QString& name : Symbols::themeNames(symbolName)) {
        if (QIcon::hasThemeIcon(name))
            return QIcon::fromTheme(name);
    }
    return Symbols::bundledIcon(symbolName);
}

} // namespace

QStringList Symbols::names()
{
    QStringList result;
    for (const Entry& entry : table())
        result.append(entry.name);
    return result;
}

bool Symbols::isKnown(const QString& symbolName)
{
    return themeIndex().contains(symbolName);
}

QStringList Symbols::themeNames(const QString& symbolName)
{
    return themeIndex().value(symbolName);
}

QIcon Symbols::bundledIcon(const QString& symbolName)
{
    const QString path = bundledPath(symbolName);
    if (isKnown(symbolName) && QFile::exists(path))
        return QIcon(path);
    return unknownSymbolIcon();
}

QIcon Symbols::icon(const QString& symbolName)
{
    if (!onGuiThread())
        return lookUp(symbolName);
    QHash<QString, QIcon>& icons = kept().icons;
    auto found = icons.constFind(symbolName);
    if (found == icons.cend())
        found = icons.insert(symbolName, lookUp(symbolName));
    return *found;
}

QPixmap Symbols::tinted(const QString& symbolName, const QColor& color, int size)
{
    if (!onGuiThread())
        return render(symbolName, color, size);
    QHash<Kept::Drawing, QPixmap>& drawings = kept().drawings;
    const Kept::Drawing key{symbolName, color.rgba(), size};
    auto found = drawings.constFind(key);
    if (found == drawings.cend())
        found = drawings.insert(key, render(symbolName, color, size));
    return *found;
}

quint64 Symbols::renderCount()
{
    return renders;
}

QIcon Symbols::applicationIcon()
{
    return QIcon(QStringLiteral(":/icons/") + AppInfo::iconName() + QStringLiteral(".svg"));
}

void Symbols::useSymbolicFallbackTheme()
{
    static const QString freedesktopDefault = QStringLiteral("Adwaita");
    static const QString bareTheme = QStringLiteral("hicolor");
    const auto namesNone = [](const QString& theme) { return theme.isEmpty() || theme == bareTheme; };
    const bool borrowFallback = namesNone(QIcon::fallbackThemeName());
    const bool borrowTheme = namesNone(QIcon::themeName());
    if (!borrowFallback && !borrowTheme)
        return;
    for (const QString& path : QIcon::themeSearchPaths()) {
        if (QFile::exists(QDir(path).filePath(freedesktopDefault + QStringLiteral("/index.theme")))) {
            if (borrowFallback)
                QIcon::setFallbackThemeName(freedesktopDefault);
            if (borrowTheme)
                QIcon::setThemeName(freedesktopDefault);
            return;
        }
    }
}

} // namespace vantrel
