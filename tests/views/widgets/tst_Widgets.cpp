#include "support/TestMain.h"

#include "views/widgets/BusyButton.h"
#include "views/widgets/ElidedLabel.h"
#include "views/widgets/FlowLayout.h"
#include "views/widgets/FormPage.h"
#include "views/widgets/SegmentedControl.h"
#include "views/widgets/Spinner.h"
#include "views/widgets/Stepper.h"
#include "views/widgets/Theme.h"
#include "views/widgets/WrapLayout.h"

#include <QApplication>
#include <QFormLayout>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalSpy>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>
#include <limits>

using namespace vantrel;

namespace {

QList<SegmentedControl::Option> smbVersions()
{
    return {{QStringLiteral("auto"), QStringLiteral("Auto"), {}}, {QStringLiteral("2"), QStringLiteral("SMB 2.x"), {}},
        {QStringLiteral("3"), QStringLiteral("SMB 3.x"), QStringLiteral("lock")}};
}

QStringList checkedValues(const SegmentedControl& control)
{
    QStringList values;
    for (const auto& option : control.options()) {
        if (control.button(option.value)->isChecked())
            values << option.value;
    }
    return values;
}

QWidget* fixedHeightBox(QWidget* parent, int height)
{
    auto* box = new QFrame(parent);
    box->setFixedHeight(height);
    box->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    return box;
}

} // namespace

class TestWidgets : public QObject {
    Q_OBJECT

private slots:
    void elidedLabelKeepsOneLineAndTheWholeText()
    {
        const QString longName = QStringLiteral("A share with a name far too long for a narrow column\nsecond");
        ElidedLabel label(longName);
        label.resize(80, label.sizeHint().height());
        label.show();
        QCOMPARE(label.fullText(), longName);
        QVERIFY(label.shownText().endsWith(QStringLiteral("…")));
        QVERIFY(!label.shownText().contains(QLatin1Char('\n')));
        QVERIFY(label.fontMetrics().horizontalAdvance(label.shownText()) <= 80);
        QCOMPARE(label.toolTip(), longName);
        // It may shrink below its text, so a long name never forces the window wider.
        QVERIFY(label.minimumSizeHint().width() < 20);

        label.setFullText(QStringLiteral("Short"));
        QCOMPARE(label.shownText(), QStringLiteral("Short"));
        QVERIFY(label.toolTip().isEmpty());
        label.resize(label.sizeHint());
        QCOMPARE(label.shownText(), QStringLiteral("Short"));
    }

    void segmentedControlSelectsByValueOrNothing()
    {
        SegmentedControl control(smbVersions());
        QSignalSpy activated(&control, &SegmentedControl::activated);
        QCOMPARE(control.currentIndex(), -1);
        QVERIFY(checkedValues(control).isEmpty());

        control.setValue(QStringLiteral("2"));
        QCOMPARE(control.value(), QStringLiteral("2"));
        QCOMPARE(checkedValues(control), QStringList{QStringLiteral("2")});

        // A stored value that no segment stands for leaves every segment unselected.
        control.setValue(QStringLiteral("1"));
        QCOMPARE(control.currentIndex(), -1);
        QCOMPARE(control.value(), QString());
        QVERIFY(checkedValues(control).isEmpty());
        QCOMPARE(activated.count(), 0);

        QCOMPARE(control.button(QStringLiteral("2"))->objectName(), QStringLiteral("segment.2"));
        QCOMPARE(control.button(QStringLiteral("3"))->property("symbol").toString(), QStringLiteral("lock"));
        QVERIFY(!control.button(QStringLiteral("auto"))->property("symbol").isValid());
        QCOMPARE(control.button(QStringLiteral("1")), nullptr);
    }

    void segmentedControlEmitsOnlyWhenTheUserChangesIt()
    {
        SegmentedControl control(smbVersions());
        control.setValue(QStringLiteral("auto"));
        control.show();
        QSignalSpy activated(&control, &SegmentedControl::activated);

        QTest::mouseClick(control.button(QStringLiteral("3")), Qt::LeftButton);
        QCOMPARE(activated.count(), 1);
        QCOMPARE(activated.takeFirst().at(0).toString(), QStringLiteral("3"));
        QCOMPARE(checkedValues(control), QStringList{QStringLiteral("3")});

        // Clicking the selected segment neither unchecks it nor reports a change.
        QTest::mouseClick(control.button(QStringLiteral("3")), Qt::LeftButton);
        QCOMPARE(activated.count(), 0);
        QCOMPARE(checkedValues(control), QStringList{QStringLiteral("3")});

        // From "none selected" a click selects.
        control.setValue(QStringLiteral("unknown"));
        QTest::mouseClick(control.button(QStringLiteral("auto")), Qt::LeftButton);
        QCOMPARE(activated.count(), 1);
        QCOMPARE(control.value(), QStringLiteral("auto"));
    }

