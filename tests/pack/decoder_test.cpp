// The stream decoder. Every decode runs with the stream at the very end of a
// buffer followed by a no-access page, and into an output buffer that ends
// at one too, so an over-read or over-write faults at once.
#include "pack/decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "pack/decoder_parts.h"
#include "tests/support/guarded_buffer.h"
#include "tests/support/pack_writer.h"
#include "tests/support/reference_decoder.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Decoded {
  bool sound;  // the checked entry point's verdict
  uint32_t result;
  uint32_t written;
  Bytes output;  // the first `written` bytes
};

Decoded Decode(const Bytes& stream, uint32_t capacity) {
  GuardedBuffer source(stream);
  GuardedBuffer destination(capacity);
  EXPECT_NE(source.Data(), nullptr);
  EXPECT_NE(destination.Data(), nullptr);
  if (capacity > 0) memset(destination.Data(), 0xEE, capacity);
  Decoded d{};
  d.sound =
      DecodeCompressedStreamChecked(source.Data(), uint32_t(stream.size()), destination.Data(), capacity, &d.written);
  d.result = d.sound ? d.written : 0;
  EXPECT_LE(d.written, capacity);
  d.output.assign(destination.Data(), destination.Data() + d.written);
  // The plain entry point must agree with the checked one.
  GuardedBuffer again(capacity);
  EXPECT_EQ(DecodeCompressedStream(source.Data(), uint32_t(stream.size()), again.Data(), capacity), d.result);
  // So must the fast loop with either reader and either instruction set;
  // each build and processor uses one of them.
  using decoder_parts::FastCode;
  for (bool cursor : {false, true}) {
    for (FastCode code : {FastCode::Plain, FastCode::BitOps}) {
      if (code == FastCode::BitOps && !decoder_parts::BitOpsAvailable()) continue;
      SCOPED_TRACE(std::string(cursor ? "cursor reader" : "buffer reader") +
                   (code == FastCode::BitOps ? ", bit operations" : ""));
      GuardedBuffer other(capacity);
      uint32_t written = 0;
      auto decode = cursor ? decoder_parts::DecodeStreamWith<decoder_parts::CursorReader>
                           : decoder_parts::DecodeStreamWith<decoder_parts::BufferReader>;
      EXPECT_EQ(decode(source.Data(), uint32_t(stream.size()), other.Data(), capacity, &written, code), d.sound);
      EXPECT_EQ(written, d.written);
      EXPECT_TRUE(written == d.written && std::equal(d.output.begin(), d.output.end(), other.Data()));
    }
  }
  return d;
}

Bytes Text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

// Bytes no match finder can shorten much: a fixed pseudo-random sequence.
Bytes Noise(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  Bytes bytes(size);
  for (auto& b : bytes) b = uint8_t(random());
  return bytes;
}

Bytes SampleText(size_t size) {
  static const char* const words[] = {
      "Sicherung ", "Datei ", "wiederherstellen ", "Archiv ", "Eintrag ", "der ", "die ", "und ", "mit ", "\n"};
  std::mt19937 random(7);
  std::string text;
  while (text.size() < size) text += words[random() % 10];
  text.resize(size);
  return Text(text);
}

// 8 bits a byte, from a given start value: history for matches to copy from.
void RawHistory(StreamBitWriter& bits, size_t blocks, Bytes* expected) {
  Bytes history = Noise(blocks * 256, 99);
  bits.RawBlocks(history.data(), blocks);
  expected->insert(expected->end(), history.begin(), history.end());
}

// The format's own examples.

TEST(DecoderFormat, EndCodeAloneDecodesToNothing) {
  StreamBitWriter bits;
  bits.EndCode();  // 0 0 0, offset 0 in 7 bits, n 0 in 2 bits
  Decoded d = Decode(MakeStream(0, 0, bits), 16);
  EXPECT_EQ(d.result, 0u);
  EXPECT_EQ(d.written, 0u);
  EXPECT_TRUE(d.sound);  // unlike a bad stream, which also gives 0
  Bytes badMagic = MakeStream(0, 0, bits);
  badMagic[0] = 'K';
  EXPECT_FALSE(Decode(badMagic, 16).sound);
}

