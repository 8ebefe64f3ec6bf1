#include "pack/other_kinds.h"

#include <cstdint>
#include <cstring>

#include "pack/archive_file.h"
#include "pack/entry_header.h"

namespace {

struct Signature {
  uint32_t at;  // where in the file it stands
  const char* bytes;
  uint32_t length;
  const char* kind;
};

const Signature SIGNATURES[] = {
    {0, "PK\x03\x04", 4, "a zip archive"},
    {0, "PK\x05\x06", 4, "a zip archive (empty)"},
    {0, "PK\x07\x08", 4, "a zip archive (spanned)"},
    {0, "7z\xBC\xAF\x27\x1C", 6, "a 7z archive"},
    {0, "Rar!\x1A\x07", 6, "a rar archive"},
    {0, "\x1F\x8B", 2, "a gzip file"},
    {0, "BZh", 3, "a bzip2 file"},
    {0,
     "\xFD"
     "7zXZ\x00",
     6, "an xz file"},
    {0, "\x28\xB5\x2F\xFD", 4, "a zstd file"},
    {0, "MSCF", 4, "a cabinet file"},
    {257, "ustar", 5, "a tar archive"},
};

constexpr uint32_t HEAD_SIZE = 262;  // up to the end of the tar signature

// Whether the first entry header could be a pack archive's: its data fits
// and, when compressed, starts with the stream magic.
bool PlausiblePackStart(const unsigned char* head, uint32_t got, uint64_t size) {
  if (got < ARCHIVE_HEADER_SIZE) return false;
  EntryHeader header = EntryHeaderFrom(head);
  if (header.packedSize > size - ARCHIVE_HEADER_SIZE) return false;
  if (header.Stored()) return true;
  return got >= ARCHIVE_HEADER_SIZE + 2 && StartsStream(head + ARCHIVE_HEADER_SIZE);
}

// The first bytes of the archive and its size; false when they cannot be
// read.
bool ReadHead(const ArchiveFile* archive, unsigned char (&head)[HEAD_SIZE], uint32_t* got, uint64_t* size) {
  *size = ArchiveFileSize(archive);
  return ArchiveFileReadAt(archive, 0, head, HEAD_SIZE, got) != 0;
}

// The same of the file at path, opened for it.
bool ReadHead(const char* path, unsigned char (&head)[HEAD_SIZE], uint32_t* got, uint64_t* size) {
  ArchiveFile* archive = ArchiveFileOpen(path, ARCHIVE_WALK_NONE);
  if (archive == nullptr) return false;
  bool read = ReadHead(archive, head, got, size);
  ArchiveFileClose(archive);
  return read;
}

template <typename Archive>
const char* OtherKind(Archive archive) {
  unsigned char head[HEAD_SIZE];
  uint32_t got = 0;
  uint64_t size = 0;
  if (!ReadHead(archive, head, &got, &size) || PlausiblePackStart(head, got, size)) return nullptr;
  for (const Signature& s : SIGNATURES) {
    if (got >= s.at + s.length && memcmp(head + s.at, s.bytes, s.length) == 0) return s.kind;
  }
  return nullptr;
}

template <typename Archive>
int StartsAsPack(Archive archive) {
  unsigned char head[HEAD_SIZE];
  uint32_t got = 0;
  uint64_t size = 0;
  if (!ReadHead(archive, head, &got, &size)) return -1;
  return PlausiblePackStart(head, got, size) ? 1 : 0;
}

}  // namespace

const char* ArchiveOtherKind(const char* path) {
  return OtherKind(path);
}

const char* ArchiveFileOtherKind(const ArchiveFile* archive) {
  return OtherKind(archive);
}

int ArchiveStartsAsPack(const char* path) {
  return StartsAsPack(path);
}

int ArchiveFileStartsAsPack(const ArchiveFile* archive) {
  return StartsAsPack(archive);
}