    void segmentedControlOptionsCanBeReplacedFromItsOwnSignal()
    {
        SegmentedControl control(smbVersions());
        control.setValue(QStringLiteral("2"));
        control.show();

        // The selection survives new options that still offer its value.
        control.setOptions(
            {{QStringLiteral("2"), QStringLiteral("Two"), {}}, {QStringLiteral("4"), QStringLiteral("Four"), {}}});
        QCOMPARE(control.value(), QStringLiteral("2"));
        QCOMPARE(checkedValues(control), QStringList{QStringLiteral("2")});

        connect(&control, &SegmentedControl::activated, &control, [&] { control.setOptions(smbVersions()); });
        QTest::mouseClick(control.button(QStringLiteral("4")), Qt::LeftButton);
        QCOMPARE(control.value(), QString());
        QCOMPARE(control.options().size(), 3);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(control.findChildren<QToolButton*>().size(), 3);
    }

    void stepperPresses_data()
    {
        QTest::addColumn<double>("start");
        QTest::addColumn<QString>("presses");
        QTest::addColumn<double>("expected");
        QTest::addColumn<bool>("decrementEnabled");
        QTest::addColumn<bool>("incrementEnabled");
        // A range of 60 to 600 seconds in steps of 60.
        QTest::newRow("on the grid") << 180.0 << "+" << 240.0 << true << true;
        QTest::newRow("off the grid, no snapping") << 90.0 << "+" << 150.0 << true << true;
        QTest::newRow("off the grid down clamps") << 90.0 << "-" << 60.0 << false << true;
        QTest::newRow("up to the maximum") << 540.0 << "+" << 600.0 << true << false;
        QTest::newRow("clamped at the maximum") << 570.0 << "+" << 600.0 << true << false;
        QTest::newRow("down to the minimum") << 120.0 << "-" << 60.0 << false << true;
        QTest::newRow("round trip") << 90.0 << "+-" << 90.0 << true << true;
        QTest::newRow("above the range comes back in") << 700.0 << "-" << 600.0 << true << false;
        QTest::newRow("below the range comes back in") << 10.0 << "+" << 70.0 << true << true;
        QTest::newRow("not a number starts at the minimum")
            << std::numeric_limits<double>::quiet_NaN() << "+" << 60.0 << false << true;
    }

    void stepperPresses()
    {
        QFETCH(double, start);
        QFETCH(QString, presses);
        QFETCH(double, expected);
        QFETCH(bool, decrementEnabled);
        QFETCH(bool, incrementEnabled);
        Stepper stepper(60, 600, 60);
        stepper.show();
        stepper.setValue(start);
        QSignalSpy edited(&stepper, &Stepper::valueEdited);
        for (const QChar press : presses) {
            QToolButton* button = press == u'+' ? stepper.incrementButton() : stepper.decrementButton();
            QVERIFY(button->isEnabled());
            QTest::mouseClick(button, Qt::LeftButton);
        }
        QCOMPARE(stepper.value(), expected);
        QCOMPARE(edited.count(), presses.size());
        QCOMPARE(edited.last().at(0).toDouble(), expected);
        QCOMPARE(stepper.decrementButton()->isEnabled(), decrementEnabled);
        QCOMPARE(stepper.incrementButton()->isEnabled(), incrementEnabled);
    }

    void stepperSetValueReportsNothingAndShowsTheBounds()
    {
        Stepper stepper(0, 10, 1);
        QSignalSpy edited(&stepper, &Stepper::valueEdited);
        QCOMPARE(stepper.value(), 0.0);
        QVERIFY(!stepper.decrementButton()->isEnabled());
        stepper.setValue(10);
        QVERIFY(stepper.decrementButton()->isEnabled());
        QVERIFY(!stepper.incrementButton()->isEnabled());
        // A stored value outside the range is shown as it is until a press.
        stepper.setValue(12.5);
        QCOMPARE(stepper.value(), 12.5);
        QVERIFY(!stepper.incrementButton()->isEnabled());
        QCOMPARE(edited.count(), 0);
    }

