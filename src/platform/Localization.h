#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

namespace vantrel {

class Defaults;

// Interface texts by dotted key. The catalog is chosen once, at first use: the first entry of
// "AppleLanguages" in the defaults, else the system locale. A key the catalog lacks shows the
// default text given at the call site.
class Localization {
public:
    static QString text(const QString& key, const QString& defaultText);

    // Replaces "%@" (in order), "%N$@" (by position), "%d"/"%ld"/"%lld" (in order, as text) and
    // "%%" in one pass, so a placeholder inside an argument is never substituted again.
    static QString format(const QString& pattern, const QStringList& arguments);
    static QString textFormat(const QString& key, const QString& defaultText, const QStringList& arguments)
    {
        return format(text(key, defaultText), arguments);
    }

    // The catalog identifier for a language or locale name ("en", "zh-Hans", ...), or empty when
    // no catalog serves it.
    static QString catalogFor(const QString& languageOrLocale);
    static QStringList catalogIdentifiers();

    // For tests and the language switch at start-up: load a catalog explicitly.
    static void useCatalog(const QString& identifier);
    static void useLanguageFrom(const Defaults& defaults);
    static QString currentCatalog();
};

} // namespace vantrel
