#include "support/FileWorkGate.h"

#include "platform/FileWork.h"

#include <QDir>
#include <QHash>
#include <QMutex>
#include <QSet>
#include <QThread>
#include <QWaitCondition>

namespace vantrel::test {

namespace {

bool isAtOrBelow(const QString& path, const QString& folder)
{
    return path == folder || path.startsWith(folder + u'/');
}

} // namespace

struct FileWorkGate::State {
    mutable QMutex mutex;
    QWaitCondition changed;
    QSet<QString> held;
    QHash<QString, int> waiting;
    QHash<QString, int> arrived;
    QHash<QString, std::chrono::milliseconds> delays;
    QHash<QString, int> passes; // pieces of work a held folder still lets through
    bool open = false;

    // The held folder the path lies in, if any (under the lock).
    QString heldFolderOf(const QString& path) const
    {
        for (const QString& folder : held) {
            if (isAtOrBelow(path, folder))
                return folder;
        }
        return QString();
    }

    void pass(const QString& rawPath)
    {
        const QString path = QDir::cleanPath(rawPath);
        QMutexLocker lock(&mutex);
        std::chrono::milliseconds delay{0};
        for (auto it = held.cbegin(); it != held.cend(); ++it) {
            if (isAtOrBelow(path, *it))
                ++arrived[*it];
        }
        for (auto it = delays.cbegin(); it != delays.cend(); ++it) {
            if (isAtOrBelow(path, it.key())) {
                ++arrived[it.key()];
                delay = std::max(delay, it.value());
            }
        }
        if (const QString folder = heldFolderOf(path); !folder.isEmpty() && passes.value(folder) > 0) {
            --passes[folder];
            return;
        }
        for (QString folder = heldFolderOf(path); !open && !folder.isEmpty(); folder = heldFolderOf(path)) {
            ++waiting[folder];
            changed.wait(&mutex);
            --waiting[folder];
        }
        lock.unlock();
        if (delay.count() > 0)
            QThread::msleep(static_cast<unsigned long>(delay.count()));
    }
};

FileWorkGate::FileWorkGate()
    : m_state(std::make_shared<State>())
{
    // The probe keeps the state alive: work may still be passing when the gate goes.
    std::shared_ptr<State> state = m_state;
    setFileWorkProbe([state](const QString& path) { state->pass(path); });
}

FileWorkGate::~FileWorkGate()
{
    setFileWorkProbe({});
    QMutexLocker lock(&m_state->mutex);
    m_state->open = true;
    m_state->changed.wakeAll();
}

void FileWorkGate::hold(const QString& folder, int letThrough)
{
    QMutexLocker lock(&m_state->mutex);
    m_state->held.insert(QDir::cleanPath(folder));
    m_state->passes.insert(QDir::cleanPath(folder), letThrough);
}

void FileWorkGate::release(const QString& folder)
{
    QMutexLocker lock(&m_state->mutex);
    m_state->held.remove(QDir::cleanPath(folder));
    m_state->changed.wakeAll();
}

void FileWorkGate::slow(const QString& folder, std::chrono::milliseconds delay)
{
    QMutexLocker lock(&m_state->mutex);
    m_state->delays.insert(QDir::cleanPath(folder), delay);
}

int FileWorkGate::waiting(const QString& folder) const
{
    QMutexLocker lock(&m_state->mutex);
    return m_state->waiting.value(QDir::cleanPath(folder));
}

int FileWorkGate::arrived(const QString& folder) const
{
    QMutexLocker lock(&m_state->mutex);
    return m_state->arrived.value(QDir::cleanPath(folder));
}

} // namespace vantrel::test
