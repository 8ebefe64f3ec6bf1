// The stream checksum as the decoding builds it up: on the decoding's own
// thread (ChecksumRun), or on a free worker of the engine beside it
// (ChecksumBeside). Internal to pack/.
#pragma once

#include <algorithm>
#include <cstdint>

#include "pack/decoder.h"
#include "pack/decoder_internal.h"

namespace decoder_parts {

// The checksum of data[0, size) built up while the data is written: each
// whole word below the output position is final (later copies never change
// earlier bytes), so it is added while still in the cache instead of in a
// second pass over the output.
//
// sum:  the checksum of the words before `at`
// at:   the next word's offset; whole words up to size are taken
struct ChecksumRun {
  uint32_t sum = 0;
  uint32_t at = 0;

  // Takes the whole words of data[at, min(upTo, size)). Four words a step:
  // the rotations do not depend on the sum and run ahead of its chain of an
  // add and a xor per word.
  void Advance(const uint8_t* data, uint32_t upTo, uint32_t size) {
    uint32_t limit = std::min(upTo, size);
    if (limit <= at) return;
    const uint8_t* p = data + at;
    const uint8_t* end = p + ((limit - at) & ~3u);
    uint32_t s = sum;
    for (; end - p >= 16; p += 16) {
      s = ChecksumStep(ChecksumStep(ChecksumStep(ChecksumStep(s, Load32(p)), Load32(p + 4)), Load32(p + 8)),
                       Load32(p + 12));
    }
    for (; p < end; p += 4) s = ChecksumStep(s, Load32(p));
    sum = s;
    at = uint32_t(end - data);
  }

  // The whole checksum, once data[0, size) is written: the last word
  // overlaps the one before when size is not a multiple of 4.
  uint32_t Finish(const uint8_t* data, uint32_t size) {
    if (size < 4) return 0;
    Advance(data, size, size);
    return at < size ? ChecksumStep(sum, Load32(data + size - 4)) : sum;
  }
};

// The checksum taken on a worker beside the decoding: the decoder says after
// each step how far its output is final, and the worker adds the whole words
// below that while the decoder goes on. The same words in the same order as
// ChecksumRun alone, so the same sum. The worker waits until a chunk more is
// final, so that it takes a second core only while there is work for it.
// When the engine has no free worker, or the worker has not begun by the
// end, the decoder's thread takes the sum itself.
class ChecksumBeside {
 public:
  ChecksumBeside() = default;
  ChecksumBeside(const ChecksumBeside&) = delete;
  ChecksumBeside& operator=(const ChecksumBeside&) = delete;
  ~ChecksumBeside() { Stop(); }

  // False when no worker is free: then nothing runs.
  bool Start(WorkAhead* engine, const uint8_t* data, uint32_t size);
  // The output below upTo is final: no later token changes it.
  void Final(uint32_t upTo) { final_.Advance(upTo); }
  // The checksum, once data[0, size) is final.
  uint32_t Finish();

 private:
  static constexpr uint32_t CHUNK = 256 << 10;

  void Stop();
  void Run();

  WorkAhead* engine_ = nullptr;
  const uint8_t* data_ = nullptr;
  uint32_t size_ = 0;
  ChecksumRun run_;  // the worker's alone until it is withdrawn
  DecodeProgress final_;
};

}  // namespace decoder_parts
