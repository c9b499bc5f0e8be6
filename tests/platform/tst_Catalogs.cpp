// The interface catalogs of resources/i18n against each other and against the sources: every key
// the application looks up is in English, every language has English's keys, and no entry can
// break its format or miss a plural form its language needs.

#include "support/CapturingSystemLog.h"
#include "support/TestMain.h"

#include "platform/Localization.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QRegularExpression>
#include <QSet>

using namespace vantrel;

namespace {

const QString sourceDir = QStringLiteral(VANTREL_SOURCE_DIR);
const QString catalogDir = sourceDir + QStringLiteral("/resources/i18n");
// Written by the catalog mechanism itself for every language, ahead of the other parts.
const QString formatsPart = QStringLiteral("formats.json");

QString readText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// The text of adjacent C++ string literals ("a" "b"), escapes resolved.
QString literalText(const QString& literals)
{
    static const QRegularExpression literal(QStringLiteral(R"re("((?:[^"\\]|\\.)*)")re"));
    QString text;
    for (const QRegularExpressionMatch& match : literal.globalMatch(literals)) {
        const QString body = match.captured(1);
        for (qsizetype i = 0; i < body.size(); ++i) {
            if (body.at(i) != u'\\' || i + 1 == body.size()) {
                text += body.at(i);
                continue;
            }
            const QChar escaped = body.at(++i);
            text += escaped == u'n' ? QChar(u'\n') : escaped == u't' ? QChar(u'\t') : escaped;
        }
    }
    return text;
}

bool isDottedKey(const QString& key)
{
    static const QRegularExpression dotted(QStringLiteral(R"(^[A-Za-z0-9]+(\.[A-Za-z0-9]+)+$)"));
    return dotted.match(key).hasMatch();
}

// What the sources look up: each key with the default texts given for it.
struct Lookups {
    QMap<QString, QSet<QString>> defaults;
    QStringList unmarkedIndirectLookups; // files that look up a computed key but mark none
};

// A key is found as the literal first argument of a lookup, or where textKey() marks it (tables,
// parameters); the default is the literal that follows it, and a self-keyed text without one is
// its own default.
Lookups scanSources()
{
    const QString literal = QStringLiteral(R"re((?:QStringLiteral\(\s*)?u?8?"((?:[^"\\]|\\.)*)"\)?)re");
    const QString defaultText = QStringLiteral(
        R"re((?:\s*,\s*(?:QStringLiteral\(\s*)?((?:u?8?"(?:[^"\\]|\\.)*"\s*)+))?)re");
    const QRegularExpression lookup(QStringLiteral(R"(Localization::(?:text|textFormat|plural)\(\s*)") + literal
        + QStringLiteral(R"((?=\s*,))") + defaultText);
    const QRegularExpression marked(
        QStringLiteral(R"(\btextKey\(\s*)") + literal + QStringLiteral(R"(\s*\))") + defaultText);
    const QRegularExpression anyLookup(QStringLiteral(R"(Localization::(?:text|textFormat|plural)\()"));

    Lookups lookups;
    QDirIterator files(sourceDir + QStringLiteral("/src"), {QStringLiteral("*.cpp"), QStringLiteral("*.h")},
        QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString path = files.next();
        if (path.contains(QLatin1String("/platform/Localization.")))
            continue;
        const QString source = readText(path);
        qsizetype computedKeys = source.count(anyLookup);
        for (const QRegularExpression* pattern : {&lookup, &marked}) {
            for (const QRegularExpressionMatch& match : pattern->globalMatch(source)) {
                const QString key = literalText(u'"' + match.captured(1) + u'"');
                QSet<QString>& defaults = lookups.defaults[key];
                if (!match.captured(2).isEmpty())
                    defaults.insert(literalText(match.captured(2)));
                computedKeys -= pattern == &lookup ? 1 : 0;
            }
        }
        if (computedKeys > 0 && !source.contains(QLatin1String("textKey(")))
            lookups.unmarkedIndirectLookups << QDir(sourceDir).relativeFilePath(path);
    }
    for (auto it = lookups.defaults.begin(); it != lookups.defaults.end(); ++it) {
        if (it->isEmpty() && !isDottedKey(it.key()))
            it->insert(it.key());
    }
    return lookups;
}

// One part file of one language: its keys in the order written, and its values.
struct Part {
    QStringList keys;
    QJsonObject values;
    QString problem; // empty when the file is a well-formed catalog
};

Part readPart(const QString& path)
{
    Part part;
    const QByteArray bytes = readText(path).toUtf8();
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        part.problem = QStringLiteral("not a JSON object: ") + error.errorString();
        return part;
    }
    part.values = document.object();
    // The keys as written: a line indented by two spaces opens a top-level entry.
    static const QRegularExpression entry(QStringLiteral(R"re(^  ("(?:[^"\\]|\\.)*")\s*:)re"),
        QRegularExpression::MultilineOption);
    for (const QRegularExpressionMatch& match : entry.globalMatch(QString::fromUtf8(bytes))) {
        const QJsonArray decoded =
            QJsonDocument::fromJson(QByteArray("[") + match.captured(1).toUtf8() + QByteArray("]")).array();
        part.keys << decoded.first().toString();
    }
    if (part.keys.size() != part.values.size())
        part.problem = QStringLiteral("keys not written one per line at a two-space indent, or a key twice");
    return part;
}

// language -> part file name -> part.
using Catalog = QMap<QString, Part>;

Catalog readCatalog(const QString& language)
{
    Catalog catalog;
    const QDir dir(catalogDir + u'/' + language);
    for (const QString& name : dir.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name))
        catalog.insert(name, readPart(dir.filePath(name)));
    return catalog;
}

QStringList forms(const QJsonValue& value)
{
    if (value.isString())
        return {value.toString()};
    QStringList texts;
    const QJsonObject object = value.toObject();
    for (auto it = object.constBegin(); it != object.constEnd(); ++it)
        texts << it.value().toString();
    return texts;
}

QJsonValue englishValue(const QString& key)
{
    static const Catalog english = readCatalog(QStringLiteral("en"));
    for (const Part& part : english) {
        if (part.values.contains(key))
            return part.values.value(key);
    }
    return {};
}

bool showsACount(const QString& text)
{
    return Localization::placeholderKinds(text).value_or(QString()).contains(u'd');
}

// Where the original text names a place of another desktop, the Chinese catalog uses the Linux
// desktop's word.
QString inLinuxWords(QString text)
{
    return text.replace(QStringLiteral("在 Finder 中"), QStringLiteral("在文件管理器中"))
        .replace(QStringLiteral("Finder"), QStringLiteral("文件管理器"))
        .replace(QStringLiteral("菜单栏"), QStringLiteral("系统托盘"))
        .replace(QStringLiteral("/Volumes/"), QStringLiteral("/mnt/"));
}

bool hasHan(const QString& text)
{
    return std::any_of(text.begin(), text.end(),
        [](QChar c) { return c.unicode() >= 0x4e00 && c.unicode() <= 0x9fff; });
}

} // namespace

class TestCatalogs : public QObject {
    Q_OBJECT

    Lookups m_lookups;

private slots:
    void initTestCase()
    {
        m_lookups = scanSources();
        // A scan that no longer recognises the lookups would pass everything below.
        QVERIFY2(m_lookups.defaults.size() > 250, qPrintable(QString::number(m_lookups.defaults.size())));
        QVERIFY(m_lookups.defaults.contains(QStringLiteral("menubar.mountAll")));
        QCOMPARE(m_lookups.defaults.value(QStringLiteral("settings.tab.cache")), QSet<QString>{QStringLiteral("缓存")});
    }

    void englishHoldsExactlyTheKeysTheSourcesLookUp()
    {
        QStringList problems;
        for (auto it = m_lookups.defaults.constBegin(); it != m_lookups.defaults.constEnd(); ++it) {
            if (englishValue(it.key()).isUndefined())
                problems << QStringLiteral("not in English: ") + it.key();
        }
        for (const Part& part : readCatalog(QStringLiteral("en"))) {
            for (const QString& key : part.keys)
                if (!m_lookups.defaults.contains(key))
                    problems << QStringLiteral("looked up nowhere: ") + key;
        }
        // A key computed at the lookup must be marked where it is written, or the scan misses it.
        for (const QString& file : m_lookups.unmarkedIndirectLookups)
            problems << QStringLiteral("a computed key without textKey() in ") + file;
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(u'\n')));
    }

    // Each language has English's parts with English's keys in English's order.
    void everyLanguageHasTheEnglishKeys()
    {
        const Catalog english = readCatalog(QStringLiteral("en"));
        QVERIFY(english.contains(formatsPart));
        const QStringList folders = QDir(catalogDir).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
        const QStringList languages = Localization::catalogIdentifiers();
        QCOMPARE(QSet<QString>(folders.begin(), folders.end()), QSet<QString>(languages.begin(), languages.end()));
        QStringList problems;
        for (const QString& language : folders) {
            const Catalog catalog = readCatalog(language);
            if (catalog.keys() != english.keys())
                problems << language + QStringLiteral(": parts ") + catalog.keys().join(u' ');
            for (auto it = catalog.constBegin(); it != catalog.constEnd(); ++it) {
                const QString name = language + u'/' + it.key();
                if (!it->problem.isEmpty())
                    problems << name + QStringLiteral(": ") + it->problem;
                else if (english.contains(it.key()) && it->keys != english.value(it.key()).keys)
                    problems << name + QStringLiteral(": keys differ from English (or their order)");
            }
        }
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(u'\n')));
    }

