#include "support/CapturingSystemLog.h"
#include "support/Environment.h"
#include "support/TestMain.h"

#include "platform/SingleInstance.h"

#include <QFile>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace vantrel;

namespace {

// Leaves a socket file that nobody listens on, as a crashed process does.
bool makeStaleSocket(const QString& path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    const QByteArray encoded = QFile::encodeName(path);
    if (encoded.size() >= static_cast<qsizetype>(sizeof(address.sun_path))) {
        ::close(fd);
        return false;
    }
    memcpy(address.sun_path, encoded.constData(), encoded.size());
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    ::close(fd);
    return bound && QFile::exists(path);
}

} // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT

private slots:
    void staleSocketDoesNotBlockTheNextLaunch()
    {
        const QString name = test::uniqueSocketPath();
        QVERIFY(makeStaleSocket(name));

        SingleInstance first(name);
        QVERIFY(first.claim());
        QVERIFY(first.isPrimary());
        QVERIFY(first.isListening());
        QVERIFY(first.claim()); // asking again changes nothing

        QSignalSpy activation(&first, &SingleInstance::activationRequested);
        SingleInstance second(name);
        QVERIFY(!second.claim());
        QVERIFY(!second.isListening());
        QVERIFY(second.activateRunningInstance());
        QTRY_COMPARE(activation.count(), 1);

        // Other users or products never meet: the name carries both.
        QVERIFY(SingleInstance::defaultSocketPath().endsWith(
            QStringLiteral("/com.vantrel.app-") + QString::number(::getuid())));
    }

    void aFreedNameCanBeClaimedAgain()
    {
        const QString name = test::uniqueSocketPath();
        {
            SingleInstance first(name);
            QVERIFY(first.claim());
        }
        SingleInstance next(name);
        QVERIFY(next.claim());
        // Nobody there to answer: the request fails instead of hanging, and says so.
        CapturingSystemLog log;
        SingleInstance lonely(test::uniqueSocketPath(), log);
        lonely.connectTimeoutMs = 100;
        QVERIFY(!lonely.activateRunningInstance());
        QCOMPARE(log.records().size(), 1);
        QCOMPARE(log.records().first().type, SystemLog::Type::Error);
        QCOMPARE(log.records().first().category, QStringLiteral("SingleInstance"));
        QVERIFY2(log.records().first().message.startsWith(QStringLiteral("The running instance does not answer: ")),
            qPrintable(log.records().first().message));
    }
};

VANTREL_TEST_MAIN(TestSingleInstance)
#include "tst_SingleInstance.moc"
