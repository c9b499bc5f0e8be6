#pragma once

#include <QHashFunctions>
#include <QList>
#include <QLocale>
#include <QMetaType>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace vantrel {

class Defaults;

// The interface languages the user can pick, plus following the system.
enum class AppLanguage { system, zhHans, english, japanese, korean, german, french, spanish, italian, portuguese };

QList<AppLanguage> allAppLanguages();
QString appLanguageRawValue(AppLanguage language); // "system", "zh-Hans", "en", ...
std::optional<AppLanguage> appLanguageFromRaw(const QString& raw);
// Each language's own name; "follow the system" in the interface language.
QString appLanguageDisplayName(AppLanguage language);

inline size_t qHash(AppLanguage language, size_t seed = 0) noexcept
{
    return ::qHash(appLanguageRawValue(language), seed);
}

// Holds the interface-language choice, stores it, tells the next launch which catalog to load
// ("AppleLanguages") and publishes the locale that views apply at once. Main thread only.
class LanguageManager final : public QObject {
    Q_OBJECT
    Q_PROPERTY(QLocale locale READ locale NOTIFY localeChanged)
    Q_PROPERTY(vantrel::AppLanguage selectedLanguage READ selectedLanguage WRITE setSelectedLanguage NOTIFY
            selectedLanguageChanged)

public:
    static inline const QString appleLanguagesKey = QStringLiteral("AppleLanguages");
    static inline const QString appLanguageKey = QStringLiteral("VantrelSelectedLanguage");

    using SystemLocaleSource = std::function<QLocale()>;

    explicit LanguageManager(
        Defaults& defaults, SystemLocaleSource systemLocale = [] { return QLocale::system(); },
        QObject* parent = nullptr);

    // Built on Defaults::standard() and the system locale; create it on the main thread.
    static LanguageManager& shared();

    QLocale locale() const { return m_locale; }
    AppLanguage selectedLanguage() const { return m_selectedLanguage; }
    // Applies and publishes a different language; assigning the current one does nothing.
    void setSelectedLanguage(AppLanguage language);

    // Stores the choice and computes its locale; publishes the locale only when notify is true.
    void applyLanguage(AppLanguage language, bool notify);

signals:
    void localeChanged(const QLocale& locale);
    void selectedLanguageChanged(vantrel::AppLanguage language);

private:
    Defaults& m_defaults;
    SystemLocaleSource m_systemLocale;
    QLocale m_locale;
    AppLanguage m_selectedLanguage = AppLanguage::system;
};

} // namespace vantrel

Q_DECLARE_METATYPE(vantrel::AppLanguage)
