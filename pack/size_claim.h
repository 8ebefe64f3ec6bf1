// Whether a compressed entry's header says where its stream ends. One
// changed bit in a header's packed size lets its stream decode whole (it
// ends by its own end code and its checksum holds) while the reader takes
// the next header at the wrong place and finds it implausible or cut short:
// the entry to blame is then the one before, whose header is wrong.
#pragma once

#include <cstdint>

#include "pack/archive_file.h"

struct ArchiveSizeClaim {
  uint32_t claimed;     // the packed size its header claims
  uint32_t streamEnds;  // where its stream really ends, in bytes after the header
};

// Of the compressed entry whose header starts at offset: 1, with *claim,
// when its header's unpacked size is its stream's own, its stream (read past
// the claim as far as the file and the stream's size allow) ends by its own
// end code with a checksum that holds, and that end is not where the packed
// size says (more than a last word's fill away). 0 otherwise: a stored
// entry, a stream that is damaged or has no checksum, a header that agrees,
// an entry too large to look at (ARCHIVE_SIZE_CLAIM_MAX), no memory, or a
// read the system refused. Any thread may call it.
int ArchiveFileSizeClaimWrong(const ArchiveFile* archive, uint64_t offset, ArchiveSizeClaim* claim);
constexpr uint32_t ARCHIVE_SIZE_CLAIM_MAX = 64u << 20;
