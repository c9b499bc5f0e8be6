#include "support/TestMain.h"
#include "support/gui/SettingsFixture.h"

#include "views/main/settings/LanguageSettingsTab.h"

#include <QRadioButton>
#include <QSignalSpy>

using namespace vantrel;
using test::SettingsFixture;

class TestLanguageSettingsTab : public QObject {
    Q_OBJECT

private slots:
    void tenChoicesInOrderWithTheCurrentOneSelected()
    {
        SettingsFixture fx;
        LanguageSettingsTab tab(fx.languageManager);
        QStringList names;
        for (QRadioButton* button : tab.findChildren<QRadioButton*>())
            names << button->text();
        QCOMPARE(names,
            (QStringList{"跟随系统", "简体中文", "English", "日本語", "한국어", "Deutsch", "Français", "Español",
                "Italiano", "Português"}));
        QVERIFY(tab.choice(AppLanguage::system)->isChecked());
    }

    void choosingALanguageAppliesItAndTheCurrentOneStoresNothing()
    {
        SettingsFixture fx;
        LanguageSettingsTab tab(fx.languageManager);
        tab.show();
        QSignalSpy writes(&fx.defaults, &Defaults::valueChanged);
        tab.choice(AppLanguage::system)->click();
        QCOMPARE(writes.size(), 0);

        QSignalSpy locale(&fx.languageManager, &LanguageManager::localeChanged);
        tab.choice(AppLanguage::english)->click();
        QCOMPARE(fx.languageManager.selectedLanguage(), AppLanguage::english);
        QCOMPARE(locale.size(), 1);
        QCOMPARE(fx.defaults.stringValue(LanguageManager::appLanguageKey), QStringLiteral("en"));
        QCOMPARE(fx.defaults.stringListValue(LanguageManager::appleLanguagesKey), QStringList{QStringLiteral("en")});

        tab.choice(AppLanguage::system)->click();
        QVERIFY(!fx.defaults.contains(LanguageManager::appleLanguagesKey));
        QCOMPARE(fx.defaults.stringValue(LanguageManager::appLanguageKey), QStringLiteral("system"));
    }

    void followsAChangeMadeElsewhere()
    {
        SettingsFixture fx;
        LanguageSettingsTab tab(fx.languageManager);
        QSignalSpy changes(&fx.languageManager, &LanguageManager::selectedLanguageChanged);
        fx.languageManager.setSelectedLanguage(AppLanguage::german);
        QVERIFY(tab.choice(AppLanguage::german)->isChecked());
        QVERIFY(!tab.choice(AppLanguage::system)->isChecked());
        QCOMPARE(changes.size(), 1); // the tab did not set it again
    }
};

VANTREL_TEST_MAIN(TestLanguageSettingsTab)
#include "tst_LanguageSettingsTab.moc"
