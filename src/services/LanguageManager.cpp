#include "services/LanguageManager.h"

#include "platform/Defaults.h"
#include "platform/Localization.h"
#include "platform/Threading.h"

namespace vantrel {

template <>
QList<AppLanguage> allCases<AppLanguage>()
{
    return {AppLanguage::system, AppLanguage::zhHans, AppLanguage::english, AppLanguage::japanese, AppLanguage::korean,
        AppLanguage::german, AppLanguage::french, AppLanguage::spanish, AppLanguage::italian, AppLanguage::portuguese};
}

QString rawValue(AppLanguage language)
{
    switch (language) {
    case AppLanguage::system: return QStringLiteral("system");
    case AppLanguage::zhHans: return QStringLiteral("zh-Hans");
    case AppLanguage::english: return QStringLiteral("en");
    case AppLanguage::japanese: return QStringLiteral("ja");
    case AppLanguage::korean: return QStringLiteral("ko");
    case AppLanguage::german: return QStringLiteral("de");
    case AppLanguage::french: return QStringLiteral("fr");
    case AppLanguage::spanish: return QStringLiteral("es");
    case AppLanguage::italian: return QStringLiteral("it");
    case AppLanguage::portuguese: return QStringLiteral("pt");
    }
    return QStringLiteral("system");
}

QString appLanguageDisplayName(AppLanguage language)
{
    switch (language) {
    case AppLanguage::system: return Localization::text(QStringLiteral("language.system"), QStringLiteral("跟随系统"));
    case AppLanguage::zhHans: return QStringLiteral("简体中文");
    case AppLanguage::english: return QStringLiteral("English");
    case AppLanguage::japanese: return QStringLiteral("日本語");
    case AppLanguage::korean: return QStringLiteral("한국어");
    case AppLanguage::german: return QStringLiteral("Deutsch");
    case AppLanguage::french: return QStringLiteral("Français");
    case AppLanguage::spanish: return QStringLiteral("Español");
    case AppLanguage::italian: return QStringLiteral("Italiano");
    case AppLanguage::portuguese: return QStringLiteral("Português");
    }
    return {};
}

LanguageManager::LanguageManager(Defaults& defaults, SystemLocaleSource systemLocale, QObject* parent)
    : QObject(parent)
    , m_defaults(defaults)
    , m_systemLocale(std::move(systemLocale))
    , m_locale(m_systemLocale())
{
    // A stored language other than "system" is applied as a change; anything unrecognised
    // leaves "system", which the final apply then stores in its place.
    if (const auto stored = m_defaults.stringValue(appLanguageKey))
        if (const auto language = fromRawValue<AppLanguage>(*stored))
            setSelectedLanguage(*language);
    applyLanguage(m_selectedLanguage, false);
}

LanguageManager& LanguageManager::shared()
{
    return sharedInstance([] { return new LanguageManager(Defaults::standard()); });
}

void LanguageManager::setSelectedLanguage(AppLanguage language)
{
    if (language == m_selectedLanguage)
        return;
    m_selectedLanguage = language;
    emit selectedLanguageChanged(language);
    applyLanguage(language, true);
}

void LanguageManager::applyLanguage(AppLanguage language, bool notify)
{
    const QString raw = rawValue(language);
    QLocale newLocale;
    if (language == AppLanguage::system) {
        newLocale = m_systemLocale();
        m_defaults.remove(appleLanguagesKey);
    } else {
        newLocale = QLocale(raw);
        m_defaults.setValue(appleLanguagesKey, QStringList{raw});
    }
    // Defaults saves every change in order, atomically, on its own writer thread; waiting for
    // the disk here would only stall the interface.
    m_defaults.setValue(appLanguageKey, raw);

    m_locale = newLocale;
    if (notify)
        emit localeChanged(m_locale);
}

} // namespace vantrel
