#include "pack/entry_verdict.h"

#include <algorithm>

#include "pack/entry_header.h"

EntryVerdict DecodeEntryStream(const unsigned char* stream, uint32_t packedSize, unsigned char* destination,
                               uint32_t room, uint32_t unpackedSize, bool cutShort, WorkAhead* beside,
                               DecodeProgress* progress) {
  StreamSalvage result;
  bool sound = DecodeCompressedStreamSalvage(stream, packedSize, destination, std::min(room, unpackedSize), cutShort,
                                             &result, beside, progress);
  bool whole = sound && result.written == unpackedSize;
  return EntryVerdict{whole, result.decoded, whole && CarriesChecksum(stream, packedSize)};
}
