#include "support/MountedShare.h"

#include "support/AwaitTask.h"
#include "support/TestMain.h"

#include <QUuid>

namespace vantrel::test {

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
    engine = std::make_unique<MountEngine>(SystemTools::linuxSet(), dir.filePath(QStringLiteral("Volumes")),
        FileSystemInfo::system(), keychain);
    engine->mountTimeout = 20.0;
    engine->linuxTools().logFolder = dir.filePath(QStringLiteral("rclone-logs"));

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
