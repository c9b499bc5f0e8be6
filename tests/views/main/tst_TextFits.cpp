// The labels with a fixed width, under every interface language: each still shows its
// whole text, or elides where it is meant to.

#include "support/RecordingWorkspace.h"
#include "support/TestMain.h"
#include "support/gui/SettingsFixture.h"

#include "platform/Localization.h"
#include "views/browser/ConflictResolutionSheet.h"
#include "views/browser/TransferRow.h"
#include "views/main/AboutView.h"
#include "views/main/MainWindowView.h"
#include "views/main/settings/CacheSettingsTab.h"
#include "views/main/settings/LaunchTab.h"
#include "views/widgets/Stepper.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QSlider>
#include <QStyleOptionFrame>
#include <QToolButton>

using namespace vantrel;

namespace {

// Lays out a shown window the way the screen would.
void settle(QWidget& window)
{
    window.show();
    QApplication::processEvents();
}

// The text of the widget is cut: it has less room than its text asks for.
bool cut(const QWidget* widget)
{
    return widget->width() < widget->sizeHint().width();
}

// A wrapped label is cut: it is lower than its lines need at its width.
bool cutLines(const QLabel* label)
{
    return label->height() < label->heightForWidth(label->width());
}

// The field's prompt is elided: the room inside its frame is narrower than the prompt.
bool promptCut(const QLineEdit* field)
{
    QStyleOptionFrame option;
    option.initFrom(field);
    option.rect = field->rect();
    option.lineWidth = field->hasFrame() ? field->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, field)
                                         : 0;
    const QRect contents = field->style()
                               ->subElementRect(QStyle::SE_LineEditContents, &option, field)
                               .marginsRemoved(field->textMargins());
    const QFontMetrics metrics(field->font());
    const int room = contents.width() - 2 * 2 - std::max(0, -metrics.minLeftBearing()); // the line edit's own margins
    return metrics.horizontalAdvance(field->placeholderText()) > room;
}

} // namespace

