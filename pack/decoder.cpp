#include "pack/decoder.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>

#include "pack/decoder_checksum.h"
#include "pack/decoder_internal.h"

using namespace decoder_parts;

namespace {

enum class TokenResult { Next, End, Bad };

// With TRACK, counts what a salvaging caller may keep: at every token
// boundary (and after each literal and each raw block), what is written so
// far counts when no bit past the first realBits of the stream was taken.
// Counting writes nothing: which tokens a stream holds never depends on the
// bytes they make, and the output the decoding wrote may meanwhile be read
// by other threads (DecodeProgress), which must never see a byte change.
struct RealTracker {
  const uint8_t* streamStart;
  uint64_t realBits;
  uint32_t real;
};

// One token with every check: the tokens the fast loop leaves (escapes, the
// end and index-bits codes, bad data) and all tokens near either buffer's
// end. A literal run is taken whole. On Bad nothing of the token was written.
template <bool TRACK>
TokenResult CarefulToken(DecoderState& s, uint8_t* const outStart, const uint8_t* const outEnd, RealTracker* tracker) {
  BufferReader& reader = s.reader;
  uint8_t*& out = s.out;
  auto boundary = [&] {
    if constexpr (TRACK) {
      if (reader.Consumed(tracker->streamStart) <= tracker->realBits) tracker->real = uint32_t(out - outStart);
    }
  };
  boundary();
  uint32_t window = reader.Peek();

  if (IsLiteral(window)) {  // literals come in runs
    // Before any literal-width code a literal has no defined value: bad data.
    if (s.literalWidth == LITERAL_WIDTH_UNSET) return TokenResult::Bad;
    unsigned taken = 1 + s.literalWidth;
    do {
      if (out == outEnd) return TokenResult::Bad;
      if constexpr (!TRACK) *out = uint8_t(LiteralWithPrefix(window, taken) + s.literalAdd);
      out++;
      reader.Skip(taken);
      boundary();
      window = reader.Peek();
    } while (IsLiteral(window));
    return TokenResult::Next;
  }

  uint32_t distance;
  uint32_t length;
  if (IsNormalMatch(window)) {
    reader.Skip(MATCH_PREFIX_BITS);
    uint32_t gamma = Gamma<false>(reader);
    if (gamma == 0) return TokenResult::Bad;
    if (gamma == 2) {  // the last offset again; no length bonus
      length = Gamma<false>(reader);
      if (length == 0) return TokenResult::Bad;
      distance = s.lastOffset;
    } else {
      uint32_t high = gamma - 3;
      // Index bits 0 (which the index-bits code can set) read no low bits:
      // the offset is the gamma's high part alone.
      uint32_t low = s.indexBits != 0 ? Take(reader, s.indexBits) : 0;
      distance = (high << s.indexBits) + low;  // modulo 2^32, as the format defines it
      s.lastOffset = distance;
      uint32_t gammaLength = Gamma<false>(reader);
      if (gammaLength == 0) return TokenResult::Bad;
      uint64_t withBonus = uint64_t(gammaLength) + LengthBonus(distance);
      if (withBonus > size_t(outEnd - out)) return TokenResult::Bad;
      length = uint32_t(withBonus);
    }
  } else if (IsOneByteCode(window)) {
    uint32_t code = OneByteCode(window);
    if (code >= 2) {
      if (out == outEnd || code - 1 > size_t(out - outStart)) return TokenResult::Bad;
      if constexpr (!TRACK) *out = out[-ptrdiff_t(code - 1)];
      out++;
      reader.Skip(ONE_BYTE_CODE_BITS);
      return TokenResult::Next;
    }
    if (code == 1) {
      if (out == outEnd) return TokenResult::Bad;
      if constexpr (!TRACK) *out = 0;
      out++;
      reader.Skip(ONE_BYTE_CODE_BITS);
      return TokenResult::Next;
    }
    if (!IsRawBlocksEscape(window)) {  // a literal-width code
      uint32_t wide = LiteralWidthBit(window);
      s.literalWidth = 7 + wide;
      s.literalAdd = wide != 0 ? 0 : LiteralBase(window) - 0x80;
      reader.Skip(LiteralWidthCodeBits(wide));
      return TokenResult::Next;
    }
    reader.Skip(RAW_BLOCKS_ESCAPE_BITS);
    uint32_t more;
    do {  // raw blocks of 256 bytes, 8 bits each, no base
      if (size_t(outEnd - out) < RAW_BLOCK_SIZE) return TokenResult::Bad;
      for (uint32_t i = 0; i < RAW_BLOCK_SIZE; i += 4) {
        uint32_t four = Take(reader, 32);
        if constexpr (TRACK) continue;
        out[i] = uint8_t(four >> 24);
        out[i + 1] = uint8_t(four >> 16);
        out[i + 2] = uint8_t(four >> 8);
        out[i + 3] = uint8_t(four);
      }
      out += RAW_BLOCK_SIZE;
      boundary();  // each block of a run counts on its own
      more = Take(reader, 1);
    } while (more != 0);
    return TokenResult::Next;
  } else {  // a short match, the end code or the index-bits code
    uint32_t offset = ShortMatchOffset(window);
    uint32_t n = ShortMatchN(window);
    if (offset == 0) {
      if (n == 0) {
        reader.Skip(SHORT_MATCH_BITS);
        boundary();  // an end code within the source: all that was written counts
        return TokenResult::End;
      }
      unsigned indexBits = IndexBitsValue(window, n);
      if (indexBits > INDEX_BITS_MAX) return TokenResult::Bad;
      s.indexBits = indexBits;
      reader.Skip(SHORT_MATCH_BITS + IndexBitsWidth(n));
      return TokenResult::Next;
    }
    reader.Skip(SHORT_MATCH_BITS);
    s.lastOffset = offset;
    distance = offset;
    length = n + 2;
  }

  if (distance == 0 || distance > size_t(out - outStart) || length > size_t(outEnd - out)) return TokenResult::Bad;
  if constexpr (TRACK) {
    out += length;
  } else {
    CopyMatch(out, outEnd, distance, length);
  }
  return TokenResult::Next;
}

}  // namespace

