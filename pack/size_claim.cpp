#include "pack/size_claim.h"

#include <algorithm>

#include "core/memory.h"
#include "pack/decoder.h"
#include "pack/entry_header.h"
#include "pack/entry_verdict.h"

namespace {

// Bytes that one whole read of the file gives, or false.
bool ReadWhole(const ArchiveFile* archive, uint64_t offset, unsigned char* destination, uint32_t length) {
  uint32_t done = 0;
  return ArchiveFileReadAt(archive, offset, destination, length, &done) != 0 && done == length;
}

// A stream this much longer than what it decodes to is no stream the
// packer writes (its literals cost at most a few bits more than a byte).
uint64_t StreamBound(uint32_t decodedSize) {
  return STREAM_HEADER_SIZE + uint64_t(decodedSize) * 2 + 1024;
}

}  // namespace

uint64_t SizeClaimWindow(const EntryHeader& header, uint64_t left) {
  return std::min<uint64_t>(left, std::max<uint64_t>(header.packedSize, StreamBound(header.unpackedSize)));
}

uint32_t ProvenStreamEnd(const unsigned char* stream, uint32_t available, uint32_t unpackedSize) {
  if (available < STREAM_HEADER_SIZE || !StartsStream(stream) || LittleEndian32(stream + 2) != unpackedSize ||
      unpackedSize > ARCHIVE_SIZE_CLAIM_MAX || !CarriesChecksum(stream, available)) {
    return 0;
  }
  auto* out = static_cast<unsigned char*>(ProgramAlloc(std::max<uint32_t>(unpackedSize, 1), true));
  if (out == nullptr) return 0;
  // The end code lies in the word that ends here; the stream ends with
  // the last of its bytes that the stream needs (the packer leaves out up
  // to 3 zero bytes of its last word, which the decoder fills in).
  uint32_t wordEnd = CompressedStreamEnd(stream, available, out, unpackedSize);
  uint32_t end = 0;
  for (uint32_t length = std::max(wordEnd, STREAM_HEADER_SIZE + 3) - 3; wordEnd != 0 && length <= wordEnd && end == 0;
       length++) {
    uint32_t written = 0;
    if (DecodeCompressedStreamChecked(stream, length, out, unpackedSize, &written) && written == unpackedSize)
      end = length;
  }
  ProgramFree(out);
  return end;
}

int ArchiveFileSizeClaimWrong(const ArchiveFile* archive, uint64_t offset, ArchiveSizeClaim* claim) {
  if (archive == nullptr || claim == nullptr) return 0;
  uint64_t size = ArchiveFileSize(archive);
  unsigned char bytes[ARCHIVE_HEADER_SIZE];
  if (offset > size || size - offset < ARCHIVE_HEADER_SIZE || !ReadWhole(archive, offset, bytes, sizeof bytes))
    return 0;
  EntryHeader header = EntryHeaderFrom(bytes);
  if (header.Stored() || header.unpackedSize > ARCHIVE_SIZE_CLAIM_MAX) return 0;
  uint32_t window = uint32_t(SizeClaimWindow(header, size - offset - ARCHIVE_HEADER_SIZE));
  auto* stream = static_cast<unsigned char*>(ProgramAlloc(std::max<uint32_t>(window, 1), false));
  int wrong = 0;
  if (stream != nullptr && ReadWhole(archive, offset + ARCHIVE_HEADER_SIZE, stream, window)) {
    uint32_t end = ProvenStreamEnd(stream, window, header.unpackedSize);
    if (end != 0 && !ClaimAgrees(header.packedSize, end)) {
      *claim = ArchiveSizeClaim{header.packedSize, end};
      wrong = 1;
    }
  }
  ProgramFree(stream);
  return wrong;
}
