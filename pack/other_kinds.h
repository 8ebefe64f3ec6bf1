// Files that are another kind of archive. Backups carry the ".zip" name, and
// people keep real zip files (and others) beside them: such a file is to be
// named for what it is, not read as a badly damaged backup.
#pragma once

// What the file at path is ("a zip archive", "a 7z archive", ...) when it
// starts with a common archive or compressed-file signature and its first
// bytes do not read as a plausible pack entry; null otherwise, and when it
// cannot be read.
const char* ArchiveOtherKind(const char* path);
// The same of an archive object open already (pack/archive_file.h): no
// second open of its file.
struct ArchiveFile;
const char* ArchiveFileOtherKind(const ArchiveFile* archive);

// Whether the file at path starts as a pack archive does: its first entry is
// all in the file and, when compressed, its data starts a stream. 1 when it
// does, 0 when it does not (most likely no pack archive at all, or one
// damaged at its very start), -1 when the file cannot be read. Costs one
// open and one read of its first bytes.
int ArchiveStartsAsPack(const char* path);
int ArchiveFileStartsAsPack(const ArchiveFile* archive);