decoder_parts::StepResult decoder_parts::DecodeStep(DecoderState& state, uint8_t* outStart, const uint8_t* outEnd) {
  switch (CarefulToken<false>(state, outStart, outEnd, nullptr)) {
    case TokenResult::Next:
      return StepResult::Next;
    case TokenResult::End:
      return StepResult::End;
    default:
      return StepResult::Bad;
  }
}

namespace {

// The last bytes of the source with zero bytes after them, for the fast loop
// to run on up to the stream's end (its margin would leave the last tokens of
// every entry to the careful path). Words past the source read as zero there
// as they do for the careful path; the reader goes back to the source with
// the words it took past the source's end counted as phantom words.
//
// start:  where the copy starts in the source: the word boundary before the
//         reader's valid bits (they came from the words before its `in`)
class TailCopy {
 public:
  // The source's end is at most FAST_INPUT_MARGIN bytes past reader.in;
  // the reader has taken no phantom word.
  TailCopy(const BufferReader& reader, const uint8_t* streamStart) {
    // After a partial last word `in` stands at the source's end: the word
    // boundary after it is where the next word would start.
    size_t next = (size_t(reader.in - streamStart) + 3) / 4 * 4;
    at_ = std::min(VALID_BYTES, next);
    start_ = streamStart + (next - at_);
    real_ = size_t(reader.inEnd - start_);
    memcpy(bytes_, start_, real_);
    memset(bytes_ + real_, 0, sizeof(bytes_) - real_);
  }

  // Tokens may start until the reader has loaded every word of the source
  // and one zero word past them.
  const uint8_t* Limit() const { return bytes_ + WordsEnd() + 4; }

  void Enter(BufferReader& reader) const {
    reader.in = bytes_ + at_;
    reader.inEnd = bytes_ + sizeof(bytes_);
  }

  void Leave(BufferReader& reader) const {
    size_t at = size_t(reader.in - bytes_);
    reader.inEnd = start_ + real_;
    if (at <= real_) {
      reader.in = start_ + at;
    } else {
      reader.in = reader.inEnd;
      reader.phantoms += uint32_t((at - WordsEnd()) / 4);
    }
  }

 private:
  static constexpr size_t VALID_BYTES = 8;  // at most 64 valid bits

  size_t WordsEnd() const { return (real_ + 3) / 4 * 4; }  // the last word partial when real_ is not a multiple of 4

