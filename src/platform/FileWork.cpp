#include "platform/FileWork.h"

#include "platform/FileSystemInfo.h"

#include <QDir>
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

bool isNetworkFileSystem(const QString& type)
{
    static const QSet<QString> network{QStringLiteral("nfs"), QStringLiteral("nfs4"), QStringLiteral("cifs"),
        QStringLiteral("smb3"), QStringLiteral("smbfs"), QStringLiteral("ncpfs"), QStringLiteral("afs"),
        QStringLiteral("ceph"), QStringLiteral("9p"), QStringLiteral("glusterfs"), QStringLiteral("lustre"),
        QStringLiteral("davfs"), QStringLiteral("coda"), QStringLiteral("fuse")};
    // FUSE mounts (the SMB mounts among them) are served by a process that can hang like a server.
    return network.contains(type) || type.startsWith(QLatin1String("fuse."));
}

} // namespace

QString shareRootOf(const QString& path)
{
    const QString clean = QDir::cleanPath(path);
    QString best;
    bool network = false;
    // The kernel writes the mount table from memory: reading it never waits on a share.
    const QList<FileSystemInfo::MountEntry> table = FileSystemInfo::system().mountTable();
    for (const FileSystemInfo::MountEntry& entry : table) {
        // The deepest mount holding the path decides, so a local mount inside a share is local.
        if (contains(entry.mountPoint, clean) && entry.mountPoint.size() >= best.size()) {
            best = entry.mountPoint;
            network = isNetworkFileSystem(entry.type);
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
