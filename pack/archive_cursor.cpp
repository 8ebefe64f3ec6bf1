// The cursors of pack/archive_file.h: one reader's place in an archive.
#include <algorithm>
#include <cstring>
#include <new>

#include "core/memory.h"
#include "pack/archive_file.h"
#include "pack/archive_file_internal.h"
#include "pack/entry_header.h"
#include "pack/entry_verdict.h"
#include "platform/platform.h"

namespace {

// ArchiveEntrySize answers in a signed 32-bit value, so no entry beyond this
// is handed out (a 32-bit process could not hold one anyway).
constexpr uint32_t ENTRY_SIZE_MAX = 0x7FFFFFFF;

// A buffer is kept for the next entry up to this size; a larger one goes
// back at once, so that a cursor between entries holds little.
constexpr uint32_t KEPT_MAX = 4u << 20;

void Release(ArchiveCursor::Kept& kept, bool always) {
  if (kept.bytes == nullptr || (!always && kept.size <= KEPT_MAX)) return;
  ProgramFree(kept.bytes);
  kept = {nullptr, 0, 0};
}

// At least size bytes (one at least, so that an empty entry is a valid
// buffer too), the kept ones when they are enough; null without memory.
// Taking a new buffer for each entry would cost the heap's lock, and on
// some systems' heaps fresh pages from the system for every entry once
// several threads decode. A new one asked zero-filled comes so without a
// pass over it (fresh pages from the system are not touched).
unsigned char* Buffer(ArchiveCursor::Kept& kept, uint32_t size, bool zeroFill) {
  size = std::max<uint32_t>(size, 1);
  if (kept.bytes != nullptr && kept.size >= size) return kept.bytes;
  Release(kept, true);
  kept.bytes = static_cast<unsigned char*>(ProgramAlloc(size, zeroFill));
  if (kept.bytes != nullptr) kept = {kept.bytes, size, zeroFill ? 0 : size};
  return kept.bytes;
}

void FreeEntry(ArchiveCursor* cursor) {
  cursor->entry = nullptr;
  Release(cursor->kept, false);
  Release(cursor->stream, false);
}

// Starts a call that reads a header: it gives an entry until it says why not.
void Begin(ArchiveCursor* cursor) {
  cursor->entrySize = -1;
  cursor->place.miss = ARCHIVE_MISS_NONE;
}

// Notes why the call gives no entry; returns what it then returns.
const unsigned char* Missed(ArchiveCursor* cursor, ArchiveMiss miss) {
  cursor->place.miss = miss;
  return nullptr;
}

// The entry at the cursor's position is cut short, or the system would not
// read it (its header, then both sizes are 0, or its data): the archive ends
// here for this cursor, for every later call too.
const unsigned char* EndAtDamagedEntry(ArchiveCursor* cursor, ArchiveMiss miss, uint32_t unpackedSize,
                                       uint32_t packedSize) {
  cursor->place.cutUnpackedSize = unpackedSize;
  cursor->place.cutPackedSize = packedSize;
  cursor->place.cutOffset = cursor->position;
  cursor->position = cursor->archive->size;
  return Missed(cursor, miss);
}

// False at the end of the archive (nothing left, a partial header, or a read
// the system refused), with the reason noted. A refused read ends the
// archive where the header stands, as a refused read of an entry's data
// does: a later call does not read on past it. On a walked archive the
// header is the walk's, and past its last entry the walk's end is this one.
bool ReadHeader(ArchiveCursor* cursor, EntryHeader* header) {
  const ArchiveFile* archive = cursor->archive;
  cursor->haveMagic = false;
  uint64_t left = archive->size - cursor->position;
  if (left < ARCHIVE_HEADER_SIZE) {
    Missed(cursor, left == 0 ? ARCHIVE_MISS_END : ARCHIVE_MISS_STRAY);
    return false;
  }
  if (archive->walked) {
    if (cursor->index < archive->places.Count()) {
      const ArchiveEntryPlace& place = archive->places.begin()[cursor->index];
      *header = EntryHeader{place.unpackedSize, place.packedSize};
      return true;
    }
    const ArchivePlace& end = archive->walkEnd;
    EndAtDamagedEntry(cursor, ArchiveMiss(end.miss), end.cutUnpackedSize, end.cutPackedSize);
    return false;
  }
  // With the header, the two bytes after it, when the check of a stream's
  // start asks for them next: one read a header, not two.
  unsigned char bytes[ARCHIVE_HEADER_SIZE + 2];
  uint32_t wanted = cursor->stopAtImplausible && left >= sizeof bytes ? uint32_t(sizeof bytes) : ARCHIVE_HEADER_SIZE;
  uint32_t done = 0;
  bool read = PlatformFileReadAt(archive->file, cursor->position, bytes, wanted, &done) && done == wanted;
  // The two bytes may lie where the disk refuses to read: the header alone.
  if (!read && wanted > ARCHIVE_HEADER_SIZE) {
    wanted = ARCHIVE_HEADER_SIZE;
    read = PlatformFileReadAt(archive->file, cursor->position, bytes, wanted, &done) && done == wanted;
  }
  if (!read) {
    EndAtDamagedEntry(cursor, ARCHIVE_MISS_UNREADABLE, 0, 0);
    return false;
  }
  if (wanted > ARCHIVE_HEADER_SIZE) {
    cursor->magic[0] = bytes[ARCHIVE_HEADER_SIZE];
    cursor->magic[1] = bytes[ARCHIVE_HEADER_SIZE + 1];
    cursor->haveMagic = true;
  }
  *header = EntryHeaderFrom(bytes);
  return true;
}

uint64_t DataStart(const ArchiveCursor* cursor) {
  return cursor->position + ARCHIVE_HEADER_SIZE;
}

// Whether the data part of the entry whose header was just read is all in
// the file. Known from the size alone, so that a header claiming data that
// is not there costs no buffer and no read.
bool DataIsThere(const ArchiveCursor* cursor, uint32_t packedSize) {
  return cursor->archive->size - DataStart(cursor) >= packedSize;
}

void PassEntry(ArchiveCursor* cursor, uint32_t packedSize) {
  cursor->position = DataStart(cursor) + packedSize;
  cursor->index++;
}

bool ReadData(const ArchiveCursor* cursor, void* destination, uint32_t size) {
  uint32_t done = 0;
  return PlatformFileReadAt(cursor->archive->file, DataStart(cursor), destination, size, &done) && done == size;
}

// A stored entry read whole is its own bytes: not damaged, and proven by nothing.
EntryVerdict StoredVerdict(const EntryHeader& header) {
  return EntryVerdict{true, header.unpackedSize, false};
}

// The account of an entry passed over: nothing decoded.
constexpr EntryVerdict PASSED = {true, 0, false};

void Remember(ArchiveCursor* cursor, const EntryHeader& header, const EntryVerdict& verdict) {
  cursor->last = EntryInfoOf(header, verdict);
  cursor->haveLast = true;
}

// With ArchiveCursorStopAtImplausible: whether the header just read claims a
// compressed entry whose data does not start a stream (a read refused here
// says nothing of it).
bool Implausible(const ArchiveCursor* cursor, const EntryHeader& header) {
  if (!cursor->stopAtImplausible || header.Stored() || cursor->archive->walkJudged) return false;
  if (header.packedSize < 2) return true;
  if (cursor->haveMagic) return !StartsStream(cursor->magic);
  unsigned char magic[2] = {0, 0};
  uint32_t done = 0;
  if (!PlatformFileReadAt(cursor->archive->file, DataStart(cursor), magic, sizeof magic, &done) ||
      done != sizeof magic) {
    return false;
  }
  return !StartsStream(magic);
}

// Reads size bytes of the entry's data from `from` on, in pieces the
// platform's 32-bit count takes.
bool ReadDataAt(const ArchiveCursor* cursor, uint64_t from, unsigned char* destination, uint32_t size) {
  uint32_t done = 0;
  for (uint32_t at = 0; at < size; at += done) {
    uint32_t piece = std::min<uint32_t>(size - at, 1u << 30);
    if (!PlatformFileReadAt(cursor->archive->file, DataStart(cursor) + from + at, destination + at, piece, &done) ||
        done != piece) {
      return false;
    }
  }
  return true;
}

// Hands the entry whose header was just read to sink (see
// ArchiveCursorNextEntryTo).
const unsigned char* Stream(ArchiveCursor* cursor, const EntryHeader& header, ArchiveEntrySink* sink) {
  const uint32_t unpackedSize = header.unpackedSize, packedSize = header.packedSize;
  auto passOver = [&]() -> const unsigned char* {
    PassEntry(cursor, packedSize);
    Remember(cursor, header, PASSED);
    return Missed(cursor, ARCHIVE_MISS_TOO_LARGE);
  };
  auto unreadable = [&]() { return EndAtDamagedEntry(cursor, ARCHIVE_MISS_UNREADABLE, unpackedSize, packedSize); };
  EntryVerdict verdict = StoredVerdict(header);
  if (header.Stored()) {
    auto* piece = static_cast<unsigned char*>(ProgramAlloc(ARCHIVE_STREAM_PIECE, false));
    if (piece == nullptr) return passOver();
    for (uint32_t from = 0; from < packedSize; from += ARCHIVE_STREAM_PIECE) {
      uint32_t size = std::min(packedSize - from, ARCHIVE_STREAM_PIECE);
      bool read = ReadDataAt(cursor, from, piece, size);
      if (!read || !sink->Take(piece, size)) {
        ProgramFree(piece);
        return read ? passOver() : unreadable();
      }
    }
    ProgramFree(piece);
  } else {
    // Not beyond what a buffer could be: a damaged header's claim costs no
    // more disk than it would have cost memory.
    if (unpackedSize > ENTRY_SIZE_MAX) return passOver();
    unsigned char* room = sink->Room(unpackedSize, packedSize);
    if (room == nullptr) return passOver();
    unsigned char* stream = room + unpackedSize;
    if (!ReadDataAt(cursor, 0, stream, packedSize)) return unreadable();
    verdict = DecodeEntryStream(stream, packedSize, room, unpackedSize, unpackedSize, false, cursor->checksumBeside);
  }
  PassEntry(cursor, packedSize);
  Remember(cursor, header, verdict);
  return nullptr;
}

}  // namespace

