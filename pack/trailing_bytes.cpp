#include "pack/trailing_bytes.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "pack/entry_header.h"

namespace {

// How many of the first bytes a report shows.
constexpr size_t SHOWN = 8;

bool Printable(unsigned char c) {
  return (c >= 0x20 && c != 0x7F) || c == '\r' || c == '\n' || c == '\t';
}

}  // namespace

TrailingKind TrailingBytesKind(const unsigned char* bytes, size_t size) {
  if (std::all_of(bytes, bytes + size, [](unsigned char c) { return c == 0; })) return TrailingKind::Zeros;
  if (size >= ARCHIVE_HEADER_SIZE) {
    EntryHeader header = EntryHeaderFrom(bytes);
    uint64_t after = size - ARCHIVE_HEADER_SIZE;
    bool fits = !header.Empty() && header.packedSize <= after;
    bool stream = header.Stored() || (after >= 2 && StartsStream(bytes + ARCHIVE_HEADER_SIZE));
    if (fits && stream) return TrailingKind::Archive;
  }
  if (std::all_of(bytes, bytes + size, Printable)) return TrailingKind::Text;
  return TrailingKind::Other;
}

std::string TrailingBytesSaid(const unsigned char* bytes, size_t size) {
  std::string first;
  for (size_t i = 0; i < std::min(size, SHOWN); i++) {
    char hex[4];
    snprintf(hex, sizeof hex, "%02X", bytes[i]);
    first += (i == 0 ? "" : " ") + std::string(hex);
  }
  if (size > SHOWN) first += " ...";
  switch (TrailingBytesKind(bytes, size)) {
    case TrailingKind::Zeros:
      return "zeros (padding to a block)";
    case TrailingKind::Archive:
      return "the start of another pack archive, appended (" + first + ")";
    case TrailingKind::Text: {
      std::string text(reinterpret_cast<const char*>(bytes), std::min<size_t>(size, 40));
      for (char& c : text) c = (c == '\r' || c == '\n' || c == '\t') ? ' ' : c;
      return "text, appended (\"" + text + (size > 40 ? "...\")" : "\")");
    }
    default:
      return "bytes of no known kind, appended (" + first + ")";
  }
}

bool ArchiveFileTrailing(const ArchiveFile* archive, uint64_t from, TrailingKind* kind, std::string* said) {
  constexpr uint32_t PIECE = 64 * 1024;
  std::vector<unsigned char> first(PIECE), piece(PIECE);
  uint32_t got = 0;
  if (ArchiveFileReadAt(archive, from, first.data(), PIECE, &got) == 0) return false;
  *kind = TrailingBytesKind(first.data(), got);
  *said = TrailingBytesSaid(first.data(), got);
  // Zeros only when the rest is zeros too.
  for (uint64_t at = from + got; *kind == TrailingKind::Zeros && got > 0; at += got) {
    if (ArchiveFileReadAt(archive, at, piece.data(), PIECE, &got) == 0) return false;
    if (!std::all_of(piece.begin(), piece.begin() + got, [](unsigned char c) { return c == 0; })) {
      *kind = TrailingKind::Other;
      *said = "zeros, then other bytes, appended";
    }
  }
  return true;
}
