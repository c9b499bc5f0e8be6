#include "support/CapturingSystemLog.h"
#include "support/Files.h"
#include "support/TestMain.h"

#include "platform/Localization.h"

#include <QDir>
#include <QTemporaryDir>

using namespace vantrel;

namespace {

// Catalogs on disk, <root>/<language>/<part>.json; outlives the lookups that report to its log.
struct Catalogs {
    QTemporaryDir root;
    static inline CapturingSystemLog log;

    Catalogs() { log.clear(); }
    ~Catalogs() { Localization::useCatalog(QString()); }

    void write(const QString& part, const QByteArray& json) { QVERIFY(test::writeFile(root.filePath(part), json)); }
    void use(const QString& language) { Localization::useCatalog(language, root.path(), log); }
};

} // namespace

class TestLocalization : public QObject {
    Q_OBJECT

private slots:
    void formatSubstitutesInOnePass()
    {
        QCOMPARE(Localization::format("Mounted %@ at %@", {"a %@ b", "/x"}), QStringLiteral("Mounted a %@ b at /x"));
        QCOMPARE(Localization::format("%2$@ then %1$@", {"one", "%1$@"}), QStringLiteral("%1$@ then one"));
        QCOMPARE(Localization::format("%d files, %lld bytes, 100%%", {"3", "12"}),
            QStringLiteral("3 files, 12 bytes, 100%"));
        QCOMPARE(Localization::format("%2$lld of %1$@, %3$.1f%%", {"a", "2", "9.5"}), QStringLiteral("2 of a, 9.5%"));
        QCOMPARE(Localization::format("missing %@", {}), QStringLiteral("missing "));
        QCOMPARE(Localization::format("trailing %", {"x"}), QStringLiteral("trailing %"));
        QCOMPARE(Localization::format("50% off %s", {"x"}), QStringLiteral("50% off %s"));
    }

    void placeholderKindsByArgument()
    {
        QCOMPARE(Localization::placeholderKinds("%@ has %lld files, %.1f%% used"), QString("@df"));
        QCOMPARE(Localization::placeholderKinds("%2$@ hat %1$lld"), QString("d@"));
        QCOMPARE(Localization::placeholderKinds("Vantrel 100%"), QString(""));
        // A format that cannot stand for a default's arguments.
        QCOMPARE(Localization::placeholderKinds("%1$@ %@"), std::nullopt);
        QCOMPARE(Localization::placeholderKinds("%1$@ %1$@"), std::nullopt);
        QCOMPARE(Localization::placeholderKinds("%2$@"), std::nullopt);
    }

    void catalogsByLanguage()
    {
        QCOMPARE(Localization::catalogFor("en_US"), QStringLiteral("en"));
        QCOMPARE(Localization::catalogFor("en_GB"), QStringLiteral("en"));
        QCOMPARE(Localization::catalogFor("de_DE.UTF-8@euro"), QStringLiteral("de"));
        QCOMPARE(Localization::catalogFor("pt-BR"), QStringLiteral("pt"));
        QCOMPARE(Localization::catalogFor("zh_CN"), QStringLiteral("zh-Hans"));
        QCOMPARE(Localization::catalogFor("zh-Hans"), QStringLiteral("zh-Hans"));
        QCOMPARE(Localization::catalogFor("zh_TW"), QStringLiteral("zh-Hans"));
        QCOMPARE(Localization::catalogFor("nl"), QString());
        QCOMPARE(Localization::catalogFor("C"), QString());
        // Following the system: the first preferred language that a catalog serves, else English.
        QCOMPARE(Localization::catalogForPreferred({"nl-NL", "fr-CA", "de"}), QStringLiteral("fr"));
        QCOMPARE(Localization::catalogForPreferred({"nl-NL", "C"}), QStringLiteral("en"));
        QCOMPARE(Localization::catalogForPreferred({}), QStringLiteral("en"));
    }

    void lookupTriesTheChosenCatalogThenEnglishThenTheDefault()
    {
        Catalogs catalogs;
        catalogs.write("de/app.json", R"({"a": "Deutsch", "wrongShape": 3})");
        catalogs.write("en/app.json", R"({"a": "English", "b": "English only"})");
        catalogs.use("de");
        QCOMPARE(Localization::text("a", "默认"), QStringLiteral("Deutsch"));
        QCOMPARE(Localization::text("b", "默认"), QStringLiteral("English only"));
        QCOMPARE(Localization::text("wrongShape", "默认"), QStringLiteral("默认"));
        QCOMPARE(Localization::text("c", "默认"), QStringLiteral("默认"));
        QCOMPARE(Localization::currentCatalog(), QStringLiteral("de"));

        // No catalog at all: the defaults, as the tests of the views see them.
        catalogs.use(QString());
        QCOMPARE(Localization::text("a", "默认"), QStringLiteral("默认"));

        // The real English catalog.
        Localization::useCatalog("en");
        QCOMPARE(Localization::text("language.system", "跟随系统"), QStringLiteral("System Default"));
    }

