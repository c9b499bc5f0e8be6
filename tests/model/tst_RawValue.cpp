#include "support/TestMain.h"

#include "files/TransferTask.h"
#include "model/NASConfig.h"
#include "model/RawValue.h"
#include "model/TransferDirection.h"
#include "mounting/NotificationPreferences.h"
#include "services/LanguageManager.h"
#include "services/LogManager.h"

#include <QSet>

using namespace vantrel;

namespace {

// Every case reads back from its raw value, no two cases share one, and a raw value in another
// letter case or with a stray space matches nothing.
template <typename E>
void checkRoundTrips(const char* name)
{
    const QList<E> cases = allCases<E>();
    QVERIFY2(!cases.isEmpty(), name);
    QSet<QString> seen;
    for (E value : cases) {
        const auto raw = rawValue(value);
        QCOMPARE(fromRawValue<E>(raw), std::optional<E>(value));
        const QString text = QVariant::fromValue(raw).toString();
        QVERIFY2(!seen.contains(text), qPrintable(QStringLiteral("%1: %2 repeats").arg(QLatin1String(name), text)));
        seen.insert(text);
        if constexpr (std::is_same_v<decltype(raw), const QString>) {
            if (raw.toUpper() != raw)
                QCOMPARE(fromRawValue<E>(raw.toUpper()), std::nullopt);
            QCOMPARE(fromRawValue<E>(raw + u' '), std::nullopt);
        }
    }
}

} // namespace

class TestRawValue : public QObject {
    Q_OBJECT

private slots:
    void everyEnumerationRoundTrips()
    {
        checkRoundTrips<NASProtocol>("NASProtocol");
        checkRoundTrips<AuthMethod>("AuthMethod");
        checkRoundTrips<SMBVersion>("SMBVersion");
        checkRoundTrips<NetworkBindingStrategy>("NetworkBindingStrategy");
        checkRoundTrips<TransferDirection>("TransferDirection");
        checkRoundTrips<TransferStatus>("TransferStatus");
        checkRoundTrips<NotificationEvent>("NotificationEvent");
        checkRoundTrips<AppLanguage>("AppLanguage");
        checkRoundTrips<LogLevel>("LogLevel");
        checkRoundTrips<LogManager::Category>("LogManager::Category");
    }

    void numbersOutsideTheCasesMatchNothing()
    {
        QCOMPARE(fromRawValue<LogLevel>(qint64(-1)), std::nullopt);
        QCOMPARE(fromRawValue<LogLevel>(qint64(5)), std::nullopt);
        QCOMPARE(fromRawValue<TransferStatus>(QString()), std::nullopt);
    }
};

VANTREL_TEST_MAIN(TestRawValue)
#include "tst_RawValue.moc"