  const uint8_t* start_;
  size_t at_;    // where the reader's next word starts in the copy
  size_t real_;  // source bytes in the copy
  uint8_t bytes_[VALID_BYTES + FAST_INPUT_MARGIN + 8 + FAST_INPUT_MARGIN];
};

// Output between checksum steps: small enough that the words are still in
// the first-level cache when they are added.
constexpr size_t CHECKSUM_STEP = 8192;

// Decodes the bit stream in [in, inEnd) into [outStart, outEnd): the fast
// loop while its margins hold (near the source's end on a copy of its last
// bytes), one careful token where they do not (or where the fast loop leaves
// a token), and the fast loop again. Returns the number of bytes written;
// *complete is set when the end code was reached without consuming phantom
// bits, and left clear on bad data. A checksum thread beside is told how far
// the output is final as it becomes final. With progress, the output of the
// fast loop's steps away from the source's end is published: its tokens were
// read from bits that are there, so they count as decoded whatever follows.
template <typename Reader>
uint32_t DecodeTokens(const uint8_t* in, const uint8_t* inEnd, uint8_t* const outStart, const uint8_t* const outEnd,
                      bool* complete, ChecksumBeside* beside, FastCode code, DecodeProgress* progress) {
  DecoderState state(in, inEnd, outStart);
  *complete = false;
  const uint8_t* inLimit = size_t(inEnd - in) > FAST_INPUT_MARGIN ? inEnd - FAST_INPUT_MARGIN : nullptr;
  const uint8_t* outLimit = size_t(outEnd - outStart) > FAST_OUTPUT_MARGIN ? outEnd - FAST_OUTPUT_MARGIN : nullptr;
  auto fast = [&](const uint8_t* limit, const uint8_t* stepLimit) {
    return code == FastCode::BitOps
               ? DecodeFastTokens<Reader, FastCode::BitOps>(state, limit, outStart, stepLimit, outEnd)
               : DecodeFastTokens<Reader, FastCode::Portable>(state, limit, outStart, stepLimit, outEnd);
  };
  for (;;) {
    while (outLimit != nullptr && state.out <= outLimit && state.reader.phantoms == 0) {
      const uint8_t* stepLimit = outLimit;
      bool stepping = beside != nullptr || progress != nullptr;
      if (stepping && size_t(outLimit - state.out) > CHECKSUM_STEP) stepLimit = state.out + CHECKSUM_STEP;
      FastStop stop;
      bool leftToken;  // the fast loop stopped where the careful path goes on
      if (inLimit != nullptr && state.reader.in <= inLimit) {
        stop = fast(inLimit, stepLimit);
        leftToken = state.out <= stepLimit && state.reader.in <= inLimit;
        if (progress != nullptr) progress->Advance(uint32_t(state.out - outStart));
      } else {
        TailCopy tail(state.reader, in);
        tail.Enter(state.reader);
        stop = fast(tail.Limit(), stepLimit);
        // Past its limit the reader has taken zero words: the careful path
        // goes on from there.
        leftToken = state.out <= stepLimit || state.reader.in > tail.Limit();
        tail.Leave(state.reader);
      }
      if (beside != nullptr) beside->Final(uint32_t(state.out - outStart));
      if (stop == FastStop::Bad) return uint32_t(state.out - outStart);
      if (leftToken) break;
    }
    TokenResult result = CarefulToken<false>(state, outStart, outEnd, nullptr);
    if (result == TokenResult::Bad) return uint32_t(state.out - outStart);
    if (result == TokenResult::End) break;
  }
  *complete = !state.reader.Overran();
  return uint32_t(state.out - outStart);
}

// The careful path alone, counting for a salvaging caller how many of the
// bytes written came from tokens read wholly from the first realBits bits of
// the stream. Rare (only doubtful streams come here); it goes over the
// tokens DecodeTokens decoded and writes nothing (outStart only places them).
uint32_t DecodeTokensCounting(const uint8_t* in, const uint8_t* inEnd, uint8_t* const outStart,
                              const uint8_t* const outEnd, uint64_t realBits, uint32_t* real) {
  DecoderState state(in, inEnd, outStart);
  RealTracker tracker{in, realBits, 0};
  while (CarefulToken<true>(state, outStart, outEnd, &tracker) == TokenResult::Next) {
  }
  *real = tracker.real;
  return uint32_t(state.out - outStart);
}

}  // namespace

template <typename Reader>
bool decoder_parts::DecodeStreamFollowed(const void* source, uint32_t sourceSize, void* destination,
                                         uint32_t destinationSize, uint32_t* written, FastCode code,
                                         uint32_t besideFrom, WorkAhead* engine, DecodeProgress* progress) {
  *written = 0;
  if (source == nullptr || destination == nullptr || sourceSize < STREAM_HEADER_SIZE) return false;
  const uint8_t* header = static_cast<const uint8_t*>(source);
  if ((header[0] | header[1] << 8) != STREAM_MAGIC) return false;
  uint32_t decodedSize = Load32(header + 2);
  uint32_t checksum = Load32(header + 6);

  uint8_t* out = static_cast<uint8_t*>(destination);
  bool complete;
  ChecksumBeside beside;
  bool besideRuns = checksum != 0 && decodedSize >= besideFrom && beside.Start(engine, out, decodedSize);
  *written = DecodeTokens<Reader>(header + STREAM_HEADER_SIZE, header + sourceSize, out, out + destinationSize,
                                  &complete, besideRuns ? &beside : nullptr, code, progress);
  if (!complete) return false;
  if (checksum == 0) return true;
  // A checksum over bytes the stream did not write would test stale memory.
  if (decodedSize > *written) return false;
  return besideRuns ? beside.Finish() == checksum : StreamChecksumMatches(out, decodedSize, checksum);
}

