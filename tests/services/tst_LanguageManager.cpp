#include "support/TestMain.h"

#include "platform/Defaults.h"
#include "platform/Localization.h"
#include "services/LanguageManager.h"

#include <QSignalSpy>
#include <QTemporaryDir>

#include <memory>

using namespace vantrel;

namespace {

// A locale no language of the list produces, so the system locale is recognisable.
const QLocale systemLocale(QLocale::Dutch, QLocale::Netherlands);

struct Fixture {
    QTemporaryDir dir;
    Defaults defaults{dir.filePath(QStringLiteral("defaults.json"))};
    std::unique_ptr<LanguageManager> manager;

    void create()
    {
        manager = std::make_unique<LanguageManager>(defaults, [] { return systemLocale; });
    }
    QVariant stored() const { return defaults.value(LanguageManager::appLanguageKey); }
    QVariant appleLanguages() const { return defaults.value(LanguageManager::appleLanguagesKey); }
};

} // namespace

class TestLanguageManager : public QObject {
    Q_OBJECT

private slots:
    void firstLaunchFollowsTheSystem()
    {
        Fixture fx;
        fx.create();
        QCOMPARE(fx.manager->selectedLanguage(), AppLanguage::system);
        QCOMPARE(fx.manager->locale(), systemLocale);
        QCOMPARE(fx.stored(), QVariant(QStringLiteral("system")));
        QVERIFY(!fx.appleLanguages().isValid());
        // The choice reaches the file.
        QVERIFY(fx.defaults.synchronize());
        Defaults reread(fx.defaults.filePath());
        QCOMPARE(reread.stringValue(LanguageManager::appLanguageKey), std::optional<QString>(QStringLiteral("system")));
    }

    void storedLanguageIsAppliedAtCreation()
    {
        Fixture fx;
        fx.defaults.setValue(LanguageManager::appLanguageKey, QStringLiteral("ja"));
        fx.create();
        QCOMPARE(fx.manager->selectedLanguage(), AppLanguage::japanese);
        QCOMPARE(fx.manager->locale().language(), QLocale::Japanese);
        QCOMPARE(fx.appleLanguages(), QVariant(QStringList{QStringLiteral("ja")}));
        QCOMPARE(fx.stored(), QVariant(QStringLiteral("ja")));
    }

    void unknownStoredTextFallsBackToSystem()
    {
        Fixture fx;
        fx.defaults.setValue(LanguageManager::appLanguageKey, QStringLiteral("fr-CA"));
        fx.defaults.setValue(LanguageManager::appleLanguagesKey, QStringList{QStringLiteral("fr")});
        fx.create();
        QCOMPARE(fx.manager->selectedLanguage(), AppLanguage::system);
        QCOMPARE(fx.manager->locale(), systemLocale);
        QCOMPARE(fx.stored(), QVariant(QStringLiteral("system")));
        QVERIFY(!fx.appleLanguages().isValid());
    }

    void assigningTheCurrentLanguageDoesNothing()
    {
        Fixture fx;
        fx.defaults.setValue(LanguageManager::appLanguageKey, QStringLiteral("de"));
        fx.create();
        QCOMPARE(fx.manager->selectedLanguage(), AppLanguage::german);
        QSignalSpy localeSpy(fx.manager.get(), &LanguageManager::localeChanged);
        QSignalSpy selectedSpy(fx.manager.get(), &LanguageManager::selectedLanguageChanged);
        fx.defaults.setValue(LanguageManager::appLanguageKey, QStringLiteral("marker"));
        fx.manager->setProperty("selectedLanguage", QVariant::fromValue(AppLanguage::german));
        QCOMPARE(localeSpy.count(), 0);
        QCOMPARE(selectedSpy.count(), 0);
        QCOMPARE(fx.stored(), QVariant(QStringLiteral("marker")));

        // Applying without notification replaces the locale silently.
        fx.manager->applyLanguage(AppLanguage::korean, false);
        QCOMPARE(localeSpy.count(), 0);
        QCOMPARE(fx.manager->locale().language(), QLocale::Korean);
    }

    void switchingPublishesTheNewLocale()
    {
        Fixture fx;
        fx.defaults.setValue(LanguageManager::appLanguageKey, QStringLiteral("es"));
        fx.create();
        QSignalSpy localeSpy(fx.manager.get(), &LanguageManager::localeChanged);
        QSignalSpy selectedSpy(fx.manager.get(), &LanguageManager::selectedLanguageChanged);

        fx.manager->setSelectedLanguage(AppLanguage::system);
        QCOMPARE(selectedSpy.count(), 1);
        QCOMPARE(selectedSpy.at(0).at(0).value<AppLanguage>(), AppLanguage::system);
        QCOMPARE(localeSpy.count(), 1);
        QCOMPARE(localeSpy.at(0).at(0).value<QLocale>(), systemLocale);
        QCOMPARE(fx.manager->locale(), systemLocale);
        QVERIFY(!fx.appleLanguages().isValid());
        QCOMPARE(fx.stored(), QVariant(QStringLiteral("system")));

        fx.manager->setSelectedLanguage(AppLanguage::zhHans);
        QCOMPARE(localeSpy.count(), 2);
        QCOMPARE(fx.manager->locale().language(), QLocale::Chinese);
        QCOMPARE(fx.manager->locale().script(), QLocale::SimplifiedHanScript);
        QCOMPARE(fx.appleLanguages(), QVariant(QStringList{QStringLiteral("zh-Hans")}));
        QCOMPARE(fx.stored(), QVariant(QStringLiteral("zh-Hans")));
    }

    void rawValuesAndDisplayNames()
    {
        QStringList raws;
        QStringList names;
        for (AppLanguage language : allAppLanguages()) {
            raws << appLanguageRawValue(language);
            QCOMPARE(appLanguageFromRaw(appLanguageRawValue(language)), std::optional(language));
            if (language != AppLanguage::system)
                names << appLanguageDisplayName(language);
        }
        QCOMPARE(raws.join(','), QStringLiteral("system,zh-Hans,en,ja,ko,de,fr,es,it,pt"));
        QCOMPARE(names.join(','),
            QStringLiteral("简体中文,English,日本語,한국어,Deutsch,Français,Español,Italiano,Português"));
        QVERIFY(!appLanguageFromRaw(QStringLiteral("zh-hans")).has_value());
        QVERIFY(!appLanguageFromRaw(QStringLiteral("EN")).has_value());

        Localization::useCatalog(QStringLiteral("zh-Hans"));
        QCOMPARE(appLanguageDisplayName(AppLanguage::system), QStringLiteral("跟随系统"));
        Localization::useCatalog(QStringLiteral("en"));
        QCOMPARE(appLanguageDisplayName(AppLanguage::system), QStringLiteral("System Default"));
    }
};

VANTREL_TEST_MAIN(TestLanguageManager)
#include "tst_LanguageManager.moc"
