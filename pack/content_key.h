// Telling versions of an entry apart without decoding it. Two entries of
// the same file in two backups are the same version when their keys are
// equal; how sure that is depends on the kind of key:
// - a stored entry: a 64-bit hash of its bytes, read in pieces (sure, short
//   of a hash collision);
// - a compressed entry whose stream carries a checksum: its unpacked size and
//   the stream's own 32-bit checksum field, read from the stream's header
//   (nearly sure: two contents of one size share a checksum rarely);
// - a compressed entry without a checksum: a 64-bit hash of its packed bytes
//   (equal bytes decode to equal content; different bytes may still decode
//   to the same content, and then show as two versions);
// - decoded: a 64-bit hash of the bytes the entry decodes to (exact).
// A stored and a compressed copy of the same bytes have keys of different
// kinds: only decoding shows them to be the same.
#pragma once

#include <cstddef>
#include <cstdint>

#include "pack/archive_file.h"

enum ContentKeyKind {
  CONTENT_KEY_STORED_BYTES,
  CONTENT_KEY_STREAM_CHECKSUM,
  CONTENT_KEY_STREAM_BYTES,
  CONTENT_KEY_DECODED,
};

struct ContentKey {
  ContentKeyKind kind;
  uint32_t unpackedSize;
  uint64_t value;
  bool operator==(const ContentKey& other) const {
    return kind == other.kind && unpackedSize == other.unpackedSize && value == other.value;
  }
};

// A 64-bit hash (FNV-1a) of bytes, continued from hash; start with
// CONTENT_HASH_START. Not a checksum of the format: only a name for bytes.
constexpr uint64_t CONTENT_HASH_START = 0xCBF29CE484222325ull;
uint64_t ContentHash(uint64_t hash, const void* bytes, size_t size);

// The key of entry `index` of a walked archive, read without decoding: for a
// compressed entry its stream header (one read of 10 bytes) and, without a
// checksum, its packed bytes; for a stored entry its bytes. 0 when index is
// not below the entry count, the read failed, or a compressed entry's data
// does not start a stream (a damaged entry: no key tells it apart).
int ArchiveFileContentKey(const ArchiveFile* archive, uint32_t index, ContentKey* key);

// The key of bytes an entry decoded to.
ContentKey DecodedContentKey(const unsigned char* bytes, uint32_t size);
