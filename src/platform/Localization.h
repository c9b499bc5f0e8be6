#pragma once

#include <QHash>
#include <QLocale>
#include <QString>
#include <QStringList>

#include <optional>

namespace vantrel {

class Defaults;
class SystemLog;

// Marks a key that reaches a lookup through a table or a parameter instead of as the literal first
// argument of the lookup, so that a scan of the sources (the catalog test) still finds it.
template <typename Key>
constexpr Key textKey(Key key)
{
    return key;
}

// Interface texts by dotted key, from the catalogs in resources/i18n/<language>/*.json. A lookup
// tries the chosen catalog, then the English one, then the default text given at the call site;
// an entry whose placeholders differ from the default's is passed over, so a wrong translation can
// neither break a format nor drop a value. The catalog is chosen once, at first use: the first
// entry of "AppleLanguages" in the defaults, else the system's languages.
class Localization {
public:
    static inline const QString resourceRoot = QStringLiteral(":/i18n");

    static QString text(const QString& key, const QString& defaultText);
    static QString textFormat(const QString& key, const QString& defaultText, const QStringList& arguments)
    {
        return format(text(key, defaultText), arguments);
    }
    // A text that shows a count: the plural form the count takes in the language of the catalog
    // that holds the entry. The arguments fill the placeholders; without any, the count alone does.
    static QString plural(const QString& key, const QString& defaultText, qint64 count,
        const QStringList& arguments = {});

    // Replaces "%@", "%d"/"%ld"/"%lld" and "%.1f" (in order), their positional forms ("%2$@"), and
    // "%%" in one pass, so a placeholder inside an argument is never substituted again. Arguments
    // are text, numbers already written out.
    static QString format(const QString& pattern, const QStringList& arguments);

    // The kind of each argument of a format, by position: '@' text, 'd' integer, 'f' number.
    // Empty when the format mixes positional and sequential placeholders, uses an argument twice
    // or skips one. Two formats are interchangeable when their kinds are equal.
    static std::optional<QString> placeholderKinds(const QString& pattern);

    // The CLDR plural category, "one" or "other", of a whole count in a catalog's language.
    static QString pluralCategory(const QString& catalog, qint64 count);

    // The catalog nearest to a language or locale name ("en_GB" -> "en", "pt-BR" -> "pt", any
    // Chinese -> "zh-Hans"), or empty when none serves it.
    static QString catalogFor(const QString& languageOrLocale);
    // The catalog for the first of the preferred languages that one serves, else English.
    static QString catalogForPreferred(const QStringList& languages);
    static QStringList catalogIdentifiers();

    // Loads a catalog (with English behind it) from `root`; an empty identifier loads none, so
    // every lookup shows its default text (tests). A catalog file that is missing, unreadable or
    // not a JSON object, and an entry of the wrong shape, is reported to `log` and skipped.
    static void useCatalog(const QString& identifier);
    static void useCatalog(const QString& identifier, const QString& root, SystemLog& log);
    static void useLanguageFrom(const Defaults& defaults);
    static QString currentCatalog();
    // The interface language's locale, for numbers and dates: the chosen catalog's language, English
    // without one.
    static QLocale locale();
};

} // namespace vantrel
