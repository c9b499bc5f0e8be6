#include "platform/Localization.h"

#include "platform/Defaults.h"
#include "platform/SystemLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QSet>

namespace vantrel {

namespace {

const QString englishCatalog = QStringLiteral("en");

// A catalog value: a plain text, or the plural forms by CLDR category ("other" always present).
struct Entry {
    QString text;
    QHash<QString, QString> forms;
};

struct Catalog {
    QString identifier;
    QHash<QString, Entry> entries;
};

struct State {
    QMutex mutex;
    bool loaded = false;
    QString identifier;
    Catalog chosen;
    Catalog english; // behind a non-English choice
    SystemLog* log = nullptr;
    QSet<QString> reported; // entries already reported as unusable, "<catalog>/<key>"
};

State& state()
{
    static State* instance = new State;
    return *instance;
}

void report(SystemLog& log, const QString& message)
{
    log.write(SystemLog::Type::Error, QStringLiteral("Localization"), message);
}

const QSet<QString>& pluralCategories()
{
    static const QSet<QString> categories{QStringLiteral("zero"), QStringLiteral("one"), QStringLiteral("two"),
        QStringLiteral("few"), QStringLiteral("many"), QStringLiteral("other")};
    return categories;
}

std::optional<Entry> entryFrom(const QJsonValue& value)
{
    if (value.isString())
        return Entry{value.toString(), {}};
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    Entry entry;
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        if (!it.value().isString() || !pluralCategories().contains(it.key()))
            return std::nullopt;
        entry.forms.insert(it.key(), it.value().toString());
    }
    if (!entry.forms.contains(QStringLiteral("other")))
        return std::nullopt;
    return entry;
}

// Each part of the application has a file of its own, <root>/<id>/<part>.json. A part that does not
// load leaves its keys to the catalogs behind it.
Catalog loadCatalog(const QString& identifier, const QString& root, SystemLog& log)
{
    Catalog catalog{identifier, {}};
    if (identifier.isEmpty())
        return catalog;
    const QDir dir(root + u'/' + identifier);
    if (!dir.exists()) {
        report(log,
            QStringLiteral("No interface catalog for \"%1\" at %2; English texts are shown instead")
                .arg(identifier, dir.path()));
        return catalog;
    }
    // Anything named like a part counts, so a part that cannot be read is reported, not overlooked.
    const QStringList names = dir.entryList({QStringLiteral("*.json")},
        QDir::Files | QDir::Dirs | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    if (identifier != englishCatalog) {
        const QDir english(root + u'/' + englishCatalog);
        for (const QString& part : english.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name)) {
            if (!names.contains(part))
                report(log,
                    QStringLiteral("The interface catalog part %1 is missing; its English texts are shown")
                        .arg(dir.filePath(part)));
        }
    }
    for (const QString& name : names) {
        const QString path = dir.filePath(name);
        QFile file(path);
        if (QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly)) {
            report(log,
                QStringLiteral("The interface catalog %1 cannot be read (%2); it is skipped")
                    .arg(path, file.errorString()));
            continue;
        }
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
        if (error.error != QJsonParseError::NoError || !document.isObject()) {
            const QString reason = error.error != QJsonParseError::NoError
                ? QStringLiteral("%1 at offset %2").arg(error.errorString()).arg(error.offset)
                : QStringLiteral("not a JSON object");
            report(log, QStringLiteral("The interface catalog %1 is not valid (%2); it is skipped").arg(path, reason));
            continue;
        }
        const QJsonObject object = document.object();
        for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
            if (std::optional<Entry> entry = entryFrom(it.value()))
                catalog.entries.insert(it.key(), *entry);
            else
                report(log,
                    QStringLiteral("The entry \"%1\" of %2 is neither a text nor plural forms with \"other\"; "
                                   "it is skipped")
                        .arg(it.key(), path));
        }
    }
    return catalog;
}

void load(State& s, const QString& identifier, const QString& root, SystemLog& log)
{
    s.loaded = true;
    s.identifier = identifier;
    s.log = &log;
    s.reported.clear();
    s.chosen = loadCatalog(identifier, root, log);
    s.english = identifier.isEmpty() || identifier == englishCatalog ? Catalog{}
                                                                     : loadCatalog(englishCatalog, root, log);
}

