#include "support/TestMain.h"

#include "support/Environment.h"

#include <QDir>

namespace vantrel::test {

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
    QDir(home).removeRecursively();
    QDir().mkpath(home + QStringLiteral("/tmp"));
}

} // namespace vantrel::test
