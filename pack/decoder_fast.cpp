// The decoder's fast loop: the common tokens, without the per-step bounds
// checks that the careful path in decoder.cpp makes, because it runs only
// while the named margins of decoder_internal.h hold.
#include <cpuid.h>

#include <algorithm>
#include <cstring>

#include "pack/decoder_internal.h"

namespace decoder_parts {

namespace {

// Where the fast loop may read: BufferReader says it by its next word...
bool Within(const BufferReader& reader, const uint8_t* inLimit, int32_t) {
  return reader.in <= inLimit;
}
// ... the cursor by its bit position, against a limit computed once.
bool Within(const CursorReader& reader, const uint8_t*, int32_t posLimit) {
  return reader.pos <= posLimit;
}

void StoreReader(const BufferReader& reader, BufferReader& to) {
  to = reader;
}
void StoreReader(const CursorReader& reader, BufferReader& to) {
  reader.StoreInto(to);
}

// For the literal step: the prefix bits of three literals of `taken` bits
// (prefix included) at the top of a window, and the bit after the third.
constexpr uint32_t LiteralStops(unsigned taken) {
  return 1u << 31 | 1u << (31 - taken) | 1u << (31 - 2 * taken);
}
constexpr uint32_t LiteralEnd(unsigned taken) {
  return 1u << (31 - 3 * taken);
}

// Input a cursor covers in one call, so that bit positions fit 32 bits; the
// caller calls again.
constexpr size_t CURSOR_SPAN = size_t(1) << 26;

// The state lives in locals here, so that it stays in registers; it goes back
// to the caller at each way out. Always inlined, so that each caller below
// compiles it for its own instruction set.
template <typename Reader, FastCode CODE>
[[gnu::always_inline]] inline FastStop DecodeFast(DecoderState& state, const uint8_t* inLimit, uint8_t* const outStart,
                                                  const uint8_t* const outLimit, const uint8_t* const outEnd) {
  Reader reader(state.reader);
  // The cursor's limit (the caller has in <= inLimit): the word holding its
  // next bit starts at most at inLimit.
  const int32_t posLimit = int32_t(std::min(size_t(inLimit - state.reader.in), CURSOR_SPAN) * 8);
  uint8_t* out = state.out;
  uint32_t lastOffset = state.lastOffset;
  unsigned indexBits = state.indexBits;
  unsigned literalTaken = 1 + state.literalWidth;
  uint32_t literalAdd = state.literalAdd;
  uint32_t literalStops = LiteralStops(literalTaken);
  uint32_t literalEnd = LiteralEnd(literalTaken);
  FastStop stop = FastStop::Margin;

  // With the buffer a token's first bits are at hand and the refill follows
  // (TakeWindow): no token takes more than 32 bits after a refill before it
  // refills again (a normal match after its offset, long gammas in Gamma).
  reader.PeekInside();
  while (Within(reader, inLimit, posLimit) && out <= outLimit) {
    uint32_t window = reader.TakeWindow();

    if (IsLiteral(window)) {
      if (literalTaken == 1 + LITERAL_WIDTH_UNSET) break;
      // The window holds 32 bits, three literals of at most 9: one peek for
      // up to three of a run. All three are written and only those that are
      // literals kept (the output margin has room), so that the end of a run
      // costs no branch.
      uint32_t second = window << literalTaken;
      uint32_t third = second << literalTaken;
      out[0] = uint8_t(LiteralWithPrefix(window, literalTaken) + literalAdd);
      out[1] = uint8_t(LiteralWithPrefix(second, literalTaken) + literalAdd);
      out[2] = uint8_t(LiteralWithPrefix(third, literalTaken) + literalAdd);
      // The bits they take run to the first prefix bit 0 after the first
      // (or to the bit after the third): three steps on the bit position's
      // chain of dependent steps. 8 or 9 bits each: the bits / 8 are the
      // count.
      unsigned skip = unsigned(__builtin_clz((~window & literalStops) | literalEnd));
      out += skip >> 3;
      reader.Skip(skip);
      continue;
    }

    uint32_t distance;
    uint32_t length;
    if (IsNormalMatch(window)) {
      // A repeat match is told from the window at once, so that the branch
      // does not wait for the offset gamma's bit count.
      if (IsRepeatMatch(window)) {  // the last offset again; no length bonus
        GammaShort repeatLength = GAMMA_SHORT.entries[(window << REPEAT_MATCH_HEAD_BITS) >> (32 - GAMMA_TABLE_BITS)];
        if (repeatLength.bits != 0) {
          reader.Skip(REPEAT_MATCH_HEAD_BITS + repeatLength.bits);
          length = repeatLength.value;
        } else {
          reader.Skip(REPEAT_MATCH_HEAD_BITS);
          length = Gamma<true>(reader);
        }
        distance = lastOffset;
        if (length == 0 || length > size_t(outEnd - out)) {
          stop = FastStop::Bad;
          break;
        }
      } else {
        // The offset's gamma number (3 or more), from the window when it ends
        // there (15 pairs, offsets into the millions): not from the table,
        // whose hits and misses would alternate on offsets of mixed sizes.
        uint32_t gamma;
        unsigned fromWindow = 32;  // bits of the window the prefix and the gamma took
        uint32_t head = window << MATCH_PREFIX_BITS;
        uint32_t stops = ~head & 0x55555554u;  // the last 2 bits were shifted in
        if (stops != 0) {
          unsigned used;
          gamma = GammaFromStops<CODE == FastCode::BitOps>(head, stops, &used);
          reader.Skip(MATCH_PREFIX_BITS + used);
          fromWindow = MATCH_PREFIX_BITS + used;
        } else {
          reader.Skip(MATCH_PREFIX_BITS);
          gamma = Gamma<true>(reader);
          if (gamma == 0) {
            stop = FastStop::Bad;
            break;
          }
        }
        uint32_t high = gamma - 3;
        // The low offset bits and the length's first bits. The cursor's look
        // at the stream waits for two loads: it takes them from the window
        // when the window holds them (most offsets). The buffer has them at
        // hand, and refills for the rest of the token.
        uint32_t fields = Reader::PEEK_LOADS && fromWindow + indexBits <= 32 - GAMMA_TABLE_BITS ? window << fromWindow
                                                                                                : reader.TakeWindow();
        uint32_t low = indexBits != 0 ? fields >> (32 - indexBits) : 0;
        distance = (high << indexBits) + low;  // modulo 2^32, as the format defines it
        lastOffset = distance;
        GammaShort tail = indexBits <= 32 - GAMMA_TABLE_BITS
                              ? GAMMA_SHORT.entries[(fields << indexBits) >> (32 - GAMMA_TABLE_BITS)]
                              : GammaShort{};
        if (tail.bits != 0) {
          reader.Skip(indexBits + tail.bits);
          length = tail.value;
        } else {
          reader.Skip(indexBits);
          length = Gamma<true>(reader);
        }
        // The room is at least FAST_OUTPUT_MARGIN, more than any bonus: the
        // test needs no wider type.
        uint32_t bonus = LengthBonus(distance);
        if (length == 0 || length > uint32_t(outEnd - out) - bonus) {
          stop = FastStop::Bad;
          break;
        }
        length += bonus;
      }
      // Distance 0 wraps round to the largest value: one test for both ends.
      if (uint32_t(distance - 1) >= size_t(out - outStart)) {
        stop = FastStop::Bad;
        break;
      }
      CopyMatch(out, outEnd, distance, length);
      continue;
    }

    if (IsOneByteCode(window)) {
      uint32_t code = OneByteCode(window);
      if (code == 0) {
        if (IsRawBlocksEscape(window)) break;  // the careful path
        // A literal-width code. Binary data switches before most literal
        // runs: in the loop, without a branch.
        uint32_t wide = LiteralWidthBit(window);
        literalTaken = 8 + wide;
        literalStops = LiteralStops(literalTaken);
        literalEnd = LiteralEnd(literalTaken);
        literalAdd = (LiteralBase(window) - 0x80) & (wide - 1);
        reader.Skip(LiteralWidthCodeBits(wide));
        continue;
      }
      if (code >= 2) {
        if (code - 1 > size_t(out - outStart)) {
          stop = FastStop::Bad;
          break;
        }
        *out = out[-ptrdiff_t(code - 1)];
      } else {
        *out = 0;
      }
      out++;
      reader.Skip(ONE_BYTE_CODE_BITS);
      continue;
    }

    // A short match; offset 0 is the end code (for the careful path) or the
    // index-bits code.
    distance = ShortMatchOffset(window);
    length = ShortMatchN(window) + 2;
    if (distance == 0) {
      uint32_t n = length - 2;
      if (n == 0) break;
      unsigned newIndexBits = IndexBitsValue(window, n);
      if (newIndexBits > INDEX_BITS_MAX) break;  // bad data, said by the careful path
      indexBits = newIndexBits;
      reader.Skip(SHORT_MATCH_BITS + IndexBitsWidth(n));
      continue;
    }
    if (distance > size_t(out - outStart)) {
      stop = FastStop::Bad;
      break;
    }
    reader.Skip(SHORT_MATCH_BITS);
    lastOffset = distance;
    const uint8_t* from = out - distance;
    if (distance >= NARROW_CHUNK) {
      memcpy(out, from, NARROW_CHUNK);
    } else {
      // Forward, byte by byte: always 5, the longest short match; the ones
      // past its length are overwritten later.
      out[0] = from[0];
      out[1] = from[1];
      out[2] = from[2];
      out[3] = from[3];
      out[4] = from[4];
    }
    out += length;
  }

  StoreReader(reader, state.reader);
  state.out = out;
  state.lastOffset = lastOffset;
  state.indexBits = indexBits;
  state.literalWidth = literalTaken - 1;
  state.literalAdd = literalAdd;
  return stop;
}

template <typename Reader>
[[gnu::target("bmi,bmi2,lzcnt,sse2")]] FastStop DecodeFastBitOps(DecoderState& state, const uint8_t* inLimit,
                                                                 uint8_t* outStart, const uint8_t* outLimit,
                                                                 const uint8_t* outEnd) {
  return DecodeFast<Reader, FastCode::BitOps>(state, inLimit, outStart, outLimit, outEnd);
}

}  // namespace

template <typename Reader, FastCode CODE>
FastStop DecodeFastTokens(DecoderState& state, const uint8_t* inLimit, uint8_t* const outStart,
                          const uint8_t* const outLimit, const uint8_t* const outEnd) {
  if constexpr (CODE == FastCode::BitOps) {
    return DecodeFastBitOps<Reader>(state, inLimit, outStart, outLimit, outEnd);
  } else {
    return DecodeFast<Reader, FastCode::Portable>(state, inLimit, outStart, outLimit, outEnd);
  }
}

template FastStop DecodeFastTokens<BufferReader, FastCode::Portable>(DecoderState&, const uint8_t*, uint8_t*,
                                                                     const uint8_t*, const uint8_t*);
template FastStop DecodeFastTokens<BufferReader, FastCode::BitOps>(DecoderState&, const uint8_t*, uint8_t*,
                                                                   const uint8_t*, const uint8_t*);
template FastStop DecodeFastTokens<CursorReader, FastCode::Portable>(DecoderState&, const uint8_t*, uint8_t*,
                                                                     const uint8_t*, const uint8_t*);
template FastStop DecodeFastTokens<CursorReader, FastCode::BitOps>(DecoderState&, const uint8_t*, uint8_t*,
                                                                   const uint8_t*, const uint8_t*);

bool BitOpsAvailable() {
  static const bool available = [] {
    unsigned a, b, c, d;
    if (!__get_cpuid(0, &a, &b, &c, &d)) return false;
    bool intel = b == 0x756E6547 && d == 0x49656E69 && c == 0x6C65746E;  // "GenuineIntel"
    bool amd = b == 0x68747541 && d == 0x69746E65 && c == 0x444D4163;    // "AuthenticAMD"
    if (!intel && !amd) return false;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    bool sse2 = (d >> 26) & 1;
    unsigned family = (a >> 8) & 0xF;
    if (family == 0xF) family += (a >> 20) & 0xFF;
    if (amd && family < 0x19) return false;
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
    bool bmi1 = (b >> 3) & 1, bmi2 = (b >> 8) & 1;
    if (!__get_cpuid(0x80000001, &a, &b, &c, &d)) return false;
    bool lzcnt = (c >> 5) & 1;
    return bmi1 && bmi2 && lzcnt && sse2;
  }();
  return available;
}

}  // namespace decoder_parts