    // Nothing a catalog holds stops the start: each bad file or entry is reported and skipped, and
    // what is left still serves.
    void unusableCatalogsAreReportedAndSkipped()
    {
        Catalogs catalogs;
        catalogs.write("en/app.json", R"({"a": "English a", "b": "English b", "c": "English c"})");
        catalogs.write("en/extra.json", R"({"d": "English d"})");
        catalogs.write("en/more.json", R"({"e": "English e"})");
        catalogs.write("fr/app.json", R"({"a": "français a", "b": 12, "c": {"one": "sans autre"}})");
        catalogs.write("fr/more.json", R"({"e": "français e",)");
        QVERIFY(QDir().mkpath(catalogs.root.filePath("fr/folder.json")));
        catalogs.use("fr");
        QCOMPARE(Localization::text("a", "x"), QStringLiteral("français a"));
        QCOMPARE(Localization::text("b", "x"), QStringLiteral("English b"));
        QCOMPARE(Localization::text("c", "x"), QStringLiteral("English c"));
        QCOMPARE(Localization::text("d", "x"), QStringLiteral("English d"));
        QCOMPARE(Localization::text("e", "x"), QStringLiteral("English e"));
        const QStringList messages = Catalogs::log.messages();
        const auto mentions = [&](const QString& part) {
            return std::count_if(messages.begin(), messages.end(), [&](const QString& m) { return m.contains(part); });
        };
        QCOMPARE(messages.size(), 5);
        QCOMPARE(mentions("\"b\""), 1);
        QCOMPARE(mentions("\"c\""), 1);
        QCOMPARE(mentions("fr/extra.json is missing"), 1);
        QCOMPARE(mentions("fr/more.json is not valid"), 1);
        QCOMPARE(mentions("fr/folder.json cannot be read"), 1);

        // A language without any catalog shows English.
        Catalogs::log.clear();
        catalogs.use("ko");
        QCOMPARE(Localization::text("a", "x"), QStringLiteral("English a"));
        QCOMPARE(Catalogs::log.messages().size(), 1);
        QVERIFY(Catalogs::log.messages().first().contains("No interface catalog for \"ko\""));
    }

    // A translation that would drop, add or retype an argument is never used, so the default's
    // arguments always all appear.
    void entriesWithOtherPlaceholdersAreNotUsed()
    {
        Catalogs catalogs;
        catalogs.write("en/app.json", R"({
            "two": "%@ copied to %@",
            "retyped": "%@ of %@",
            "positional": "%@ then %@",
            "bothWrong": "only %@"})");
        catalogs.write("de/app.json", R"({
            "two": "%@ kopiert",
            "retyped": "%lld von %@",
            "positional": "%2$@, davor %1$@",
            "bothWrong": "nur %lld"})");
        catalogs.use("de");
        QCOMPARE(Localization::textFormat("two", "%@ → %@", {"a", "b"}), QStringLiteral("a copied to b"));
        QCOMPARE(Localization::textFormat("retyped", "%@ / %@", {"a", "b"}), QStringLiteral("a of b"));
        QCOMPARE(Localization::textFormat("positional", "%@ %@", {"a", "b"}), QStringLiteral("b, davor a"));
        QCOMPARE(Localization::textFormat("bothWrong", "%@：%@", {"a", "b"}), QStringLiteral("a：b"));
        // Reported once per catalog and key, however often the text is shown.
        Localization::textFormat("two", "%@ → %@", {"a", "b"});
        QCOMPARE(Catalogs::log.messages().size(), 4);
    }

    void pluralCategoriesOfTheNineLanguages()
    {
        for (const char* language : {"en", "de", "es", "it", "pt"}) {
            QCOMPARE(Localization::pluralCategory(language, 1), QStringLiteral("one"));
            QCOMPARE(Localization::pluralCategory(language, 0), QStringLiteral("other"));
            QCOMPARE(Localization::pluralCategory(language, 2), QStringLiteral("other"));
            QCOMPARE(Localization::pluralCategory(language, 21), QStringLiteral("other"));
        }
        QCOMPARE(Localization::pluralCategory("fr", 0), QStringLiteral("one"));
        QCOMPARE(Localization::pluralCategory("fr", 1), QStringLiteral("one"));
        QCOMPARE(Localization::pluralCategory("fr", 2), QStringLiteral("other"));
        for (const char* language : {"ja", "ko", "zh-Hans"})
            QCOMPARE(Localization::pluralCategory(language, 1), QStringLiteral("other"));
    }

    // The form follows the rule of the language whose catalog holds the entry.
    void pluralFormsFollowTheCountInTheCatalogsLanguage()
    {
        Catalogs catalogs;
        catalogs.write("en/app.json", R"({
            "files": {"one": "%lld file", "other": "%lld files"},
            "left": {"one": "%lld is left of %@", "other": "%lld are left of %@"}})");
        catalogs.write("fr/app.json", R"({"files": {"one": "%lld fichier", "other": "%lld fichiers"}})");
        catalogs.write("ja/app.json", R"({"files": "%lld 個のファイル"})");
        catalogs.use("fr");
        QCOMPARE(Localization::plural("files", "%lld files", 0), QStringLiteral("0 fichier"));
        QCOMPARE(Localization::plural("files", "%lld files", 2), QStringLiteral("2 fichiers"));
        QCOMPARE(Localization::plural("left", "%lld left of %@", 0, {"0", "x"}), QStringLiteral("0 are left of x"));
        QCOMPARE(Localization::text("files", "%lld files"), QStringLiteral("%lld fichiers"));
        catalogs.use("en");
        QCOMPARE(Localization::plural("files", "%lld files", 0), QStringLiteral("0 files"));
        QCOMPARE(Localization::plural("files", "%lld files", 1), QStringLiteral("1 file"));
        catalogs.use("ja");
        QCOMPARE(Localization::plural("files", "%lld files", 1), QStringLiteral("1 個のファイル"));
        QCOMPARE(Catalogs::log.messages(), QStringList());
    }
};

VANTREL_TEST_MAIN(TestLocalization)
#include "tst_Localization.moc"