template <typename Reader>
bool decoder_parts::DecodeStreamWith(const void* source, uint32_t sourceSize, void* destination,
                                     uint32_t destinationSize, uint32_t* written, FastCode code, uint32_t besideFrom,
                                     WorkAhead* engine) {
  return DecodeStreamFollowed<Reader>(source, sourceSize, destination, destinationSize, written, code, besideFrom,
                                      engine, nullptr);
}

template bool decoder_parts::DecodeStreamWith<BufferReader>(const void*, uint32_t, void*, uint32_t, uint32_t*, FastCode,
                                                            uint32_t, WorkAhead*);
template bool decoder_parts::DecodeStreamWith<CursorReader>(const void*, uint32_t, void*, uint32_t, uint32_t*, FastCode,
                                                            uint32_t, WorkAhead*);

namespace {

bool DecodeChecked(const void* source, uint32_t sourceSize, void* destination, uint32_t destinationSize,
                   uint32_t* written, WorkAhead* beside, DecodeProgress* progress = nullptr) {
  FastCode code = BitOpsAvailable() ? FastCode::BitOps : FastCode::Portable;
  uint32_t besideFrom = beside != nullptr ? CHECKSUM_BESIDE_MIN : BESIDE_NEVER;
  return DecodeStreamFollowed<FastReader>(source, sourceSize, destination, destinationSize, written, code, besideFrom,
                                          beside, progress);
}

}  // namespace

bool DecodeCompressedStreamChecked(const void* source, uint32_t sourceSize, void* destination, uint32_t destinationSize,
                                   uint32_t* written, WorkAhead* beside) {
  return DecodeChecked(source, sourceSize, destination, destinationSize, written, beside);
}

uint32_t DecodeCompressedStream(const void* source, uint32_t sourceSize, void* destination, uint32_t destinationSize) {
  uint32_t written;
  return DecodeCompressedStreamChecked(source, sourceSize, destination, destinationSize, &written) ? written : 0;
}

bool DecodeCompressedStreamSalvage(const void* source, uint32_t sourceSize, void* destination, uint32_t destinationSize,
                                   bool cutShort, StreamSalvage* result, WorkAhead* beside, DecodeProgress* progress) {
  *result = StreamSalvage{};
  uint32_t written = 0;
  result->sound = DecodeChecked(source, sourceSize, destination, destinationSize, &written, beside, progress);
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
  // Its tokens gone over once more for that, counting: rare (only doubtful streams come
  // here), and it keeps the checks out of the plain decoding.
  bool vouched = result->sound && (Load32(header + 6) != 0 || written == destinationSize);
  if (!vouched && sourceSize >= STREAM_HEADER_SIZE && (header[0] | header[1] << 8) == STREAM_MAGIC) {
    uint64_t bitsBytes = sourceSize - STREAM_HEADER_SIZE;
    uint64_t realBits = (cutShort ? bitsBytes / 4 : (bitsBytes + 3) / 4) * 32;
    DecodeTokensCounting(header + STREAM_HEADER_SIZE, header + sourceSize, out, out + destinationSize, realBits,
                         &result->decoded);
  }
  // Wide copies may have run up to COPY_SLACK bytes past the last byte
  // written; nothing past what counts is handed out as decoded.
  uint64_t touched = std::min<uint64_t>(destinationSize, uint64_t(written) + COPY_SLACK);
  if (touched > result->decoded) memset(out + result->decoded, 0, size_t(touched - result->decoded));
  return result->sound;
}

uint32_t CompressedStreamEnd(const void* source, uint32_t sourceSize, void* destination, uint32_t destinationSize) {
  if (source == nullptr || destination == nullptr || sourceSize < STREAM_HEADER_SIZE) return 0;
  const uint8_t* header = static_cast<const uint8_t*>(source);
  if ((header[0] | header[1] << 8) != STREAM_MAGIC) return 0;
  const uint8_t* bits = header + STREAM_HEADER_SIZE;
  uint8_t* out = static_cast<uint8_t*>(destination);
  DecoderState state(bits, header + sourceSize, out);
  TokenResult result;
  while ((result = CarefulToken<false>(state, out, out + destinationSize, nullptr)) == TokenResult::Next) {
  }
  if (result != TokenResult::End || state.reader.Overran()) return 0;
  uint64_t words = (state.reader.Consumed(bits) + 31) / 32;
  return uint32_t(std::min<uint64_t>(STREAM_HEADER_SIZE + words * 4, sourceSize));
}
