#include "support/TestMain.h"

#include "platform/Localization.h"

using namespace vantrel;

class TestLocalization : public QObject {
    Q_OBJECT

private slots:
    void formatSubstitutesInOnePass()
    {
        QCOMPARE(Localization::format("Mounted %@ at %@", {"a %@ b", "/x"}), QStringLiteral("Mounted a %@ b at /x"));
        QCOMPARE(Localization::format("%2$@ then %1$@", {"one", "%1$@"}), QStringLiteral("%1$@ then one"));
        QCOMPARE(Localization::format("%d files, %lld bytes, 100%%", {"3", "12"}),
            QStringLiteral("3 files, 12 bytes, 100%"));
        QCOMPARE(Localization::format("missing %@", {}), QStringLiteral("missing "));
        QCOMPARE(Localization::format("trailing %", {"x"}), QStringLiteral("trailing %"));
    }

    void catalogsByLanguage()
    {
        QCOMPARE(Localization::catalogFor("en_US"), QStringLiteral("en"));
        QCOMPARE(Localization::catalogFor("zh_CN"), QStringLiteral("zh-Hans"));
        QCOMPARE(Localization::catalogFor("zh-Hans"), QStringLiteral("zh-Hans"));
        QCOMPARE(Localization::catalogFor("zh_TW"), QString());
        QCOMPARE(Localization::catalogFor("pt-BR"), QStringLiteral("pt"));
        QCOMPARE(Localization::catalogFor("nl"), QString());
    }

    void textFallsBackToTheDefault()
    {
        Localization::useCatalog("en");
        QCOMPARE(Localization::text("language.system", "跟随系统"), QStringLiteral("System Default"));
        QCOMPARE(Localization::text("no.such.key", "默认"), QStringLiteral("默认"));
        Localization::useCatalog(QString());
        QCOMPARE(Localization::text("language.system", "跟随系统"), QStringLiteral("跟随系统"));
    }
};

VANTREL_TEST_MAIN(TestLocalization)
#include "tst_Localization.moc"
