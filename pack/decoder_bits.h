// The decoder's bit reading: the stream's 32-bit little-endian words, each
// taken from bit 31 down, through a 64-bit buffer or a bit cursor, and the
// gamma numbers read from them. Internal to pack/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace decoder_parts {

// A gamma number holds at most this many data bits, so that its value (a
// leading 1 and the data bits) fits 32 bits. No size in a stream needs more.
constexpr unsigned GAMMA_MAX_DATA_BITS = 31;

inline uint32_t Load32(const uint8_t* p) {
  uint32_t word;
  memcpy(&word, p, 4);  // the build targets are little-endian
  return word;
}

// The bit stream through a 64-bit buffer, refilled a word at a time. Peek()
// returns the next 32 bits (the next bit in bit 31) and Skip(n), n <= 32,
// consumes n of them. Bytes missing from the stream's last word are its high
// bits and read as zero; so do all words that start at or past the end of the
// source. Overran() says afterwards whether any bit of those phantom words
// was consumed. PeekInside() is Peek() for the fast loop, which runs only
// while whole words remain: it reads the next two words unchecked, so that
// all 64 bits of the buffer are then the stream's next bits, and after a
// skip of up to 32 Top() gives the next 32 without waiting for a load. The
// fast loop takes a token's first bits that way and refills while it
// decodes them, so that no load (nor the address computed from the count
// before it) is on the chain from one token to the next.
//
// In 64-bit builds the fast loop reads through this buffer too: with the
// cursor below, each peek waits for two loads whose address depends on the
// position.
//
// bits:       unread bits, aligned to the top; the bits below them are 0 or
//             the stream's next bits (see PeekInside)
// count:      how many of them come from the words before `in` (at least 32
//             after Peek); PeekInside() leaves the stream's next bits below
// in, inEnd:  the next stream byte and the end of the source
// phantoms:   zero words fed after the source ran out
struct BufferReader {
  static constexpr bool PEEK_LOADS = false;  // TakeWindow() waits for no load
  uint64_t bits;
  unsigned count;
  const uint8_t* in;
  const uint8_t* inEnd;
  uint32_t phantoms;

  BufferReader(const uint8_t* stream, const uint8_t* end) : bits(0), count(0), in(stream), inEnd(end), phantoms(0) {}

  uint32_t NextWord() {
    if (inEnd - in >= 4) {
      uint32_t word = Load32(in);
      in += 4;
      return word;
    }
    if (in == inEnd) {
      phantoms++;
      return 0;
    }
    uint32_t word = 0;
    for (unsigned shift = 0; in < inEnd; shift += 8) word |= uint32_t(*in++) << shift;
    return word;
  }

  uint32_t Peek() {
    if (count <= 32) {
      bits |= uint64_t(NextWord()) << (32 - count);
      count += 32;
    }
    return uint32_t(bits >> 32);
  }

  // Without a branch: the next two words are always put below the valid
  // bits, and the first taken only when fewer than 32 are valid. What is not
  // taken are the stream's own next bits, which a later load puts there
  // again: a branch on the count mispredicts often. count stays below 64 (the shift is defined), so bit 5
  // says whether it is below 32: setting that bit takes the word, and bit 5
  // of ~count moves `in`.
  uint32_t PeekInside() {
    uint64_t two;
    memcpy(&two, in, 8);
    bits |= (two << 32 | two >> 32) >> count;  // the first word's bits first
    in += (~count >> 3) & 4;
    count |= 32;
    return Top();
  }

  // The next 32 bits, when at most 32 were skipped since PeekInside().
  uint32_t Top() const { return uint32_t(bits >> 32); }

  // For the fast loop: the next 32 bits, at hand when at most 32 were
  // skipped since the last refill, and a refill for what follows them.
  uint32_t TakeWindow() {
    uint32_t window = Top();
    PeekInside();
    return window;
  }

  template <bool INSIDE>
  uint32_t PeekAny() {
    return INSIDE ? PeekInside() : Peek();
  }

  void Skip(unsigned n) {
    bits <<= n;
    count -= n;
  }

  bool Overran() const { return uint64_t(phantoms) * 32 > count; }

  // Bits taken so far, counted from the stream's first word; a partial last
  // word counts whole, as it is loaded whole.
  uint64_t Consumed(const uint8_t* start) const { return (uint64_t(in - start + 3) / 4 + phantoms) * 32 - count; }
};

// The fast loop's reader in 32-bit builds: a bit position over the source
// instead of a buffer. A peek is two loads and one double shift; there the
// 64-bit buffer takes two registers, each of its shifts by a variable count
// adds a test and two conditional moves, and the loop's state no longer fits
// the registers. Only within the fast loop's input margin: it reads whole words.
//
// base:  a word boundary of the stream
// pos:   the next bit, counted from base (negative before it)
struct CursorReader {
  static constexpr bool PEEK_LOADS = true;  // a peek waits for loads whose address it computes
  const uint8_t* base;
  int32_t pos;

  // Takes over where a BufferReader stands; its valid bits are the last
  // ones of the words before its `in`, all inside the source.
  explicit CursorReader(const BufferReader& from) : base(from.in), pos(-int32_t(from.count)) {}