ArchiveCursor ArchiveCursorAtStart(const ArchiveFile* archive) {
  return ArchiveCursor{archive, nullptr, -1, {}, {}, {}, false, 0, 0, {}, false, nullptr, {0, 0}, false};
}

ArchiveCursor* ArchiveCursorCreate(const ArchiveFile* archive) {
  if (archive == nullptr) return nullptr;
  return new (std::nothrow) ArchiveCursor(ArchiveCursorAtStart(archive));
}

void ArchiveCursorFree(ArchiveCursor* cursor) {
  if (cursor == nullptr) return;
  Release(cursor->kept, true);
  Release(cursor->stream, true);
  delete cursor;
}

const unsigned char* ArchiveCursorNextEntry(ArchiveCursor* cursor) {
  return ArchiveCursorNextEntryTo(cursor, nullptr, nullptr);
}

const unsigned char* ArchiveCursorNextEntryTo(ArchiveCursor* cursor, ArchiveEntrySink* sink, int* streamed) {
  if (streamed != nullptr) *streamed = 0;
  Begin(cursor);
  EntryHeader header;
  if (!ReadHeader(cursor, &header)) return nullptr;
  FreeEntry(cursor);
  const uint32_t unpackedSize = header.unpackedSize, packedSize = header.packedSize;
  if (!DataIsThere(cursor, packedSize)) {
    return EndAtDamagedEntry(cursor, ARCHIVE_MISS_CUT_SHORT, unpackedSize, packedSize);
  }
  if (Implausible(cursor, header)) {
    return EndAtDamagedEntry(cursor, ARCHIVE_MISS_IMPLAUSIBLE, unpackedSize, packedSize);
  }

  if (sink != nullptr && ArchiveEntryStreamed(unpackedSize, packedSize)) {
    *streamed = 1;
    return Stream(cursor, header, sink);
  }

  bool stored = header.Stored();
  auto passOver = [&]() -> const unsigned char* {
    PassEntry(cursor, packedSize);
    Remember(cursor, header, PASSED);
    return Missed(cursor, ARCHIVE_MISS_TOO_LARGE);
  };
  if (unpackedSize > ENTRY_SIZE_MAX || packedSize > ENTRY_SIZE_MAX) return passOver();
  // A kept stream buffer too small for this entry's stream goes first, so
  // that the two buffers never take more at once than they would new.
  if (!stored && cursor->stream.size < packedSize) Release(cursor->stream, true);
  ArchiveCursor::Kept& kept = cursor->kept;
  unsigned char* entry = Buffer(kept, unpackedSize, !stored);
  if (entry == nullptr) return passOver();

  EntryVerdict verdict = StoredVerdict(header);
  if (stored) {
    kept.dirty = std::max(kept.dirty, packedSize);
    if (!ReadData(cursor, entry, packedSize)) {
      return EndAtDamagedEntry(cursor, ARCHIVE_MISS_UNREADABLE, unpackedSize, packedSize);
    }
  } else {
    unsigned char* stream = Buffer(cursor->stream, packedSize, false);
    if (stream == nullptr) return passOver();
    if (!ReadData(cursor, stream, packedSize)) {
      return EndAtDamagedEntry(cursor, ARCHIVE_MISS_UNREADABLE, unpackedSize, packedSize);
    }
    // The decoder leaves 0 wherever it wrote nothing that counts, and the
    // rest is never touched, so a header that claims far more than its
    // stream gives costs what the stream gives.
    verdict = DecodeEntryStream(stream, packedSize, entry, unpackedSize, unpackedSize, false, cursor->checksumBeside);
    // What the stream did not give is 0: the decoder leaves what it wrote
    // past its decoded bytes 0, and the bytes of an entry before are made so.
    uint32_t stale = std::min(kept.dirty, unpackedSize);
    if (verdict.decoded < stale) memset(entry + verdict.decoded, 0, stale - verdict.decoded);
    kept.dirty = std::max(kept.dirty, verdict.decoded);
  }
  PassEntry(cursor, packedSize);
  cursor->entry = entry;
  cursor->entrySize = int32_t(unpackedSize);
  Remember(cursor, header, verdict);
  return entry;
}

