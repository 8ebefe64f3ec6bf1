// The archive object and its cursors as pack/archive_file.cpp (the object,
// its walk) and pack/archive_cursor.cpp (the cursors) share them. Internal
// to pack/.
#pragma once

#include <cstdint>

#include "core/growing_table.h"
#include "pack/archive_file.h"
#include "pack/decoder.h"
#include "platform/platform.h"

// Read by any number of threads once ArchiveFileOpen has returned it.
struct ArchiveFile {
  PlatformFile file = PLATFORM_FILE_INVALID;
  uint64_t size = 0;
  bool walked = false;
  bool walkJudged = false;  // the walk stopped at an implausible header, as such a cursor would
  GrowingTable<ArchiveEntryPlace> places{ARCHIVE_PLACES_MAX};
  ArchivePlace walkEnd = {};
  uint64_t walkStop = 0;  // where the header after the last entry starts (or would)
  PlatformFileFacts opened = {};
  bool stamped = false;  // opened holds what the system told
};

// It keeps its own position and reads at it, so that passing an entry is one
// header read (none on a walked archive) and arithmetic; the archive ends at
// the size the file had when it was opened.
struct ArchiveCursor {
  const ArchiveFile* archive;
  unsigned char* entry;  // the entry last delivered (in `kept`), or null
  int32_t entrySize;     // its unpacked size; -1 when the last read delivered nothing
  // Buffers of the program heap used again from entry to entry while they
  // are not large: their bytes are those of the entry decoded last, and of
  // its stream. Only the first `dirty` bytes may be other than 0.
  struct Kept {
    unsigned char* bytes;
    uint32_t size;
    uint32_t dirty;
  } kept, stream;
  ArchiveEntryInfo last;
  bool haveLast;
  uint64_t position;   // where the next entry header starts; never beyond the size
  uint32_t index;      // entries read or passed before that header
  ArchivePlace place;  // miss and cut: of the last call that reads a header
  bool stopAtImplausible;
  WorkAhead* checksumBeside;  // the engine a big stream's checksum may run on, or null
  // The first bytes of the data after the header last read, read with it
  // (a compressed entry's stream magic), when the file holds them.
  unsigned char magic[2];
  bool haveMagic;
};

// A cursor before entry 0 of archive, as a value (the walk's own cursor).
ArchiveCursor ArchiveCursorAtStart(const ArchiveFile* archive);
