#include "support/TestMain.h"

#include "support/Environment.h"

#include "platform/FileSystemInfo.h"
#include "platform/Localization.h"
#include "platform/ProcessTable.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <csignal>

namespace vantrel::test {

void detachMountsUnder(const QString& folder)
{
    const QString root = QDir::cleanPath(folder);
    QStringList points;
    for (const FileSystemInfo::MountEntry& entry : FileSystemInfo::system().mountTable()) {
        const bool inside = entry.mountPoint == root || entry.mountPoint.startsWith(root + QLatin1Char('/'));
        if (inside && entry.type.startsWith(QLatin1String("fuse")))
            points.prepend(entry.mountPoint); // stacked and nested mounts go first
    }
    for (const QString& point : points)
        QProcess::execute(QStringLiteral("fusermount3"), {QStringLiteral("-u"), QStringLiteral("-z"), point});

    // A test killed while its mount was still starting may leave a vantrel-smbfs process that
    // serves no mount; a detached one ends by itself once its files are closed, which in a test
    // that is gone means now.
    for (const qint64 pid : ProcessTable::ownProcessIds()) {
        const QStringList arguments = ProcessTable::commandLine(pid);
        if (arguments.size() < 3 || QFileInfo(arguments.first()).fileName() != QLatin1String("vantrel-smbfs"))
            continue;
        for (const QString& argument : arguments) {
            if (argument.startsWith(root + QLatin1Char('/'))) {
                ProcessTable::signal({pid}, SIGKILL);
                break;
            }
        }
    }
}

void prepareEnvironment()
{
    QString home = qEnvironmentVariable("VANTREL_TEST_HOME");
    if (home.isEmpty()) {
        // Run by hand outside CTest: never fall back to the real home.
        home = QDir::tempPath() + QStringLiteral("/vantrel-test-home-")
            + QString::number(QCoreApplication::applicationPid());
        const QProcessEnvironment env = privateHomeEnvironment(home, QProcessEnvironment());
        for (const QString& name : env.keys())
            qputenv(name.toLocal8Bit().constData(), env.value(name).toLocal8Bit());
    }
    detachMountsUnder(home);
    QDir(home).removeRecursively();
    QDir().mkpath(home + QStringLiteral("/tmp"));
    // The default texts, whatever the machine's language; a test that wants a catalog loads it.
    Localization::useCatalog(QString());
}

} // namespace vantrel::test
