#include "pack/decoder.h"

#include <cstddef>
#include <cstring>

namespace {

// A gamma number holds at most this many data bits, so that its value (a
// leading 1 and the data bits) fits 32 bits. No size in a stream needs more.
constexpr unsigned GAMMA_MAX_DATA_BITS = 31;
// The offset of a normal match is computed in 32 bits: a shift of 32 or more
// has no meaning there.
constexpr unsigned INDEX_BITS_MAX = 31;
constexpr unsigned INDEX_BITS_START = 8;
constexpr uint32_t RAW_BLOCK_SIZE = 256;
// Wide copies move COPY_CHUNK bytes at a time and so may write up to
// COPY_CHUNK - 1 bytes past the end of a match; they run only while the
// output has that much room left, and those bytes are overwritten later.
constexpr size_t COPY_CHUNK = 8;
// Literal width 0: no literal-width code seen yet.
constexpr unsigned LITERAL_WIDTH_UNSET = 0;

uint32_t Load32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint32_t RotateLeft1(uint32_t w) {
  return (w << 1) | (w >> 31);
}

// Gamma numbers of up to 4 pairs resolve from the next 8 bits: the value and
// the number of bits used, or bits 0 when all 4 continuation bits are 1.
struct GammaShort {
  uint8_t value = 0;
  uint8_t bits = 0;
};

struct GammaTable {
  GammaShort entries[256];
  constexpr GammaTable() : entries() {
    for (unsigned byte = 0; byte < 256; byte++) {
      unsigned value = 1;
      for (unsigned pair = 0; pair < 4; pair++) {
        unsigned data = (byte >> (7 - 2 * pair)) & 1;
        unsigned more = (byte >> (6 - 2 * pair)) & 1;
        value = 2 * value + data;
        if (more == 0) {
          entries[byte] = GammaShort{uint8_t(value), uint8_t(2 * pair + 2)};
          break;
        }
      }
    }
  }
};
constexpr GammaTable GAMMA_SHORT;

// The bit stream as a 64-bit buffer, next bit at bit 63.
//
// bits:        unread bits, aligned to the top; the bits below them are 0
// count:       how many of them are valid (Refill keeps at least 32)
// in, inEnd:   the next stream byte and the end of the source
// phantoms:    zero words fed after the source ran out
//
// A stream's last word may stop up to 3 bytes short of the source's end; its
// missing bytes are its high bits and read as zero. Words that start at or
// past the end are fed as zero too, so the hot loop needs no input checks;
// Overran() says afterwards whether any of their bits were consumed.
struct BitReader {
  uint64_t bits;
  unsigned count;
  const uint8_t* in;
  const uint8_t* inEnd;
  uint32_t phantoms;

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

  void Refill() {
    if (count <= 32) {
      bits |= uint64_t(NextWord()) << (32 - count);
      count += 32;
    }
  }

  bool Top() const { return (bits >> 63) != 0; }
  bool Second() const { return ((bits >> 62) & 1) != 0; }
  bool Third() const { return ((bits >> 61) & 1) != 0; }

  // 1 <= n <= 32, n <= count.
  uint32_t Take(unsigned n) {
    uint32_t value = uint32_t(bits >> (64 - n));
    bits <<= n;
    count -= n;
    return value;
  }

  // 0 when the gamma number is wider than 32 bits (valid ones are >= 2).
  uint32_t Gamma() {
    Refill();
    GammaShort entry = GAMMA_SHORT.entries[bits >> 56];
    if (entry.bits != 0) {
      bits <<= entry.bits;
      count -= entry.bits;
      return entry.value;
    }
    return GammaLong();
  }

