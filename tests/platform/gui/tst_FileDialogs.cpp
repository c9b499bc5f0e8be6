#include "support/TestMain.h"

#include "platform/gui/FileDialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QPointer>
#include <QTemporaryDir>

#include <memory>
#include <optional>

using namespace vantrel;

namespace {

QFileDialog* openDialog()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* dialog = qobject_cast<QFileDialog*>(widget); dialog && dialog->isVisible())
            return dialog;
    }
    return nullptr;
}

// Every answer a panel gave, in order.
struct Answers {
    QList<std::optional<QUrl>> received;
    FileDialogs::Completion completion()
    {
        return [this](const std::optional<QUrl>& chosen) { received.append(chosen); };
    }
};

} // namespace

class TestFileDialogs : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void init()
    {
        // The toolkit's own dialog, which a test can drive; never a desktop portal.
        QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    }

    void cleanup()
    {
        while (QFileDialog* dialog = openDialog())
            delete dialog;
    }

    void aSavePanelOpensWithoutBlockingAndAnswersOnAccept()
    {
        DesktopFileDialogs dialogs;
        Answers answers;
        QObject receiver;
        FileDialogs::SaveOptions options;
        options.suggestedName = QStringLiteral("Vantrel-Logs.log");
        options.directory = m_dir.path();
        options.nameFilters = {QStringLiteral("Text (*.log *.txt)")};
        dialogs.chooseSaveLocation(options, nullptr, &receiver, answers.completion());

        // Returned at once with the panel showing: no nested event loop ran the answer.
        QFileDialog* dialog = openDialog();
        QVERIFY(dialog);
        QVERIFY(answers.received.isEmpty());
        QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptSave);
        QCOMPARE(dialog->nameFilters(), options.nameFilters);
        QVERIFY(!dialog->testOption(QFileDialog::ReadOnly));

        const QString target = m_dir.filePath(QStringLiteral("Vantrel-Logs.log"));
        dialog->selectFile(target);
        static_cast<QDialog*>(dialog)->accept();
        QTRY_COMPARE(answers.received.size(), 1);
        QCOMPARE(answers.received.first(), std::optional<QUrl>(QUrl::fromLocalFile(target)));
        QTRY_VERIFY(!openDialog());
    }

    void aCancelledPanelAnswersNothingChosen()
    {
        DesktopFileDialogs dialogs;
        Answers answers;
        QObject receiver;
        dialogs.chooseFolder({QString(), m_dir.path(), false}, nullptr, &receiver, answers.completion());
        QFileDialog* dialog = openDialog();
        QVERIFY(dialog);
        QCOMPARE(dialog->fileMode(), QFileDialog::Directory);
        QVERIFY(dialog->testOption(QFileDialog::ReadOnly));
        dialog->reject();
        QTRY_COMPARE(answers.received.size(), 1);
        QCOMPARE(answers.received.first(), std::nullopt);
    }

    void aPanelWhoseReceiverIsGoneClosesWithoutAnswering()
    {
        DesktopFileDialogs dialogs;
        Answers answers;
        auto receiver = std::make_unique<QObject>();
        dialogs.chooseSaveLocation({}, nullptr, receiver.get(), answers.completion());
        QPointer<QFileDialog> dialog = openDialog();
        QVERIFY(dialog);
        receiver.reset();
        QTRY_VERIFY(!dialog);
        QCoreApplication::processEvents();
        QVERIFY(answers.received.isEmpty());
    }
};

VANTREL_TEST_MAIN(TestFileDialogs)
#include "tst_FileDialogs.moc"
