// The stream decoder token by token: the format's own examples, checksums,
// malformed streams and problems of the input. Whole streams are in
// decoder_streams_test.cpp.
#include "pack/decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pack/decoder_internal.h"
#include "pack/work_ahead.h"
#include "tests/pack/decoder_checks.h"
#include "tests/support/pack_writer.h"
#include "tests/support/reference_decoder.h"

namespace {

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

// The test of a decoded stream's field meets in the middle: every size
// modulo 4 and modulo the loop's 16 bytes, odd and even word counts, against
// the sum itself; a field one off, or one bit off, never matches.
TEST(DecoderChecksum, MatchingMeetsInTheMiddle) {
  Bytes data = Noise(4200, 17);
  for (uint32_t size : {0u, 1u, 3u, 4u, 5u, 7u, 8u, 11u, 12u, 15u, 16u, 17u, 31u, 32u, 33u, 36u, 40u, 63u, 64u, 65u,
                        68u, 100u, 4095u, 4096u, 4099u, 4200u}) {
    uint32_t sum = StreamChecksum(data.data(), size);
    EXPECT_EQ(sum, ReferenceChecksum(data.data(), size)) << size;
    EXPECT_TRUE(decoder_parts::StreamChecksumMatches(data.data(), size, sum)) << size;
    EXPECT_FALSE(decoder_parts::StreamChecksumMatches(data.data(), size, sum + 1)) << size;
    EXPECT_FALSE(decoder_parts::StreamChecksumMatches(data.data(), size, sum ^ 0x80000000u)) << size;
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

// A stream of the size whose checksum runs beside its decoding, of each
// length modulo 4 (the last word overlapping the one before), sound, with
// its checksum off by one bit, and cut short: the verdict, the bytes and the
// count of decoded bytes are the decoding's alone.
TEST(DecoderChecksum, BesideTheDecodingGivesTheSameAccount) {
  Bytes data = Noise(CHECKSUM_BESIDE_MIN + 3, 7);
  WorkAhead engine(2);
  for (uint32_t size = CHECKSUM_BESIDE_MIN; size < CHECKSUM_BESIDE_MIN + 4; size++) {
    Bytes sound = EncodeCompressedStream(data.data(), size, EncoderMode::Literals8, true);
    Bytes mismatch = sound;
    mismatch[6] ^= 1;
    Bytes cut(sound.begin(), sound.begin() + sound.size() / 2);
    for (const Bytes* stream : {&sound, &mismatch, &cut}) {
      SCOPED_TRACE(testing::Message() << size << ", stream of " << stream->size());
      StreamSalvage got[2];
      Bytes out[2] = {Bytes(size), Bytes(size)};
      for (int i = 0; i < 2; i++) {
        DecodeCompressedStreamSalvage(stream->data(), uint32_t(stream->size()), out[i].data(), size, false, &got[i],
                                      i == 0 ? nullptr : &engine);
      }
      EXPECT_EQ(got[1].sound, stream == &sound);
      EXPECT_EQ(got[0].sound, got[1].sound);
      EXPECT_EQ(got[0].written, got[1].written);
      EXPECT_EQ(got[0].decoded, got[1].decoded);
      EXPECT_TRUE(out[0] == out[1]);
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
  // The encoder trims the last word's zero high bytes; bytes appended there
  // would be that word's own.
  stream.resize(stream.size() + (4 - (stream.size() - 10) % 4) % 4, 0);
  stream.insert(stream.end(), 9, 0xA5);
  Decoded d = Decode(stream, 1000);
  EXPECT_EQ(d.result, 1000u);
  EXPECT_EQ(d.output, data);
}

}  // namespace
