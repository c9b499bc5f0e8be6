#include "support/TestMain.h"

#include "platform/gui/Workspace.h"

#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QElapsedTimer>

using namespace vantrel;

namespace {

const QString serviceName = QStringLiteral("org.vantrel.test.FileManager1");

// A file manager on a connection of its own: it can answer only while the test's event loop runs,
// so a blocking call from the workspace would time out instead of being served.
class FakeFileManager final : public QDBusVirtualObject {
public:
    enum class Mode { show, refuse, silent };
    Mode mode = Mode::show;
    QList<QVariantList> calls;

    FakeFileManager()
    {
        auto bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fake-fm"));
        registered = bus.registerVirtualObject(DesktopWorkspace::fileManagerPath, this)
            && bus.registerService(serviceName);
    }
    ~FakeFileManager() override
    {
        auto bus = QDBusConnection(QStringLiteral("fake-fm"));
        bus.unregisterService(serviceName);
        bus.unregisterObject(DesktopWorkspace::fileManagerPath);
        QDBusConnection::disconnectFromBus(QStringLiteral("fake-fm"));
    }

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.interface() != DesktopWorkspace::fileManagerInterface
            || message.member() != QLatin1String("ShowItems"))
            return false;
        calls.append(message.arguments());
        switch (mode) {
        case Mode::show: return connection.send(message.createReply());
        case Mode::refuse:
            return connection.send(message.createErrorReply(QDBusError::Failed, QStringLiteral("no window")));
        case Mode::silent: return true;
        }
        return false;
    }

    bool registered = false;
};

} // namespace

class TestWorkspace : public QObject {
    Q_OBJECT

    QList<QUrl> m_opened;

    DesktopWorkspace::Opener recorder()
    {
        return [this](const QUrl& url) { m_opened.append(url); };
    }

private slots:
    void init()
    {
        if (!QDBusConnection::sessionBus().isConnected())
            QSKIP("no session bus");
        m_opened.clear();
    }

    void theFileManagerShowsTheFileWithoutBlocking()
    {
        FakeFileManager fileManager;
        QVERIFY(fileManager.registered);
        DesktopWorkspace workspace(QDBusConnection::sessionBus(), serviceName, recorder());

        const QUrl file = QUrl::fromLocalFile(QStringLiteral("/srv/Media/a b/été #1.txt"));
        QElapsedTimer clock;
        clock.start();
        workspace.selectFile(file);
        QVERIFY(clock.elapsed() < 1000);
        QVERIFY(fileManager.calls.isEmpty()); // answered later, from the event loop

        QTRY_COMPARE(fileManager.calls.size(), 1);
        // The file's URL fully percent-encoded, and an empty start-up id.
        const QVariantList arguments = fileManager.calls.first();
        QCOMPARE(arguments.value(0).toStringList(),
            QStringList{QStringLiteral("file:///srv/Media/a%20b/%C3%A9t%C3%A9%20%231.txt")});
        QCOMPARE(arguments.value(1).toString(), QString());
        QTest::qWait(50);
        QVERIFY(m_opened.isEmpty());
    }

    void withoutAFileManagerTheFolderOpens()
    {
        const QUrl file = QUrl::fromLocalFile(QStringLiteral("/srv/Media/a b/x.txt"));
        const QUrl folder = QUrl::fromLocalFile(QStringLiteral("/srv/Media/a b/"));

        // Nobody serves the name.
        DesktopWorkspace nobody(QDBusConnection::sessionBus(), QStringLiteral("org.vantrel.test.Nobody"), recorder());
        nobody.selectFile(file);
        QTRY_COMPARE(m_opened, QList<QUrl>{folder});

        FakeFileManager fileManager;
        QVERIFY(fileManager.registered);
        DesktopWorkspace workspace(QDBusConnection::sessionBus(), serviceName, recorder());

        // The file manager refuses.
        m_opened.clear();
        fileManager.mode = FakeFileManager::Mode::refuse;
        workspace.selectFile(file);
        QTRY_COMPARE(m_opened, QList<QUrl>{folder});

        // It never answers.
        m_opened.clear();
        fileManager.mode = FakeFileManager::Mode::silent;
        workspace.fileManagerTimeout = std::chrono::milliseconds(200);
        workspace.selectFile(file);
        QTRY_COMPARE(m_opened, QList<QUrl>{folder});
        QCOMPARE(fileManager.calls.size(), 2);
    }

    void theContainingFolderOfFilesAndFolders()
    {
        QCOMPARE(Workspace::containingFolder(QUrl::fromLocalFile(QStringLiteral("/a/b/c.txt"))),
            QUrl::fromLocalFile(QStringLiteral("/a/b/")));
        QCOMPARE(Workspace::containingFolder(QUrl::fromLocalFile(QStringLiteral("/a/b/"))),
            QUrl::fromLocalFile(QStringLiteral("/a/")));
        QCOMPARE(Workspace::containingFolder(QUrl::fromLocalFile(QStringLiteral("/a/b"))),
            QUrl::fromLocalFile(QStringLiteral("/a/")));
        QCOMPARE(Workspace::containingFolder(QUrl::fromLocalFile(QStringLiteral("/"))),
            QUrl::fromLocalFile(QStringLiteral("/")));
    }
};

VANTREL_TEST_MAIN(TestWorkspace)
#include "tst_Workspace.moc"