void ensureLoaded(State& s)
{
    if (!s.loaded)
        load(s, Localization::catalogForPreferred(QLocale::system().uiLanguages()), Localization::resourceRoot,
            SystemLog::shared());
}

// One placeholder or "%%" at `start` of a format, or none (a lone '%' is plain text).
struct Placeholder {
    qsizetype end = 0; // one past its last character
    QChar kind;        // '%', '@', 'd' or 'f'; null when there is no placeholder
    int position = 0;  // 1-based for "%N$..", 0 for the sequential forms
};

Placeholder placeholderAt(const QString& pattern, qsizetype start)
{
    const qsizetype n = pattern.size();
    qsizetype i = start + 1;
    if (i < n && pattern.at(i) == u'%')
        return {i + 1, u'%', 0};
    int position = 0;
    qsizetype digits = i;
    while (digits < n && pattern.at(digits).isDigit())
        ++digits;
    if (digits > i && digits < n && pattern.at(digits) == u'$') {
        position = pattern.mid(i, digits - i).toInt();
        if (position < 1 || position > 99)
            return {};
        i = digits + 1;
    }
    if (i < n && pattern.at(i) == u'@')
        return {i + 1, u'@', position};
    qsizetype j = i;
    while (j < n && j - i < 2 && pattern.at(j) == u'l')
        ++j;
    if (j < n && pattern.at(j) == u'd')
        return {j + 1, u'd', position};
    j = i;
    if (j < n && pattern.at(j) == u'.') {
        ++j;
        while (j < n && pattern.at(j).isDigit())
            ++j;
    }
    if (j < n && pattern.at(j) == u'f')
        return {j + 1, u'f', position};
    return {};
}

bool fits(const QString& candidate, const QString& defaultText)
{
    const std::optional<QString> kinds = Localization::placeholderKinds(candidate);
    return kinds && kinds == Localization::placeholderKinds(defaultText);
}

// The chosen catalog's entry, else the English one, else the default; an entry that does not fit
// the default's placeholders is passed over (and reported once).
QString lookUp(const QString& key, const QString& defaultText, std::optional<qint64> count)
{
    State& s = state();
    QMutexLocker locker(&s.mutex);
    ensureLoaded(s);
    for (const Catalog* catalog : {&s.chosen, &s.english}) {
        const auto it = catalog->entries.constFind(key);
        if (it == catalog->entries.constEnd())
            continue;
        QString candidate = it->text;
        if (!it->forms.isEmpty()) {
            const QString category = count ? Localization::pluralCategory(catalog->identifier, *count)
                                           : QStringLiteral("other");
            candidate = it->forms.value(category, it->forms.value(QStringLiteral("other")));
        }
        if (fits(candidate, defaultText))
            return candidate;
        if (s.log && !s.reported.contains(catalog->identifier + u'/' + key)) {
            s.reported.insert(catalog->identifier + u'/' + key);
            report(*s.log,
                QStringLiteral("The \"%1\" text of \"%2\" does not have the placeholders of \"%3\"; it is "
                               "not used")
                    .arg(catalog->identifier, key, defaultText));
        }
    }
    return defaultText;
}

} // namespace

QStringList Localization::catalogIdentifiers()
{
    return {QStringLiteral("zh-Hans"), QStringLiteral("en"), QStringLiteral("ja"), QStringLiteral("ko"),
        QStringLiteral("de"), QStringLiteral("fr"), QStringLiteral("es"), QStringLiteral("it"), QStringLiteral("pt")};
}

QString Localization::catalogFor(const QString& languageOrLocale)
{
    // "de_DE.UTF-8@euro", "pt-BR", "zh_Hant_TW": only the language decides.
    QString name = languageOrLocale.section(u'.', 0, 0).section(u'@', 0, 0);
    name.replace(u'_', u'-');
    const QString language = name.section(u'-', 0, 0).toLower();
    // Simplified Chinese is the one Chinese catalog; CLDR's language matching accepts it for a
    // reader of Traditional Chinese too, who reads it sooner than English.
    if (language == QLatin1String("zh"))
        return QStringLiteral("zh-Hans");
    for (const QString& id : catalogIdentifiers())
        if (id == language)
            return id;
    return {};
}