  // Continuation bits sit at every second position from bit 62 down; the
  // first 0 among them ends the number. Its data bits are gathered with a
  // few mask-and-shift steps instead of a loop per bit.
  uint32_t GammaLong() {
    uint64_t stops = ~bits & 0x5555555555555555ULL;
    if (stops != 0) {
      unsigned last = unsigned(__builtin_clzll(stops));  // position of the ending bit, from the top
      unsigned used = last + 1;
      if (used <= count) {
        unsigned dataBits = used / 2;
        if (dataBits > GAMMA_MAX_DATA_BITS) return 0;
        uint64_t x = (bits >> (64 - used)) >> 1;  // data bits now at the even positions
        x &= 0x5555555555555555ULL;
        x = (x | x >> 1) & 0x3333333333333333ULL;
        x = (x | x >> 2) & 0x0F0F0F0F0F0F0F0FULL;
        x = (x | x >> 4) & 0x00FF00FF00FF00FFULL;
        x = (x | x >> 8) & 0x0000FFFF0000FFFFULL;
        x = (x | x >> 16) & 0x00000000FFFFFFFFULL;
        bits <<= used;
        count -= used;
        return uint32_t(1) << dataBits | uint32_t(x);
      }
    }
    // Longer than the buffered bits: one pair at a time.
    uint32_t value = 1;
    unsigned dataBits = 0;
    for (;;) {
      Refill();
      uint32_t pair = Take(2);
      if (++dataBits > GAMMA_MAX_DATA_BITS) return 0;
      value = 2 * value + (pair >> 1);
      if ((pair & 1) == 0) return value;
    }
  }

  bool Overran() const { return uint64_t(phantoms) * 32 > count; }
};

uint32_t LengthBonus(uint32_t offset) {
  if (offset < 0x80) return 4;
  if (offset < 0x27F) return 0;
  if (offset < 0x37FF) return 1;
  if (offset < 0x10000) return 2;
  return 3;
}

// Copies length bytes from distance bytes back, with the result of a forward
// byte-by-byte copy. The caller has checked distance and length.
void CopyMatch(uint8_t*& out, const uint8_t* outEnd, uint32_t distance, uint32_t length) {
  uint8_t* end = out + length;
  const uint8_t* from = out - distance;
  if (size_t(outEnd - end) >= COPY_CHUNK) {
    if (distance == 1) {
      memset(out, out[-1], length);
      out = end;
      return;
    }
    if (distance < COPY_CHUNK) {
      // The copy repeats the last `distance` bytes. Once a few have been
      // copied one by one, a multiple of the distance that is at least
      // COPY_CHUNK gives the same bytes and lets chunks move without overlap.
      uint32_t stretched = (uint32_t(COPY_CHUNK) + distance - 1) / distance * distance;
      uint32_t single = stretched - distance;
      if (length <= single) single = length;
      for (uint32_t i = 0; i < single; i++) out[i] = from[i];
      out += single;
      from = out - stretched;
    }
    while (out < end) {
      memcpy(out, from, COPY_CHUNK);
      out += COPY_CHUNK;
      from += COPY_CHUNK;
    }
    out = end;
    return;
  }
  while (out < end) *out++ = *from++;
}

}  // namespace

uint32_t StreamChecksum(const uint8_t* data, uint32_t size) {
  uint32_t sum = 0;
  if (size < 4) return sum;
  auto add = [&sum](uint32_t word) {
    sum += word;
    sum ^= RotateLeft1(word) + 1;
  };
  uint32_t at = 0;
  for (; size - at >= 4; at += 4) add(Load32(data + at));
  if (at < size) add(Load32(data + size - 4));
  return sum;
}

