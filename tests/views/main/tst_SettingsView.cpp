#include "support/TestMain.h"
#include "support/gui/SettingsFixture.h"

#include "platform/Localization.h"
#include "views/main/SettingsView.h"
#include "views/main/settings/LoggingTab.h"

#include <QFile>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>

using namespace vantrel;
using test::SettingsFixture;

namespace {

QByteArray fileContent(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<absent>");
}

} // namespace

class TestSettingsView : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { Localization::useCatalog(QString()); }

    void sixTabsInOrderWithTextsAndSymbols()
    {
        SettingsFixture fx;
        const QStringList symbols{QStringLiteral("character"), QStringLiteral("power"), QStringLiteral("bell"),
            QStringLiteral("internaldrive"), QStringLiteral("gearshape.2"), QStringLiteral("doc.text")};
        const QStringList types{QStringLiteral("LanguageSettingsTab"), QStringLiteral("LaunchTab"),
            QStringLiteral("NotificationSettingsTab"), QStringLiteral("CacheSettingsTab"),
            QStringLiteral("AdvancedMountTab"), QStringLiteral("LoggingTab")};
        const QList<QStringList> texts{
            {"语言", "启动", "通知", "缓存", "高级", "日志"},
            {"Language", "Launch", "Notifications", "Cache", "Advanced", "Logging"},
        };
        for (const QString& catalog : {QString(), QStringLiteral("en")}) {
            Localization::useCatalog(catalog);
            SettingsView view(fx.appState, fx.configStore, fx.languageManager, fx.services());
            QTabWidget* tabs = view.tabs();
            QCOMPARE(tabs->count(), 6);
            for (int i = 0; i < 6; ++i) {
                QCOMPARE(tabs->widget(i)->objectName(), types.at(i));
                QCOMPARE(tabs->tabText(i), texts.at(catalog.isEmpty() ? 0 : 1).at(i));
                QCOMPARE(tabs->tabBar()->tabData(i).toString(), symbols.at(i));
                QVERIFY(!tabs->tabIcon(i).isNull());
            }
            QCOMPARE(tabs->currentIndex(), 0);
        }
    }

    void keepsItsMinimumSizeAndOpensOnTheFirstTab()
    {
        SettingsFixture fx;
        SettingsView view(fx.appState, fx.configStore, fx.languageManager, fx.services());
        QCOMPARE(view.minimumSize(), QSize(560, 400));
        view.resize(580, 460);
        view.show();
        view.resize(100, 100);
        QCOMPARE(view.size(), QSize(560, 400));

        view.tabs()->setCurrentIndex(3);
        view.hide();
        view.show();
        QCOMPARE(view.tabs()->currentIndex(), 0);
    }

    // Qt's change signals fire for values set in code; loading a tab must not write them back.
    void openingEveryTabWritesNothingAndCallsNoService()
    {
        SettingsFixture fx;
        QVERIFY(fx.defaults.synchronize());
        const QByteArray before = fileContent(fx.defaults.filePath());
        QSignalSpy writes(&fx.defaults, &Defaults::valueChanged);
        QSignalSpy statistics(&fx.cache, &CacheManager::statisticsChanged);
        QSignalSpy cleaning(&fx.cacheDirectory, &CacheDirectoryManager::isCleaningUpChanged);
        QSignalSpy master(&fx.notifications, &NotificationPreferences::globalEnabledChanged);
        QSignalSpy events(&fx.notifications, &NotificationPreferences::eventStatesChanged);
        QSignalSpy language(&fx.languageManager, &LanguageManager::selectedLanguageChanged);
        fx.systemLog.clear();
        {
            SettingsView view(fx.appState, fx.configStore, fx.languageManager, fx.services());
            QSignalSpy sized(view.findChild<LoggingTab*>(), &LoggingTab::sizeRefreshed);
            view.show();
            for (int i = 0; i < view.tabs()->count(); ++i) {
                view.tabs()->setCurrentIndex(i);
                QCoreApplication::processEvents();
            }
            QTRY_COMPARE(sized.size(), 1);
        }
        QCOMPARE(writes.size(), 0);
        QCOMPARE(statistics.size(), 0);
        QCOMPARE(cleaning.size(), 0);
        QCOMPARE(master.size(), 0);
        QCOMPARE(events.size(), 0);
        QCOMPARE(language.size(), 0);
        QVERIFY(fx.launchAtLoginCalls().isEmpty());
        QVERIFY(!fx.cacheDirectory.isPeriodicCleanupActive());
        QVERIFY(fx.fileDialogs.requests().isEmpty());
        QCOMPARE(fx.systemLog.messages(), QStringList());
        QVERIFY(fx.defaults.synchronize());
        QCOMPARE(fileContent(fx.defaults.filePath()), before);
    }
};

VANTREL_TEST_MAIN(TestSettingsView)
#include "tst_SettingsView.moc"
