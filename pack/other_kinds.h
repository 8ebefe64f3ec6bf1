// Files that are another kind of archive. Backups carry the ".zip" name, and
// people keep real zip files (and others) beside them: such a file is to be
// named for what it is, not read as a badly damaged backup.
#pragma once

// What the file at path is ("a zip archive", "a 7z archive", ...) when it
// starts with a common archive or compressed-file signature and its first
// bytes do not read as a plausible pack entry; null otherwise, and when it
// cannot be read.
const char* ArchiveOtherKind(const char* path);