uint32_t DecodeCompressedStreamCounted(const void* source, uint32_t sourceSize, void* destination,
                                       uint32_t destinationSize, uint32_t* written) {
  uint32_t ignored;
  if (written == nullptr) written = &ignored;
  *written = 0;
  if (source == nullptr || destination == nullptr || sourceSize < STREAM_HEADER_SIZE) return 0;
  const uint8_t* header = static_cast<const uint8_t*>(source);
  if ((header[0] | header[1] << 8) != STREAM_MAGIC) return 0;
  uint32_t decodedSize = Load32(header + 2);
  uint32_t checksum = Load32(header + 6);

  BitReader reader{0, 0, header + STREAM_HEADER_SIZE, header + sourceSize, 0};
  uint8_t* const outStart = static_cast<uint8_t*>(destination);
  const uint8_t* const outEnd = outStart + destinationSize;
  // Decoder state: out (next byte to write), the bit reader, and these.
  uint8_t* out = outStart;
  uint32_t lastOffset = 1;
  unsigned indexBits = INDEX_BITS_START;
  unsigned literalWidth = LITERAL_WIDTH_UNSET;
  // Added to a literal taken together with its prefix bit 1: for width 8 the
  // prefix falls off the byte; for width 7 it is taken back out of the base.
  uint32_t literalAdd = 0;

  // The only way out on bad data: what was written so far, result 0.
  auto stop = [&]() -> uint32_t {
    *written = uint32_t(out - outStart);
    return 0;
  };

  for (;;) {
    reader.Refill();  // each token's fixed fields fit the 32 bits this keeps

    if (reader.Top()) {  // 1: single literal
      if (literalWidth == LITERAL_WIDTH_UNSET || out == outEnd) return stop();
      *out++ = uint8_t(reader.Take(1 + literalWidth) + literalAdd);
      continue;
    }

    uint32_t distance;
    uint32_t length;
    if (reader.Second()) {  // 0 1: normal match
      reader.Take(2);
      uint32_t gamma = reader.Gamma();
      if (gamma == 0) return stop();
      if (gamma == 2) {  // the last offset again; no length bonus
        length = reader.Gamma();
        if (length == 0) return stop();
        distance = lastOffset;
      } else {
        uint32_t high = gamma - 3;
        reader.Refill();
        uint32_t low = indexBits != 0 ? reader.Take(indexBits) : 0;
        distance = (high << indexBits) + low;  // modulo 2^32, as the format defines it
        lastOffset = distance;
        uint32_t gammaLength = reader.Gamma();
        if (gammaLength == 0) return stop();
        uint64_t withBonus = uint64_t(gammaLength) + LengthBonus(distance);
        if (withBonus > size_t(outEnd - out)) return stop();
        length = uint32_t(withBonus);
      }
    } else if (reader.Third()) {  // 0 0 1: one-byte code
      uint32_t code = reader.Take(7) & 0xF;
      if (code >= 2) {
        if (out == outEnd || code - 1 > size_t(out - outStart)) return stop();
        *out = out[-ptrdiff_t(code - 1)];
        out++;
        continue;
      }
      if (code == 1) {
        if (out == outEnd) return stop();
        *out++ = 0;
        continue;
      }
      if (reader.Take(1) == 0) {  // escape 0: literal width, and for 7 bits a base
        literalWidth = 7 + reader.Take(1);
        literalAdd = literalWidth == 7 ? reader.Take(8) - 0x80 : 0;
        continue;
      }
      do {  // escape 1: raw blocks of 256 bytes, 8 bits each, no base
        if (size_t(outEnd - out) < RAW_BLOCK_SIZE) return stop();
        for (uint32_t i = 0; i < RAW_BLOCK_SIZE; i += 4) {
          reader.Refill();
          uint32_t four = reader.Take(32);
          out[i] = uint8_t(four >> 24);
          out[i + 1] = uint8_t(four >> 16);
          out[i + 2] = uint8_t(four >> 8);
          out[i + 3] = uint8_t(four);
        }
        out += RAW_BLOCK_SIZE;
        reader.Refill();
      } while (reader.Take(1) != 0);
      continue;
    } else {  // 0 0 0: short match, end code or index-bits code
      uint32_t fields = reader.Take(12);
      uint32_t offset = (fields >> 2) & 0x7F;
      uint32_t n = fields & 3;
      if (offset == 0) {
        if (n == 0) break;
        indexBits = reader.Take(n + 3);
        if (indexBits > INDEX_BITS_MAX) return stop();
        continue;
      }
      lastOffset = offset;
      distance = offset;
      length = n + 2;
    }

    if (distance == 0 || distance > size_t(out - outStart) || length > size_t(outEnd - out)) return stop();
    CopyMatch(out, outEnd, distance, length);
  }

  if (reader.Overran()) return stop();
  uint32_t count = uint32_t(out - outStart);
  *written = count;
  if (checksum == 0) return count;
  // A checksum over bytes the stream did not write would test stale memory.
  if (decodedSize > count) return 0;
  return StreamChecksum(outStart, decodedSize) == checksum ? count : 0;
}

uint32_t DecodeCompressedStream(const void* source, uint32_t sourceSize, void* destination, uint32_t destinationSize) {
  return DecodeCompressedStreamCounted(source, sourceSize, destination, destinationSize, nullptr);
}
