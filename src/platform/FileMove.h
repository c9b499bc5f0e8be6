#pragma once

#include <QString>

#include <optional>

namespace vantrel {

// Moves a file to a place the user chose, replacing a file already there (the user confirmed
// that). Within one file system this is a single rename; across file systems the data is copied
// into place atomically and the source removed only once the copy is complete. None on success,
// else a description of what failed; a failed move always keeps the source and leaves any file
// at the destination as it was.
//
// The destination may lie on a network share that hangs: run it as file work for that share.
std::optional<QString> moveFileReplacing(const QString& source, const QString& destination);

// Renames a file within its file system without ever replacing: false when anything holds the
// destination (a dangling link included) or the rename fails. Atomic where the file system allows
// it; elsewhere the check comes just before the rename. Blocking: run it as file work.
bool renameWithoutReplacing(const QString& source, const QString& destination);

} // namespace vantrel
