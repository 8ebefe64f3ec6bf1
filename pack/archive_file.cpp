#include "pack/archive_file.h"

#include <algorithm>
#include <new>

#include "core/memory.h"
#include "pack/archive_bytes.h"
#include "pack/archive_file_internal.h"
#include "pack/entry_header.h"
#include "pack/entry_verdict.h"
#include "platform/platform.h"

namespace {

// The walk is a cursor passing every entry in order, so that it ends where
// and why any cursor reading in order would.
bool Walk(ArchiveFile* archive, ArchiveWalk walk) {
  ArchiveCursor cursor = ArchiveCursorAtStart(archive);
  cursor.stopAtImplausible = walk == ARCHIVE_WALK_PLAUSIBLE;
  for (;;) {
    uint64_t offset = cursor.position;
    if (ArchiveCursorSkipEntry(&cursor) == 0) {
      archive->walkStop = offset;
      break;
    }
    ArchiveEntryPlace place{offset, cursor.last.unpackedSize, cursor.last.packedSize};
    if (!archive->places.Insert(archive->places.end(), place)) return false;
  }
  ArchiveCursorWhere(&cursor, &archive->walkEnd);
  archive->walked = true;
  archive->walkJudged = cursor.stopAtImplausible;
  return true;
}

}  // namespace

ArchiveFile* ArchiveFileOpen(const char* path, ArchiveWalk walk) {
  if (path == nullptr) return nullptr;
  auto* archive = new (std::nothrow) ArchiveFile;
  if (archive == nullptr) return nullptr;
  archive->file = PlatformFileOpenRead(path, true);
  if (archive->file == PLATFORM_FILE_INVALID || !PlatformFileSize(archive->file, &archive->size) ||
      (walk != ARCHIVE_WALK_NONE && !Walk(archive, walk))) {
    ArchiveFileClose(archive);
    return nullptr;
  }
  archive->stamped = PlatformFileStamp(archive->file, &archive->opened);
  return archive;
}

void ArchiveFileClose(ArchiveFile* archive) {
  if (archive == nullptr) return;
  if (archive->file != PLATFORM_FILE_INVALID) PlatformFileClose(archive->file);
  delete archive;
}

uint64_t ArchiveFileSize(const ArchiveFile* archive) {
  return archive->size;
}

int ArchiveFileReadAt(const ArchiveFile* archive, uint64_t offset, void* destination, uint32_t length, uint32_t* done) {
  *done = 0;
  if (offset >= archive->size) return 1;
  uint32_t wanted = uint32_t(std::min<uint64_t>(length, archive->size - offset));
  return PlatformFileReadAt(archive->file, offset, destination, wanted, done) ? 1 : 0;
}

PlatformFile ArchiveFileHandle(const ArchiveFile* archive) {
  return archive->file;
}

void ArchiveFileModified(const ArchiveFile* archive, int64_t* seconds, uint32_t* nanoseconds) {
  *seconds = archive->stamped ? archive->opened.modifiedSeconds : 0;
  *nanoseconds = archive->stamped ? archive->opened.modifiedNanoseconds : 0;
}

int ArchiveFileChanged(const ArchiveFile* archive) {
  PlatformFileFacts now;
  if (!archive->stamped || !PlatformFileStamp(archive->file, &now)) return 1;
  const PlatformFileFacts& then = archive->opened;
  return now.deleted || now.size != then.size || now.modifiedSeconds != then.modifiedSeconds ||
                 now.modifiedNanoseconds != then.modifiedNanoseconds
             ? 1
             : 0;
}

int ArchiveFileReadEntryData(const ArchiveFile* archive, uint32_t index, uint64_t from, void* destination,
                             uint32_t length, uint32_t* done) {
  *done = 0;
  if (index >= archive->places.Count()) return 0;
  const ArchiveEntryPlace& place = archive->places.begin()[index];
  if (from >= place.packedSize) return 1;
  uint32_t wanted = uint32_t(std::min<uint64_t>(length, place.packedSize - from));
  uint32_t got = 0;
  if (!PlatformFileReadAt(archive->file, place.offset + ARCHIVE_HEADER_SIZE + from, destination, wanted, &got) ||
      got != wanted) {
    return 0;
  }
  *done = got;
  return 1;
}

int ArchiveFileDecodeEntry(const ArchiveFile* archive, uint32_t index, unsigned char* destination, uint32_t size,
                           DecodeProgress* progress, ArchiveEntryInfo* info, WorkAhead* beside) {
  ArchiveEntryPlace place{};
  if (ArchiveFileEntryPlace(archive, index, &place) == 0 || place.unpackedSize == place.packedSize ||
      place.unpackedSize != size) {
    return 0;
  }
  auto* stream = static_cast<unsigned char*>(ProgramAlloc(place.packedSize != 0 ? place.packedSize : 1, false));
  if (stream == nullptr) return 0;
  uint32_t done = 0;
  if (ArchiveFileReadEntryData(archive, index, 0, stream, place.packedSize, &done) == 0 || done != place.packedSize) {
    ProgramFree(stream);
    return 0;
  }
  EntryVerdict verdict =
      DecodeEntryStream(stream, place.packedSize, destination, size, size, false, beside, progress);
  *info = EntryInfoOf(EntryHeader{place.unpackedSize, place.packedSize}, verdict);
  ProgramFree(stream);
  return 1;
}

uint32_t ArchiveFileEntryCount(const ArchiveFile* archive) {
  return archive->places.Count();
}

int ArchiveFileEntryPlace(const ArchiveFile* archive, uint32_t index, ArchiveEntryPlace* place) {
  if (index >= archive->places.Count() || place == nullptr) return 0;
  *place = archive->places.begin()[index];
  return 1;
}

int ArchiveFileWalkEnd(const ArchiveFile* archive, ArchivePlace* place) {
  if (!archive->walked || place == nullptr) return 0;
  *place = archive->walkEnd;
  return 1;
}
