#include "support/MountedShare.h"

#include "support/AwaitTask.h"
#include "support/Fixtures.h"
#include "support/TestMain.h"

#include <QUuid>

#include "mounting/SmbfsMount.h"

namespace vantrel::test {

QList<qint64> smbfsProcesses(const MountEngine& engine, const QString& path)
{
    return SmbfsMount::mountProcesses(engine.tools().smbfs, path);
}

MountedShare::MountedShare(qint64 connectionTimeout)
    : ConfigEnvironment(dir.path())
{
    const QString password = QStringLiteral("share d$ta!");
    server.setPassword(password);
    serverFolder = server.addShare(QStringLiteral("data"), false);
    if (!server.start()) {
        error = server.errorString();
        return;
    }
    if (!smbfsBuilt()) {
        error = QStringLiteral("vantrel-smbfs is not built");
        return;
    }
    engine = std::make_unique<MountEngine>(linuxTools(), dir.filePath(QStringLiteral("Volumes")),
        FileSystemInfo::system(), keychain);
    engine->mountTimeout = 20.0;
    engine->linuxTools().controlFolder = socketFolder();

    NASConfig config;
    config.name = QStringLiteral("Data");
    config.address = QStringLiteral("127.0.0.1:") + QString::number(server.port());
    config.sharePath = QStringLiteral("/data");
    config.mountOptions.connectionTimeout = connectionTimeout;
    config.authMethod = AuthMethod::password;
    config.username = SambaServer::userName();
    config.keychainIdentifier = QStringLiteral("share-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    if (!keychain.savePassword(password, config.keychainIdentifier)) {
        error = QStringLiteral("the password was not stored");
        return;
    }
    const Settled<QUrl> mounted = QCoro::waitFor(settle(engine->mountSMB(config)));
    if (mounted.error) {
        error = mounted.error->what();
        return;
    }
    mountPoint = MountEngine::localPath(*mounted.value);
}

bool MountedShare::unmount()
{
    if (mountPoint.isEmpty())
        return true;
    const Settled<void> done = QCoro::waitFor(settle(engine->unmount(MountEngine::directoryUrl(mountPoint))));
    if (done.error)
        return false;
    mountPoint.clear();
    return true;
}

MountedShare::~MountedShare()
{
    if (!unmount())
        detachMountsUnder(dir.path());
}

} // namespace vantrel::test
