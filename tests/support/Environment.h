#pragma once

#include <QProcessEnvironment>
#include <QString>

namespace vantrel::test {

// `base` with HOME, the XDG_*_HOME folders and TMPDIR all inside `home`, so that a child process
// never touches the user's real files. A child that is itself a test empties that home at start.
QProcessEnvironment privateHomeEnvironment(const QString& home,
    QProcessEnvironment base = QProcessEnvironment::systemEnvironment());

// A folder of this process under /tmp, removed at exit: local socket paths must stay short
// (108 bytes), which a private home under the build folder does not guarantee.
QString shortTemporaryFolder();
// A fresh socket path in that folder.
QString uniqueSocketPath();

} // namespace vantrel::test
