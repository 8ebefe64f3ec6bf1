// The repair's small parts: a change made, the chance told, the outcome
// named, and an archive entry read, repaired and decoded again by the plain
// decoder.
#include <algorithm>
#include <vector>

#include "pack/archive.h"
#include "pack/decoder.h"
#include "pack/repair.h"
#include "platform/platform.h"

void RepairApply(uint8_t* stream, const RepairPlace& place) {
  stream[place.byte] ^= uint8_t(1u << place.bit);
}

uint64_t RepairFalseMatchOneIn(uint64_t compared, unsigned proofBits) {
  uint64_t n = (uint64_t(1) << std::min(proofBits, 32u)) / std::max<uint64_t>(compared, 1);
  uint64_t scale = 1;
  while (n / scale >= 10) scale *= 10;
  return n / scale * scale;
}

bool RepairArchiveEntry(const char* path, uint64_t headerOffset, uint32_t unpackedSize, uint32_t packedSize,
                        const RepairOptions& options, RepairedEntry* result) {
  *result = RepairedEntry{};
  result->headerOffset = headerOffset;
  if (path == nullptr || unpackedSize == packedSize || packedSize < STREAM_HEADER_SIZE) return false;
  if (unpackedSize > REPAIR_DECODED_MAX || packedSize > REPAIR_DECODED_MAX) {
    result->repair.candidates = uint64_t(packedSize) * 8;
    result->repair.outcome = RepairOutcome::Unprovable;
    return true;
  }
  PlatformFile file = PlatformFileOpenRead(path, false);
  if (file == PLATFORM_FILE_INVALID) return false;
  std::vector<uint8_t> stream(packedSize);
  uint32_t done = 0;
  bool read = PlatformFileReadAt(file, headerOffset + ARCHIVE_HEADER_SIZE, stream.data(), packedSize, &done) &&
              done == packedSize;
  PlatformFileClose(file);
  if (!read) return false;
  result->repair = RepairStream(stream.data(), packedSize, unpackedSize, options);
  if (result->repair.outcome != RepairOutcome::Repaired) return true;
  const RepairPlace& place = result->repair.places[0];
  result->archiveByte = headerOffset + ARCHIVE_HEADER_SIZE + place.byte;
  RepairApply(stream.data(), place);
  result->bytes.resize(std::max<uint32_t>(unpackedSize, 1));
  uint32_t written = 0;
  if (!DecodeCompressedStreamChecked(stream.data(), packedSize, result->bytes.data(), unpackedSize, &written) ||
      written != unpackedSize) {
    result->repair.outcome = RepairOutcome::None;  // Confirmed said otherwise: never hand out such bytes
    result->bytes.clear();
    return true;
  }
  result->bytes.resize(unpackedSize);
  return true;
}

const char* RepairOutcomeName(RepairOutcome outcome) {
  switch (outcome) {
    case RepairOutcome::Repaired:
      return "repaired";
    case RepairOutcome::Unproven:
      return "unproven";
    case RepairOutcome::Ambiguous:
      return "ambiguous";
    case RepairOutcome::Unprovable:
      return "no checksum";
    case RepairOutcome::OutOfTime:
      return "not tried";
    case RepairOutcome::Whole:
      return "whole";
    default:
      return "none";
  }
}
