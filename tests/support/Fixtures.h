#pragma once

#include "support/CapturingSystemLog.h"

#include "mounting/SystemTools.h"
#include "platform/Defaults.h"
#include "services/LogManager.h"

#include <QTemporaryDir>

// Skips the test where the build has no vantrel-smbfs to mount with.
#define VANTREL_REQUIRE_SMBFS()                                                                                        \
    do {                                                                                                               \
        if (!::vantrel::test::smbfsBuilt())                                                                            \
            QSKIP("needs the vantrel-smbfs program of this build");                                                    \
    } while (false)

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

// The Linux tool set with the build's own vantrel-smbfs.
SystemTools linuxTools();
// A short folder of this test process for control sockets, removed at its end.
QString socketFolder();
// The build made vantrel-smbfs (tests of real mounts skip without it).
bool smbfsBuilt();

// The Linux tool set with stand-ins for what needs privilege or a kernel client here (mount.nfs4,
// umount, sudo) and for ping; vantrel-smbfs and fusermount3 are the real ones.
SystemTools linuxStandInTools();

// The control folder that the stand-in tools read (see tests/tools/fake-common.sh), exported as
// VANTREL_FAKE_DIR for the children of this process.
struct StandInControl {
    explicit StandInControl(const QString& folder);

    // Creates (or overwrites) a control file for a tool, such as "umount.exit" or
    // "sudo.needs-password"; removes one, or reads one.
    void set(const QString& file, const QByteArray& content = {}) const;
    void unset(const QString& file) const;
    bool exists(const QString& file) const;
    QByteArray read(const QString& file) const;
    // One entry per run of the tool, its arguments in order.
    QList<QStringList> calls(const QString& tool) const;
    int runs(const QString& tool) const { return static_cast<int>(calls(tool).size()); }
    // Removes every control and record file.
    void reset() const;

    QString folder;
};

// Writes the file, making its folder first; the test fails when that does not work.
void makeFile(const QString& path, const QByteArray& content = "data");

} // namespace vantrel::test
