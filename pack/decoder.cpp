#include "pack/decoder.h"

#include <algorithm>
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
// Wide copies move WIDE_CHUNK bytes at a time (NARROW_CHUNK for distances
// below it) and so may write up to WIDE_CHUNK - 1 bytes past the end of a
// match; they run only while the output has COPY_SLACK bytes of room beyond
// the match, and the bytes they write past it are overwritten later.
constexpr size_t WIDE_CHUNK = 16;
constexpr size_t NARROW_CHUNK = 8;
constexpr size_t COPY_SLACK = WIDE_CHUNK;
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

// The bit stream through a 64-bit buffer, refilled a word at a time. Peek()
// returns the next 32 bits (the next bit in bit 31) and Skip(n), n <= 32,
// consumes n of them. Bytes missing from the stream's last word are its high
// bits and read as zero; so do all words that start at or past the end of the
// source, which lets the hot loop run without input checks. Overran() says
// afterwards whether any bit of those phantom words was consumed.
//
// A cursor (word index and bit shift, two loads and a double shift per peek)
// was measured as well: it keeps less state, but was no faster in the 32-bit
// build and slower in the 64-bit one.
//
// bits:       unread bits, aligned to the top; the bits below them are 0
// count:      how many of them are valid (at least 32 after Peek)
// in, inEnd:  the next stream byte and the end of the source
// phantoms:   zero words fed after the source ran out
struct BufferReader {
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

  void Skip(unsigned n) {
    bits <<= n;
    count -= n;
  }

  bool Overran() const { return uint64_t(phantoms) * 32 > count; }

  // Bits taken so far, counted from the stream's first word; a partial last
  // word counts whole, as it is loaded whole.
  uint64_t Consumed(const uint8_t* start) const { return (uint64_t(in - start + 3) / 4 + phantoms) * 32 - count; }
};

// 1 <= n <= 32.
uint32_t Take(BufferReader& reader, unsigned n) {
  uint32_t window = reader.Peek();
  reader.Skip(n);
  return window >> (32 - n);
}

// Continuation bits sit at every second position from bit 30 down; the
// first 0 among them ends the number. Its data bits are gathered with a few
// mask-and-shift steps instead of a loop per bit. Numbers of up to 4 pairs
// come from a table; 0 when the number is wider than 32 bits (valid ones are
// at least 2).
[[gnu::always_inline]] inline uint32_t Gamma(BufferReader& reader) {
  uint32_t window = reader.Peek();
  GammaShort entry = GAMMA_SHORT.entries[window >> 24];
  if (entry.bits != 0) {
    reader.Skip(entry.bits);
    return entry.value;
  }
  uint32_t stops = ~window & 0x55555555u;
  if (stops != 0) {
    unsigned used = unsigned(__builtin_clz(stops)) + 1;  // through the ending bit; even, at most 32
    uint32_t x = (window >> (32 - used)) >> 1;           // data bits now at the even positions
    x &= 0x55555555u;
    x = (x | x >> 1) & 0x33333333u;
    x = (x | x >> 2) & 0x0F0F0F0Fu;
    x = (x | x >> 4) & 0x00FF00FFu;
    x = (x | x >> 8) & 0x0000FFFFu;
    reader.Skip(used);
    return uint32_t(1) << (used / 2) | x;
  }
  // More than 16 data bits: one pair at a time.
  uint32_t value = 1;
  for (unsigned dataBits = 1;; dataBits++) {
    uint32_t pair = Take(reader, 2);
    if (dataBits > GAMMA_MAX_DATA_BITS) return 0;
    value = 2 * value + (pair >> 1);
    if ((pair & 1) == 0) return value;
  }
}

// 0-127: +4, 128-638: +0, 639-14,334: +1, 14,335-65,535: +2, 65,536 and up: +3.
// Summed comparisons rather than a chain of branches: offsets of mixed sizes
// would mispredict the chain often.
uint32_t LengthBonus(uint32_t offset) {
  return 4 * uint32_t(offset < 0x80) + uint32_t(offset >= 0x27F) + uint32_t(offset >= 0x37FF) +
         uint32_t(offset >= 0x10000);
}

