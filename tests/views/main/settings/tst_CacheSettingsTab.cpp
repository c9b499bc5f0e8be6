#include "support/FileWorkGate.h"
#include "support/TestMain.h"
#include "support/gui/SettingsFixture.h"

#include "platform/Localization.h"
#include "platform/Threading.h"
#include "views/main/settings/CacheSettingsTab.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSemaphore>
#include <QSignalSpy>
#include <QSlider>
#include <QThreadPool>

#include <limits>

using namespace vantrel;
using test::SettingsFixture;

namespace {

QLabel* value(const QWidget& tab, const char* name)
{
    return tab.findChild<QLabel*>(QLatin1String(name));
}

QPushButton* button(const QWidget& tab, const char* name)
{
    return tab.findChild<QPushButton*>(QLatin1String(name));
}

// Holds the file work in the cache folder until released, so a clean-up waits mid-run.
class HeldCacheFolder {
public:
    explicit HeldCacheFolder(const QString& folder)
        : m_folder(folder)
    {
        m_gate.hold(folder);
    }
    void release() { m_gate.release(m_folder); }

private:
    test::FileWorkGate m_gate;
    QString m_folder;
};

CacheEntry cacheFile(SettingsFixture& fx, const QUuid& config, const QString& name)
{
    const QString source = fx.dir.filePath(QStringLiteral("share/") + name);
    QDir().mkpath(fx.dir.filePath(QStringLiteral("share")));
    QFile file(source);
    file.open(QIODevice::WriteOnly);
    file.write("12345");
    file.close();
    return QCoro::waitFor(fx.cache.cacheFile(QUrl::fromLocalFile(source), config, name)).value();
}

} // namespace

class TestCacheSettingsTab : public QObject {
    Q_OBJECT

private slots:
    void sizeLimitIsStoredInBytesOnTheGridOfTheSlider()
    {
        SettingsFixture fx;
        {
            CacheSettingsTab tab(fx.defaults, fx.cache, fx.cacheDirectory);
            QCOMPARE(tab.maxCacheSizeMB(), 500.0);
            QCOMPARE(value(tab, "maxSizeLabel")->text(), QStringLiteral("500 MB"));
            QVERIFY(tab.findChild<QCheckBox*>(QStringLiteral("cache.autoCleanup"))->isChecked());

            QSignalSpy statistics(&fx.cache, &CacheManager::statisticsChanged);
            tab.show();
            tab.sizeSlider()->setFocus();
            for (int i = 0; i < 5; ++i)
                QTest::keyClick(tab.sizeSlider(), Qt::Key_Right);
            QCOMPARE(fx.defaults.value(CacheManager::maxCacheSizeKey).typeId(), QMetaType::LongLong);
            QCOMPARE(fx.defaults.integerValue(CacheManager::maxCacheSizeKey), 1000LL * 1048576);
            QCOMPARE(value(tab, "maxSizeLabel")->text(), QStringLiteral("1000 MB"));
            QCOMPARE(fx.cache.statistics().maxSize, 1000LL * 1048576);
            QCOMPARE(statistics.size(), 5);
        }
        {
            CacheSettingsTab reopened(fx.defaults, fx.cache, fx.cacheDirectory);
            QCOMPARE(reopened.maxCacheSizeMB(), 1000.0);
            reopened.show();
            QTest::keyClick(reopened.sizeSlider(), Qt::Key_End);
            QCOMPARE(fx.defaults.integerValue(CacheManager::maxCacheSizeKey), 5000LL * 1048576);
            QTest::keyClick(reopened.sizeSlider(), Qt::Key_Home);
            QCOMPARE(fx.defaults.integerValue(CacheManager::maxCacheSizeKey), 100LL * 1048576);
            QCOMPARE(value(reopened, "maxSizeLabel")->text(), QStringLiteral("100 MB"));
        }
    }

    void anUnusableStoredLimitShowsTheDefaultAndStaysStored()
    {
        for (const QVariant& stored :
            {QVariant(std::numeric_limits<double>::quiet_NaN()), QVariant(1e300), QVariant(QStringLiteral("lots"))}) {
            SettingsFixture fx;
            fx.defaults.setValue(CacheManager::maxCacheSizeKey, stored);
            CacheSettingsTab tab(fx.defaults, fx.cache, fx.cacheDirectory);
            QCOMPARE(value(tab, "maxSizeLabel")->text(), QStringLiteral("500 MB"));
            QCOMPARE(tab.sizeSlider()->value() * 100, 500);
            QCOMPARE(fx.defaults.value(CacheManager::maxCacheSizeKey).typeId(), stored.typeId());
        }
    }

