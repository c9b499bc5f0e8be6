#include "support/TestMain.h"

#include "platform/Formatters.h"
#include "platform/Localization.h"

#include <QTimeZone>

#include <limits>

using namespace vantrel;

class TestFormatters : public QObject {
    Q_OBJECT

private slots:
    // The English catalog; the tables below are its output.
    void initTestCase() { Localization::useCatalog("en"); }
    void cleanupTestCase() { Localization::useCatalog(QString()); }

    void byteCountsAtUnitBoundaries_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << qint64(0) << "Zero KB";
        QTest::newRow("one") << qint64(1) << "1 byte";
        QTest::newRow("twelve") << qint64(12) << "12 bytes";
        QTest::newRow("last bytes") << qint64(999) << "999 bytes";
        QTest::newRow("first KB") << qint64(1000) << "1 KB";
        QTest::newRow("KB rounds down") << qint64(1499) << "1 KB";
        QTest::newRow("KB rounds up") << qint64(1500) << "2 KB";
        QTest::newRow("last KB") << qint64(999'499) << "999 KB";
        QTest::newRow("rounds into MB") << qint64(999'500) << "1 MB";
        QTest::newRow("MB no trailing zero") << qint64(1'000'000) << "1 MB";
        QTest::newRow("MB one digit") << qint64(1'500'000) << "1.5 MB";
        QTest::newRow("binary MiB") << qint64(1'048'576) << "1 MB";
        QTest::newRow("last MB") << qint64(999'949'999) << "999.9 MB";
        QTest::newRow("rounds into GB") << qint64(999'950'000) << "1 GB";
        QTest::newRow("GB two digits") << qint64(1'234'567'890) << "1.23 GB";
        QTest::newRow("GB one digit") << qint64(1'500'000'000) << "1.5 GB";
        QTest::newRow("GiB") << qint64(1'073'741'824) << "1.07 GB";
        QTest::newRow("TB") << qint64(2'000'000'000'000) << "2 TB";
        QTest::newRow("negative") << qint64(-12) << "-12 bytes";
        QTest::newRow("max") << std::numeric_limits<qint64>::max() << "9.22 EB";
        QTest::newRow("min") << std::numeric_limits<qint64>::min() << "-9.22 EB";
    }

    void byteCountsAtUnitBoundaries()
    {
        QFETCH(qint64, bytes);
        QFETCH(QString, text);
        QCOMPARE(Formatters::fileByteCount(bytes), text);
    }

    void abbreviatedDurations_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << 0.0 << "0s";
        QTest::newRow("fraction") << 0.4 << "0s";
        QTest::newRow("seconds") << 42.0 << "42s";
        QTest::newRow("rounds into a minute") << 59.6 << "1m";
        QTest::newRow("minute and seconds") << 65.0 << "1m 5s";
        QTest::newRow("hour") << 3600.0 << "1h";
        QTest::newRow("seconds beyond two units dropped") << 3605.0 << "1h";
        QTest::newRow("hour and minute") << 3660.0 << "1h 1m";
        QTest::newRow("last unit rounded") << 3690.0 << "1h 2m";
        QTest::newRow("rounds into an hour") << 3599.6 << "1h";
        QTest::newRow("many hours") << 90000.0 << "25h";
        QTest::newRow("negative") << -1.0 << "";
        QTest::newRow("nan") << std::numeric_limits<double>::quiet_NaN() << "";
        QTest::newRow("infinite") << std::numeric_limits<double>::infinity() << "";
    }

    void abbreviatedDurations()
    {
        QFETCH(double, seconds);
        QFETCH(QString, text);
        QCOMPARE(Formatters::abbreviatedDuration(seconds), text);
    }

    // One table for both relative styles, so each interval shows how the rounded named style and
    // the truncated short style part ways.
    void relativeDates_data()
    {
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<QDateTime>("date");
        QTest::addColumn<QString>("named");
        QTest::addColumn<QString>("numericShort");
        const QDateTime now(QDate(2024, 3, 15), QTime(12, 0), Qt::UTC);
        const auto row = [&](const char* name, const QDateTime& date, const char* named, const char* numericShort) {
            QTest::newRow(name) << now << date << QString::fromUtf8(named) << QString::fromUtf8(numericShort);
        };
        row("same instant", now, "now", "in 0 sec.");
        row("half a second ago", now.addMSecs(-500), "now", "in 0 sec.");
        row("one second ago", now.addSecs(-1), "1 second ago", "1 sec. ago");
        row("seconds ago", now.addSecs(-59), "59 seconds ago", "59 sec. ago");
        row("89 seconds", now.addSecs(-89), "1 minute ago", "1 min. ago");
        row("90 seconds round up", now.addSecs(-90), "2 minutes ago", "1 min. ago");
        row("90 seconds ahead", now.addSecs(90), "in 2 minutes", "in 1 min.");
        row("just under the hour's half", now.addSecs(-(59 * 60 + 29)), "59 minutes ago", "59 min. ago");
        row("minutes carry into an hour", now.addSecs(-(59 * 60 + 30)), "1 hour ago", "59 min. ago");
        row("hours ahead", now.addSecs(3 * 3600), "in 3 hours", "in 3 hr.");
        row("hour and 59 minutes", now.addSecs(-(3600 + 59 * 60)), "2 hours ago", "1 hr. ago");
        row("hours carry into yesterday", now.addSecs(-(23 * 3600 + 30 * 60)), "yesterday", "23 hr. ago");
        row("one day", now.addDays(-1), "yesterday", "1 day ago");
        row("one day ahead", now.addDays(1), "tomorrow", "in 1 day");
        row("day and a half", now.addSecs(-36 * 3600), "2 days ago", "1 day ago");
        row("two days", now.addDays(-2), "2 days ago", "2 days ago");
        row("one week", now.addDays(-7), "last week", "1 wk. ago");
        row("one week ahead", now.addDays(7), "next week", "in 1 wk.");
        row("ten days", now.addDays(-10), "last week", "1 wk. ago");
        row("eleven days round up", now.addDays(-11), "2 weeks ago", "1 wk. ago");
        row("two weeks", now.addDays(-14), "2 weeks ago", "2 wk. ago");
        row("one month", now.addMonths(-1), "last month", "1 mo. ago");
        row("two months and 20 days", QDateTime(QDate(2023, 12, 26), QTime(12, 0), Qt::UTC), "3 months ago",
            "2 mo. ago");
        row("months carry into last year", QDateTime(QDate(2023, 3, 25), QTime(12, 0), Qt::UTC), "last year",
            "11 mo. ago");
        row("one year ahead", now.addYears(1), "next year", "in 1 yr.");
        row("two years", now.addYears(-2), "2 years ago", "2 yr. ago");
        row("the epoch", QDateTime::fromSecsSinceEpoch(0, Qt::UTC), "54 years ago", "54 yr. ago");
        row("counts are grouped", now.addYears(-1000), "1,000 years ago", "1,000 yr. ago");
        row("invalid date", QDateTime(), "", "");

        // The month before 31 March is the clamped 29 February, the day before 1 March is the leap day.
        const QDateTime endOfMarch(QDate(2024, 3, 31), QTime(12, 0), Qt::UTC);
        QTest::newRow("month end clamps")
            << endOfMarch << QDateTime(QDate(2024, 2, 29), QTime(12, 0), Qt::UTC) << "last month"
            << "1 mo. ago";
        const QDateTime firstOfMarch(QDate(2024, 3, 1), QTime(12, 0), Qt::UTC);
        QTest::newRow("leap day") << firstOfMarch << QDateTime(QDate(2024, 2, 29), QTime(12, 0), Qt::UTC) << "yesterday"
                                  << "1 day ago";
    }

    void relativeDates()
    {
        QFETCH(QDateTime, now);
        QFETCH(QDateTime, date);
        QFETCH(QString, named);
        QFETCH(QString, numericShort);
        QCOMPARE(Formatters::relativeDateNamed(date, now), named);
        QCOMPARE(Formatters::relativeDateNumericShort(date, now), numericShort);
    }

    // Days are calendar days in the zone of "now": across the spring change, noon to noon is one
    // day although only 23 hours pass, and the date's own zone does not matter.
    void relativeDatesCountCalendarDaysInTheZoneOfNow()
    {
        const QTimeZone berlin("Europe/Berlin");
        if (!berlin.isValid())
            QSKIP("no time-zone database");
        const QDateTime now(QDate(2024, 3, 31), QTime(12, 0), berlin);
        const QDateTime dayBefore = QDateTime(QDate(2024, 3, 30), QTime(12, 0), berlin).toUTC();
        QCOMPARE(now.toSecsSinceEpoch() - dayBefore.toSecsSinceEpoch(), 23 * 3600);
        QCOMPARE(Formatters::relativeDateNumericShort(dayBefore, now), QStringLiteral("1 day ago"));
        QCOMPARE(Formatters::relativeDateNamed(dayBefore, now), QStringLiteral("yesterday"));
        QCOMPARE(Formatters::relativeDateNumericShort(now, dayBefore), QStringLiteral("in 23 hr."));
    }

    // The defaults in the code are the English texts, so a missing or broken English catalog
    // changes nothing.
    void withoutACatalogTheTextsAreTheSame()
    {
        const QDateTime now(QDate(2024, 3, 15), QTime(12, 0), Qt::UTC);
        const auto all = [&] {
            QStringList texts;
            for (const qint64 bytes : {0LL, 1LL, -1LL, 12LL, 1'500'000LL, 1'234'567'890LL})
                texts << Formatters::fileByteCount(bytes);
            for (const double seconds : {0.0, 1.0, 61.0, 3600.0, 3661.0})
                texts << Formatters::abbreviatedDuration(seconds, 3);
            for (const qint64 seconds : {0LL, 1LL, -1LL, 60LL, -60LL, 3600LL, -7200LL, 86400LL, -86400LL * 3,
                     86400LL * 7, -86400LL * 21, 86400LL * 31, -86400LL * 70, 86400LL * 366, -86400LL * 800}) {
                texts << Formatters::relativeDateNamed(now.addSecs(seconds), now)
                      << Formatters::relativeDateNumericShort(now.addSecs(seconds), now);
            }
            return texts;
        };
        const QStringList english = all();
        Localization::useCatalog(QString());
        const QStringList defaults = all();
        Localization::useCatalog("en");
        QCOMPARE(defaults, english);
    }

    void otherLanguagesUseTheirWordsAndNumbers_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<QStringList>("texts");
        QTest::newRow("de") << "de"
                            << QStringList{"Null KB", "1 Byte", "1,5 MB", "1,23 GB", "1 Std. 1 Min. 1 Sek.",
                                   "vor 1 Stunde", "in 2 Tagen", "gestern", "vor 1.000 Jahren", "in 0 Sek."};
        QTest::newRow("fr") << "fr"
                            << QStringList{"Zéro Ko", "1 octet", "1,5 Mo", "1,23 Go", "1 h 1 min 1 s", "il y a 1 heure",
                                   "dans 2 jours", "hier", "il y a 1\u202f000 ans", "dans 0 s"};
        QTest::newRow("ja") << "ja"
                            << QStringList{"0 KB", "1 バイト", "1.5 MB", "1.23 GB", "1時間 1分 1秒", "1 時間前",
                                   "2 日後", "昨日", "1,000 年前", "0 秒後"};
    }

    void otherLanguagesUseTheirWordsAndNumbers()
    {
        QFETCH(QString, language);
        QFETCH(QStringList, texts);
        const QDateTime now(QDate(2024, 3, 15), QTime(12, 0), Qt::UTC);
        Localization::useCatalog(language);
        const QStringList shown{Formatters::fileByteCount(0), Formatters::fileByteCount(1),
            Formatters::fileByteCount(1'500'000), Formatters::fileByteCount(1'234'567'890),
            Formatters::abbreviatedDuration(3661, 3), Formatters::relativeDateNamed(now.addSecs(-3600), now),
            Formatters::relativeDateNamed(now.addDays(2), now), Formatters::relativeDateNamed(now.addDays(-1), now),
            Formatters::relativeDateNamed(now.addYears(-1000), now), Formatters::relativeDateNumericShort(now, now)};
        Localization::useCatalog("en");
        QCOMPARE(shown, texts);
    }
};

VANTREL_TEST_MAIN(TestFormatters)
#include "tst_Formatters.moc"
