#pragma once

#include "support/CapturingSystemLog.h"

#include "mounting/SystemTools.h"
#include "platform/Defaults.h"
#include "services/LogManager.h"

#include <QTemporaryDir>

namespace vantrel::test {

// A defaults file in the given folder, a capturing system log and a logger on both.
struct Logging {
    explicit Logging(const QString& folder)
        : defaults(folder + QStringLiteral("/defaults.json"))
        , log(defaults, systemLog, folder + QStringLiteral("/Logs"))
    {
    }
    Defaults defaults;
    CapturingSystemLog systemLog;
    LogManager log;
};

struct TemporaryFolder {
    QTemporaryDir dir;
};

// Logging in a private temporary folder (the folder is made first: bases start in order).
struct LoggingFixture : TemporaryFolder, Logging {
    LoggingFixture()
        : Logging(dir.path())
    {
    }
};

// The stand-in mount tools of tests/tools with the real expect interpreter.
SystemTools standInTools();

// Writes the file, making its folder first.
void writeFile(const QString& path, const QByteArray& content = "data");

} // namespace vantrel::test