class TestTextFits : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { Localization::useCatalog(QString()); }

    void fixedWidthTextsFitInEveryLanguage_data()
    {
        QTest::addColumn<QString>("language");
        for (const QString& language : Localization::catalogIdentifiers())
            QTest::newRow(qPrintable(language)) << language;
    }

    void fixedWidthTextsFitInEveryLanguage()
    {
        QFETCH(QString, language);
        test::SettingsFixture fx; // (it starts without a catalog)
        Localization::useCatalog(language);

        // The keep-alive interval's 60-point minutes label, at its longest value.
        LaunchTab launch(fx.defaults, fx.launchAtLogin);
        launch.resize(560, 420);
        auto* interval = launch.findChild<Stepper*>(LaunchTab::keepAliveIntervalKey);
        QVERIFY(interval);
        interval->setValue(600);
        settle(launch);
        QVERIFY2(!cut(interval->label()), qPrintable(interval->label()->text()));
        QVERIFY(interval->label()->width() >= 60);

        // The cache limit's 80-point size label, at the largest limit.
        CacheSettingsTab cache(fx.defaults, fx.cache, fx.cacheDirectory);
        cache.resize(560, 420);
        cache.sizeSlider()->setValue(cache.sizeSlider()->maximum());
        settle(cache);
        auto* sizeLabel = cache.findChild<QLabel*>(QStringLiteral("maxSizeLabel"));
        QVERIFY2(!cut(sizeLabel), qPrintable(sizeLabel->text()));
        QVERIFY(sizeLabel->width() >= 80);

        // A transfer row's 100-point byte text, with counts in gigabytes.
        TransferTask task;
        task.id = QUuid::createUuid();
        task.sourceURL = QUrl::fromLocalFile(QStringLiteral("/mnt/media/project-backup.tar.gz"));
        task.status = TransferStatus::running;
        task.totalBytes = 1'288'490'188;
        task.bytesTransferred = 1'100'000'000;
        task.startDate = QDateTime::currentDateTime().addSecs(-10);
        TransferRow row(
            task, [] {}, [] {}, [] {}, [] {});
        row.resize(420, row.sizeHint().height());
        settle(row);
        auto* bytes = row.findChild<QLabel*>(QStringLiteral("byteCount"));
        QVERIFY2(!cut(bytes), qPrintable(bytes->text()));

        // The 360-point conflict sheet keeps its width: its buttons fit beside each other, the
        // message wraps within it.
        ConflictResolutionSheet sheet(QStringLiteral("Quarterly report final version.docx"), nullptr);
        settle(sheet);
        QCOMPARE(sheet.width(), ConflictResolutionSheet::sheetWidth);
        for (QPushButton* button : sheet.findChildren<QPushButton*>())
            QVERIFY2(!cut(button), qPrintable(button->text()));

        // The 360-point about window: its version line and every link in full.
        test::RecordingWorkspace workspace;
        AboutView about({{QStringLiteral("CFBundleShortVersionString"), QStringLiteral("12.10.3")},
                            {QStringLiteral("CFBundleVersion"), QStringLiteral("4096")}},
            workspace);
        settle(about);
        QCOMPARE(about.width(), AboutView::contentWidth);
        QVERIFY(!cut(about.findChild<QLabel*>(QStringLiteral("version"))));
        for (QToolButton* link : about.findChildren<QToolButton*>()) {
            QVERIFY2(!cut(link), qPrintable(link->text()));
            QVERIFY(about.rect().contains(link->geometry()));
        }
    }

    void theEditorsMountOptionBoxesShareOneColumn_data() { fixedWidthTextsFitInEveryLanguage_data(); }

    void theEditorsMountOptionBoxesShareOneColumn()
    {
        QFETCH(QString, language);
        test::ViewFixture fx;
        Localization::useCatalog(language);
        const NASConfig share = fx.addShare(QStringLiteral("Studio"));
        MainWindowView view(fx.appState, fx.configStore, {},
            {&fx.network.monitor, &fx.workspace, &fx.mounts, &fx.engine, &fx.keychain});
        QTest::mouseClick(view.shareList()->viewport(), Qt::LeftButton, {},
            view.shareList()->visualRect(view.shareList()->model()->index(0, 0)).center());
        QVERIFY(view.editor());
        auto* readOnly = view.editor()->findChild<QWidget*>(QStringLiteral("readOnlyToggle"));
        auto* autoMount = view.editor()->findChild<QWidget*>(QStringLiteral("autoMountToggle"));
        // From the smallest window up, wherever the form starts to wrap its rows.
        for (int width = 500; width <= 1000; width += 10) {
            view.resize(width, 640);
            settle(view);
            QVERIFY2(readOnly->mapTo(&view, QPoint()).x() == autoMount->mapTo(&view, QPoint()).x(),
                qPrintable(QString::number(width)));
        }
        Q_UNUSED(share);
    }

    void theMainWindowShowsItsHintAndPromptsWhole_data() { fixedWidthTextsFitInEveryLanguage_data(); }

    void theMainWindowShowsItsHintAndPromptsWhole()
    {
        QFETCH(QString, language);
        test::ViewFixture fx;
        Localization::useCatalog(language);
        NASConfig blank = MainWindowView::newConfig();
        blank.name = QStringLiteral("Blank");
        fx.addShare(blank);
        MainWindowView view(fx.appState, fx.configStore, {},
            {&fx.network.monitor, &fx.workspace, &fx.mounts, &fx.engine, &fx.keychain});

        // The placeholder's hint, in lines no wider than 250 points, at the smallest window and a
        // larger one.
        for (const QSize size : {QSize(500, 400), QSize(760, 500)}) {
            view.resize(size);
            settle(view);
            QCOMPARE(view.currentDetail(), view.detailPlaceholder());
            auto* hint = view.detailPlaceholder()->findChild<QLabel*>(QStringLiteral("placeholderHint"));
            QVERIFY2(!cutLines(hint), qPrintable(hint->text()));
            QVERIFY(hint->width() <= 250);
            auto* title = view.detailPlaceholder()->findChild<QLabel*>(QStringLiteral("placeholderTitle"));
            QVERIFY2(!cutLines(title), qPrintable(title->text()));
        }

        // Every prompt of a blank share's editor, at the smallest window.
        QTest::mouseClick(view.shareList()->viewport(), Qt::LeftButton, {},
            view.shareList()->visualRect(view.shareList()->model()->index(0, 0)).center());
        QVERIFY(view.editor());
        // Both binding blocks, so the Wi-Fi field shows too.
        QTest::mouseClick(view.editor()->findChild<QWidget*>(QStringLiteral("segment.combined")), Qt::LeftButton);
        view.resize(500, 400);
        settle(view);
        int prompts = 0;
        for (QLineEdit* field : view.editor()->findChildren<QLineEdit*>()) {
            if (!field->isVisibleTo(view.editor()) || field->placeholderText().isEmpty())
                continue;
            field->clear();
            QVERIFY2(!promptCut(field), qPrintable(field->objectName() + QLatin1Char('=') + field->placeholderText()));
            ++prompts;
        }
        QVERIFY(prompts >= 7);
    }
};

VANTREL_TEST_MAIN(TestTextFits)
#include "tst_TextFits.moc"
