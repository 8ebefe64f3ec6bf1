// What decoding a compressed entry's stream says of the entry: the one
// place where an entry is judged damaged, decoded so far, or proven by its
// checksum, for the reader's cursors, the archive object and the salvage
// walk alike. Internal to pack/.
#pragma once

#include <cstdint>

#include "pack/archive.h"
#include "pack/decoder.h"
#include "pack/entry_header.h"

struct EntryVerdict {
  bool whole;        // the stream is sound and gave every byte the entry claims: not damaged
  uint32_t decoded;  // how many bytes from the start really came from the stream
  bool checked;      // whole, and proven by the stream's checksum (not only whole in length)
};

// Decodes the stream[0, packedSize) of an entry that claims unpackedSize
// bytes into destination[0, min(room, unpackedSize)), which comes
// zero-filled; the decoder leaves 0 wherever it wrote nothing that counts.
// A room smaller than the claim (what could be held of it) gives what fits,
// never whole. cutShort: the stream is known to stop early (the end of the
// file, or the first byte that could not be read).
EntryVerdict DecodeEntryStream(const unsigned char* stream, uint32_t packedSize, unsigned char* destination,
                               uint32_t room, uint32_t unpackedSize, bool cutShort, WorkAhead* beside = nullptr,
                               DecodeProgress* progress = nullptr);

// Where the stream of a compressed entry that claims unpackedSize bytes
// really ends, when that is proven: read from stream[0, available), it ends
// by its own end code within them, it is of that size, and its checksum is
// there and holds; the end is the shortest length that decodes so. 0 otherwise (also past ARCHIVE_SIZE_CLAIM_MAX bytes,
// or without memory). pack/size_claim.cpp.
uint32_t ProvenStreamEnd(const unsigned char* stream, uint32_t available, uint32_t unpackedSize);
// How many bytes after a header to read for it: the claim, or as far as
// such a stream could run when that is more; no more than the file's `left`.
uint64_t SizeClaimWindow(const EntryHeader& header, uint64_t left);
// Whether a header's packed size says that its stream ends at `end` (as
// ProvenStreamEnd finds it): at that byte, or with the zero bytes that fill
// its last word.
inline bool ClaimAgrees(uint32_t packedSize, uint32_t end) {
  uint32_t fill = (4 - (end - STREAM_HEADER_SIZE) % 4) % 4;
  return packedSize >= end && uint64_t(packedSize) <= uint64_t(end) + fill;
}

// The account of an entry with this header and verdict, as the readers give
// it (ArchiveLastEntryInfo).
inline ArchiveEntryInfo EntryInfoOf(const EntryHeader& header, const EntryVerdict& verdict) {
  return ArchiveEntryInfo{header.unpackedSize,   header.packedSize, header.Stored() ? 1 : 0,
                          verdict.whole ? 0 : 1, verdict.decoded,   verdict.checked ? 1 : 0};
}