    void placeholdersMatchTheDefaults()
    {
        QStringList problems;
        for (const QString& language : Localization::catalogIdentifiers()) {
            for (const Part& part : readCatalog(language)) {
                for (auto it = part.values.constBegin(); it != part.values.constEnd(); ++it) {
                    QSet<QString> references = m_lookups.defaults.value(it.key());
                    if (references.isEmpty())
                        references.insert(forms(englishValue(it.key())).value(0));
                    for (const QString& text : forms(it.value())) {
                        for (const QString& reference : references) {
                            const auto kinds = Localization::placeholderKinds(text);
                            if (!kinds || kinds != Localization::placeholderKinds(reference))
                                problems << language + QStringLiteral(" \"") + text + QStringLiteral("\" for \"")
                                        + reference + u'"';
                        }
                    }
                }
            }
        }
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(u'\n')));
    }

    // one + other where the language tells one count from the others, a plain text where it does
    // not; English writes every text that shows a count with its forms.
    void pluralEntriesHaveTheFormsOfTheirLanguage()
    {
        const QSet<QString> oneOther{QStringLiteral("one"), QStringLiteral("other")};
        QStringList problems;
        for (const QString& language : Localization::catalogIdentifiers()) {
            const bool counts = Localization::pluralCategory(language, 1) == QLatin1String("one");
            for (const Part& part : readCatalog(language)) {
                for (auto it = part.values.constBegin(); it != part.values.constEnd(); ++it) {
                    const QString where = language + u' ' + it.key();
                    const QJsonValue value = it.value();
                    const QJsonObject object = value.toObject();
                    const QStringList categories = object.keys();
                    const QStringList texts = forms(value);
                    if (!value.isString() && !value.isObject())
                        problems << where + QStringLiteral(": neither a text nor plural forms");
                    else if (std::any_of(texts.begin(), texts.end(), [](const QString& t) { return t.isEmpty(); }))
                        problems << where + QStringLiteral(": an empty text");
                    else if (value.isObject() && !counts)
                        problems << where + QStringLiteral(": plural forms in a language without them");
                    else if (value.isObject() && QSet<QString>(categories.begin(), categories.end()) != oneOther)
                        problems << where + QStringLiteral(": forms ") + categories.join(u' ');
                    else if (counts && value.isObject() != showsACount(forms(englishValue(it.key())).value(0)))
                        problems << where
                                + (value.isObject() ? QStringLiteral(": plural forms without a count")
                                                    : QStringLiteral(": a count without plural forms"));
                }
            }
        }
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(u'\n')));
    }

    // Where the default at the call site is Chinese, the Chinese catalog says the same, in the
    // Linux desktop's words.
    void chineseCatalogKeepsTheChineseDefaults()
    {
        QStringList problems;
        for (const Part& part : readCatalog(QStringLiteral("zh-Hans"))) {
            for (auto it = part.values.constBegin(); it != part.values.constEnd(); ++it) {
                QSet<QString> chinese;
                for (const QString& text : m_lookups.defaults.value(it.key()))
                    if (hasHan(text) || text == QLatin1String("Finder"))
                        chinese.insert(inLinuxWords(text));
                if (!chinese.isEmpty() && !chinese.contains(it.value().toString()))
                    problems << it.key() + QStringLiteral(": ") + it.value().toString();
            }
        }
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(u'\n')));
    }

    // What the application loads (the resources) matches the folder, and loads without a word.
    void everyCatalogLoadsFromTheResources()
    {
        for (const QString& language : Localization::catalogIdentifiers()) {
            CapturingSystemLog log;
            Localization::useCatalog(language, Localization::resourceRoot, log);
            const QStringList messages = log.messages();
            Localization::useCatalog(QString());
            QVERIFY2(messages.isEmpty(), qPrintable(language + QStringLiteral(": ") + messages.join(u'\n')));
            const QStringList loaded = QDir(Localization::resourceRoot + u'/' + language).entryList();
            QCOMPARE(loaded, readCatalog(language).keys());
        }
    }
};

VANTREL_TEST_MAIN(TestCatalogs)
#include "tst_Catalogs.moc"
