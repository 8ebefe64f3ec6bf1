// The stream decoder on whole streams: round trips through the test
// encoder, random and damaged streams against the reference decoder, and
// what a stream cut short or damaged still gives.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "pack/decoder.h"
#include "tests/pack/decoder_checks.h"
#include "tests/support/guarded_buffer.h"
#include "tests/support/pack_writer.h"
#include "tests/support/reference_decoder.h"

namespace {

// Round trips through the test encoder, every mode.

struct Sample {
  const char* name;
  Bytes data;
};

std::vector<Sample> Samples() {
  Bytes runs;
  for (int i = 0; i < 40; i++) {
    runs.insert(runs.end(), size_t(i * 37 % 1500 + 1), uint8_t(i));
    for (int j = 0; j < i * 11 % 900; j++) runs.push_back(j % 2 ? 'x' : 'y');
  }
  Bytes mixed = SampleText(20000);
  Bytes noise = Noise(20000, 3);
  mixed.insert(mixed.end(), noise.begin(), noise.end());
  mixed.insert(mixed.end(), 3000, 0);
  Bytes text = SampleText(20000);
  mixed.insert(mixed.end(), text.begin(), text.end());
  // Far repeats: a block seen again 70,000 and 300,000 bytes later.
  Bytes far = Noise(5000, 11);
  Bytes farData = far;
  Bytes filler = Noise(65000, 12);
  farData.insert(farData.end(), filler.begin(), filler.end());
  farData.insert(farData.end(), far.begin(), far.end());
  filler = Noise(100000, 13);
  farData.insert(farData.end(), filler.begin(), filler.end());
  farData.insert(farData.end(), far.begin(), far.end());
  return {{"empty", {}},
          {"one byte", {0x42}},
          {"three bytes", {1, 2, 3}},
          {"text", SampleText(30000)},
          {"noise", Noise(5000, 1)},
          {"zeros", Bytes(10000, 0)},
          {"runs", runs},
          {"mixed", mixed},
          {"far", farData}};
}

const EncoderMode ALL_MODES[] = {EncoderMode::Balanced,      EncoderMode::Literals8,     EncoderMode::Literals7,
                                 EncoderMode::RawBlocks,     EncoderMode::ShortMatches,  EncoderMode::OneByteCodes,
                                 EncoderMode::RepeatMatches, EncoderMode::NormalMatches, EncoderMode::IndexBits};

TEST(DecoderRoundTrip, EveryModeOnEverySample) {
  for (const Sample& sample : Samples()) {
    uint32_t size = uint32_t(sample.data.size());
    for (EncoderMode mode : ALL_MODES) {
      for (bool withChecksum : {false, true}) {
        SCOPED_TRACE(std::string(sample.name) + " mode " + std::to_string(int(mode)) +
                     (withChecksum ? " checksum" : ""));
        Bytes stream = EncodeCompressedStream(sample.data.data(), size, mode, withChecksum);
        Decoded d = Decode(stream, size);
        EXPECT_EQ(d.written, size);
        EXPECT_EQ(d.result, size);
        EXPECT_TRUE(d.output == sample.data);
        if (size > 0) {
          // One byte short: stopped, never a write past the end.
          EXPECT_EQ(Decode(stream, size - 1).result, 0u);
        }
        // A bigger buffer is fine; the result still counts the stream's bytes.
        if (!withChecksum) {
          EXPECT_EQ(Decode(stream, size + 100).result, size);
        }
      }
    }
  }
}

TEST(DecoderRoundTrip, ModesShapeTheirStreams) {
  Bytes text = SampleText(20000);
  auto packed = [&](EncoderMode mode) {
    return double(EncodeCompressedStream(text.data(), text.size(), mode, false).size()) / double(text.size());
  };
  EXPECT_NEAR(packed(EncoderMode::Literals8), 9.0 / 8, 0.01);  // prefix and 8 bits a byte
  EXPECT_NEAR(packed(EncoderMode::Literals7), 8.0 / 8, 0.01);  // the text spans fewer than 128 values
  EXPECT_NEAR(packed(EncoderMode::RawBlocks), 1.0, 0.02);      // 8 bits a byte and a few literals
  EXPECT_LT(packed(EncoderMode::Balanced), 0.5);
  EXPECT_LT(packed(EncoderMode::ShortMatches), packed(EncoderMode::Literals7));
}

// Runs of a byte, each run's byte 128 to 255 above the last one's (modulo
// 256), so that the base of width 7 that starts at a byte never holds the
// next: a literal and a repeat match a unit (17 bits) at width 8 throughout,
// where a new base before each literal adds its code (17 bits) less 1.
TEST(DecoderRoundTrip, BalancedChangesWidthOnlyWhereItPays) {
  std::mt19937 random(7);
  Bytes data;
  const int UNITS = 2000;
  uint8_t value = 0;
  for (int unit = 0; unit < UNITS; unit++) {
    value = uint8_t(value + 128 + random() % 128);
    data.insert(data.end(), 6, value);
  }
  Bytes stream = EncodeCompressedStream(data.data(), data.size(), EncoderMode::Balanced, false);
  EXPECT_LT((stream.size() - 10) * 8, size_t(UNITS) * 20);
  EXPECT_EQ(ReferenceDecode(stream.data(), uint32_t(stream.size()), uint32_t(data.size())).output, data);
}

// Random token streams against the reference decoder: every fast path (the
// gamma table and its long form, the widened copies, memset runs) must give
// the bytes the plain algorithm gives.
uint32_t Bonus(uint32_t offset) {
  return offset < 128 ? 4 : offset < 639 ? 0 : offset < 14335 ? 1 : offset < 65536 ? 2 : 3;
}

Bytes RandomTokens(std::mt19937& random, uint32_t* produced) {
  StreamBitWriter bits;
  uint32_t pos = 0;
  bits.LiteralWidth(8, 0);
  unsigned width = 8;
  unsigned indexBits = 8;
  auto pick = [&](uint32_t n) { return uint32_t(random() % n); };
  for (int t = 0; t < 400; t++) {
    switch (pick(8)) {
      case 0:
        bits.Literal(pick(1u << width), width);
        pos++;
        break;
      case 1:
        width = 7 + pick(2);
        bits.LiteralWidth(width, pick(256));
        break;
      case 2:
        if (pos > 0) {
          uint32_t offset = 1 + pick(std::min<uint32_t>(pos, 127));
          uint32_t n = pick(4);
          bits.ShortMatch(offset, n);
          pos += n + 2;
        }
        break;
      case 3:
        if (pick(8) == 0) {  // offsets split at other places: the low bits in the window or beyond it
          indexBits = pick(32);
          bits.IndexBits(indexBits < 16 ? 1 : 2, indexBits);
        }
        if (pos > 0) {
          uint32_t offset = 1 + pick(pos);
          uint64_t length = 2 + (pick(4) == 0 ? pick(3000) : pick(40));
          bits.NormalMatch(uint32_t(uint64_t(offset) >> indexBits), offset & ((1u << indexBits) - 1), indexBits,
                           length);
          pos += uint32_t(length) + Bonus(offset);
        }
        break;
      case 4:
        if (pos > 0) {
          uint32_t length = 2 + pick(70);
          bits.RepeatMatch(length);
          pos += length;
        }
        break;
      case 5:
        bits.OneByteCode(1 + pick(std::min<uint32_t>(pos + 1, 15)));
        pos++;
        break;
      case 6: {
        Bytes raw = Noise(256 * (1 + pick(2)), random());
        bits.RawBlocks(raw.data(), raw.size() / 256);
        pos += uint32_t(raw.size());
        break;
      }
      default:
        if (pos > 0) {
          uint32_t n = pick(4);  // short matches at distances 1 to 7: the widened copies
          bits.ShortMatch(1 + pick(std::min<uint32_t>(pos, 7)), n);
          pos += n + 2;
        }
        break;
    }
  }
  bits.EndCode();
  *produced = pos;
  return MakeStream(0, 0, bits, pick(2) == 0);
}

// A match that ends the output, at exact capacity: all but its last bytes
// are copied wide, those byte by byte, and nothing lands past the buffer.
TEST(DecoderReference, MatchesThatEndTheOutputAtItsLastByte) {
  for (uint32_t distance : {1u, 2u, 3u, 7u, 8u, 15u, 16u, 17u, 40u}) {
    for (uint32_t length : {31u, 32u, 33u, 34u, 47u, 65u, 100u, 5001u}) {
      SCOPED_TRACE(testing::Message() << "distance " << distance << ", length " << length);
      StreamBitWriter bits;
      bits.LiteralWidth(8, 0);
      for (uint32_t i = 0; i < 40; i++) bits.Literal(uint8_t(i * 37 + 11), 8);
      bits.IndexBits(1, 4);  // every distance from the gamma's part and 4 low bits
      bits.NormalMatch(distance >> 4, distance & 15, 4, length - Bonus(distance));
      bits.EndCode();
      Bytes stream = MakeStream(0, 0, bits, true);
      uint32_t capacity = 40 + length;
      ReferenceResult expected = ReferenceDecode(stream.data(), uint32_t(stream.size()), capacity);
      ASSERT_EQ(expected.result, capacity);
      EXPECT_EQ(Decode(stream, capacity).output, expected.output);
    }
  }
}

TEST(DecoderReference, RandomTokenStreamsMatchThePlainDecoder) {
  std::mt19937 random(2024);
  for (int round = 0; round < 300; round++) {
    uint32_t estimate;
    Bytes stream = RandomTokens(random, &estimate);
    uint32_t capacity = estimate + (round % 3 == 0 ? 0 : uint32_t(random() % 120));
    ReferenceResult expected = ReferenceDecode(stream.data(), uint32_t(stream.size()), capacity);
    Decoded d = Decode(stream, capacity);
    ASSERT_EQ(d.result, expected.result) << "round " << round;
    if (expected.result != 0) {
      ASSERT_EQ(d.written, expected.written) << "round " << round;
      ASSERT_TRUE(std::equal(d.output.begin(), d.output.end(), expected.output.begin())) << "round " << round;
    }
  }
}

TEST(DecoderReference, DamagedStreamsMatchThePlainDecoder) {
  std::mt19937 random(77);
  Bytes text = SampleText(4000);
  std::vector<Bytes> streams;
  for (EncoderMode mode : ALL_MODES) {
    for (bool withChecksum : {false, true}) {
      streams.push_back(EncodeCompressedStream(text.data(), text.size(), mode, withChecksum));
    }
  }
  for (int round = 0; round < 400; round++) {
    Bytes stream = streams[size_t(round) % streams.size()];
    int flips = 1 + int(random() % 4);
    for (int i = 0; i < flips; i++) stream[10 + random() % (stream.size() - 10)] ^= uint8_t(1 << (random() % 8));
    if (round % 5 == 0) stream.resize(10 + random() % (stream.size() - 10));
    uint32_t capacity = uint32_t(random() % 5000);
    ReferenceResult expected = ReferenceDecode(stream.data(), uint32_t(stream.size()), capacity);
    Decoded d = Decode(stream, capacity);
    ASSERT_EQ(d.result, expected.result) << "round " << round;
    if (expected.result != 0) {
      ASSERT_TRUE(std::equal(d.output.begin(), d.output.end(), expected.output.begin())) << "round " << round;
    }
  }
}

// Salvage: what a stream cut short or damaged still gives.

struct Salvaged {
  StreamSalvage result;
  Bytes output;  // the whole destination
};

Salvaged Salvage(const Bytes& stream, uint32_t capacity, bool cutShort = false, DecodeProgress* progress = nullptr) {
  GuardedBuffer source(stream);
  GuardedBuffer destination(capacity);
  if (capacity > 0) memset(destination.Data(), 0, capacity);
  Salvaged s{};
  DecodeCompressedStreamSalvage(source.Data(), uint32_t(stream.size()), destination.Data(), capacity, cutShort,
                                &s.result, nullptr, progress);
  s.output.assign(destination.Data(), destination.Data() + capacity);
  return s;
}

// Cut at every length, a stream gives a prefix of its data that never
// shrinks as the cut moves on, and zeros after it: never a byte that came
// from the zero bits standing in for the missing end.
TEST(DecoderSalvage, CutStreamsGiveGrowingPrefixesAndZeros) {
  Bytes text = SampleText(1500);
  for (EncoderMode mode : ALL_MODES) {
    Bytes stream = EncodeCompressedStream(text.data(), text.size(), mode, true);
    uint32_t previous = 0;
    for (size_t cut = STREAM_HEADER_SIZE; cut <= stream.size(); cut++) {
      Salvaged s = Salvage(Bytes(stream.begin(), stream.begin() + long(cut)), uint32_t(text.size()), true);
      SCOPED_TRACE("mode " + std::to_string(int(mode)) + ", cut " + std::to_string(cut));
      ASSERT_LE(s.result.decoded, s.result.written);
      ASSERT_GE(s.result.decoded, previous);
      previous = s.result.decoded;
      ASSERT_TRUE(std::equal(s.output.begin(), s.output.begin() + s.result.decoded, text.begin()));
      ASSERT_TRUE(std::all_of(s.output.begin() + s.result.decoded, s.output.end(), [](uint8_t b) { return b == 0; }));
    }
    EXPECT_EQ(previous, text.size());
  }
}

// What a decoding says is final while it runs is never more than what the
// salvage counts as decoded at its end, however the stream is damaged or
// cut; and a long sound stream says so well before its end.
TEST(DecoderSalvage, ProgressNeverPassesTheDecodedBytes) {
  std::mt19937 random(5);
  Bytes text = SampleText(200000);
  Bytes whole = EncodeCompressedStream(text.data(), text.size(), EncoderMode::Balanced, true);
  DecodeProgress sound;
  EXPECT_TRUE(Salvage(whole, uint32_t(text.size()), false, &sound).result.sound);
  EXPECT_GT(sound.final.load(), text.size() / 2);
  for (int round = 0; round < 60; round++) {
    Bytes stream = whole;
    for (int i = 0; i < 1 + round % 3; i++)
      stream[10 + random() % (stream.size() - 10)] ^= uint8_t(1 << (random() % 8));
    bool cut = round % 4 == 0;
    if (cut) stream.resize(10 + random() % (stream.size() - 10));
    DecodeProgress progress;
    Salvaged s = Salvage(stream, uint32_t(text.size()), cut, &progress);
    ASSERT_LE(progress.final.load(), s.result.decoded) << "round " << round;
  }
}

TEST(DecoderSalvage, TokenNeedingMissingBitsDoesNotCount) {
  // Width-8 literals of 9 bits each after a 9-bit literal-width code: six end
  // within the first two words, the seventh needs bits of the third.
  StreamBitWriter bits;
  bits.LiteralWidth(8, 0);
  for (int i = 0; i < 7; i++) bits.Literal(0xFF, 8);
  bits.EndCode();
  Bytes whole = MakeStream(7, 0, bits);
  Salvaged complete = Salvage(whole, 7);
  EXPECT_TRUE(complete.result.sound);
  EXPECT_EQ(complete.result.decoded, 7u);

  Bytes cut(whole.begin(), whole.begin() + STREAM_HEADER_SIZE + 8);
  Salvaged s = Salvage(cut, 7, true);
  EXPECT_FALSE(s.result.sound);
  EXPECT_EQ(s.result.written, 7u);  // the plain decoder wrote the seventh from zero bits
  EXPECT_EQ(s.result.decoded, 6u);
  EXPECT_EQ(s.output, Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00}));
}

TEST(DecoderSalvage, ChecksumMismatchKeepsEverythingDecoded) {
  Bytes text = SampleText(300);
  Bytes stream = EncodeCompressedStream(text.data(), text.size(), EncoderMode::Balanced, true);
  stream[6] ^= 1;  // the checksum field
  Salvaged s = Salvage(stream, uint32_t(text.size()));
  EXPECT_FALSE(s.result.sound);
  EXPECT_EQ(s.result.decoded, text.size());
  EXPECT_EQ(s.output, text);
}

}  // namespace
