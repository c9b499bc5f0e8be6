#include "support/TestMain.h"

#include "platform/SystemLog.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTemporaryFile>

using namespace vantrel;
using Type = SystemLog::Type;

class TestSystemLog : public QObject {
    Q_OBJECT

private slots:
    void withoutJournaldEveryRecordIsALineOnTheFallback()
    {
        QTemporaryDir dir;
        QTemporaryFile out;
        QVERIFY(out.open());
        const QString socket = dir.filePath(QStringLiteral("journal/socket"));
        JournalSystemLog log(socket, out.handle());

        log.write(Type::Error, QStringLiteral("Mount"), QStringLiteral("Mount failed: 挂载失败"));
        log.write(Type::Debug, QStringLiteral("Lifecycle"), QStringLiteral("Vantrel application starting..."));
        log.write(Type::Fault, QStringLiteral("System"), QStringLiteral("a\nb"));
        QFile written(out.fileName());
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(written.readAll()),
            QStringLiteral("com.vantrel [Mount] Error: Mount failed: 挂载失败\n"
                           "com.vantrel [Lifecycle] Debug: Vantrel application starting...\n"
                           "com.vantrel [System] Fault: a\nb\n"));

        // Once journald's socket is there, records go to the journal only.
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("journal"))));
        QFile placeholder(socket);
        QVERIFY(placeholder.open(QIODevice::WriteOnly));
        placeholder.close();
        const qint64 size = written.size();
        log.write(Type::Debug, QStringLiteral("Test"), QStringLiteral("to the journal"));
        QCOMPARE(written.size(), size);
    }
};

VANTREL_TEST_MAIN(TestSystemLog)
#include "tst_SystemLog.moc"
