// The stream's token format, in one place for the decoder's careful path
// and its fast loop: each field of a token as a named extractor from a
// window, the stream's next 32 bits with the token's first bit in bit 31.
// Internal to pack/.
//
//   1      single literal: literal-width bits, the literal base added
//   0 1    normal match: an offset gamma (2: repeat match, else the high
//          offset bits, then index-bits low bits) and a length gamma
//   0 0 1  one-byte code: 4 bits; 0 is an escape, then one bit: 1 raw
//          blocks, 0 a literal-width code (one bit w, and for width 7 an
//          8-bit base)
//   0 0 0  short match: 7 offset bits, 2 bits n (length n + 2); offset 0
//          is the end code (n 0) or the index-bits code (n + 3 more bits)
#pragma once

#include <cstdint>

namespace decoder_parts {

// The offset of a normal match is computed in 32 bits: a shift of 32 or more
// has no meaning there.
constexpr unsigned INDEX_BITS_MAX = 31;
constexpr unsigned INDEX_BITS_START = 8;
constexpr uint32_t RAW_BLOCK_SIZE = 256;
// Literal width 0: no literal-width code seen yet.
constexpr unsigned LITERAL_WIDTH_UNSET = 0;

// The prefix, tested in this order: each test holds only when the ones
// before it failed.
inline bool IsLiteral(uint32_t window) {
  return window >> 31;
}
inline bool IsNormalMatch(uint32_t window) {
  return window >> 30;
}
inline bool IsOneByteCode(uint32_t window) {
  return window >> 29;
}

// A single literal of `taken` bits, its prefix bit 1 included: the value
// with that bit on top (DecoderState::literalAdd takes it back out).
inline uint32_t LiteralWithPrefix(uint32_t window, unsigned taken) {
  return window >> (32 - taken);
}

constexpr unsigned MATCH_PREFIX_BITS = 2;
// A normal match whose offset gamma is 2 (data bit 0, stop bit 0): the last
// offset again. Its length gamma starts after REPEAT_MATCH_HEAD_BITS.
inline bool IsRepeatMatch(uint32_t window) {
  return (window & 0x30000000u) == 0;
}
constexpr unsigned REPEAT_MATCH_HEAD_BITS = MATCH_PREFIX_BITS + 2;

constexpr unsigned ONE_BYTE_CODE_BITS = 7;
// 1 writes 0; 2 to 15 copy a byte from distance 1 to 14; 0 is an escape.
inline uint32_t OneByteCode(uint32_t window) {
  return (window >> 25) & 0xF;
}
inline bool IsRawBlocksEscape(uint32_t window) {
  return (window >> 24) & 1;
}
constexpr unsigned RAW_BLOCKS_ESCAPE_BITS = 8;
// The literal-width code's w: the width is 7 + w.
inline uint32_t LiteralWidthBit(uint32_t window) {
  return (window >> 23) & 1;
}
// The base that follows w = 0.
inline uint32_t LiteralBase(uint32_t window) {
  return (window >> 15) & 0xFF;
}
// The code's bits: 9, and the base's 8 for width 7.
inline unsigned LiteralWidthCodeBits(uint32_t widthBit) {
  return 17 - 8 * widthBit;
}

constexpr unsigned SHORT_MATCH_BITS = 12;
inline uint32_t ShortMatchOffset(uint32_t window) {
  return (window >> 22) & 0x7F;
}
inline uint32_t ShortMatchN(uint32_t window) {
  return (window >> 20) & 3;
}
// The index-bits code (offset 0, n 1 to 3): its value's width, and its
// value, the new index bits.
inline unsigned IndexBitsWidth(uint32_t n) {
  return n + 3;
}
inline unsigned IndexBitsValue(uint32_t window, uint32_t n) {
  return (window >> (32 - SHORT_MATCH_BITS - IndexBitsWidth(n))) & ((1u << IndexBitsWidth(n)) - 1);
}

// 0-127: +4, 128-638: +0, 639-14,334: +1, 14,335-65,535: +2, 65,536 and up: +3.
// Summed comparisons rather than a chain of branches: offsets of mixed sizes
// would mispredict the chain often.
inline uint32_t LengthBonus(uint32_t offset) {
  return 4 * uint32_t(offset < 0x80) + uint32_t(offset >= 0x27F) + uint32_t(offset >= 0x37FF) +
         uint32_t(offset >= 0x10000);
}

}  // namespace decoder_parts
