#include "support/TestMain.h"

#include "platform/FileCopy.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace vantrel;

namespace {

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

} // namespace

class TestFileCopy : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QByteArray m_data;
    QString m_source;

private slots:
    void init()
    {
        m_data.clear();
        for (int i = 0; i < 2500; ++i)
            m_data.append(static_cast<char>(i % 251));
        m_source = m_dir.filePath(QStringLiteral("source.bin"));
        QFile f(m_source);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(m_data) == m_data.size());
    }

    void pausedCopyGoesOnFromItsPositionInTheGivenChunks()
    {
        const QString destination = m_dir.filePath(QStringLiteral("made/on/demand/copy.bin"));
        FileCopy copy(m_source, destination, 1000);
        QCOMPARE(copy.open().step, FileCopy::Step::finished);

        QList<qint64> progress;
        auto result = copy.run([&](qint64 copied) {
            progress << copied;
            copy.setPauseRequested(true);
        });
        QCOMPARE(result.step, FileCopy::Step::paused);
        QCOMPARE(readFile(destination), m_data.left(1000));
        QVERIFY(copy.isOpen());

        copy.setPauseRequested(false);
        result = copy.run([&](qint64 copied) { progress << copied; });
        QCOMPARE(result.step, FileCopy::Step::finished);
        QCOMPARE(progress, (QList<qint64>{1000, 2000, 2500}));
        QCOMPARE(readFile(destination), m_data);
        QVERIFY(!copy.isOpen());
    }

    void cancelledCopyLeavesNoFile()
    {
        const QString destination = m_dir.filePath(QStringLiteral("cancelled.bin"));
        FileCopy copy(m_source, destination, 1000);
        QCOMPARE(copy.open().step, FileCopy::Step::finished);
        const auto result = copy.run([&](qint64) { copy.setCancelRequested(true); });
        QCOMPARE(result.step, FileCopy::Step::cancelled);
        QVERIFY(!QFile::exists(destination));
        QVERIFY(!copy.isOpen());
    }

    void destinationThatIsAFolderIsRefusedAndKept()
    {
        const QString folder = m_dir.filePath(QStringLiteral("folder"));
        QVERIFY(QDir().mkpath(folder + QStringLiteral("/inside")));
        FileCopy copy(m_source, folder, 1000);
        const auto result = copy.open();
        QCOMPARE(result.failure, FileCopy::Failure::removeExisting);
        QVERIFY(QFileInfo(folder + QStringLiteral("/inside")).isDir());
        QVERIFY(!copy.isOpen());
    }
};

VANTREL_TEST_MAIN(TestFileCopy)
#include "tst_FileCopy.moc"