    void usageRowsFollowTheStatistics()
    {
        SettingsFixture fx;
        CacheSettingsTab tab(fx.defaults, fx.cache, fx.cacheDirectory);
        QCOMPARE(value(tab, "hitRate")->text(), QStringLiteral("0.0%"));
        QCOMPARE(value(tab, "hitRate")->property("tint").toString(), QStringLiteral("secondary"));

        const QUuid config = QUuid::createUuid();
        cacheFile(fx, config, QStringLiteral("a.txt"));
        QVERIFY(fx.cache.isCached(config, QStringLiteral("a.txt")));
        QVERIFY(!fx.cache.isCached(config, QStringLiteral("missing.txt")));
        QCOMPARE(value(tab, "entryCount")->text(), QStringLiteral("1"));
        QCOMPARE(value(tab, "totalSize")->text(), QStringLiteral("5 bytes"));
        // Exactly one half is not good enough for green.
        QCOMPARE(value(tab, "hitRate")->text(), QStringLiteral("50.0%"));
        QCOMPARE(value(tab, "hitRate")->property("tint").toString(), QStringLiteral("secondary"));
        QVERIFY(fx.cache.isCached(config, QStringLiteral("a.txt")));
        QVERIFY(fx.cache.isCached(config, QStringLiteral("a.txt")));
        QCOMPARE(value(tab, "hitRate")->text(), QStringLiteral("75.0%"));
        QCOMPARE(value(tab, "hitRate")->property("tint").toString(), QStringLiteral("green"));

        // Clear all: at once, without asking.
        button(tab, "clearAll")->click();
        QTRY_COMPARE(value(tab, "entryCount")->text(), QStringLiteral("0"));
        QCOMPARE(value(tab, "totalSize")->text(), QStringLiteral("Zero KB"));
        QCOMPARE(value(tab, "hitRate")->text(), QStringLiteral("0.0%"));
        QCOMPARE(value(tab, "hitRate")->property("tint").toString(), QStringLiteral("secondary"));
    }

    void hitRateUsesTheInterfaceLanguagesDecimalSeparator()
    {
        const CacheStatistics threeOfFour{.hitCount = 3, .missCount = 1};
        QCOMPARE(CacheSettingsTab::hitRate(threeOfFour).text, QStringLiteral("75.0%"));
        Localization::useCatalog(QStringLiteral("de"));
        const QString german = CacheSettingsTab::hitRate(threeOfFour).text;
        Localization::useCatalog(QString());
        QCOMPARE(german, QStringLiteral("75,0%"));
    }

    void lowDiskSpaceIsRedOnlyWhenMeasured()
    {
        SettingsFixture fx;
        CacheSettingsTab tab(fx.defaults, fx.cache, fx.cacheDirectory);
        QLabel* disk = value(tab, "diskSpace");
        fx.disk.bytes = 50LL * 1048576;
        QCoro::waitFor(fx.cacheDirectory.updateDiskSpace());
        QCOMPARE(disk->text(), QStringLiteral("52.4 MB"));
        QCOMPARE(disk->property("tint").toString(), QStringLiteral("red"));
        fx.disk.bytes = 0;
        QCoro::waitFor(fx.cacheDirectory.updateDiskSpace());
        QCOMPARE(disk->text(), QStringLiteral("Zero KB"));
        QCOMPARE(disk->property("tint").toString(), QStringLiteral("secondary"));
    }

    void cleanupButtonIsDisabledWhileAnyCleanupRuns()
    {
        SettingsFixture fx;
        const QUuid config = QUuid::createUuid();
        QVERIFY(QFile::remove(cacheFile(fx, config, QStringLiteral("gone.txt")).localURL.toLocalFile()));
        CacheSettingsTab tab(fx.defaults, fx.cache, fx.cacheDirectory);
        tab.show();
        QPushButton* cleanupNow = button(tab, "cleanupNow");
        QLabel* lastCleanup = value(tab, "lastCleanup");
        QLabel* lastRemoved = value(tab, "lastRemoved");
        QVERIFY(!lastCleanup->isVisible());
        QVERIFY(!lastRemoved->isVisible());

        {
            HeldCacheFolder held(fx.cache.cacheDirectory());
            cleanupNow->click();
            QVERIFY(!cleanupNow->isEnabled());
            QVERIFY(button(tab, "clearAll")->isEnabled());
            held.release();
            QTRY_VERIFY(cleanupNow->isEnabled());
        }
        QVERIFY(lastCleanup->isVisible());
        QCOMPARE(lastCleanup->text(), QStringLiteral("now"));
        QTRY_VERIFY(lastRemoved->isVisible());
        QCOMPARE(lastRemoved->text(), QStringLiteral("1"));

        // One started by the periodic timer disables it too.
        fx.defaults.setValue(CacheDirectoryManager::cleanupIntervalKey, 0.02);
        auto* autoCleanup = tab.findChild<QCheckBox*>(QStringLiteral("cache.autoCleanup"));
        {
            HeldCacheFolder held(fx.cache.cacheDirectory());
            autoCleanup->click();
            QCOMPARE(fx.defaults.value(CacheDirectoryManager::autoCleanupKey), QVariant(false));
            QVERIFY(!fx.cacheDirectory.isPeriodicCleanupActive());
            autoCleanup->click();
            QCOMPARE(fx.defaults.value(CacheDirectoryManager::autoCleanupKey), QVariant(true));
            QVERIFY(fx.cacheDirectory.isPeriodicCleanupActive());
            QTRY_VERIFY(!cleanupNow->isEnabled());
            fx.cacheDirectory.stopPeriodicCleanup();
            held.release();
            QTRY_VERIFY(cleanupNow->isEnabled());
        }
        // A clean-up that removed nothing keeps the date row and hides the count.
        QVERIFY(lastCleanup->isVisible());
        QVERIFY(!lastRemoved->isVisible());
    }
};

VANTREL_TEST_MAIN(TestCacheSettingsTab)
#include "tst_CacheSettingsTab.moc"