    void stepperLabelFollowsTheValue()
    {
        Stepper stepper(60, 600, 60);
        QVERIFY(stepper.label()->isHidden());
        stepper.setLabelFunction(
            [](double seconds) { return QString::number(qint64(seconds / 60)) + QStringLiteral(" min"); });
        QVERIFY(!stepper.label()->isHidden());
        stepper.setValue(90);
        QCOMPARE(stepper.label()->text(), QStringLiteral("1 min"));
        stepper.stepUp();
        QCOMPARE(stepper.label()->text(), QStringLiteral("2 min"));
    }

    void flowLayoutFitsColumnsOfTheMinimumWidth_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("columns");
        // Columns of at least 220 with 8 between them.
        QTest::newRow("narrower than one column") << 150 << 1;
        QTest::newRow("one column") << 220 << 1;
        QTest::newRow("just short of two") << 447 << 1;
        QTest::newRow("two") << 448 << 2;
        QTest::newRow("three") << 700 << 3;
        QTest::newRow("four") << 1000 << 4;
    }

    void flowLayoutFitsColumnsOfTheMinimumWidth()
    {
        QFETCH(int, width);
        QFETCH(int, columns);
        QWidget container;
        auto* layout = new FlowLayout(220, &container);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setColumnSpacing(8);
        QCOMPARE(layout->columnCount(width), columns);
        // Margins are not room for columns.
        layout->setContentsMargins(20, 0, 20, 0);
        QCOMPARE(layout->columnCount(width + 40), columns);
    }

    void flowLayoutPlacesItemsRowByRow()
    {
        QWidget container;
        auto* layout = new FlowLayout(220, &container);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setColumnSpacing(8);
        layout->setRowSpacing(16);
        QList<QWidget*> boxes;
        for (int i = 0; i < 5; ++i) {
            boxes << fixedHeightBox(&container, 50);
            layout->addWidget(boxes.last());
        }

        QCOMPARE(layout->heightForWidth(700), 50 + 16 + 50);
        QCOMPARE(layout->heightForWidth(448), 3 * 50 + 2 * 16);
        QCOMPARE(layout->heightForWidth(300), 5 * 50 + 4 * 16);

        layout->setGeometry(QRect(0, 0, 700, 116));
        // Three equal columns that end exactly at the right edge.
        QCOMPARE(boxes[0]->geometry(), QRect(0, 0, 228, 50));
        QCOMPARE(boxes[1]->geometry(), QRect(236, 0, 228, 50));
        QCOMPARE(boxes[2]->geometry(), QRect(472, 0, 228, 50));
        QCOMPARE(boxes[3]->geometry(), QRect(0, 66, 228, 50));
        QCOMPARE(boxes[4]->geometry(), QRect(236, 66, 228, 50));

        // A hidden widget leaves no hole.
        boxes[1]->hide();
        layout->setGeometry(QRect(0, 0, 700, 116));
        QCOMPARE(boxes[2]->geometry().topLeft(), QPoint(236, 0));
        QCOMPARE(boxes[3]->geometry().topLeft(), QPoint(472, 0));
        QCOMPARE(boxes[4]->geometry().topLeft(), QPoint(0, 66));
        boxes[4]->hide();
        QCOMPARE(layout->heightForWidth(700), 50);
    }

    void flowLayoutRowIsAsTallAsItsTallestWrappedItem()
    {
        QWidget container;
        auto* layout = new FlowLayout(220, &container);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setColumnSpacing(8);
        layout->setRowSpacing(0);
        auto* label = new QLabel(QStringLiteral("a long line of words that wraps in a narrow column ").repeated(4));
        label->setWordWrap(true);
        layout->addWidget(label);
        layout->addWidget(fixedHeightBox(&container, 10));
        // Two columns of 220 at 448; the row takes the wrapped label's height at that width.
        QCOMPARE(layout->heightForWidth(448), label->heightForWidth(220));
        QVERIFY(layout->heightForWidth(448) > 10);
        // One column at 447: the label is wider, the box gets its own row.
        QCOMPARE(layout->heightForWidth(447), label->heightForWidth(447) + 10);
    }

    void wrapLayoutWrapsLeadingWidgetsAndKeepsTrailingOnesTogetherAtTheRight()
    {
        QWidget container;
        auto* layout = new WrapLayout(&container);
        layout->setContentsMargins(10, 5, 10, 5);
        layout->setSpacing(8);
        layout->setLineSpacing(4);
        QList<QWidget*> boxes;
        for (const int width : {100, 100, 60, 60}) {
            auto* box = new QFrame(&container);
            box->setFixedSize(width, 20);
            boxes << box;
        }
        layout->addWidget(boxes[0]);
        layout->addWidget(boxes[1]);
        layout->addTrailingWidget(boxes[2]);
        layout->addTrailingWidget(boxes[3]);

        // All on one line: the trailing pair ends at the right edge.
        layout->setGeometry(QRect(0, 0, 420, 30));
        QCOMPARE(layout->heightForWidth(420), 5 + 20 + 5);
        QCOMPARE(boxes[0]->geometry(), QRect(10, 5, 100, 20));
        QCOMPARE(boxes[1]->geometry(), QRect(118, 5, 100, 20));
        QCOMPARE(boxes[2]->geometry(), QRect(410 - 128, 5, 60, 20));
        QCOMPARE(boxes[3]->geometry(), QRect(410 - 60, 5, 60, 20));

        // Narrower: the pair moves to a line of its own, still together and flush right.
        layout->setGeometry(QRect(0, 0, 300, 54));
        QCOMPARE(layout->heightForWidth(300), 5 + 20 + 4 + 20 + 5);
        QCOMPARE(boxes[1]->geometry().topLeft(), QPoint(118, 5));
        QCOMPARE(boxes[2]->geometry(), QRect(290 - 128, 29, 60, 20));
        QCOMPARE(boxes[3]->geometry(), QRect(290 - 60, 29, 60, 20));

        // Narrower than the pair: every widget wraps in reading order.
        QCOMPARE(layout->heightForWidth(120), 5 + 4 * 20 + 3 * 4 + 5);
        layout->setGeometry(QRect(0, 0, 120, 122));
        QCOMPARE(boxes[2]->geometry().topLeft(), QPoint(10, 53));
        QCOMPARE(boxes[3]->geometry().topLeft(), QPoint(10, 77));

        // A hidden widget takes no room, and the sizes leave it out.
        boxes[1]->hide();
        QCOMPARE(layout->heightForWidth(300), 5 + 20 + 5);
        QCOMPARE(layout->sizeHint(), QSize(10 + 100 + 8 + 60 + 8 + 60 + 10, 30));
        QCOMPARE(layout->minimumSize(), QSize(10 + 100 + 10, 30));
    }

    void spinnerAnimatesOnlyWhileVisible()
    {
        QWidget window;
        auto* spinner = new Spinner(&window);
        QVERIFY(!spinner->isAnimating());
        window.show();
        QVERIFY(spinner->isAnimating());
        const int phase = spinner->phase();
        QTRY_VERIFY(spinner->phase() != phase);

        spinner->hide();
        QVERIFY(!spinner->isAnimating());
        spinner->show();
        QVERIFY(spinner->isAnimating());
        window.hide();
        QVERIFY(!spinner->isAnimating());

        // Shown inside a hidden window it waits for the window.
        auto* later = new Spinner(&window);
        later->show();
        QVERIFY(!later->isAnimating());
        window.show();
        QVERIFY(later->isAnimating());
    }

    void formPageKeepsSectionsInOrderAndTheBarOutsideTheScrollArea()
    {
        FormPage page;
        FormSection* basic = page.addSection(QStringLiteral("Basic"));
        FormSection* options = page.addSection(QStringLiteral("Options"));
        FormSection* error = page.insertSection(0, QStringLiteral("Error"));
        FormSection* untitled = page.addSection();
        QCOMPARE(page.sections(), (QList<FormSection*>{error, basic, options, untitled}));
        QCOMPARE(basic->title(), QStringLiteral("Basic"));
        QCOMPARE(untitled->title(), QString());
        QVERIFY(page.scrollArea()->widget()->isAncestorOf(basic));

        for (int i = 0; i < 40; ++i)
            options->form()->addRow(QStringLiteral("Row"), new QLabel(QStringLiteral("value")));
        auto* bar = new QPushButton(QStringLiteral("Save"));
        page.setActionBar(bar);
        QCOMPARE(page.actionBar(), bar);
        QVERIFY(!page.scrollArea()->isAncestorOf(bar));

        // However long the form, the bar sits at the bottom of the page, in view.
        page.resize(400, 300);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        QVERIFY(bar->isVisible());
        QCOMPARE(bar->geometry().bottom(), page.height() - 1);
        QVERIFY(page.scrollArea()->geometry().bottom() < bar->geometry().top());
        QVERIFY(page.scrollArea()->widget()->height() > page.scrollArea()->viewport()->height());

        // A new bar replaces the old one, and no bar leaves none behind.
        QPointer<QWidget> first = bar;
        page.setActionBar(new QPushButton(QStringLiteral("Close")));
        QVERIFY(first.isNull());
        page.setActionBar(nullptr);
        QCOMPARE(page.actionBar(), nullptr);
        QCOMPARE(page.findChildren<QFrame*>(QStringLiteral("actionBarSeparator")).size(), 0);
    }

    void formPageGivesAllSectionsOneLabelColumn()
    {
        FormPage page;
        FormSection* narrow = page.addSection(QStringLiteral("Narrow"));
        FormSection* wide = page.addSection(QStringLiteral("Wide"));
        auto* shortField = new QLineEdit;
        auto* longField = new QLineEdit;
        narrow->form()->addRow(QStringLiteral("A"), shortField);
        wide->form()->addRow(QStringLiteral("A much longer label"), longField);
        auto* note = new QWidget;
        auto* noteLayout = new QVBoxLayout(note);
        noteLayout->setContentsMargins(0, 0, 0, 0);
        noteLayout->addWidget(new QLabel(QStringLiteral("Wrapped text under the fields")));
        narrow->addIndentedRow(note);
        QCOMPARE(narrow->indentedRows(), QList<QWidget*>{note});

        page.alignLabelColumns();
        page.resize(500, 400);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        QCOMPARE(shortField->mapTo(&page, QPoint()).x(), longField->mapTo(&page, QPoint()).x());
        QCOMPARE(note->layout()->contentsMargins().left() + note->mapTo(&page, QPoint()).x(),
            shortField->mapTo(&page, QPoint()).x());

        // A minimum wider than every label sets the column.
        const int before = shortField->mapTo(&page, QPoint()).x();
        page.alignLabelColumns(300);
        QTRY_VERIFY(shortField->mapTo(&page, QPoint()).x() > before);
        QCOMPARE(shortField->mapTo(&page, QPoint()).x(), longField->mapTo(&page, QPoint()).x());
    }

    void elidedLabelCutsItsLinesAndKeepsTheWholeText()
    {
        const QString longText = QStringLiteral("word ").repeated(200).trimmed();
        ElidedLabel label(longText);
        label.setMaximumLines(3);
        const int width = 200;
        bool elided = false;
        const QStringList lines = label.shownLines(width, &elided);
        QVERIFY(elided);
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines.last().endsWith(QChar(0x2026)));
        QVERIFY(!lines.first().endsWith(QChar(0x2026)));
        QCOMPARE(label.fullText(), longText);
        QVERIFY(label.hasHeightForWidth());
        QCOMPARE(label.heightForWidth(width), 3 * QFontMetrics(label.font()).lineSpacing());
        label.resize(width, label.heightForWidth(width));
        label.show();
        QCOMPARE(label.shownText(), lines.join(QLatin1Char('\n')));
        QCOMPARE(label.toolTip(), longText);

        // Text that fits takes the lines it needs, breaks included, and no ellipsis.
        label.setFullText(QStringLiteral("first\nsecond"));
        QCOMPARE(label.shownLines(width, &elided), (QStringList{QStringLiteral("first"), QStringLiteral("second")}));
        QVERIFY(!elided);
        QVERIFY(label.toolTip().isEmpty());
        label.setMaximumLines(1);
        QVERIFY(!label.hasHeightForWidth());
        QCOMPARE(label.shownLines(width), QStringList{QStringLiteral("first second")});
        label.setFullText(QString());
        QVERIFY(label.shownLines(width).isEmpty());
    }

    void busyButtonTurnsOnlyWhileBusyAndShown()
    {
        QWidget window;
        auto* layout = new QHBoxLayout(&window);
        auto* button = new BusyButton(QStringLiteral("Test the connection"));
        layout->addWidget(button);
        layout->addStretch(1);
        QVERIFY(!button->autoDefault());
        QVERIFY(!button->isDefault());
        const int idleWidth = button->sizeHint().width();

        button->setBusy(true);
        QVERIFY(button->sizeHint().width() > idleWidth);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const int phase = button->phase();
        QTRY_VERIFY(button->phase() != phase);
        QVERIFY(!button->grab().isNull());

        button->setBusy(false);
        QCOMPARE(button->sizeHint().width(), idleWidth);
        const int stopped = button->phase();
        QTest::qWait(250);
        QCOMPARE(button->phase(), stopped);
        QCOMPARE(button->text(), QStringLiteral("Test the connection"));
    }

    void themeTakesColoursFromThePalette()
    {
        QPalette palette;
        palette.setColor(QPalette::PlaceholderText, QColor(0x12, 0x34, 0x56));
        palette.setColor(QPalette::Highlight, QColor(0x65, 0x43, 0x21));
        palette.setColor(QPalette::Window, Qt::white);
        QCOMPARE(Theme::color(Theme::Color::secondary, palette), QColor(0x12, 0x34, 0x56));
        QCOMPARE(Theme::color(Theme::Color::accent, palette), QColor(0x65, 0x43, 0x21));
        const QColor lightRed = Theme::color(Theme::Color::red, palette);
        palette.setColor(QPalette::Window, QColor(0x20, 0x20, 0x20));
        QVERIFY(Theme::color(Theme::Color::red, palette) != lightRed);
        QVERIFY(Theme::color(Theme::Color::tertiary, palette).alphaF() < 0.5);
    }

    void themeTextStylesKeepTheirProportions()
    {
        const QFont body = Theme::font(Theme::TextStyle::body);
        QCOMPARE(body.pointSizeF(), QApplication::font().pointSizeF());
        QCOMPARE(Theme::font(Theme::TextStyle::headline).pointSizeF(), body.pointSizeF());
        QCOMPARE(Theme::font(Theme::TextStyle::headline).weight(), QFont::Bold);
        QVERIFY(std::abs(Theme::font(Theme::TextStyle::largeTitle).pointSizeF() - 2 * body.pointSizeF()) < 0.01);
        const auto size = [](Theme::TextStyle style) { return Theme::font(style).pointSizeF(); };
        QCOMPARE(size(Theme::TextStyle::caption2), size(Theme::TextStyle::caption));
        QVERIFY(size(Theme::TextStyle::caption) < size(Theme::TextStyle::subheadline));

        QLabel label;
        Theme::setTextStyle(&label, Theme::TextStyle::caption, QFont::Medium);
        QCOMPARE(label.property("textStyle").toString(), QStringLiteral("caption"));
        QCOMPARE(label.font().weight(), QFont::Medium);
    }

    void themeTintsTextAndSymbols()
    {
        QLabel text(QStringLiteral("hint"));
        const QColor disabledBefore = text.palette().color(QPalette::Disabled, QPalette::WindowText);
        Theme::setTint(&text, Theme::Color::orange);
        QCOMPARE(text.property("tint").toString(), QStringLiteral("orange"));
        QCOMPARE(text.palette().color(QPalette::Active, QPalette::WindowText),
            Theme::color(Theme::Color::orange, text.palette()));
        QCOMPARE(text.palette().color(QPalette::Disabled, QPalette::WindowText), disabledBefore);

        Theme::setTint(&text, Theme::Color::secondary, 0.5);
        QCOMPARE(text.palette().color(QPalette::Active, QPalette::WindowText).alphaF(),
            Theme::color(Theme::Color::secondary, text.palette()).alphaF() * 0.5);

        QLabel icon;
        Theme::setSymbol(&icon, QStringLiteral("externaldrive.connected.to.line.below"), Theme::Color::green, 24);
        QCOMPARE(icon.property("symbol").toString(), QStringLiteral("externaldrive.connected.to.line.below"));
        QCOMPARE(icon.property("tint").toString(), QStringLiteral("green"));
        QCOMPARE(icon.pixmap().deviceIndependentSize().toSize(), QSize(24, 24));

        QToolButton button;
        Theme::setSymbol(&button, QStringLiteral("externaldrive.badge.xmark"), Theme::Color::red, 10);
        QCOMPARE(button.property("symbol").toString(), QStringLiteral("externaldrive.badge.xmark"));
        QCOMPARE(button.iconSize(), QSize(10, 10));
    }
};

VANTREL_TEST_MAIN(TestWidgets)
#include "tst_Widgets.moc"
