#include "support/TestMain.h"
#include "support/gui/SettingsFixture.h"

#include "views/main/settings/LoggingTab.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>

using namespace vantrel;
using test::SettingsFixture;

namespace {

void writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList exportedFilesInTemp()
{
    return QDir(QDir::tempPath()).entryList({QStringLiteral("Vantrel-Logs-*.log")}, QDir::Files);
}

// Clicks export and waits for the outcome, which may already have come within the click when the
// work finished before it was awaited.
bool exportThroughTheButton(LoggingTab& tab)
{
    QSignalSpy finished(&tab, &LoggingTab::exportFinished);
    tab.findChild<QPushButton*>(QStringLiteral("export"))->click();
    if (finished.isEmpty() && !finished.wait())
        return false;
    return finished.first().first().toBool();
}

} // namespace

class TestLoggingTab : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        for (const QString& name : exportedFilesInTemp())
            QFile::remove(QDir(QDir::tempPath()).filePath(name));
    }

    void levelMenuStoresTheRawValueAndTheToggleAreSeededOnce()
    {
        SettingsFixture fx;
        fx.defaults.setValue(LogManager::logLevelKey, 1);
        LoggingTab tab(fx.log, fx.fileDialogs);
        auto* level = tab.findChild<QComboBox*>(QStringLiteral("log.minimumLevel"));
        auto* debug = tab.findChild<QCheckBox*>(QStringLiteral("log.debugMode"));
        auto* file = tab.findChild<QCheckBox*>(QStringLiteral("log.fileEnabled"));
        QStringList rows;
        for (int i = 0; i < level->count(); ++i)
            rows << level->itemText(i);
        QCOMPARE(rows,
            (QStringList{"\U0001F50D DEBUG", "\u2139\uFE0F INFO", "\u26A0\uFE0F WARN", "\u274C ERROR",
                "\U0001F525 CRIT"}));
        QCOMPARE(level->currentText(), QStringLiteral("\u2139\uFE0F INFO"));
        QVERIFY(!debug->isChecked());
        QVERIFY(!file->isChecked());

        tab.show();
        level->setFocus();
        QTest::keyClick(level, Qt::Key_Down);
        QCOMPARE(fx.defaults.value(LogManager::logLevelKey), QVariant(qint64(2)));
        fx.systemLog.clear();
        VLOG_TO(fx.log, info, defaultCategory, QStringLiteral("dropped"));
        VLOG_TO(fx.log, warning, defaultCategory, QStringLiteral("kept"));
        QCOMPARE(fx.systemLog.messages(), QStringList{QStringLiteral("kept")});

        // Debug mode stores the lowest level, but the menu keeps its choice.
        debug->click();
        QCOMPARE(fx.defaults.value(LogManager::debugModeKey), QVariant(true));
        QCOMPARE(fx.defaults.value(LogManager::logLevelKey), QVariant(qint64(0)));
        QCOMPARE(level->currentIndex(), 2);
        level->setCurrentIndex(3);
        debug->click();
        QCOMPARE(fx.defaults.value(LogManager::debugModeKey), QVariant(false));
        QCOMPARE(fx.defaults.value(LogManager::logLevelKey), QVariant(qint64(3)));

        file->click();
        QCOMPARE(fx.defaults.value(LogManager::fileLoggingKey), QVariant(true));
    }

    void sizeIsReadWhenShownAndAfterTheClearHasRun()
    {
        SettingsFixture fx;
        writeFile(fx.log.logFilePath(), QByteArray(1500, 'x'));
        writeFile(fx.log.rotatedLogFilePath(), QByteArray(1000, 'y'));
        LoggingTab tab(fx.log, fx.fileDialogs);
        auto* size = tab.findChild<QLabel*>(QStringLiteral("logSize"));
        QSignalSpy sized(&tab, &LoggingTab::sizeRefreshed);
        tab.show();
        QTRY_COMPARE(sized.count(), 1);
        QCOMPARE(size->text(), QStringLiteral("3 KB"));

        // Lines queued before the clear are removed with it; the size is read afterwards.
        fx.log.setFileLoggingEnabled(true);
        for (int i = 0; i < 3000; ++i)
            VLOG_TO(fx.log, info, defaultCategory, QStringLiteral("line %1").arg(i));
        tab.findChild<QPushButton*>(QStringLiteral("clear"))->click();
        QTRY_COMPARE(sized.count(), 2);
        QCOMPARE(size->text(), QStringLiteral("Zero KB"));
        QVERIFY(!QFile::exists(fx.log.logFilePath()));
        QVERIFY(!QFile::exists(fx.log.rotatedLogFilePath()));
    }

    void exportWithoutLogsOpensNoPanel()
    {
        SettingsFixture fx;
        LoggingTab tab(fx.log, fx.fileDialogs);
        QVERIFY(!exportThroughTheButton(tab));
        QVERIFY(fx.fileDialogs.requests().isEmpty());
        QVERIFY(exportedFilesInTemp().isEmpty());
    }

    void exportMovesTheFileToTheChosenPlaceReplacingOneThere()
    {
        SettingsFixture fx;
        writeFile(fx.log.logFilePath(), "the log\n");
        const QString destination = fx.dir.filePath(QStringLiteral("chosen/exported.log"));
        writeFile(destination, "an older export");
        fx.fileDialogs.script.append(QUrl::fromLocalFile(destination));
        LoggingTab tab(fx.log, fx.fileDialogs);

        QVERIFY(exportThroughTheButton(tab));
        QCOMPARE(readFile(destination), QByteArray("the log\n"));
        QVERIFY(exportedFilesInTemp().isEmpty());
        QCOMPARE(fx.fileDialogs.requests().size(), 1);
        const test::ScriptedFileDialogs::Request& request = fx.fileDialogs.requests().first();
        QVERIFY(!request.hadParent); // free-standing
        QVERIFY(request.save.suggestedName.startsWith(QStringLiteral("Vantrel-Logs-")));
        QVERIFY(request.save.suggestedName.endsWith(QStringLiteral(".log")));
        QVERIFY(!request.save.suggestedName.contains(QLatin1Char(':')));
        QCOMPARE(request.save.nameFilters, QStringList{QStringLiteral("纯文本 (*.log *.txt)")});
    }

    void cancellingKeepsTheTemporaryFile()
    {
        SettingsFixture fx;
        writeFile(fx.log.logFilePath(), "the log\n");
        fx.fileDialogs.script.append(std::nullopt);
        LoggingTab tab(fx.log, fx.fileDialogs);
        QVERIFY(!exportThroughTheButton(tab));
        const QStringList kept = exportedFilesInTemp();
        QCOMPARE(kept.size(), 1);
        QCOMPARE(readFile(QDir(QDir::tempPath()).filePath(kept.first())), QByteArray("the log\n"));
    }

    void aFailedMoveIsReportedAndKeepsTheTemporaryFile()
    {
        SettingsFixture fx;
        writeFile(fx.log.logFilePath(), "the log\n");
        // A folder where the file should go.
        const QString destination = fx.dir.filePath(QStringLiteral("occupied"));
        QVERIFY(QDir().mkpath(destination + QStringLiteral("/inside")));
        fx.fileDialogs.script.append(QUrl::fromLocalFile(destination));
        LoggingTab tab(fx.log, fx.fileDialogs);
        tab.show();

        QVERIFY(!exportThroughTheButton(tab));
        auto* alert = tab.findChild<QMessageBox*>(QStringLiteral("exportFailedAlert"));
        QVERIFY(alert);
        QVERIFY(alert->isVisible());
        const QStringList kept = exportedFilesInTemp();
        QCOMPARE(kept.size(), 1);
        QVERIFY(alert->informativeText().contains(kept.first()));
        QVERIFY(QFileInfo(destination).isDir());
        QVERIFY(fx.systemLog.messages().last().startsWith(QStringLiteral("Failed to export logs: ")));
        alert->close();
    }
};

VANTREL_TEST_MAIN(TestLoggingTab)
#include "tst_LoggingTab.moc"
