#include "support/TestMain.h"

#include "platform/Formatters.h"

#include <limits>

using namespace vantrel;

class TestFormatters : public QObject {
    Q_OBJECT

private slots:
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
};

VANTREL_TEST_MAIN(TestFormatters)
#include "tst_Formatters.moc"
