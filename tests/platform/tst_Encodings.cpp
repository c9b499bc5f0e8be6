#include "support/TestMain.h"

#include "platform/Encodings.h"

#include <cmath>

using namespace vantrel;
using namespace vantrel::encoding;

class TestEncodings : public QObject {
    Q_OBJECT

private slots:
    void uuids()
    {
        const QUuid id = QUuid::fromString(QStringLiteral("{6f1c2a3b-4d5e-4f60-8a1b-2c3d4e5f6a7b}"));
        QCOMPARE(uuidText(id), QStringLiteral("6F1C2A3B-4D5E-4F60-8A1B-2C3D4E5F6A7B"));
        QCOMPARE(parseUuid(uuidText(id)), std::optional(id));
        QCOMPARE(parseUuid(QStringLiteral("6f1c2a3b-4d5e-4f60-8a1b-2c3d4e5f6a7b")), std::optional(id));
        QCOMPARE(parseUuid(QStringLiteral("00000000-0000-0000-0000-000000000000")), std::optional(QUuid()));
        for (const char* bad : {"{6F1C2A3B-4D5E-4F60-8A1B-2C3D4E5F6A7B}", "6F1C2A3B4D5E4F608A1B2C3D4E5F6A7B",
                 "6F1C2A3B-4D5E-4F60-8A1B-2C3D4E5F6A7", "6F1C2A3B-4D5E-4F60-8A1B-2C3D4E5F6A7BC",
                 "6F1C2A3B-4D5E-4F60-8A1B-2C3D4E5F6A7G", "6F1C2A3B_4D5E-4F60-8A1B-2C3D4E5F6A7B",
                 " 6F1C2A3B-4D5E-4F60-8A1B-2C3D4E5F6A7", ""})
            QVERIFY2(!parseUuid(QString::fromLatin1(bad)), bad);
    }

    void referenceSeconds()
    {
        const QDateTime reference(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
        QCOMPARE(secondsSinceReferenceDate(reference), 0.0);
        QCOMPARE(secondsSinceReferenceDate(reference.addMSecs(1500)), 1.5);
        // Before the reference date the count is negative, fractions included.
        const QDateTime before(QDate(2000, 12, 31), QTime(23, 59, 59, 250), Qt::UTC);
        QCOMPARE(secondsSinceReferenceDate(before), -0.75);
        const QDateTime y1970(QDate(1970, 1, 1), QTime(0, 0), Qt::UTC);
        QCOMPARE(secondsSinceReferenceDate(y1970), -978307200.0);
        QCOMPARE(dateFromReferenceSeconds(secondsSinceReferenceDate(before)), before);
        QCOMPARE(dateFromReferenceSeconds(-0.75), reference.addMSecs(-750));
        QCOMPARE(dateFromReferenceSeconds(736000000.123), reference.addMSecs(736000000123));
        QCOMPARE(dateFromReferenceSeconds(1.0).timeSpec(), Qt::UTC);
        // Another zone's clock time for the same instant gives the same count.
        QCOMPARE(secondsSinceReferenceDate(QDateTime(QDate(2001, 1, 1), QTime(2, 0), Qt::OffsetFromUTC, 7200)), 0.0);
        QVERIFY(std::isnan(secondsSinceReferenceDate(QDateTime())));
        QVERIFY(!dateFromReferenceSeconds(std::nan("")).isValid());
        QVERIFY(!dateFromReferenceSeconds(INFINITY).isValid());
        QVERIFY(!dateFromReferenceSeconds(1e300).isValid());
    }

    void iso8601Text()
    {
        const QDateTime when(QDate(2024, 5, 1), QTime(9, 30, 12, 999), Qt::UTC);
        QCOMPARE(iso8601(when), QStringLiteral("2024-05-01T09:30:12Z"));
        QCOMPARE(iso8601(when.toOffsetFromUtc(-5 * 3600)), QStringLiteral("2024-05-01T09:30:12Z"));
        QCOMPARE(iso8601(QDateTime(QDate(1969, 12, 31), QTime(23, 59, 59, 500), Qt::UTC)),
            QStringLiteral("1969-12-31T23:59:59Z"));
        QVERIFY(iso8601(QDateTime()).isEmpty());

        const QDateTime whole(QDate(2024, 5, 1), QTime(9, 30, 12), Qt::UTC);
        QCOMPARE(parseIso8601(QStringLiteral("2024-05-01T09:30:12Z")), std::optional(whole));
        QCOMPARE(parseIso8601(QStringLiteral("2024-05-01T11:30:12+02:00")), std::optional(whole));
        QCOMPARE(parseIso8601(QStringLiteral("2024-05-01T04:00:12-05:30")), std::optional(whole));
        QCOMPARE(parseIso8601(QStringLiteral("2024-02-29T00:00:00Z"))->date(), QDate(2024, 2, 29));
        for (const char* bad : {"2024-05-01T09:30:12.345Z", "2024-05-01T09:30:12", "2024-05-01 09:30:12Z",
                 "2024-05-01t09:30:12z", "2024-05-01T09:30Z", "2023-02-29T00:00:00Z", "2024-05-01T24:00:00Z",
                 "2024-05-01T23:59:60Z", "2024-13-01T00:00:00Z", "2024-05-01T09:30:12+0200",
                 "2024-05-01T09:30:12+24:00", " 2024-05-01T09:30:12Z", ""})
            QVERIFY2(!parseIso8601(QString::fromLatin1(bad)), bad);
    }

    void fileUrls()
    {
        const QString path = QStringLiteral("/home/u/My Share #1/100% 照片/é.txt");
        const QString text = fileUrlText(path);
        QCOMPARE(text, QStringLiteral("file:///home/u/My%20Share%20%231/100%25%20%E7%85%A7%E7%89%87/%C3%A9.txt"));
        QCOMPARE(pathFromFileUrlText(text), std::optional(path));
        QCOMPARE(pathFromFileUrlText(fileUrlText(QStringLiteral("/a?b/"))), std::optional(QStringLiteral("/a?b/")));
        QCOMPARE(pathFromFileUrlText(QStringLiteral("file://localhost/tmp/x")),
            std::optional(QStringLiteral("/tmp/x")));

        // Texts that could not come from a path: another scheme, a host, a cut-off fragment or query.
        for (const char* bad : {"http://host/a", "file://server/share", "file:///a#b", "file:///a?b", "/plain/path",
                 "file:relative", "file:///a%00b", "", "file:///a b%zz"})
            QVERIFY2(!pathFromFileUrlText(QString::fromLatin1(bad)), bad);
    }
};

VANTREL_TEST_MAIN(TestEncodings)
#include "tst_Encodings.moc"
