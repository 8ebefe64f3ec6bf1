#include "pack/archive.h"

#include <cstring>

#include "core/memory.h"
#include "pack/decoder.h"
#include "platform/platform.h"

namespace {

constexpr uint32_t ENTRY_HEADER_SIZE = 8;
// ArchiveEntrySize answers in a signed 32-bit value, so no entry beyond this
// is handed out (a 32-bit process could not hold one anyway).
constexpr uint32_t ENTRY_SIZE_MAX = 0x7FFFFFFF;
constexpr int MODE_READ = 1;

// The one reader of the process. It has no start-up step of its own (the
// shut-down order only closes it), so its few fields live here rather than
// in a state block; the entry buffer comes from the program heap.
// It keeps its own position and reads at it, so that passing an entry is one
// header read and arithmetic; the archive ends at the size the file had when
// it was opened (the file is shared for reading only, so it cannot change
// under us on Windows).
struct ArchiveReader {
  PlatformFile file;     // 0: no archive open
  int mode;              // MODE_READ once an archive was opened
  unsigned char* entry;  // the entry last delivered, or null
  int32_t entrySize;     // its unpacked size; -1 when the last read delivered nothing
  ArchiveEntryInfo last;
  bool haveLast;
  uint64_t position;  // where the next entry header starts; never beyond size
  uint64_t size;
  ArchivePlace place;  // miss and cut: of the last call that reads a header
  bool stopAtImplausible;
};
ArchiveReader reader = {0, 0, nullptr, -1, {}, false, 0, 0, {}, false};

bool Reading() {
  return reader.file != 0 && reader.mode == MODE_READ;
}

void FreeEntry() {
  if (reader.entry == nullptr) return;
  ProgramFree(reader.entry);
  reader.entry = nullptr;
}

// Starts a call that reads a header: it gives an entry until it says why not.
void Begin() {
  reader.entrySize = -1;
  reader.place.miss = ARCHIVE_MISS_NONE;
}

// Notes why the call gives no entry; returns what it then returns.
const unsigned char* Missed(ArchiveMiss miss) {
  reader.place.miss = miss;
  return nullptr;
}

// The entry at the reader's position is cut short, or the system would not
// read it (its header, then both sizes are 0, or its data): the archive ends
// here, for every later call too.
const unsigned char* EndAtDamagedEntry(ArchiveMiss miss, uint32_t unpackedSize, uint32_t packedSize) {
  reader.place.cutUnpackedSize = unpackedSize;
  reader.place.cutPackedSize = packedSize;
  reader.place.cutOffset = reader.position;
  reader.position = reader.size;
  return Missed(miss);
}

// False at the end of the archive (nothing left, a partial header, or a read
// the system refused), with the reason noted. A refused read ends the
// archive where the header stands, as a refused read of an entry's data
// does: a later call does not read on past it.
bool ReadHeader(uint32_t* unpackedSize, uint32_t* packedSize) {
  uint64_t left = reader.size - reader.position;
  if (left < ENTRY_HEADER_SIZE) {
    Missed(left == 0 ? ARCHIVE_MISS_END : ARCHIVE_MISS_STRAY);
    return false;
  }
  unsigned char header[ENTRY_HEADER_SIZE];
  uint32_t done = 0;
  if (!PlatformFileReadAt(reader.file, reader.position, header, ENTRY_HEADER_SIZE, &done) ||
      done != ENTRY_HEADER_SIZE) {
    EndAtDamagedEntry(ARCHIVE_MISS_UNREADABLE, 0, 0);
    return false;
  }
  auto field = [&header](int at) {
    return uint32_t(header[at]) | uint32_t(header[at + 1]) << 8 | uint32_t(header[at + 2]) << 16 |
           uint32_t(header[at + 3]) << 24;
  };
  *unpackedSize = field(0);
  *packedSize = field(4);
  return true;
}

// Whether the data part of the entry whose header was just read is all in
// the file. Known from the size alone, so that a header claiming data that
// is not there costs no buffer and no read.
bool DataIsThere(uint32_t packedSize) {
  return reader.size - reader.position - ENTRY_HEADER_SIZE >= packedSize;
}

uint64_t DataStart() {
  return reader.position + ENTRY_HEADER_SIZE;
}

void PassEntry(uint32_t packedSize) {
  reader.position = DataStart() + packedSize;
}

bool ReadData(void* destination, uint32_t size) {
  uint32_t done = 0;
  return PlatformFileReadAt(reader.file, DataStart(), destination, size, &done) && done == size;
}

void Remember(uint32_t unpackedSize, uint32_t packedSize, bool damaged, uint32_t decoded, bool checked = false) {
  reader.last = ArchiveEntryInfo{unpackedSize,    packedSize, unpackedSize == packedSize ? 1 : 0,
                                 damaged ? 1 : 0, decoded,    checked ? 1 : 0};
  reader.haveLast = true;
}

// With ArchiveStopAtImplausible: whether the header just read claims a
// compressed entry whose data does not start a stream (a read refused here
// says nothing of it).
bool Implausible(uint32_t unpackedSize, uint32_t packedSize) {
  if (!reader.stopAtImplausible || unpackedSize == packedSize) return false;
  if (packedSize < 2) return true;
  unsigned char magic[2] = {0, 0};
  uint32_t done = 0;
  if (!PlatformFileReadAt(reader.file, DataStart(), magic, sizeof magic, &done) || done != sizeof magic) return false;
  return (magic[0] | magic[1] << 8) != STREAM_MAGIC;
}

// A sound stream whose checksum field is not 0 was proven by it.
bool Checksummed(const unsigned char* stream, uint32_t packedSize) {
  return packedSize >= STREAM_HEADER_SIZE && (stream[6] | stream[7] | stream[8] | stream[9]) != 0;
}

// Decodes into entry, which comes zero-filled: the decoder leaves 0 wherever
// it wrote nothing that counts, and the rest is never touched, so a header
// that claims far more than its stream gives costs what the stream gives.
// True when the stream is sound and delivered all of it; *decoded is how
// many bytes from the start really came from the stream.
bool DecodeEntry(const unsigned char* stream, uint32_t packedSize, unsigned char* entry, uint32_t unpackedSize,
                 uint32_t* decoded) {
  StreamSalvage result;
  bool sound = DecodeCompressedStreamSalvage(stream, packedSize, entry, unpackedSize, false, &result);
  *decoded = result.decoded;
  return sound && result.written == unpackedSize;
}

}  // namespace