  uint32_t PeekInside() const {
    const uint8_t* word = base + (pos >> 5) * 4;  // arithmetic shift: the word holding the next bit
#if defined(__i386__)
    // One double shift; built from a 64-bit value, the compiler adds moves
    // and ors around it.
    uint32_t high = Load32(word);
    __asm__("shldl %%cl, %2, %0" : "+r"(high) : "c"(uint32_t(pos)), "r"(Load32(word + 4)));
    return high;
#else
    uint64_t two = uint64_t(Load32(word)) << 32 | Load32(word + 4);
    return uint32_t((two << (pos & 31)) >> 32);
#endif
  }

  uint32_t TakeWindow() const { return PeekInside(); }

  template <bool INSIDE>
  uint32_t PeekAny() const {
    static_assert(INSIDE, "the cursor reads inside the source only");
    return PeekInside();
  }

  void Skip(unsigned n) {
    pos += int32_t(n);
  }

  // The BufferReader that continues from here: the rest of the current
  // word as its valid bits.
  void StoreInto(BufferReader& to) const {
    int32_t words = (pos + 31) >> 5;
    to.in = base + words * 4;
    to.count = unsigned(words * 32 - pos);
    to.bits = to.count != 0 ? uint64_t(Load32(to.in - 4)) << (64 - to.count) : 0;
  }
};

// 1 <= n <= 32.
template <bool INSIDE = false, typename Reader = BufferReader>
inline uint32_t Take(Reader& reader, unsigned n) {
  uint32_t window = reader.template PeekAny<INSIDE>();
  reader.Skip(n);
  return window >> (32 - n);
}

// Gamma numbers of up to 5 pairs (lengths up to 63) resolve from the next
// GAMMA_TABLE_BITS bits: the value and the number of bits used, or bits 0
// when all 5 continuation bits are 1. Five pairs hold the lengths of 32 and
// more that text has often.
constexpr unsigned GAMMA_TABLE_BITS = 10;
struct GammaShort {
  uint8_t value = 0;
  uint8_t bits = 0;
};

struct GammaTable {
  GammaShort entries[1u << GAMMA_TABLE_BITS];
  constexpr GammaTable() : entries() {
    for (unsigned head = 0; head < (1u << GAMMA_TABLE_BITS); head++) {
      unsigned value = 1;
      for (unsigned pair = 0; pair < GAMMA_TABLE_BITS / 2; pair++) {
        unsigned data = (head >> (GAMMA_TABLE_BITS - 1 - 2 * pair)) & 1;
        unsigned more = (head >> (GAMMA_TABLE_BITS - 2 - 2 * pair)) & 1;
        value = 2 * value + data;
        if (more == 0) {
          entries[head] = GammaShort{uint8_t(value), uint8_t(2 * pair + 2)};
          break;
        }
      }
    }
  }
};
inline constexpr GammaTable GAMMA_SHORT;

// Continuation bits sit at every second position from bit 30 down; the
// first 0 among them ends the number. From the window and `stops` (a 1 for
// each continuation bit that is 0; not all 0): the gamma number at the
// window's top, and in *used the bits it takes. Its data bits are gathered
// with a few mask-and-shift steps instead of a loop per bit, or with EXTRACT
// by the processor's parallel bit extract in one instruction: only in code
// compiled for BMI2 (see FastCode), written as assembly so that it needs no
// compiler flag.
template <bool EXTRACT = false>
[[gnu::always_inline]] inline uint32_t GammaFromStops(uint32_t window, uint32_t stops, unsigned* used) {
  unsigned bits = unsigned(__builtin_clz(stops)) + 1;  // through the ending bit; even, at most 32
  uint32_t x = (window >> (32 - bits)) >> 1;           // data bits now at the even positions
  if constexpr (EXTRACT) {
    __asm__("pextl %1, %0, %0" : "+r"(x) : "r"(0x55555555u));
  } else {
    x &= 0x55555555u;
    x = (x | x >> 1) & 0x33333333u;
    x = (x | x >> 2) & 0x0F0F0F0Fu;
    x = (x | x >> 4) & 0x00FF00FFu;
    x = (x | x >> 8) & 0x0000FFFFu;
  }
  *used = bits;
  return uint32_t(1) << (bits / 2) | x;
}

// Numbers of up to 5 pairs come from a table; 0 when the number is wider
// than 32 bits (valid ones are at least 2).
template <bool INSIDE, typename Reader>
[[gnu::always_inline]] inline uint32_t Gamma(Reader& reader) {
  uint32_t window = reader.template PeekAny<INSIDE>();
  GammaShort entry = GAMMA_SHORT.entries[window >> (32 - GAMMA_TABLE_BITS)];
  if (entry.bits != 0) {
    reader.Skip(entry.bits);
    return entry.value;
  }
  uint32_t stops = ~window & 0x55555555u;
  if (stops != 0) {
    unsigned used;
    uint32_t value = GammaFromStops(window, stops, &used);
    reader.Skip(used);
    return value;
  }
  // More than 16 data bits: one pair at a time.
  uint32_t value = 1;
  for (unsigned dataBits = 1;; dataBits++) {
    uint32_t pair = Take<INSIDE, Reader>(reader, 2);
    if (dataBits > GAMMA_MAX_DATA_BITS) return 0;
    value = 2 * value + (pair >> 1);
    if ((pair & 1) == 0) return value;
  }
}

}  // namespace decoder_parts
