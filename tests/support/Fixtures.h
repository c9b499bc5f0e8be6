#pragma once

#include "mounting/SystemTools.h"
#include "platform/Defaults.h"
#include "platform/SystemLog.h"
#include "services/LogManager.h"

#include <QTemporaryDir>

namespace vantrel::test {

// A private folder with its own defaults file, a capturing system log and a logger on both.
struct LoggingFixture {
    QTemporaryDir dir;
    Defaults defaults{dir.filePath(QStringLiteral("defaults.json"))};
    CapturingSystemLog systemLog;
    LogManager log{defaults, systemLog, dir.filePath(QStringLiteral("Logs"))};
};

// The stand-in mount tools of tests/tools with the real expect interpreter.
SystemTools standInTools();

} // namespace vantrel::test
