// The decoder's internals shared by its careful per-token path (decoder.cpp)
// and its fast loop (decoder_fast.cpp): the state between tokens, the fast
// loop's contract and margins, the processor check, and the entry that lets
// tests and the fuzz target choose the fast loop's reader and code.
// Internal to pack/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "pack/decoder.h"
#include "pack/decoder_bits.h"
#include "pack/decoder_copy.h"
#include "pack/decoder_token.h"

namespace decoder_parts {

// Where the decoding of one stream stands between tokens: the reader, the
// next byte to write, and lastOffset, indexBits, literalWidth and literalAdd
// as the format defines them. literalAdd is added to a literal taken
// together with its prefix bit 1: for width 8 the prefix falls off the
// byte; for width 7 it is taken back out of the base.
struct DecoderState {
  BufferReader reader;
  uint8_t* out;
  uint32_t lastOffset = 1;
  unsigned indexBits = INDEX_BITS_START;
  unsigned literalWidth = LITERAL_WIDTH_UNSET;
  uint32_t literalAdd = 0;

  DecoderState(const uint8_t* in, const uint8_t* inEnd, uint8_t* outStart) : reader(in, inEnd), out(outStart) {}
};

enum class FastStop {
  Margin,  // at a token boundary: a margin ran out or the token needs the careful path
  Bad,     // bad data; nothing of the offending token was written
};

// The fast loop needs, at each token start, this many source bytes left
// (the widest token in it reads two 64-bit gammas and 31 index bits, and
// each peek loads at most two words ahead) ...
constexpr size_t FAST_INPUT_MARGIN = 48;
// ... and this much output room: 3 literals, or a short match or one-byte
// code written 8 bytes wide. Normal matches check their own length.
constexpr size_t FAST_OUTPUT_MARGIN = 16;

// How the fast loop is compiled: for any processor the build targets, or
// with the bit manipulation instructions (BMI1, BMI2, LZCNT), for processors
// that have them and extract bits fast. The latter takes fewer instructions
// for the shifts and the gamma numbers, and (in 32-bit builds, which target
// processors without them) copies with SSE2's 16-byte moves, which every
// such processor has; its result is the same.
enum class FastCode { Portable, BitOps };

// Whether this processor runs FastCode::BitOps, and runs it fast (AMD's
// before family 19h take microcode for the bit extract).
bool BitOpsAvailable();

// Decodes tokens while state.reader.in <= inLimit and state.out <= outLimit
// (the caller keeps inLimit at least FAST_INPUT_MARGIN before the source's end
// and outLimit FAST_OUTPUT_MARGIN before outEnd, and calls with in <= inLimit).
// Literals, matches and one-byte copies only; it stops at a token boundary
// before any other token. Reader is BufferReader or CursorReader.
template <typename Reader, FastCode CODE>
FastStop DecodeFastTokens(DecoderState& state, const uint8_t* inLimit, uint8_t* outStart, const uint8_t* outLimit,
                          const uint8_t* outEnd);

// The fast loop's reader: the 64-bit buffer where registers are 64 bits
// wide, the cursor where they are 32.
using FastReader = std::conditional_t<sizeof(void*) < 8, CursorReader, BufferReader>;

// DecodeCompressedStreamChecked with the fast loop's reader and code chosen,
// so that the tests and the fuzz target check all of them in every build
// (FastCode::BitOps only where BitOpsAvailable()).
// The checksum of a stream that decodes to besideFrom bytes or more is
// taken on a free worker of engine beside the decoding, when it has one.
constexpr uint32_t BESIDE_NEVER = UINT32_MAX;
template <typename Reader>
bool DecodeStreamWith(const void* source, uint32_t sourceSize, void* destination, uint32_t destinationSize,
                      uint32_t* written, FastCode code, uint32_t besideFrom = BESIDE_NEVER,
                      WorkAhead* engine = nullptr);
// The same, with progress (pack/decoder.h) following the decoding.
template <typename Reader>
bool DecodeStreamFollowed(const void* source, uint32_t sourceSize, void* destination, uint32_t destinationSize,
                          uint32_t* written, FastCode code, uint32_t besideFrom, WorkAhead* engine,
                          DecodeProgress* progress);

// One step of the careful path (a token; a run of literals or of raw blocks
// whole), for code that follows a decoding token by token and restarts it
// from a state it kept: the same checks and bytes as the decoding itself.
enum class StepResult { Next, End, Bad };
StepResult DecodeStep(DecoderState& state, uint8_t* outStart, const uint8_t* outEnd);

// One word of the stream checksum (see StreamChecksum), and its inverse: the
// sum before the word, from the sum after it.
inline uint32_t ChecksumStep(uint32_t sum, uint32_t word) {
  sum += word;
  return sum ^ (((word << 1) | (word >> 31)) + 1);
}
inline uint32_t ChecksumStepBack(uint32_t after, uint32_t word) {
  return (after ^ (((word << 1) | (word >> 31)) + 1)) - word;
}

// Whether data[0, size)'s checksum (StreamChecksum) is expected, at twice the
// speed of computing it: for a stream's field once the stream is decoded.
bool StreamChecksumMatches(const uint8_t* data, uint32_t size, uint32_t expected);

}  // namespace decoder_parts
