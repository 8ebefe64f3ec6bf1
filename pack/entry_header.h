// An entry's header as it stands in the archive: unpacked size, then packed
// size, each unsigned 32-bit little-endian; and the two facts of a
// compressed entry's stream that the readers look at without decoding it.
// Internal to pack/.
#pragma once

#include <cstdint>

#include "pack/archive.h"
#include "pack/decoder.h"

inline uint32_t LittleEndian32(const unsigned char* at) {
  return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

struct EntryHeader {
  uint32_t unpackedSize;
  uint32_t packedSize;
  bool Stored() const { return unpackedSize == packedSize; }  // the data is the entry
  bool Empty() const { return unpackedSize == 0 && packedSize == 0; }
};

// The header in the ARCHIVE_HEADER_SIZE bytes at `at`.
inline EntryHeader EntryHeaderFrom(const unsigned char* at) {
  return EntryHeader{LittleEndian32(at), LittleEndian32(at + 4)};
}

// Whether the 2 bytes at `at` are the stream magic, with which a compressed
// entry's data starts.
inline bool StartsStream(const unsigned char* at) {
  return (at[0] | at[1] << 8) == STREAM_MAGIC;
}

// Whether the stream of `length` bytes at `stream` has a checksum (its field
// is not 0), so that decoding it soundly proves its bytes.
inline bool CarriesChecksum(const unsigned char* stream, uint32_t length) {
  return length >= STREAM_HEADER_SIZE && (stream[6] | stream[7] | stream[8] | stream[9]) != 0;
}
