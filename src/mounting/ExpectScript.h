#pragma once

#include <QString>
#include <QStringList>

namespace vantrel {

// The expect script through which the SMB mount tool gets its password: the tool sees a
// terminal prompt answered, never a password on its command line.
class ExpectScript final {
public:
    // Runs tool with arguments and answers its password prompt; expect exits with the tool's
    // status. Every text is quoted for Tcl, so nothing in it is evaluated.
    static QString build(const QString& tool, const QStringList& arguments, const QString& password);
};

} // namespace vantrel