TEST(DecoderFormat, DistanceOneRepeatsTheLastByte) {
  StreamBitWriter normal;
  normal.LiteralWidth(8, 0);
  normal.Literal('a', 8);
  normal.NormalMatch(0, 1, 8, 6);  // offset 0 * 256 + 1, length 6 + bonus 4
  normal.EndCode();
  Decoded d = Decode(MakeStream(11, 0, normal), 11);
  EXPECT_EQ(d.result, 11u);
  EXPECT_EQ(d.output, Text("aaaaaaaaaaa"));

  StreamBitWriter repeat;  // the last offset starts at 1
  repeat.LiteralWidth(8, 0);
  repeat.Literal('a', 8);
  repeat.RepeatMatch(10);
  repeat.EndCode();
  d = Decode(MakeStream(11, 0, repeat), 11);
  EXPECT_EQ(d.result, 11u);
  EXPECT_EQ(d.output, Text("aaaaaaaaaaa"));
}

TEST(DecoderFormat, LiteralWidthCodes) {
  StreamBitWriter bits;
  bits.LiteralWidth(7, 0x20);
  bits.Literal(0x41, 7);  // 0x41 + 0x20
  bits.Literal(0x7F, 7);  // 0x7F + 0x20 = 0x9F
  bits.LiteralWidth(7, 0xF0);
  bits.Literal(0x20, 7);    // wraps: 0x110 -> 0x10
  bits.LiteralWidth(8, 0);  // no base follows: the next bit is a literal's prefix
  bits.Literal(0xFF, 8);
  bits.Literal(0x00, 8);
  bits.EndCode();
  Decoded d = Decode(MakeStream(0, 0, bits), 5);
  EXPECT_EQ(d.result, 5u);
  EXPECT_EQ(d.output, (Bytes{0x61, 0x9F, 0x10, 0xFF, 0x00}));
}

TEST(DecoderFormat, OneByteCodes) {
  StreamBitWriter bits;
  bits.OneByteCode(1);  // 0x00, even with no literal width set
  bits.LiteralWidth(8, 0);
  bits.Literal('x', 8);
  bits.OneByteCode(2);  // distance 1
  bits.Literal('y', 8);
  bits.OneByteCode(4);  // distance 3: 'x'
  for (int i = 0; i < 10; i++) bits.OneByteCode(1);
  bits.OneByteCode(15);  // distance 14: 'x' at 1
  bits.EndCode();
  Decoded d = Decode(MakeStream(0, 0, bits), 30);
  EXPECT_EQ(d.result, 16u);
  Bytes expected{0, 'x', 'x', 'y', 'x', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'x'};
  EXPECT_EQ(d.output, expected);
}

TEST(DecoderFormat, RepeatUsesTheLastShortOrNormalOffset) {
  StreamBitWriter bits;
  bits.LiteralWidth(8, 0);
  for (char c : std::string("abcdef")) bits.Literal(uint8_t(c), 8);
  bits.ShortMatch(4, 0);  // "cd"
  bits.OneByteCode(2);    // a one-byte copy does not change the last offset: "d"
  bits.RepeatMatch(3);    // distance 4 again, not 1: "fcd"
  bits.EndCode();
  Decoded d = Decode(MakeStream(0, 0, bits), 20);
  EXPECT_EQ(d.result, 12u);
  EXPECT_EQ(d.output, Text("abcdefcddfcd"));
}

