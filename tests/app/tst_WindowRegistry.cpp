#include "support/TestMain.h"

#include "app/WindowRegistry.h"

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
};

VANTREL_TEST_MAIN(TestWindowRegistry)
#include "tst_WindowRegistry.moc"
