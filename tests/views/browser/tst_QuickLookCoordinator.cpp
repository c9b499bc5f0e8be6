#include "support/TestMain.h"

#include "platform/gui/PreviewPanel.h"
#include "views/browser/QuickLookCoordinator.h"

#include <QFile>
#include <QImage>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <memory>

using namespace vantrel;

class TestQuickLookCoordinator : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QUrl write(const QString& name, const QByteArray& data)
    {
        QFile f(m_dir.filePath(name));
        if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size())
            return {};
        return QUrl::fromLocalFile(f.fileName());
    }

private slots:
    void offersExactlyTheLastFile()
    {
        QuickLookCoordinator coordinator;
        PreviewPanel* panel = PreviewPanel::sharedPreviewPanel();
        QVERIFY(panel);
        QCOMPARE(coordinator.numberOfPreviewItems(*panel), 0);
        QVERIFY(!coordinator.previewItem(*panel, 0));
        QVERIFY(!coordinator.isPresenting());

        const QUrl first = write("a.txt", "alpha");
        const QUrl second = write("b.txt", "beta");
        coordinator.preview(first);
        coordinator.preview(second);
        QVERIFY(coordinator.isPresenting());
        QCOMPARE(coordinator.previewURL(), std::optional<QUrl>(second));
        QCOMPARE(coordinator.numberOfPreviewItems(*panel), 1);
        QCOMPARE(coordinator.previewItem(*panel, 0), std::optional<QUrl>(second));
        QCOMPARE(coordinator.previewItem(*panel, 7), std::optional<QUrl>(second)); // index ignored
        QCOMPARE(panel->dataSource(), static_cast<PreviewPanelDataSource*>(&coordinator));
        QVERIFY(panel->isVisible());
        QCOMPARE(panel->currentItem(), second); // shown where it lies, no copy
    }

    void panelShowsImageTextOrDetails()
    {
        auto coordinator = std::make_unique<QuickLookCoordinator>();
        PreviewPanel* panel = PreviewPanel::sharedPreviewPanel();

        QImage image(4, 3, QImage::Format_RGB32);
        image.fill(Qt::red);
        QVERIFY(image.save(m_dir.filePath("pic.png")));
        coordinator->preview(QUrl::fromLocalFile(m_dir.filePath("pic.png")));
        QTRY_COMPARE(panel->presentation(), PreviewPanel::Presentation::image);
        QCOMPARE(panel->presentedText(), QStringLiteral("4x3"));

        // A long text shows its beginning only.
        const QByteArray line = "line of text\n";
        QByteArray text;
        while (text.size() <= PreviewPanel::maxTextBytes)
            text += line;
        coordinator->preview(write("notes.txt", text));
        QTRY_COMPARE(panel->presentation(), PreviewPanel::Presentation::text);
        QVERIFY(panel->presentedText().startsWith(QStringLiteral("line of text\nline of text")));
        QCOMPARE(panel->presentedText().size(), PreviewPanel::maxTextBytes);

        coordinator->preview(write("data.bin", QByteArray(2000, '\0')));
        QTRY_COMPARE(panel->presentation(), PreviewPanel::Presentation::details);
        QVERIFY(panel->presentedText().startsWith(QStringLiteral("data.bin\n")));
        QVERIFY(panel->presentedText().contains(QStringLiteral("Size: 2 KB")));

        // A panel that outlives its coordinator stops asking it.
        coordinator.reset();
        QVERIFY(!panel->dataSource());
        panel->makeKeyAndOrderFront();
        QCOMPARE(panel->presentation(), PreviewPanel::Presentation::nothing);
    }
};

VANTREL_TEST_MAIN(TestQuickLookCoordinator)
#include "tst_QuickLookCoordinator.moc"
