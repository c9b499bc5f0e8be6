#include "support/TestMain.h"

#include "views/browser/ConflictResolutionSheet.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>

using namespace vantrel;

class TestConflictResolutionSheet : public QObject {
    Q_OBJECT

    // A window for the sheet to belong to, as the browser's is.
    QWidget m_window;

    struct Opened {
        ConflictResolutionSheet* sheet;
        std::unique_ptr<QSignalSpy> resolved;
    };

    Opened openSheet(const QString& name = QStringLiteral("report.pdf"))
    {
        auto* sheet = new ConflictResolutionSheet(name, &m_window);
        sheet->setAttribute(Qt::WA_DeleteOnClose);
        auto spy = std::make_unique<QSignalSpy>(sheet, &ConflictResolutionSheet::resolved);
        sheet->open();
        return {sheet, std::move(spy)};
    }

private slots:
    void initTestCase()
    {
        m_window.resize(700, 500);
        m_window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&m_window));
    }

    void asksAboutTheNameWithThreeAnswers()
    {
        auto [sheet, resolved] = openSheet(QStringLiteral("archive.tar.gz"));
        QVERIFY(QTest::qWaitForWindowExposed(sheet));
        QCOMPARE(sheet->windowModality(), Qt::WindowModal);
        QCOMPARE(sheet->parentWidget(), &m_window);
        QCOMPARE(sheet->width(), ConflictResolutionSheet::sheetWidth);
        QCOMPARE(sheet->findChild<QLabel*>(QStringLiteral("title"))->text(), QStringLiteral("File already exists"));
        QCOMPARE(sheet->findChild<QLabel*>(QStringLiteral("message"))->text(),
            QStringLiteral("\"archive.tar.gz\" already exists in this location."));
        auto* icon = sheet->findChild<QLabel*>(QStringLiteral("icon"));
        QCOMPARE(icon->property("symbol").toString(), QStringLiteral("exclamationmark.triangle"));
        QCOMPARE(icon->property("tint").toString(), QStringLiteral("orange"));

        // Left to right: Skip, Rename, Overwrite; Overwrite is the default.
        QList<QPushButton*> buttons = sheet->findChildren<QPushButton*>();
        std::sort(buttons.begin(), buttons.end(), [](QPushButton* a, QPushButton* b) { return a->x() < b->x(); });
        QStringList texts;
        for (QPushButton* button : buttons)
            texts << button->text();
        QCOMPARE(texts, (QStringList{"Skip", "Rename", "Overwrite"}));
        QVERIFY(sheet->button(ConflictResolution::overwrite)->isDefault());
        QVERIFY(!sheet->button(ConflictResolution::skip)->isDefault());
        sheet->close();
        QVERIFY(sheet->isVisible());
        sheet->button(ConflictResolution::skip)->click();
    }

    void eachAnswerIsReportedOnceAndClosesTheSheet_data()
    {
        QTest::addColumn<ConflictResolution>("answer");
        QTest::newRow("skip") << ConflictResolution::skip;
        QTest::newRow("rename") << ConflictResolution::rename;
        QTest::newRow("overwrite") << ConflictResolution::overwrite;
    }

    void eachAnswerIsReportedOnceAndClosesTheSheet()
    {
        QFETCH(ConflictResolution, answer);
        auto [sheet, resolved] = openSheet();
        QPointer<ConflictResolutionSheet> guard(sheet);
        QTest::mouseClick(sheet->button(answer), Qt::LeftButton);
        QCOMPARE(resolved->size(), 1);
        QCOMPARE(resolved->at(0).at(0).value<ConflictResolution>(), answer);
        QTRY_VERIFY(!guard);
    }

    void onlyAnAnswerDismissesIt()
    {
        auto [sheet, resolved] = openSheet();
        QVERIFY(QTest::qWaitForWindowExposed(sheet));
        QTest::keyClick(sheet, Qt::Key_Escape);
        QVERIFY(!sheet->close());
        sheet->reject();
        QVERIFY(sheet->isVisible());
        QCOMPARE(resolved->size(), 0);

        // Return takes the default answer.
        QPointer<ConflictResolutionSheet> guard(sheet);
        QTest::keyClick(sheet, Qt::Key_Return);
        QCOMPARE(resolved->size(), 1);
        QCOMPARE(resolved->at(0).at(0).value<ConflictResolution>(), ConflictResolution::overwrite);
        QTRY_VERIFY(!guard);
    }
};

VANTREL_TEST_MAIN(TestConflictResolutionSheet)
#include "tst_ConflictResolutionSheet.moc"
