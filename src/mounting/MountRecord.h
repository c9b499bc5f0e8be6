#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace vantrel {

// The mounts one copy of the application made or adopted, kept on disk so that a later start can
// tell the leftovers of a copy that died from the mounts of one that still runs: the record names
// its owner by boot, process id and process start time. A file that cannot be read is kept aside,
// never overwritten. Every call works on the disk: keep it off the main thread.
class MountRecord final {
public:
    // Who wrote a record: the boot and the process.
    struct Owner {
        QString bootID;
        qint64 pid = 0;
        QString startTime;

        bool operator==(const Owner&) const = default;
    };

    QStringList mounts;
    Owner owner;

    // $XDG_STATE_HOME/Vantrel/mounts.json (~/.local/state when unset).
    static QString defaultPath();
    // This process, as a record names it.
    static Owner currentOwner();
    // The owner still runs: same boot, and its process id names a process started at that time.
    static bool isAlive(const Owner& owner);

    // None when there is no record; a record that cannot be read is moved aside (reported in
    // *problem) and counts as none. *keptInPlace tells that it could not be moved: then nothing
    // may write over it.
    static std::optional<MountRecord> read(const QString& path, QString* problem = nullptr,
        bool* keptInPlace = nullptr);
    static QString currentBootID();
    // The failure, or none; the previous file stays whole after one.
    std::optional<QString> write(const QString& path) const;

    QByteArray serialized() const;
    static std::optional<MountRecord> parse(const QByteArray& bytes);
};

} // namespace vantrel
