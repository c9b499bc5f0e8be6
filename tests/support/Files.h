#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QString>

namespace vantrel::test {

// The file's bytes; empty when it cannot be read.
QByteArray readFile(const QString& path);
// Writes the file, making the folders on the way; false when anything failed.
[[nodiscard]] bool writeFile(const QString& path, const QByteArray& bytes);
// Readable and writable by the owner alone: 0600 for a file, 0700 for a folder.
bool isOwnerOnly(const QString& path);

} // namespace vantrel::test
