#pragma once

#include "files/CacheIndex.h"

#include <QList>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class QObject;
class QThreadPool;

namespace vantrel {

class LogManager;

// Writes the cache index file on a thread of its own, one write at a time. The saves asked for
// during one turn of the owner's event loop become a single write of the state at the end of that
// turn, so that caching a folder of thousands of files does not encode the whole index once per
// file; a write that a newer one supersedes before it starts is skipped. While a write is under
// way, the saves asked for wait for its end and become one write then, so a cache that changes on
// every turn is not copied whole on every turn.
class CacheIndexWriter final {
public:
    // snapshot: called on the owner's thread when a write is due, for the entries to write.
    CacheIndexWriter(QObject* owner, LogManager& log, std::function<QList<CacheEntry>()> snapshot);
    ~CacheIndexWriter();
    CacheIndexWriter(const CacheIndexWriter&) = delete;
    CacheIndexWriter& operator=(const CacheIndexWriter&) = delete;

    void requestSave(const QString& path);
    // Writes a save still asked for now, and waits until every write is on disk.
    void flush();

private:
    void writePending();
    void writeNow();

    QObject* m_owner;
    LogManager& m_log;
    std::function<QList<CacheEntry>()> m_snapshot;
    std::optional<QString> m_pendingPath;
    bool m_writing = false; // from the start of a write until the owner hears of its end
    std::unique_ptr<QThreadPool> m_thread;
    std::shared_ptr<std::atomic<quint64>> m_latest;
};

} // namespace vantrel
