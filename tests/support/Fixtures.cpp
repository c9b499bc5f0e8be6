#include "support/Fixtures.h"

namespace vantrel::test {

SystemTools standInTools()
{
    const QString dir = QStringLiteral(VANTREL_TEST_TOOLS_DIR);
    SystemTools tools;
    tools.smbMount = dir + QStringLiteral("/mount_smbfs");
    tools.nfsMount = dir + QStringLiteral("/mount_nfs");
    tools.sudo = dir + QStringLiteral("/sudo");
    tools.diskutil = dir + QStringLiteral("/diskutil");
    tools.ping = dir + QStringLiteral("/ping");
    return tools;
}

} // namespace vantrel::test
