#include "support/TestMain.h"

#include "platform/Threading.h"
#include "platform/gui/PreviewPanel.h"

#include <QFile>
#include <QLabel>
#include <QTemporaryDir>

#include <sys/stat.h>

using namespace vantrel;

namespace {

class OneItem final : public PreviewPanelDataSource {
public:
    QUrl url;
    int numberOfPreviewItems(PreviewPanel&) override { return 1; }
    std::optional<QUrl> previewItem(PreviewPanel&, int) override { return url; }
};

// The label that shows the panel's current text.
QLabel* shownLabel(PreviewPanel& panel)
{
    for (QLabel* label : panel.findChildren<QLabel*>()) {
        if (label->isVisibleTo(&panel) && label->text() == panel.presentedText())
            return label;
    }
    return nullptr;
}

} // namespace

class TestPreviewPanel : public QObject {
    Q_OBJECT

private slots:
    void fileNamesShowAsTheyAreWritten()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("<b>bold & <i>co.bin"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("\x00\x01\x02\x03", 4));
        file.close();
        OneItem source;
        source.url = QUrl::fromLocalFile(path);
        PreviewPanel panel;
        panel.setDataSource(&source);
        panel.makeKeyAndOrderFront();
        QTRY_COMPARE(panel.presentation(), PreviewPanel::Presentation::details);
        QVERIFY(panel.presentedText().startsWith(QStringLiteral("<b>bold & <i>co.bin\n")));
        QLabel* label = shownLabel(panel);
        QVERIFY(label);
        QCOMPARE(label->textFormat(), Qt::PlainText);
        QCOMPARE(panel.windowTitle(), QStringLiteral("<b>bold & <i>co.bin"));
    }

    void aPipeShowsItsDetailsWithoutBeingRead()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("pipe"));
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        OneItem source;
        source.url = QUrl::fromLocalFile(path);
        PreviewPanel panel;
        panel.setDataSource(&source);
        panel.makeKeyAndOrderFront();
        QTRY_COMPARE_WITH_TIMEOUT(panel.presentation(), PreviewPanel::Presentation::details, 2000);
        QVERIFY(panel.presentedText().startsWith(QStringLiteral("pipe\n")));
    }
};

VANTREL_TEST_MAIN(TestPreviewPanel)
#include "tst_PreviewPanel.moc"
