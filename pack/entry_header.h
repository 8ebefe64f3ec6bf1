// An entry's header as it stands in the archive: unpacked size, then packed
// size, each unsigned 32-bit little-endian. Internal to pack/.
#pragma once

#include <cstdint>

#include "pack/archive.h"

inline uint32_t LittleEndian32(const unsigned char* at) {
  return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

struct EntryHeader {
  uint32_t unpackedSize;
  uint32_t packedSize;
};

// The header in the ARCHIVE_HEADER_SIZE bytes at `at`.
inline EntryHeader EntryHeaderFrom(const unsigned char* at) {
  return EntryHeader{LittleEndian32(at), LittleEndian32(at + 4)};
}
