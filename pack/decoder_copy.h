// The decoder's match copy: bytes from a distance back, with the result of a
// forward byte-by-byte copy, moved in chunks where the output has room for
// them. Internal to pack/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace decoder_parts {

// Wide copies move WIDE_CHUNK bytes at a time (NARROW_CHUNK for distances
// below it), at least two chunks at once (so that matches of mixed short
// lengths take no loop branch; the second chunk of a copy from less than two
// chunks back reads what the first wrote, as a forward copy does);
// so they may write up to COPY_SLACK - 1 bytes past the end of a match. They
// run only while the output has COPY_SLACK bytes of room beyond the match,
// and the bytes they write past it are overwritten later.
constexpr size_t WIDE_CHUNK = 16;
constexpr size_t NARROW_CHUNK = 8;
constexpr size_t COPY_SLACK = 2 * WIDE_CHUNK;

// Copies length bytes from distance bytes back, with the result of a forward
// byte-by-byte copy, writing at most COPY_SLACK bytes past the match. The
// caller has checked distance (1 to what is written) and length, and that
// the output has COPY_SLACK bytes of room past the match.
[[gnu::always_inline]] inline void CopyMatchWide(uint8_t*& out, uint32_t distance, uint32_t length) {
  uint8_t* end = out + length;
  const uint8_t* from = out - distance;
  if (distance >= WIDE_CHUNK) {
    memcpy(out, from, WIDE_CHUNK);
    memcpy(out + WIDE_CHUNK, from + WIDE_CHUNK, WIDE_CHUNK);
    if (length > 2 * WIDE_CHUNK) {
      uint8_t* to = out + 2 * WIDE_CHUNK;
      const uint8_t* at = from + 2 * WIDE_CHUNK;
      do {
        memcpy(to, at, WIDE_CHUNK);
        to += WIDE_CHUNK;
        at += WIDE_CHUNK;
      } while (to < end);
    }
    out = end;
    return;
  }
  if (distance == 1) {
#if defined(__i386__)
    // A 64-bit byte pattern would go through memory in two halves and be
    // read back whole, which stalls.
    uint32_t four = uint32_t(out[-1]) * 0x01010101u;
    do {
      memcpy(out, &four, 4);
      memcpy(out + 4, &four, 4);
      memcpy(out + 8, &four, 4);
      memcpy(out + 12, &four, 4);
      out += 16;
    } while (out < end);
#else
    uint64_t eight = uint64_t(out[-1]) * 0x0101010101010101ull;
    do {
      memcpy(out, &eight, 8);
      memcpy(out + 8, &eight, 8);
      out += 16;
    } while (out < end);
#endif
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
#if defined(__i386__)
    // Each step reads what the one before wrote. With SSE2 the compiler
    // makes an 8-byte move a vector one, whose store reaches the next step's
    // load later than two words in general registers do.
    uint32_t low, high;
    memcpy(&low, from, 4);
    memcpy(&high, from + 4, 4);
    __asm__("" : "+r"(low), "+r"(high));
    memcpy(out, &low, 4);
    memcpy(out + 4, &high, 4);
#else
    memcpy(out, from, NARROW_CHUNK);
#endif
    out += NARROW_CHUNK;
    from += NARROW_CHUNK;
  }
  out = end;
}

// CopyMatchWide where the room past the match may be short: there its last
// COPY_SLACK bytes go byte by byte, after the bytes before them went wide
// (whose overshoot stays within the match and is then overwritten), so that
// a long match at the end of the output (a file's trailing zeros) does not go
// byte by byte whole, each byte waiting for the store of the one before.
inline void CopyMatch(uint8_t*& out, const uint8_t* outEnd, uint32_t distance, uint32_t length) {
  if (size_t(outEnd - (out + length)) < COPY_SLACK) {
    uint8_t* end = out + length;
    if (length > COPY_SLACK) CopyMatchWide(out, distance, length - uint32_t(COPY_SLACK));
    const uint8_t* from = out - distance;
    while (out < end) *out++ = *from++;
    return;
  }
  CopyMatchWide(out, distance, length);
}

}  // namespace decoder_parts
