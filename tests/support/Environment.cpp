#include "support/Environment.h"

#include <QTemporaryDir>
#include <QUuid>

namespace vantrel::test {

QProcessEnvironment privateHomeEnvironment(const QString& home, QProcessEnvironment base)
{
    base.insert(QStringLiteral("VANTREL_TEST_HOME"), home);
    base.insert(QStringLiteral("HOME"), home);
    base.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    base.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share"));
    base.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/.cache"));
    base.insert(QStringLiteral("XDG_STATE_HOME"), home + QStringLiteral("/.local/state"));
    base.insert(QStringLiteral("TMPDIR"), home + QStringLiteral("/tmp"));
    return base;
}

QString shortTemporaryFolder()
{
    static QTemporaryDir folder(QStringLiteral("/tmp/vrt-XXXXXX"));
    return folder.path();
}

QString uniqueSocketPath()
{
    return shortTemporaryFolder() + u'/' + QUuid::createUuid().toString(QUuid::Id128).left(12);
}

} // namespace vantrel::test
