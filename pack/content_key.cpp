#include "pack/content_key.h"

#include "pack/decoder.h"
#include "pack/entry_header.h"

namespace {

// Stored entries and streams without a checksum are hashed in pieces of
// this size, so that a large entry costs no buffer of its size.
constexpr uint32_t HASH_PIECE = 64 * 1024;

bool HashData(const ArchiveFile* archive, uint32_t index, uint32_t size, uint64_t* hash) {
  static_assert(HASH_PIECE <= 1024 * 1024, "the piece lives on the stack");
  unsigned char piece[HASH_PIECE];
  *hash = CONTENT_HASH_START;
  for (uint64_t from = 0; from < size;) {
    uint32_t done = 0;
    if (ArchiveFileReadEntryData(archive, index, from, piece, HASH_PIECE, &done) == 0 || done == 0) return false;
    *hash = ContentHash(*hash, piece, done);
    from += done;
  }
  return true;
}

}  // namespace

uint64_t ContentHash(uint64_t hash, const void* bytes, size_t size) {
  const auto* at = static_cast<const unsigned char*>(bytes);
  for (size_t i = 0; i < size; i++) {
    hash ^= at[i];
    hash *= 0x100000001B3ull;
  }
  return hash;
}

int ArchiveFileContentKey(const ArchiveFile* archive, uint32_t index, ContentKey* key) {
  ArchiveEntryPlace place;
  if (ArchiveFileEntryPlace(archive, index, &place) == 0) return 0;
  EntryHeader header{place.unpackedSize, place.packedSize};
  *key = ContentKey{CONTENT_KEY_STORED_BYTES, header.unpackedSize, 0};
  if (header.Stored()) return HashData(archive, index, header.packedSize, &key->value) ? 1 : 0;
  unsigned char stream[STREAM_HEADER_SIZE];
  uint32_t done = 0;
  if (ArchiveFileReadEntryData(archive, index, 0, stream, STREAM_HEADER_SIZE, &done) == 0 ||
      done != STREAM_HEADER_SIZE || !StartsStream(stream)) {
    return 0;
  }
  if (CarriesChecksum(stream, done)) {
    key->kind = CONTENT_KEY_STREAM_CHECKSUM;
    key->value = LittleEndian32(stream + 6);
    return 1;
  }
  key->kind = CONTENT_KEY_STREAM_BYTES;
  return HashData(archive, index, header.packedSize, &key->value) ? 1 : 0;
}

ContentKey DecodedContentKey(const unsigned char* bytes, uint32_t size) {
  return ContentKey{CONTENT_KEY_DECODED, size, ContentHash(CONTENT_HASH_START, bytes, size)};
}