int ArchiveOpen(const char* path) {
  ArchiveClose();
  if (path == nullptr) return 0;
  PlatformFile file = PlatformFileOpenRead(path, true);
  if (file == PLATFORM_FILE_INVALID) return 0;
  uint64_t size = 0;
  if (!PlatformFileSize(file, &size)) {
    PlatformFileClose(file);
    return 0;
  }
  reader.file = file;
  reader.mode = MODE_READ;
  reader.entrySize = -1;
  reader.position = 0;
  reader.size = size;
  return 1;
}

const unsigned char* ArchiveNextEntry() {
  Begin();
  if (!Reading()) return nullptr;
  uint32_t unpackedSize, packedSize;
  if (!ReadHeader(&unpackedSize, &packedSize)) return nullptr;
  FreeEntry();
  if (!DataIsThere(packedSize)) return EndAtDamagedEntry(ARCHIVE_MISS_CUT_SHORT, unpackedSize, packedSize);
  if (Implausible(unpackedSize, packedSize))
    return EndAtDamagedEntry(ARCHIVE_MISS_IMPLAUSIBLE, unpackedSize, packedSize);

  bool stored = unpackedSize == packedSize;
  auto passOver = [&]() -> const unsigned char* {
    PassEntry(packedSize);
    Remember(unpackedSize, packedSize, false, 0);
    return Missed(ARCHIVE_MISS_TOO_LARGE);
  };
  if (unpackedSize > ENTRY_SIZE_MAX || packedSize > ENTRY_SIZE_MAX) return passOver();
  // One byte at least, so that an empty entry is a valid buffer too. A
  // compressed entry's buffer comes zero-filled (fresh pages from the system
  // need no filling; a reused block does), so that what its stream does not
  // give is 0 without a pass over it.
  auto* entry = static_cast<unsigned char*>(ProgramAlloc(unpackedSize != 0 ? unpackedSize : 1, !stored));
  if (entry == nullptr) return passOver();

  bool damaged = false;
  bool checked = false;
  uint32_t decoded = unpackedSize;
  if (stored) {
    if (!ReadData(entry, packedSize)) {
      ProgramFree(entry);
      return EndAtDamagedEntry(ARCHIVE_MISS_UNREADABLE, unpackedSize, packedSize);
    }
  } else {
    auto* stream = static_cast<unsigned char*>(ProgramAlloc(packedSize != 0 ? packedSize : 1, false));
    if (stream == nullptr) {
      ProgramFree(entry);
      return passOver();
    }
    bool complete = ReadData(stream, packedSize);
    if (complete) damaged = !DecodeEntry(stream, packedSize, entry, unpackedSize, &decoded);
    checked = complete && !damaged && Checksummed(stream, packedSize);
    ProgramFree(stream);
    if (!complete) {
      ProgramFree(entry);
      return EndAtDamagedEntry(ARCHIVE_MISS_UNREADABLE, unpackedSize, packedSize);
    }
  }
  PassEntry(packedSize);
  reader.entry = entry;
  reader.entrySize = int32_t(unpackedSize);
  Remember(unpackedSize, packedSize, damaged, decoded, checked);
  return entry;
}

int32_t ArchiveEntrySize() {
  return Reading() ? reader.entrySize : -1;
}

void ArchiveClose() {
  if (reader.file != 0) {
    PlatformFileClose(reader.file);
    reader.file = 0;
  }
  reader.position = 0;
  reader.size = 0;
  reader.place = ArchivePlace{};
  reader.stopAtImplausible = false;
  FreeEntry();
  reader.haveLast = false;
}

void ArchiveStopAtImplausible() {
  reader.stopAtImplausible = true;
}

int ArchiveSkipEntry() {
  Begin();
  if (!Reading()) return 0;
  uint32_t unpackedSize, packedSize;
  if (!ReadHeader(&unpackedSize, &packedSize)) return 0;
  FreeEntry();
  if (!DataIsThere(packedSize)) {
    EndAtDamagedEntry(ARCHIVE_MISS_CUT_SHORT, unpackedSize, packedSize);
    return 0;
  }
  if (Implausible(unpackedSize, packedSize)) {
    EndAtDamagedEntry(ARCHIVE_MISS_IMPLAUSIBLE, unpackedSize, packedSize);
    return 0;
  }
  PassEntry(packedSize);
  Remember(unpackedSize, packedSize, false, 0);
  return 1;
}

int ArchiveWhere(ArchivePlace* place) {
  if (!Reading() || place == nullptr) return 0;
  *place = reader.place;
  place->offset = reader.position;
  place->size = reader.size;
  return 1;
}

int ArchiveLastEntryInfo(ArchiveEntryInfo* info) {
  if (!reader.haveLast || info == nullptr) return 0;
  *info = reader.last;
  return 1;
}