int ArchiveCursorSkipEntry(ArchiveCursor* cursor) {
  Begin(cursor);
  EntryHeader header;
  if (!ReadHeader(cursor, &header)) return 0;
  FreeEntry(cursor);
  if (!DataIsThere(cursor, header.packedSize)) {
    EndAtDamagedEntry(cursor, ARCHIVE_MISS_CUT_SHORT, header.unpackedSize, header.packedSize);
    return 0;
  }
  if (Implausible(cursor, header)) {
    EndAtDamagedEntry(cursor, ARCHIVE_MISS_IMPLAUSIBLE, header.unpackedSize, header.packedSize);
    return 0;
  }
  PassEntry(cursor, header.packedSize);
  Remember(cursor, header, PASSED);
  return 1;
}

void ArchiveCursorKeepOnlyTheEntry(ArchiveCursor* cursor) {
  Release(cursor->stream, true);
  if (cursor->entry == nullptr) Release(cursor->kept, true);
}

void ArchiveCursorStopAtImplausible(ArchiveCursor* cursor) {
  cursor->stopAtImplausible = true;
}

void ArchiveCursorChecksumBeside(ArchiveCursor* cursor, WorkAhead* engine) {
  cursor->checksumBeside = engine;
}

int32_t ArchiveCursorEntrySize(const ArchiveCursor* cursor) {
  return cursor->entrySize;
}

