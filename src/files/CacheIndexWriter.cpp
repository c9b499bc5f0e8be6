#include "files/CacheIndexWriter.h"

#include "platform/FileWork.h"
#include "platform/StoredFile.h"
#include "services/LogManager.h"

#include <QThreadPool>
#include <QTimer>

namespace vantrel {

CacheIndexWriter::CacheIndexWriter(QObject* owner, LogManager& log, std::function<QList<CacheEntry>()> snapshot)
    : m_owner(owner)
    , m_log(log)
    , m_snapshot(std::move(snapshot))
    , m_thread(std::make_unique<QThreadPool>())
    , m_latest(std::make_shared<std::atomic<quint64>>(0))
{
    m_thread->setMaxThreadCount(1);
    m_thread->setObjectName(QStringLiteral("com.vantrel.cacheindex"));
}

CacheIndexWriter::~CacheIndexWriter()
{
    m_thread->waitForDone();
}

void CacheIndexWriter::requestSave(const QString& path)
{
    // The cache moved to another folder meanwhile: the old folder's index gets its state first.
    if (m_pendingPath && *m_pendingPath != path)
        writeNow();
    if (m_pendingPath)
        return;
    m_pendingPath = path;
    // While a write is under way the next waits for its end: taking the whole index again before
    // then would only be superseded.
    if (!m_writing)
        QTimer::singleShot(0, m_owner, [this] { writePending(); });
}

void CacheIndexWriter::flush()
{
    writeNow();
    m_thread->waitForDone();
}

void CacheIndexWriter::writePending()
{
    if (!m_writing)
        writeNow();
}

void CacheIndexWriter::writeNow()
{
    if (!m_pendingPath)
        return;
    const QString path = *std::exchange(m_pendingPath, std::nullopt);
    m_writing = true;
    const QList<CacheEntry> snapshot = m_snapshot();
    const quint64 generation = ++*m_latest;
    auto latest = m_latest;
    LogManager* log = &m_log;
    // The owner waits for this thread before it goes, so it is there to hear of the end.
    m_thread->start([this, owner = m_owner, generation, latest, log, snapshot, path] {
        detail::probeFileWork(path);
        if (latest->load() != generation)
            return; // a newer write follows and reports its own end
        if (const std::optional<QString> error = StoredFile::write(path, CacheIndex::encode(snapshot)))
            log->log(LogLevel::error, QStringLiteral("Failed to save cache index: ") + *error,
                LogManager::Category::cache, __FILE__, "saveIndex", __LINE__);
        QMetaObject::invokeMethod(
            owner,
            [this, generation, latest] {
                if (latest->load() != generation)
                    return;
                m_writing = false;
                writePending();
            },
            Qt::QueuedConnection);
    });
}

} // namespace vantrel
