#include "support/TestMain.h"

#include <QDir>

#include <cstdlib>

namespace vantrel::test {

void prepareEnvironment()
{
    const QByteArray home = qgetenv("VANTREL_TEST_HOME");
    if (home.isEmpty()) {
        // Run by hand outside CTest: never fall back to the real home.
        const QString fallback = QDir::tempPath() + QStringLiteral("/vantrel-test-home-") + QString::number(QCoreApplication::applicationPid());
        qputenv("HOME", fallback.toUtf8());
        qputenv("XDG_CONFIG_HOME", (fallback + QStringLiteral("/.config")).toUtf8());
        qputenv("XDG_DATA_HOME", (fallback + QStringLiteral("/.local/share")).toUtf8());
        qputenv("XDG_CACHE_HOME", (fallback + QStringLiteral("/.cache")).toUtf8());
        qputenv("XDG_STATE_HOME", (fallback + QStringLiteral("/.local/state")).toUtf8());
        qputenv("TMPDIR", (fallback + QStringLiteral("/tmp")).toUtf8());
        QDir(fallback).removeRecursively();
        QDir().mkpath(fallback + QStringLiteral("/tmp"));
        return;
    }
    QDir(QString::fromLocal8Bit(home)).removeRecursively();
    QDir().mkpath(QString::fromLocal8Bit(home) + QStringLiteral("/tmp"));
}

} // namespace vantrel::test
