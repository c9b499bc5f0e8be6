#include "support/TestMain.h"

#include "app/WindowRegistry.h"
#include "platform/Defaults.h"
#include "platform/gui/WindowPlacement.h"

#include <QScreen>
#include <QTemporaryDir>

#include <QPointer>

using namespace vantrel;

class TestWindowRegistry : public QObject {
    Q_OBJECT

private slots:
    void aWindowIsReusedWhileItExistsAndMadeAnewAfterClosing()
    {
        WindowRegistry windows;
        int made = 0;
        windows.declare({QStringLiteral("one"), QStringLiteral("One"), QSize(300, 200),
            WindowRegistry::Resizability::automatic, [&made] {
                ++made;
                return new QWidget;
            }});
        QVERIFY(!windows.open(QStringLiteral("nonexistent")));

        QSignalSpy created(&windows, &WindowRegistry::windowCreated);
        QPointer<SceneWindow> first = windows.open(QStringLiteral("one"));
        QCOMPARE(windows.open(QStringLiteral("one")), first.data());
        QCOMPARE(windows.find(QStringLiteral("one")), first.data());
        QCOMPARE(created.count(), 1);
        QCOMPARE(made, 1);
        QVERIFY(first->isVisible());
        QCOMPARE(first->windowTitle(), QStringLiteral("One"));

        first->close();
        QTRY_VERIFY(!first); // a closed window is gone
        QVERIFY(!windows.find(QStringLiteral("one")));
        QVERIFY(windows.open(QStringLiteral("one")));
        QCOMPARE(created.count(), 2);
        QCOMPARE(made, 2);
    }

    void aFrameIsFittedIntoTheAvailableArea()
    {
        const QRect screen(0, 30, 1600, 870);
        using WindowPlacement::fitted;
        QCOMPARE(fitted(QRect(100, 100, 600, 400), screen), QRect(100, 100, 600, 400));
        // Below the bottom edge, in a corner, above the top: moved in, size kept.
        QCOMPARE(fitted(QRect(1400, 800, 600, 400), screen), QRect(1000, 500, 600, 400));
        QCOMPARE(fitted(QRect(-50, 0, 600, 400), screen), QRect(0, 30, 600, 400));
        // Larger than the screen: as large as it.
        QCOMPARE(fitted(QRect(10, 10, 2000, 1200), screen), screen);
        // A second screen to the left keeps its own coordinates.
        QCOMPARE(fitted(QRect(-1900, 900, 800, 600), QRect(-1920, 0, 1920, 1080)), QRect(-1900, 480, 800, 600));
    }

    void aRememberedWindowComesBackAndACentredOneOpensInTheMiddle()
    {
        QTemporaryDir dir;
        Defaults defaults(dir.filePath(QStringLiteral("defaults.json")));
        WindowRegistry windows(&defaults);
        windows.declare({QStringLiteral("kept"), QStringLiteral("Kept"), QSize(300, 200),
            WindowRegistry::Resizability::automatic, [] { return new QWidget; }, false, false, true});
        windows.declare({QStringLiteral("middle"), QStringLiteral("Middle"), QSize(300, 200),
            WindowRegistry::Resizability::automatic, [] { return new QWidget; }, false, true, false});
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();

        SceneWindow* middle = windows.open(QStringLiteral("middle"));
        QTRY_VERIFY((middle->frameGeometry().center() - screen.center()).manhattanLength() <= 2);
        middle->close();
        // Not remembered: it has no frame in the defaults.
        QVERIFY(!defaults.contains(WindowPlacement::frameKey(QStringLiteral("middle"))));

        QPointer<SceneWindow> kept = windows.open(QStringLiteral("kept"));
        kept->resize(340, 260);
        kept->move(screen.topLeft() + QPoint(20, 25));
        const QRect left = kept->frameGeometry();
        kept->hide();
        kept->close();
        QTRY_VERIFY(!kept);
        kept = windows.open(QStringLiteral("kept"));
        QTRY_COMPARE(kept->frameGeometry(), left);
        kept->close();
    }
};

VANTREL_TEST_MAIN(TestWindowRegistry)
#include "tst_WindowRegistry.moc"
