#include "platform/FileWork.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QMutex>
#include <QSet>
#include <QThreadPool>

#include <memory>

namespace vantrel {

namespace {

// A share that hangs holds at most this many threads.
constexpr int shareLaneThreads = 4;
constexpr int localThreads = 4;

struct FileWorkState {
    QMutex mutex;
    QHash<QString, QThreadPool*> lanes; // by share root; pools holding a hung thread cannot go
    QStringList declaredRoots;
    std::shared_ptr<const std::function<void(const QString&)>> probe;
};

FileWorkState& fileWork()
{
    static auto* state = new FileWorkState;
    return *state;
}

bool contains(const QString& root, const QString& path)
{
    return path == root || root == u"/" || path.startsWith(root + u'/');
}

// Mount points in /proc/self/mountinfo escape blanks, tabs, newlines and backslashes as \ooo.
QByteArray unescapeMountField(const QByteArray& field)
{
    QByteArray result;
    result.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field.at(i) == '\\' && i + 3 < field.size()) {
            bool ok = false;
            const int code = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok) {
                result.append(static_cast<char>(code));
                i += 3;
                continue;
            }
        }
        result.append(field.at(i));
    }
    return result;
}

bool isNetworkFileSystem(const QByteArray& type)
{
    static const QSet<QByteArray> network{"nfs", "nfs4", "cifs", "smb3", "smbfs", "ncpfs", "afs", "ceph", "9p",
        "glusterfs", "lustre", "davfs", "coda", "fuse"};
    // FUSE mounts (the SMB mounts among them) are served by a process that can hang like a server.
    return network.contains(type) || type.startsWith("fuse.");
}

} // namespace

QString shareRootOf(const QString& path)
{
    const QString clean = QDir::cleanPath(path);
    QString best;
    bool network = false;
    // The kernel writes this file from memory: reading it never waits on a share.
    QFile table(QStringLiteral("/proc/self/mountinfo"));
    if (table.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> lines = table.readAll().split('\n');
        for (const QByteArray& line : lines) {
            const QList<QByteArray> fields = line.split(' ');
            const qsizetype separator = fields.indexOf(QByteArrayLiteral("-"));
            if (fields.size() < 5 || separator < 5 || separator + 1 >= fields.size())
                continue;
            const QString point = QFile::decodeName(unescapeMountField(fields.at(4)));
            // The deepest mount holding the path decides, so a local mount inside a share is local.
            if (contains(point, clean) && point.size() >= best.size()) {
                best = point;
                network = isNetworkFileSystem(fields.at(separator + 1));
            }
        }
    }
    FileWorkState& state = fileWork();
    QMutexLocker lock(&state.mutex);
    for (const QString& root : std::as_const(state.declaredRoots)) {
        if (contains(root, clean) && root.size() > best.size()) {
            best = root;
            network = true;
        }
    }
    return network ? best : QString();
}

void declareShareRoot(const QString& folder)
{
    FileWorkState& state = fileWork();
    QMutexLocker lock(&state.mutex);
    const QString clean = QDir::cleanPath(folder);
    if (!state.declaredRoots.contains(clean))
        state.declaredRoots.append(clean);
}

QThreadPool& localIOPool()
{
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool;
        p->setMaxThreadCount(localThreads);
        p->setObjectName(QStringLiteral("com.vantrel.localio"));
        return p;
    }();
    return *pool;
}

QThreadPool& fileIOPool(const QString& path)
{
    const QString root = shareRootOf(path);
    if (root.isEmpty())
        return localIOPool();
    FileWorkState& state = fileWork();
    QMutexLocker lock(&state.mutex);
    QThreadPool*& lane = state.lanes[root];
    if (!lane) {
        lane = new QThreadPool;
        lane->setMaxThreadCount(shareLaneThreads);
        lane->setObjectName(QStringLiteral("com.vantrel.shareio:") + root);
    }
    return *lane;
}

void detail::probeFileWork(const QString& path)
{
    std::shared_ptr<const std::function<void(const QString&)>> probe;
    {
        FileWorkState& state = fileWork();
        QMutexLocker lock(&state.mutex);
        probe = state.probe;
    }
    if (probe)
        (*probe)(path);
}

void setFileWorkProbe(std::function<void(const QString& path)> probe)
{
    FileWorkState& state = fileWork();
    QMutexLocker lock(&state.mutex);
    if (probe)
        state.probe = std::make_shared<const std::function<void(const QString&)>>(std::move(probe));
    else
        state.probe.reset();
}

void waitForFileWork()
{
    localIOPool().waitForDone();
    QList<QThreadPool*> lanes;
    {
        FileWorkState& state = fileWork();
        QMutexLocker lock(&state.mutex);
        lanes = state.lanes.values();
    }
    for (QThreadPool* lane : std::as_const(lanes))
        lane->waitForDone();
}

} // namespace vantrel