// Copies length bytes from distance bytes back, with the result of a forward
// byte-by-byte copy. The caller has checked distance and length.
void CopyMatch(uint8_t*& out, const uint8_t* outEnd, uint32_t distance, uint32_t length) {
  uint8_t* end = out + length;
  const uint8_t* from = out - distance;
  if (size_t(outEnd - end) < COPY_SLACK) {
    while (out < end) *out++ = *from++;
    return;
  }
  if (distance >= WIDE_CHUNK) {
    do {
      memcpy(out, from, WIDE_CHUNK);
      out += WIDE_CHUNK;
      from += WIDE_CHUNK;
    } while (out < end);
    out = end;
    return;
  }
  if (distance == 1) {
    memset(out, out[-1], length);
    out = end;
    return;
  }
  if (distance < NARROW_CHUNK) {
    // The copy repeats the last `distance` bytes. Once a few have been
    // copied one by one, a multiple of the distance that is at least
    // NARROW_CHUNK gives the same bytes and lets chunks move without overlap.
    uint32_t stretched = (uint32_t(NARROW_CHUNK) + distance - 1) / distance * distance;
    uint32_t single = stretched - distance;
    if (length <= single) single = length;
    for (uint32_t i = 0; i < single; i++) out[i] = from[i];
    out += single;
    from = out - stretched;
  }
  while (out < end) {
    memcpy(out, from, NARROW_CHUNK);
    out += NARROW_CHUNK;
    from += NARROW_CHUNK;
  }
  out = end;
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

namespace {

// Decodes the bit stream in [in, inEnd) into [outStart, outEnd). Returns the
// number of bytes written; *complete is set when the end code was reached
// without consuming phantom bits, and left clear on bad data.
//
// With TRACK, *real receives how many of the bytes written came from tokens
// read wholly from the first realBits bits of the stream: the bits of a
// missing end produce nothing that counts. The checks cost time on every token, so a caller decodes with TRACK
// only after a plain decoding came out incomplete; both see the same stream
// and write the same bytes.
//
// Decoder state: reader (the bit stream, local so that it lives in
// registers), out (next byte to write), and lastOffset, indexBits,
// literalWidth and literalAdd as the format defines them. Every token checks
// its own output room, so no margin is needed.
template <bool TRACK>
uint32_t DecodeTokens(const uint8_t* in, const uint8_t* inEnd, uint8_t* const outStart, const uint8_t* const outEnd,
                      bool* complete, uint64_t realBits, uint32_t* real) {
  BufferReader reader(in, inEnd);
  uint8_t* out = outStart;
  const uint8_t* const streamStart = in;
  // A token boundary: what is written so far counts when no bit past the
  // source's whole words was taken.
  auto boundary = [&] {
    if constexpr (TRACK) {
      if (reader.Consumed(streamStart) <= realBits) *real = uint32_t(out - outStart);
    }
  };
  if constexpr (TRACK) *real = 0;
  uint32_t lastOffset = 1;
  unsigned indexBits = INDEX_BITS_START;
  unsigned literalWidth = LITERAL_WIDTH_UNSET;
  // Added to a literal taken together with its prefix bit 1: for width 8 the
  // prefix falls off the byte; for width 7 it is taken back out of the base.
  uint32_t literalAdd = 0;
  *complete = false;
  // The one way out on bad data: what was written so far, not complete.
  auto stopped = [&out, outStart] { return uint32_t(out - outStart); };

  for (;;) {
    boundary();
    uint32_t window = reader.Peek();

    if (window >> 31) {  // 1: single literal; literals come in runs
      // Before any literal-width code a literal has no defined value: bad data.
      if (literalWidth == LITERAL_WIDTH_UNSET) return stopped();
      unsigned taken = 1 + literalWidth;
      do {
        if (out == outEnd) return stopped();
        *out++ = uint8_t((window >> (32 - taken)) + literalAdd);
        reader.Skip(taken);
        boundary();
        window = reader.Peek();
      } while (window >> 31);
    }

    uint32_t distance;
    uint32_t length;
    if (window >> 30) {  // 0 1: normal match
      // The fields are read from as few windows as they fit in: the first
      // gamma from the token's window, low bits and length from one more.
      uint32_t gamma;
      GammaShort head = GAMMA_SHORT.entries[(window >> 22) & 0xFF];
      if (head.bits != 0) {
        reader.Skip(2 + head.bits);
        gamma = head.value;
      } else {
        reader.Skip(2);
        gamma = Gamma(reader);
        if (gamma == 0) return stopped();
      }
      if (gamma == 2) {  // the last offset again; no length bonus
        length = Gamma(reader);
        if (length == 0) return stopped();
        distance = lastOffset;
      } else {
        uint32_t high = gamma - 3;
        uint32_t fields = reader.Peek();
        // Index bits 0 (which the index-bits code can set) read no low bits:
        // the offset is the gamma's high part alone.
        uint32_t low = indexBits != 0 ? fields >> (32 - indexBits) : 0;
        distance = (high << indexBits) + low;  // modulo 2^32, as the format defines it
        lastOffset = distance;
        GammaShort tail = indexBits <= 24 ? GAMMA_SHORT.entries[(fields << indexBits) >> 24] : GammaShort{};
        uint32_t gammaLength;
        if (tail.bits != 0) {
          reader.Skip(indexBits + tail.bits);
          gammaLength = tail.value;
        } else {
          reader.Skip(indexBits);
          gammaLength = Gamma(reader);
          if (gammaLength == 0) return stopped();
        }
        uint64_t withBonus = uint64_t(gammaLength) + LengthBonus(distance);
        if (withBonus > size_t(outEnd - out)) return stopped();
        length = uint32_t(withBonus);
      }
    } else if (window >> 29) {  // 0 0 1: one-byte code, 4 bits
      uint32_t code = (window >> 25) & 0xF;
      if (code >= 2) {
        if (out == outEnd || code - 1 > size_t(out - outStart)) return stopped();
        *out = out[-ptrdiff_t(code - 1)];
        out++;
        reader.Skip(7);
        continue;
      }
      if (code == 1) {
        if (out == outEnd) return stopped();
        *out++ = 0;
        reader.Skip(7);
        continue;
      }
      if (((window >> 24) & 1) == 0) {  // escape 0: literal width w, and for 7 bits a base
        literalWidth = 7 + ((window >> 23) & 1);
        if (literalWidth == 7) {
          literalAdd = ((window >> 15) & 0xFF) - 0x80;
          reader.Skip(17);
        } else {
          literalAdd = 0;
          reader.Skip(9);
        }
        continue;
      }
      reader.Skip(8);
      uint32_t more;
      do {  // escape 1: raw blocks of 256 bytes, 8 bits each, no base
        if (size_t(outEnd - out) < RAW_BLOCK_SIZE) return stopped();
        for (uint32_t i = 0; i < RAW_BLOCK_SIZE; i += 4) {
          uint32_t four = Take(reader, 32);
          out[i] = uint8_t(four >> 24);
          out[i + 1] = uint8_t(four >> 16);
          out[i + 2] = uint8_t(four >> 8);
          out[i + 3] = uint8_t(four);
        }
        out += RAW_BLOCK_SIZE;
        boundary();  // each block of a run counts on its own
        more = Take(reader, 1);
      } while (more != 0);
      continue;
    } else {  // 0 0 0: short match (offset 7 bits, n 2 bits), end code or index-bits code
      uint32_t offset = (window >> 22) & 0x7F;
      uint32_t n = (window >> 20) & 3;
      if (offset == 0) {
        if (n == 0) {
          reader.Skip(12);
          boundary();  // an end code within the source: all that was written counts
          break;
        }
        indexBits = (window >> (20 - (n + 3))) & ((1u << (n + 3)) - 1);
        if (indexBits > INDEX_BITS_MAX) return stopped();
        reader.Skip(12 + n + 3);
        continue;
      }
      reader.Skip(12);
      lastOffset = offset;
      distance = offset;
      length = n + 2;
    }

    if (distance == 0 || distance > size_t(out - outStart) || length > size_t(outEnd - out)) return stopped();
    CopyMatch(out, outEnd, distance, length);
  }
  *complete = !reader.Overran();
  return uint32_t(out - outStart);
}

}  // namespace

bool DecodeCompressedStreamChecked(const void* source, uint32_t sourceSize, void* destination, uint32_t destinationSize,
                                   uint32_t* written) {
  *written = 0;
  if (source == nullptr || destination == nullptr || sourceSize < STREAM_HEADER_SIZE) return false;
  const uint8_t* header = static_cast<const uint8_t*>(source);
  if ((header[0] | header[1] << 8) != STREAM_MAGIC) return false;
  uint32_t decodedSize = Load32(header + 2);
  uint32_t checksum = Load32(header + 6);

  uint8_t* out = static_cast<uint8_t*>(destination);
  bool complete;
  *written = DecodeTokens<false>(header + STREAM_HEADER_SIZE, header + sourceSize, out, out + destinationSize,
                                 &complete, 0, nullptr);
  if (!complete) return false;
  if (checksum == 0) return true;
  // A checksum over bytes the stream did not write would test stale memory.
  if (decodedSize > *written) return false;
  return StreamChecksum(out, decodedSize) == checksum;
}

uint32_t DecodeCompressedStream(const void* source, uint32_t sourceSize, void* destination, uint32_t destinationSize) {
  uint32_t written;
  return DecodeCompressedStreamChecked(source, sourceSize, destination, destinationSize, &written) ? written : 0;
}

bool DecodeCompressedStreamSalvage(const void* source, uint32_t sourceSize, void* destination, uint32_t destinationSize,
                                   bool cutShort, StreamSalvage* result) {
  *result = StreamSalvage{};
  uint32_t written = 0;
  result->sound = DecodeCompressedStreamChecked(source, sourceSize, destination, destinationSize, &written);
  result->written = written;
  result->decoded = written;
  if (destination == nullptr) return result->sound;
  const uint8_t* header = static_cast<const uint8_t*>(source);
  uint8_t* out = static_cast<uint8_t*>(destination);
  // A sound stream counts whole when a checksum vouched for it or it filled
  // the destination. Otherwise only the tokens read wholly from bits that are
  // there count: a stream that ran into the phantom words past its source, or
  // one cut short whose missing end read as zero bits and happened to make an
  // end code. Of a source cut short, the missing bytes of its partial last
  // word are missing bits too; of a whole one, they are the format's own.
  // Decoded once more for that, counting: rare (only doubtful streams come
  // here), and it keeps the checks out of the plain decoding.
  bool vouched = result->sound && (Load32(header + 6) != 0 || written == destinationSize);
  if (!vouched && sourceSize >= STREAM_HEADER_SIZE && (header[0] | header[1] << 8) == STREAM_MAGIC) {
    uint64_t bitsBytes = sourceSize - STREAM_HEADER_SIZE;
    uint64_t realBits = (cutShort ? bitsBytes / 4 : (bitsBytes + 3) / 4) * 32;
    bool complete = false;
    DecodeTokens<true>(header + STREAM_HEADER_SIZE, header + sourceSize, out, out + destinationSize, &complete,
                       realBits, &result->decoded);
  }
  // Wide copies may have run up to COPY_SLACK bytes past the last byte
  // written; nothing past what counts is handed out as decoded.
  uint64_t touched = std::min<uint64_t>(destinationSize, uint64_t(written) + COPY_SLACK);
  if (touched > result->decoded) memset(out + result->decoded, 0, size_t(touched - result->decoded));
  return result->sound;
}
