// Testing a stream's checksum against its field once the stream is decoded.
//
// Each word's step is an add and a xor on the sum, so one chain of sums
// costs two operations' latency a word however wide the loop. A step can be
// undone (ChecksumStepBack), and the field is the sum after the last word:
// the sums meet in the middle when the first half is stepped on from 0 and
// the second half stepped back from the field. The two chains do not depend
// on each other and run side by side, twice the words a cycle of one chain.
// The test is the same as computing the sum and comparing it, since every
// step is a bijection of the 32-bit sums.
#include "pack/decoder_internal.h"

bool decoder_parts::StreamChecksumMatches(const uint8_t* data, uint32_t size, uint32_t expected) {
  if (size < 4) return expected == 0;
  uint32_t words = size / 4;
  // The sum after the whole words: the overlapping last word undone first.
  uint32_t back = size % 4 != 0 ? ChecksumStepBack(expected, Load32(data + size - 4)) : expected;
  uint32_t front = 0;
  // front: the sum after the words before p; back: the sum after the words
  // before q. p climbs from the start, q falls from the last whole word.
  const uint8_t* p = data;
  const uint8_t* q = data + size_t(words) * 4;
  const uint8_t* middle = data + size_t(words / 2) * 4;
  for (; middle - p >= 16; p += 16, q -= 16) {
    front = ChecksumStep(front, Load32(p));
    back = ChecksumStepBack(back, Load32(q - 4));
    front = ChecksumStep(front, Load32(p + 4));
    back = ChecksumStepBack(back, Load32(q - 8));
    front = ChecksumStep(front, Load32(p + 8));
    back = ChecksumStepBack(back, Load32(q - 12));
    front = ChecksumStep(front, Load32(p + 12));
    back = ChecksumStepBack(back, Load32(q - 16));
  }
  for (; p < middle; p += 4, q -= 4) {
    front = ChecksumStep(front, Load32(p));
    back = ChecksumStepBack(back, Load32(q - 4));
  }
  // An odd count leaves the middle word to the front.
  if (p < q) front = ChecksumStep(front, Load32(p));
  return front == back;
}