TEST(DecoderFormat, LengthBonusFollowsTheOffset) {
  // Offset, and how many bytes a gamma length of 2 copies there.
  static const struct {
    uint32_t offset;
    uint32_t copied;
  } cases[] = {{100, 6},  {127, 6},   {128, 2},   {200, 2},   {638, 2},   {639, 3},
               {1000, 3}, {14334, 3}, {14335, 4}, {65535, 4}, {65536, 5}, {70000, 5}};
  for (const auto& c : cases) {
    StreamBitWriter bits;
    Bytes expected;
    RawHistory(bits, 280, &expected);  // 71,680 bytes to copy from
    bits.NormalMatch(c.offset >> 8, c.offset & 0xFF, 8, 2);
    bits.EndCode();
    size_t from = expected.size() - c.offset;
    for (uint32_t i = 0; i < c.copied; i++) expected.push_back(expected[from + i]);
    Decoded d = Decode(MakeStream(0, 0, bits), uint32_t(expected.size()));
    EXPECT_EQ(d.result, expected.size()) << "offset " << c.offset;
    EXPECT_EQ(d.output, expected) << "offset " << c.offset;
  }
}

TEST(DecoderFormat, RawBlockRunsWriteWholeBlocks) {
  for (size_t blocks : {1, 2, 5}) {
    StreamBitWriter bits;
    Bytes expected;
    RawHistory(bits, blocks, &expected);
    bits.LiteralWidth(8, 0);
    bits.Literal('z', 8);  // the run's last "more" bit was 0: a token follows
    expected.push_back('z');
    bits.EndCode();
    Decoded d = Decode(MakeStream(0, 0, bits), uint32_t(expected.size()));
    EXPECT_EQ(d.result, 256 * blocks + 1);
    EXPECT_EQ(d.output, expected);
  }
}

TEST(DecoderFormat, IndexBitsCode) {
  for (uint32_t indexBits : {0u, 4u, 15u, 16u, 31u}) {
    StreamBitWriter bits;
    Bytes expected;
    RawHistory(bits, 2, &expected);
    bits.IndexBits(indexBits < 16 ? 1 : 2, indexBits);
    uint32_t offset = 300;
    uint32_t low = indexBits == 0 ? 0 : offset & ((uint64_t(1) << indexBits) - 1);
    bits.NormalMatch(uint32_t(uint64_t(offset) >> indexBits), low, indexBits, 5);
    bits.EndCode();
    for (int i = 0; i < 5; i++) expected.push_back(expected[expected.size() - offset]);
    Decoded d = Decode(MakeStream(0, 0, bits), uint32_t(expected.size()));
    EXPECT_EQ(d.result, expected.size()) << indexBits;
    EXPECT_EQ(d.output, expected) << indexBits;
  }
}

TEST(DecoderFormat, OffsetIsComputedModulo32Bits) {
  StreamBitWriter bits;
  bits.LiteralWidth(8, 0);
  bits.Literal('q', 8);
  bits.IndexBits(2, 31);
  bits.NormalMatch(2, 1, 31, 2);  // 2 << 31 wraps to 0; plus low 1: offset 1, bonus 4
  bits.EndCode();
  Decoded d = Decode(MakeStream(0, 0, bits), 7);
  EXPECT_EQ(d.result, 7u);
  EXPECT_EQ(d.output, Text("qqqqqqq"));
}

// Checksums.