QString Localization::catalogForPreferred(const QStringList& languages)
{
    for (const QString& language : languages)
        if (const QString id = catalogFor(language); !id.isEmpty())
            return id;
    return englishCatalog;
}

QString Localization::pluralCategory(const QString& catalog, qint64 count)
{
    const bool zeroOrOne = count == 0 || count == 1 || count == -1;
    const bool one = count == 1 || count == -1;
    if (catalog == QLatin1String("fr"))
        return zeroOrOne ? QStringLiteral("one") : QStringLiteral("other");
    if (catalog == QLatin1String("ja") || catalog == QLatin1String("ko") || catalog == QLatin1String("zh-Hans"))
        return QStringLiteral("other");
    return one ? QStringLiteral("one") : QStringLiteral("other");
}

void Localization::useCatalog(const QString& identifier)
{
    useCatalog(identifier, resourceRoot, SystemLog::shared());
}

void Localization::useCatalog(const QString& identifier, const QString& root, SystemLog& log)
{
    State& s = state();
    QMutexLocker locker(&s.mutex);
    load(s, identifier, root, log);
}

void Localization::useLanguageFrom(const Defaults& defaults)
{
    // "AppleLanguages" holds the user's pick; without it the interface follows the system.
    const auto languages = defaults.stringListValue(QStringLiteral("AppleLanguages"));
    if (languages && !languages->isEmpty())
        useCatalog(catalogForPreferred({languages->first()}));
    else
        useCatalog(catalogForPreferred(QLocale::system().uiLanguages()));
}

QString Localization::currentCatalog()
{
    State& s = state();
    QMutexLocker locker(&s.mutex);
    ensureLoaded(s);
    return s.identifier;
}

QLocale Localization::locale()
{
    const QString catalog = currentCatalog();
    if (catalog.isEmpty() || catalog == englishCatalog)
        return QLocale(QLocale::English, QLocale::UnitedStates);
    if (catalog == QLatin1String("zh-Hans"))
        return QLocale(QLocale::Chinese, QLocale::SimplifiedHanScript, QLocale::China);
    return QLocale(catalog);
}

QString Localization::text(const QString& key, const QString& defaultText)
{
    return lookUp(key, defaultText, std::nullopt);
}

QString Localization::plural(const QString& key, const QString& defaultText, qint64 count, const QStringList& arguments)
{
    return format(lookUp(key, defaultText, count),
        arguments.isEmpty() ? QStringList{QString::number(count)} : arguments);
}

std::optional<QString> Localization::placeholderKinds(const QString& pattern)
{
    QString kinds;
    bool sequential = false;
    bool positional = false;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        if (pattern.at(i) != u'%')
            continue;
        const Placeholder p = placeholderAt(pattern, i);
        if (p.kind.isNull())
            continue;
        i = p.end - 1;
        if (p.kind == u'%')
            continue;
        (p.position > 0 ? positional : sequential) = true;
        const qsizetype index = p.position > 0 ? p.position - 1 : kinds.size();
        if (index >= kinds.size())
            kinds.resize(index + 1, QChar());
        if (!kinds.at(index).isNull())
            return std::nullopt; // an argument used twice
        kinds[index] = p.kind;
    }
    if ((sequential && positional) || kinds.contains(QChar()))
        return std::nullopt;
    return kinds;
}

QString Localization::format(const QString& pattern, const QStringList& arguments)
{
    QString out;
    out.reserve(pattern.size() + 16);
    qsizetype nextSequential = 0;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar ch = pattern.at(i);
        const Placeholder p = ch == u'%' ? placeholderAt(pattern, i) : Placeholder{};
        if (p.kind.isNull()) {
            out += ch;
            continue;
        }
        if (p.kind == u'%')
            out += u'%';
        else
            out += arguments.value(p.position > 0 ? p.position - 1 : nextSequential++);
        i = p.end - 1;
    }
    return out;
}

} // namespace vantrel
