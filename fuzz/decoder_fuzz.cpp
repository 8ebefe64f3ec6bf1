// The decoder on any input: the first two bytes give the output capacity,
// the rest is the stream. The stream ends right before a no-access page; the
// output has a canary behind it. Every result must be the plain reference
// decoder's, and a successful decode must give the same bytes.
#include <cstdlib>
#include <cstring>
#include <type_traits>
#include <vector>

#include "fuzz/fuzz_target.h"
#include "pack/decoder.h"
#include "pack/decoder_internal.h"
#include "pack/work_ahead.h"
#include "tests/support/guarded_buffer.h"
#include "tests/support/reference_decoder.h"

namespace {

constexpr size_t CANARY_SIZE = 16;
constexpr uint8_t CANARY = 0xA7;

void Require(bool condition) {
  if (!condition) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > 0xFFFFFFFFu) return 0;
  uint32_t capacity = uint32_t(data[0]) | uint32_t(data[1]) << 8;
  uint32_t streamSize = uint32_t(size - 2);
  GuardedBuffer stream(streamSize);
  Require(stream.Data() != nullptr);
  if (streamSize > 0) memcpy(stream.Data(), data + 2, streamSize);

  std::vector<uint8_t> output(capacity + CANARY_SIZE, CANARY);
  uint32_t written = 0;
  bool sound = DecodeCompressedStreamChecked(stream.Data(), streamSize, output.data(), capacity, &written);
  uint32_t result = sound ? written : 0;
  for (size_t i = capacity; i < output.size(); i++) Require(output[i] == CANARY);
  Require(written <= capacity);

  ReferenceResult expected = ReferenceDecode(stream.Data(), streamSize, capacity);
  Require(result == expected.result);
  if (result != 0) Require(memcmp(output.data(), expected.output.data(), result) == 0);

  // The fast loop's other reader and other instruction set (each build and
  // processor uses one of them) must give the same verdict and bytes.
  using namespace decoder_parts;
  auto decodeOther =
      std::is_same_v<FastReader, CursorReader> ? DecodeStreamWith<BufferReader> : DecodeStreamWith<CursorReader>;
  static WorkAhead engine(2);
  auto compare = [&](bool (*decode)(const void*, uint32_t, void*, uint32_t, uint32_t*, FastCode, uint32_t, WorkAhead*),
                     FastCode code, uint32_t besideFrom = BESIDE_NEVER) {
    std::vector<uint8_t> other(capacity + CANARY_SIZE, CANARY);
    uint32_t otherWritten = 0;
    bool otherSound =
        decode(stream.Data(), streamSize, other.data(), capacity, &otherWritten, code, besideFrom, &engine);
    for (size_t i = capacity; i < other.size(); i++) Require(other[i] == CANARY);
    Require(otherSound == sound && otherWritten == written);
    Require(memcmp(other.data(), output.data(), written) == 0);
  };
  compare(decodeOther, FastCode::Portable);
  // The checksum beside the decoding, for every size.
  compare(DecodeStreamWith<FastReader>, FastCode::Portable, 0);
  if (BitOpsAvailable()) {
    compare(DecodeStreamWith<FastReader>, FastCode::Portable);
    compare(decodeOther, FastCode::BitOps);
  }
  return 0;
}
