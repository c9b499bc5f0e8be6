#include "support/TestMain.h"

#include "views/browser/BreadcrumbView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QToolButton>

using namespace vantrel;
using Segments = QList<BreadcrumbView::Segment>;

namespace {

QUrl file(const char* path)
{
    return QUrl::fromLocalFile(QString::fromUtf8(path));
}

} // namespace

class TestBreadcrumbView : public QObject {
    Q_OBJECT

private slots:
    void pathSegments_data()
    {
        QTest::addColumn<QUrl>("current");
        QTest::addColumn<QUrl>("mountPoint");
        QTest::addColumn<Segments>("expected");
        const QUrl share = file("/Volumes/share");
        QTest::newRow("at the root") << share << share << Segments{{"NAS", share}};
        QTest::newRow("three folders down")
            << file("/Volumes/share/a/b/c") << share
            << Segments{{"NAS", share}, {"a", file("/Volumes/share/a")}, {"b", file("/Volumes/share/a/b")},
                   {"c", file("/Volumes/share/a/b/c")}};
        QTest::newRow("trailing slashes")
            << file("/Volumes/share/a/") << file("/Volumes/share/")
            << Segments{{"NAS", file("/Volumes/share/")}, {"a", file("/Volumes/share/a")}};
        QTest::newRow("outside the share") << file("/home/user/Documents") << share << Segments{{"NAS", share}};
        // The prefix test is on characters, not on whole components.
        QTest::newRow("a sibling whose name starts alike")
            << file("/Volumes/share2/a") << share
            << Segments{{"NAS", share}, {"share2", file("/Volumes/share2")}, {"a", file("/Volumes/share2/a")}};
        QTest::newRow("the file system root as mount point")
            << file("/x/y") << file("/") << Segments{{"NAS", file("/")}, {"x", file("/x")}, {"y", file("/x/y")}};
        // Every path starts with an empty one: the walk still ends, at "/".
        QTest::newRow("no mount point at all")
            << file("/x") << QUrl() << Segments{{"NAS", QUrl()}, {"", file("/")}, {"x", file("/x")}};
    }

    void pathSegments()
    {
        QFETCH(QUrl, current);
        QFETCH(QUrl, mountPoint);
        QFETCH(Segments, expected);
        const Segments segments = BreadcrumbView::pathSegments(current, mountPoint, QStringLiteral("NAS"));
        QCOMPARE(segments.size(), expected.size());
        for (qsizetype i = 0; i < segments.size(); ++i) {
            QCOMPARE(segments.at(i).name, expected.at(i).name);
            QCOMPARE(segments.at(i).url, expected.at(i).url);
        }
    }

    void segmentsAreButtonsThatNavigateExceptTheLast()
    {
        BreadcrumbView bar;
        QSignalSpy navigate(&bar, &BreadcrumbView::navigateRequested);
        bar.setPath(file("/mnt/media"), file("/mnt/media"), QStringLiteral("Media & More"));
        bar.show();
        QCOMPARE(bar.buttons().size(), 1);
        QVERIFY(!bar.buttons().at(0)->isEnabled());
        QCOMPARE(bar.findChildren<QLabel*>(QStringLiteral("chevron")).size(), 0);
        // A share's name is shown as it stands, "&" included.
        QCOMPARE(bar.buttons().at(0)->text().replace(QStringLiteral("&&"), QStringLiteral("&")),
            QStringLiteral("Media & More"));

        bar.setPath(file("/mnt/media/Films/2020/June"), file("/mnt/media"), QStringLiteral("Media"));
        const QList<QToolButton*> buttons = bar.buttons();
        QCOMPARE(buttons.size(), 4);
        QStringList texts;
        for (QToolButton* button : buttons)
            texts << button->text();
        QCOMPARE(texts, (QStringList{"Media", "Films", "2020", "June"}));
        const QList<QLabel*> chevrons = bar.findChildren<QLabel*>(QStringLiteral("chevron"));
        QCOMPARE(chevrons.size(), 3);
        QCOMPARE(chevrons.at(0)->property("symbol").toString(), QStringLiteral("chevron.right"));
        QCOMPARE(chevrons.at(0)->property("tint").toString(), QStringLiteral("secondary"));
        for (qsizetype i = 0; i < 3; ++i) {
            QVERIFY(buttons.at(i)->isEnabled());
            QCOMPARE(buttons.at(i)->property("tint").toString(), QStringLiteral("accent"));
        }
        QVERIFY(!buttons.at(3)->isEnabled());
        QCOMPARE(buttons.at(3)->property("tint").toString(), QStringLiteral("primary"));
        QVERIFY(buttons.at(3)->font().weight() > buttons.at(2)->font().weight());

        QTest::mouseClick(buttons.at(1), Qt::LeftButton);
        QCOMPARE(navigate.size(), 1);
        QCOMPARE(navigate.at(0).at(0).toUrl(), file("/mnt/media/Films"));
        QTest::mouseClick(buttons.at(3), Qt::LeftButton); // disabled
        QCOMPARE(navigate.size(), 1);
    }

    void aLongPathScrollsInsteadOfWideningTheHost()
    {
        QWidget host;
        auto* layout = new QHBoxLayout(&host);
        auto* bar = new BreadcrumbView;
        layout->addWidget(bar);
        QString path = QStringLiteral("/mnt/media");
        for (int i = 0; i < 20; ++i)
            path += QStringLiteral("/a rather long folder name %1").arg(i);
        bar->setPath(QUrl::fromLocalFile(path), file("/mnt/media"), QStringLiteral("Media"));
        QVERIFY(bar->sizeHint().width() > 2000);
        QVERIFY(host.minimumSizeHint().width() < 200);
        host.resize(400, 60);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        QCOMPARE(host.width(), 400);
        QVERIFY(bar->width() <= 400);
        QCOMPARE(bar->height(), bar->sizeHint().height());
        // The current folder, at the end, is what is in view.
        QScrollBar* scroll = bar->scrollArea()->horizontalScrollBar();
        QVERIFY(scroll->maximum() > 0);
        QTRY_COMPARE(scroll->value(), scroll->maximum());

        // The wheel moves the path sideways.
        QWheelEvent wheel(QPointF(10, 10), bar->mapToGlobal(QPointF(10, 10)), QPoint(), QPoint(0, 120), Qt::NoButton,
            Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(bar->scrollArea()->viewport(), &wheel);
        QVERIFY(scroll->value() < scroll->maximum());
    }
};

VANTREL_TEST_MAIN(TestBreadcrumbView)
#include "tst_BreadcrumbView.moc"
