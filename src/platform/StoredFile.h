#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QString>

#include <optional>

namespace vantrel {

// The files the application keeps for itself (settings, usage records, the cache index, crash
// reports, exported logs): written whole or not at all and readable by the owner only; read only
// when they are regular files of a sane size; kept aside, never overwritten, when they cannot be
// read. Every call works on the disk: keep it off the main thread where the folder may be slow.
class StoredFile final {
public:
    StoredFile() = delete;

    static constexpr QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

    struct Contents {
        enum class State { missing, read, unreadable };
        State state = State::missing;
        QByteArray bytes; // when read
        QString problem;  // when unreadable: why, for the log
    };

    // The whole file. Anything but a regular file of at most maxSize bytes (a FIFO, a device, a
    // folder, a link to one of those, a larger file) is unreadable and is never opened or read
    // beyond the bound, so nothing here blocks or fills memory. A link to nothing is missing.
    static Contents read(const QString& path, qint64 maxSize);

    // Replaces the file with `bytes` in one step, owner-only (0600), creating missing folders on
    // the way owner-only (0700). After any failure the previous file is still there, whole. The
    // failure, or none.
    static std::optional<QString> write(const QString& path, const QByteArray& bytes);

    // Creates the folder and any missing folder above it, owner-only; existing folders keep their
    // permissions. The failure, or none.
    static std::optional<QString> makeFolder(const QString& path);

    // Moves an unreadable file to "<path>.unreadable-<UTC yyyyMMdd-HHmmss>[-<n>]" beside it, where
    // no save reaches it, owner-only. Moving never opens the file (a FIFO or a link to a device
    // moves as safely as a file) and keeps it whole; a folder is left where it is. The new path, or
    // none with the reason in *error.
    static std::optional<QString> moveAside(const QString& path, QString* error = nullptr);
    // Writes bytes that could not be decoded (a value inside a larger file) to a new owner-only file
    // named as above after `path`. The new path, or none with the reason in *error.
    static std::optional<QString> writeAside(const QString& path, const QByteArray& bytes, QString* error = nullptr);

    // Removes the temporary files that a write of `path` killed half-way left beside it, once they
    // are a minute old. The file name may be a wildcard pattern ("*.report"). Call it at start.
    static void removeLeftovers(const QString& path);
};

} // namespace vantrel