int ArchiveCursorLastEntryInfo(const ArchiveCursor* cursor, ArchiveEntryInfo* info) {
  if (!cursor->haveLast || info == nullptr) return 0;
  *info = cursor->last;
  return 1;
}

int ArchiveCursorWhere(const ArchiveCursor* cursor, ArchivePlace* place) {
  if (place == nullptr) return 0;
  *place = cursor->place;
  place->offset = cursor->position;
  place->size = cursor->archive->size;
  return 1;
}

int ArchiveCursorSeek(ArchiveCursor* cursor, uint32_t index) {
  const ArchiveFile* archive = cursor->archive;
  if (!archive->walked || index > archive->places.Count()) return 0;
  cursor->position = index < archive->places.Count() ? archive->places.begin()[index].offset : archive->walkStop;
  cursor->index = index;
  cursor->place.miss = ARCHIVE_MISS_NONE;
  return 1;
}

int ArchiveCursorSeekOffset(ArchiveCursor* cursor, uint64_t offset, uint32_t index) {
  const ArchiveFile* archive = cursor->archive;
  if (archive->walked) {
    uint64_t place = index < archive->places.Count() ? archive->places.begin()[index].offset : archive->walkStop;
    return index <= archive->places.Count() && place == offset ? ArchiveCursorSeek(cursor, index) : 0;
  }
  if (offset > archive->size) return 0;
  cursor->position = offset;
  cursor->index = index;
  cursor->place.miss = ARCHIVE_MISS_NONE;
  return 1;
}
