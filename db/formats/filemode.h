#pragma once
// Whether the program may change a file of the user's: the process can write it, and its mode
// gives someone write permission. A file marked read-only (no write bit at all) stays read-only
// for the program even where the process could write it anyway (root), as a user expects of a
// file they marked so.
#include <QFileInfo>

namespace formats {

inline bool mayWrite(const QFileInfo& file) {
    return file.isWritable() &&
           (file.permissions() & (QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther));
}

} // namespace formats
