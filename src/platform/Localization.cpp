#include "platform/Localization.h"

#include "platform/Defaults.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QMutex>

namespace vantrel {

namespace {

struct Catalog {
    QMutex mutex;
    bool loaded = false;
    QString identifier;
    QHash<QString, QString> texts;
};

Catalog& catalog()
{
    static Catalog* instance = new Catalog;
    return *instance;
}

// Fragments of one language live in :/i18n/<id>/*.json, one per part of the application.
QHash<QString, QString> loadCatalog(const QString& identifier)
{
    QHash<QString, QString> texts;
    if (identifier.isEmpty())
        return texts;
    const QDir dir(QStringLiteral(":/i18n/") + identifier);
    const QStringList files = dir.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name);
    for (const QString& name : files) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QJsonObject object = QJsonDocument::fromJson(file.readAll()).object();
        for (auto it = object.constBegin(); it != object.constEnd(); ++it)
            if (it.value().isString())
                texts.insert(it.key(), it.value().toString());
    }
    return texts;
}

void ensureLoaded(Catalog& c)
{
    if (c.loaded)
        return;
    c.loaded = true;
    c.identifier = Localization::catalogFor(QLocale::system().name());
    c.texts = loadCatalog(c.identifier);
}

} // namespace

QStringList Localization::catalogIdentifiers()
{
    return {QStringLiteral("zh-Hans"), QStringLiteral("en"), QStringLiteral("ja"), QStringLiteral("ko"),
        QStringLiteral("de"), QStringLiteral("fr"), QStringLiteral("es"), QStringLiteral("it"), QStringLiteral("pt")};
}

QString Localization::catalogFor(const QString& languageOrLocale)
{
    QString name = languageOrLocale;
    name.replace(QLatin1Char('_'), QLatin1Char('-'));
    const QString lower = name.toLower();
    if (lower.startsWith(QLatin1String("zh"))) {
        // Traditional scripts and regions have no catalog of their own.
        if (lower.contains(QLatin1String("hant")) || lower.endsWith(QLatin1String("-tw"))
            || lower.endsWith(QLatin1String("-hk")) || lower.endsWith(QLatin1String("-mo")))
            return {};
        return QStringLiteral("zh-Hans");
    }
    const QString language = lower.section(QLatin1Char('-'), 0, 0);
    for (const QString& id : catalogIdentifiers())
        if (id == language)
            return id;
    return {};
}

void Localization::useCatalog(const QString& identifier)
{
    Catalog& c = catalog();
    QMutexLocker locker(&c.mutex);
    c.loaded = true;
    c.identifier = identifier;
    c.texts = loadCatalog(identifier);
}

void Localization::useLanguageFrom(const Defaults& defaults)
{
    const auto languages = defaults.stringListValue(QStringLiteral("AppleLanguages"));
    if (languages && !languages->isEmpty())
        useCatalog(catalogFor(languages->first()));
    else
        useCatalog(catalogFor(QLocale::system().name()));
}

QString Localization::currentCatalog()
{
    Catalog& c = catalog();
    QMutexLocker locker(&c.mutex);
    ensureLoaded(c);
    return c.identifier;
}

QString Localization::text(const QString& key, const QString& defaultText)
{
    Catalog& c = catalog();
    QMutexLocker locker(&c.mutex);
    ensureLoaded(c);
    const auto it = c.texts.constFind(key);
    return it == c.texts.constEnd() ? defaultText : it.value();
}

QString Localization::format(const QString& pattern, const QStringList& arguments)
{
    QString out;
    out.reserve(pattern.size() + 16);
    qsizetype nextSequential = 0;
    const qsizetype n = pattern.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar ch = pattern.at(i);
        if (ch != QLatin1Char('%') || i + 1 >= n) {
            out += ch;
            continue;
        }
        const QChar next = pattern.at(i + 1);
        if (next == QLatin1Char('%')) {
            out += QLatin1Char('%');
            ++i;
            continue;
        }
        if (next == QLatin1Char('@')) {
            out += arguments.value(nextSequential++);
            ++i;
            continue;
        }
        // %N$@ and %N$d
        qsizetype j = i + 1;
        while (j < n && pattern.at(j).isDigit())
            ++j;
        if (j > i + 1 && j + 1 < n && pattern.at(j) == QLatin1Char('$')
            && (pattern.at(j + 1) == QLatin1Char('@') || pattern.at(j + 1) == QLatin1Char('d'))) {
            const int position = pattern.mid(i + 1, j - i - 1).toInt();
            out += arguments.value(position - 1);
            i = j + 1;
            continue;
        }
        // %d, %ld, %lld
        j = i + 1;
        while (j < n && pattern.at(j) == QLatin1Char('l') && j - i <= 2)
            ++j;
        if (j < n && pattern.at(j) == QLatin1Char('d')) {
            out += arguments.value(nextSequential++);
            i = j;
            continue;
        }
        out += ch;
    }
    return out;
}

} // namespace vantrel
