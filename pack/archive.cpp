#include "pack/archive.h"

#include "pack/archive_file.h"

namespace {

// The one reader of the process: a cursor on an archive that is not walked.
// The restore tool reads the index entry when it lists and the entries up
// to one row when it exports, each time after a fresh ArchiveOpen: a walk
// would read every header of the archive first, one read per entry, where
// the reader needs a few; and a cursor that reads each header when it comes
// to it reads exactly what the one reader always read, so a read the system
// refuses ends the archive where it always did. It has no start-up step of
// its own (the shut-down order only closes it), so its two pointers live
// here rather than in a state block.
ArchiveFile* archive = nullptr;
ArchiveCursor* cursor = nullptr;

}  // namespace

int ArchiveOpen(const char* path) {
  ArchiveClose();
  archive = ArchiveFileOpen(path, ARCHIVE_WALK_NONE);
  cursor = ArchiveCursorCreate(archive);
  if (cursor == nullptr) {
    ArchiveClose();
    return 0;
  }
  return 1;
}

const unsigned char* ArchiveNextEntry() {
  return cursor != nullptr ? ArchiveCursorNextEntry(cursor) : nullptr;
}

int32_t ArchiveEntrySize() {
  return cursor != nullptr ? ArchiveCursorEntrySize(cursor) : -1;
}

void ArchiveClose() {
  ArchiveCursorFree(cursor);
  cursor = nullptr;
  ArchiveFileClose(archive);
  archive = nullptr;
}

int ArchiveSkipEntry() {
  return cursor != nullptr ? ArchiveCursorSkipEntry(cursor) : 0;
}

int ArchiveWhere(ArchivePlace* place) {
  return cursor != nullptr ? ArchiveCursorWhere(cursor, place) : 0;
}

int ArchiveLastEntryInfo(ArchiveEntryInfo* info) {
  return cursor != nullptr ? ArchiveCursorLastEntryInfo(cursor, info) : 0;
}

void ArchiveStopAtImplausible() {
  if (cursor != nullptr) ArchiveCursorStopAtImplausible(cursor);
}