uint32_t Word(const Bytes& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

uint32_t Step(uint32_t sum, uint32_t w) {
  sum += w;
  return sum ^ (((w << 1) | (w >> 31)) + 1);
}

TEST(DecoderChecksum, SixBytesTakeWordsAtZeroAndTwo) {
  Bytes data{0x01, 0x02, 0x03, 0x84, 0x05, 0x06};
  uint32_t expected = Step(Step(0, Word(data, 0)), Word(data, 2));
  EXPECT_EQ(StreamChecksum(data.data(), 6), expected);
  EXPECT_EQ(ReferenceChecksum(data.data(), 6), expected);
}

TEST(DecoderChecksum, SizesOneToSevenRoundTrip) {
  for (uint32_t size = 1; size <= 7; size++) {
    Bytes data = Noise(size, size);
    uint32_t sum = StreamChecksum(data.data(), size);
    EXPECT_EQ(sum, ReferenceChecksum(data.data(), size)) << size;
    Bytes stream = EncodeCompressedStream(data.data(), size, EncoderMode::Balanced, true);
    Decoded d = Decode(stream, size);
    if (size < 4) {
      EXPECT_EQ(sum, 0u);
      // No word, sum 0: a non-zero field never matches.
      Bytes forced = stream;
      forced[6] = 1;
      EXPECT_EQ(Decode(forced, size).result, 0u) << size;
    }
    EXPECT_EQ(d.result, size) << size;
    EXPECT_EQ(d.output, data) << size;
  }
}

TEST(DecoderChecksum, MismatchGivesZeroAndKeepsTheBytes) {
  Bytes data = SampleText(500);
  Bytes stream = EncodeCompressedStream(data.data(), data.size(), EncoderMode::Balanced, true);
  stream[6] ^= 0x40;
  Decoded d = Decode(stream, 500);
  EXPECT_EQ(d.result, 0u);
  EXPECT_EQ(d.written, 500u);
  EXPECT_EQ(d.output, data);
}

TEST(DecoderChecksum, FieldZeroMeansNoChecksum) {
  Bytes data = SampleText(300);
  Bytes stream = EncodeCompressedStream(data.data(), data.size(), EncoderMode::Balanced, false);
  ASSERT_EQ(Word(stream, 6), 0u);
  stream[2] = 0xFF;  // a decoded size that no checksum could cover is not consulted
  EXPECT_EQ(Decode(stream, 300).result, 300u);
}

// The stream with its decoded-size and checksum fields replaced.
Bytes WithHeaderFields(Bytes stream, uint32_t decodedSize, uint32_t checksum) {
  for (int i = 0; i < 4; i++) {
    stream[2 + i] = uint8_t(decodedSize >> (8 * i));
    stream[6 + i] = uint8_t(checksum >> (8 * i));
  }
  return stream;
}

TEST(DecoderChecksum, DecodedSizeField) {
  Bytes data = SampleText(64);
  Bytes stream = EncodeCompressedStream(data.data(), data.size(), EncoderMode::Balanced, false);
  auto withField = [&](uint32_t decodedSize, uint32_t checksum) {
    return WithHeaderFields(stream, decodedSize, checksum);
  };
  // Smaller than the output: the checksum covers that prefix, the result is all bytes written.
  EXPECT_EQ(Decode(withField(40, StreamChecksum(data.data(), 40)), 64).result, 64u);
  EXPECT_EQ(Decode(withField(40, StreamChecksum(data.data(), 41)), 64).result, 0u);
  // Larger than the output buffer: a mismatch, never a read past it.
  EXPECT_EQ(Decode(withField(65, StreamChecksum(data.data(), 64)), 64).result, 0u);
  EXPECT_EQ(Decode(withField(0xFFFFFFFF, 1), 64).result, 0u);
  // Larger than what the stream wrote, inside a bigger buffer: the bytes
  // behind are whatever the buffer held (0xEE here), so even a checksum that
  // matches them is a mismatch.
  Bytes stale = data;
  stale.resize(80, 0xEE);
  EXPECT_EQ(Decode(withField(80, StreamChecksum(stale.data(), 80)), 100).result, 0u);
}

// The checksum is added while the output is written, a step at a time:
// prefixes that end on either side of a step, of any length modulo 4, and a
// single changed byte in the middle of a long output, against the
// independent reference checksum.
TEST(DecoderChecksum, PrefixesOfALongOutput) {
  Bytes data = SampleText(40000);
  Bytes stream = EncodeCompressedStream(data.data(), data.size(), EncoderMode::Balanced, false);
  auto withField = [&](uint32_t decodedSize, uint32_t checksum) {
    return WithHeaderFields(stream, decodedSize, checksum);
  };
  static const uint32_t sizes[] = {4, 5, 8191, 8192, 8193, 8194, 8195, 16387, 39996, 39997, 39998, 39999, 40000};
  for (uint32_t size : sizes) {
    SCOPED_TRACE(size);
    uint32_t checksum = ReferenceChecksum(data.data(), size);
    ASSERT_NE(checksum, 0u);
    EXPECT_EQ(Decode(withField(size, checksum), 40000).result, 40000u);
    EXPECT_EQ(Decode(withField(size, checksum ^ 1), 40000).result, 0u);
  }
  Bytes changed = data;
  changed[20001] ^= 0x40;
  EXPECT_EQ(Decode(withField(40000, ReferenceChecksum(changed.data(), 40000)), 40000).result, 0u);
}

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
          bits.NormalMatch(uint32_t(uint64_t(offset) >> indexBits), offset & ((1u << indexBits) - 1), indexBits, length);
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

TEST(DecoderReference, RandomTokenStreamsMatchThePlainDecoder) {
  std::mt19937 random(2024);
  for (int round = 0; round < 300; round++) {
    uint32_t estimate;
    Bytes stream = RandomTokens(random, &estimate);
    uint32_t capacity = estimate + (round % 3 == 0 ? 0 : uint32_t(random() % 64));
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

// Malformed streams, built field by field; each one stops with 0.

TEST(DecoderMalformed, EachStopsCleanly) {
  struct Case {
    const char* name;
    void (*build)(StreamBitWriter&);
    uint32_t capacity;
  };
  static const Case cases[] = {
      {"literal before any literal-width code",
       [](StreamBitWriter& b) {
         b.Literal(0x41, 8);
         b.EndCode();
       },
       16},
      {"short match from before the start",
       [](StreamBitWriter& b) {
         b.LiteralWidth(8, 0);
         b.Literal(1, 8);
         b.Literal(2, 8);
         b.ShortMatch(3, 0);  // distance 3 at position 2
         b.EndCode();
       },
       16},
      {"normal match at offset 0",
       [](StreamBitWriter& b) {
         b.LiteralWidth(8, 0);
         b.Literal(1, 8);
         b.NormalMatch(0, 0, 8, 2);  // high 0, low 0
         b.EndCode();
       },
       16},
      {"repeat match before any output",
       [](StreamBitWriter& b) {
         b.RepeatMatch(4);  // the last offset starts at 1, but nothing is there
         b.EndCode();
       },
       16},
      {"one-byte copy from before the start",
       [](StreamBitWriter& b) {
         b.OneByteCode(1);  // 0x00 at 0
         b.OneByteCode(3);  // distance 2 at position 1
         b.EndCode();
       },
       16},
      {"match past the output end",
       [](StreamBitWriter& b) {
         b.OneByteCode(1);
         b.RepeatMatch(16);  // 1 + 16 > 16
         b.EndCode();
       },
       16},
      {"length bonus past the output end",
       [](StreamBitWriter& b) {
         b.OneByteCode(1);
         b.NormalMatch(0, 1, 8, 12);  // 12 + 4 at position 1
         b.EndCode();
       },
       16},
      {"literal past the output end",
       [](StreamBitWriter& b) {
         b.LiteralWidth(8, 0);
         for (int i = 0; i < 3; i++) b.Literal(7, 8);
         b.EndCode();
       },
       2},
      {"raw block past the output end",
       [](StreamBitWriter& b) {
         Bytes raw(256, 5);
         b.RawBlocks(raw.data(), 1);
         b.EndCode();
       },
       255},
      {"index bits 32",
       [](StreamBitWriter& b) {
         b.IndexBits(3, 32);
         b.EndCode();
       },
       16},
      {"index bits 63",
       [](StreamBitWriter& b) {
         b.IndexBits(3, 63);
         b.EndCode();
       },
       16},
      {"gamma number of 33 bits",
       [](StreamBitWriter& b) {
         b.OneByteCode(1);
         b.Put(1, 2);                    // normal match
         b.PutGamma(2);                  // repeat
         b.PutGamma(uint64_t(1) << 32);  // length with 32 data bits
         b.EndCode();
       },
       16},
      {"no end code: the stream runs out",
       [](StreamBitWriter& b) {
         b.LiteralWidth(8, 0);
         for (int i = 0; i < 5; i++) b.Literal(0x80, 8);
         b.Put(0xFFFFFFFF, 32);  // literals whose later bits are missing
         b.Put(0xFFFFFFFF, 32);
       },
       100},
  };
  for (const Case& c : cases) {
    StreamBitWriter bits;
    c.build(bits);
    for (bool trim : {false, true}) {
      Decoded d = Decode(MakeStream(0, 0, bits, trim), c.capacity);
      EXPECT_EQ(d.result, 0u) << c.name;
    }
  }
}

TEST(DecoderMalformed, GammaWithThirtyOneDataBitsIsStillValid) {
  StreamBitWriter bits;
  bits.OneByteCode(1);
  bits.RepeatMatch((uint64_t(1) << 32) - 1);  // 31 data bits: fine, but too long for the buffer
  bits.EndCode();
  // A valid gamma, then the match is simply past the end: also 0, and no
  // 4 GiB write attempted.
  EXPECT_EQ(Decode(MakeStream(0, 0, bits), 64).result, 0u);
}

TEST(DecoderInput, HeaderProblems) {
  StreamBitWriter bits;
  bits.OneByteCode(1);
  bits.EndCode();
  Bytes good = MakeStream(0, 0, bits);
  EXPECT_EQ(Decode(good, 4).result, 1u);
  Bytes magic = good;
  magic[1] = 'Z';
  Decoded d = Decode(magic, 4);
  EXPECT_EQ(d.result, 0u);
  EXPECT_EQ(d.written, 0u);
  for (size_t size = 0; size <= 10; size++) {
    EXPECT_EQ(Decode(Bytes(good.begin(), good.begin() + ptrdiff_t(size)), 4).result, 0u) << size;
  }
  uint8_t out[4];
  EXPECT_EQ(DecodeCompressedStream(nullptr, 20, out, 4), 0u);
  EXPECT_EQ(DecodeCompressedStream(good.data(), uint32_t(good.size()), nullptr, 4), 0u);
}

TEST(DecoderInput, MissingBytesOfTheLastWordReadAsZero) {
  // The end code sits in the first bits of the last word, that is in its
  // high bytes; with those bytes cut off, the stream still ends there.
  StreamBitWriter bits;
  bits.LiteralWidth(8, 0);  // 9 bits
  bits.Literal('k', 8);     // 9
  bits.OneByteCode(1);      // 7
  bits.OneByteCode(1);      // 7: the first word is full
  ASSERT_EQ(bits.BitCount(), 32u);
  bits.EndCode();
  Bytes full = MakeStream(0, 0, bits);
  ASSERT_EQ(full.size(), 18u);
  for (size_t cut = 0; cut <= 3; cut++) {
    Bytes stream(full.begin(), full.end() - ptrdiff_t(cut));
    Decoded d = Decode(stream, 3);
    EXPECT_EQ(d.result, 3u) << cut;
    EXPECT_EQ(d.output, (Bytes{'k', 0, 0})) << cut;
  }
  // The whole word missing is reading past the input.
  Bytes none(full.begin(), full.end() - 4);
  EXPECT_EQ(Decode(none, 3).result, 0u);
}

TEST(DecoderInput, TrailingBytesAfterTheEndCodeAreIgnored) {
  Bytes data = SampleText(1000);
  Bytes stream = EncodeCompressedStream(data.data(), data.size(), EncoderMode::Balanced, true);
  stream.insert(stream.end(), 9, 0xA5);
  Decoded d = Decode(stream, 1000);
  EXPECT_EQ(d.result, 1000u);
  EXPECT_EQ(d.output, data);
}

}  // namespace

// Salvage: what a stream cut short or damaged still gives.

struct Salvaged {
  StreamSalvage result;
  Bytes output;  // the whole destination
};

Salvaged Salvage(const Bytes& stream, uint32_t capacity, bool cutShort = false) {
  GuardedBuffer source(stream);
  GuardedBuffer destination(capacity);
  if (capacity > 0) memset(destination.Data(), 0, capacity);
  Salvaged s{};
  DecodeCompressedStreamSalvage(source.Data(), uint32_t(stream.size()), destination.Data(), capacity, cutShort,
                                &s.result);
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
