// The repair by the checksum: each kind of place a flipped bit can hit, the
// damage it cannot prove, and the search's answer for any number of threads.
#include "pack/repair.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "pack/decoder.h"
#include "tests/support/damaged_archives.h"
#include "tests/support/pack_writer.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The byte and bit of the stream that hold bit `bit` of the writer's bits
// (words little-endian, each from bit 31 down).
RepairPlace StreamPlace(size_t bit) {
  unsigned inWord = 31 - unsigned(bit % 32);
  return RepairPlace{uint32_t(STREAM_HEADER_SIZE + bit / 32 * 4 + inWord / 8), uint8_t(inWord % 8), RepairField::Data};
}

// A hand-made stream whose every field's place is known: sixteen literals,
// a normal match from 8 back, a short match, three literals, the end code.
struct HandStream {
  Bytes data;
  Bytes stream;
  size_t literal, distance, length, end;  // bits where the fields lie

  HandStream() {
    StreamBitWriter bits;
    bits.LiteralWidth(8, 0);
    const std::string text = "abcdefghijklmnop";
    for (size_t i = 0; i < text.size(); i++) {
      if (i == 4) literal = bits.BitCount() + 1 + 3;  // a value bit of 'e'
      bits.Literal(uint8_t(text[i]), 8);
    }
    // 0 1, gamma(3) in 2 bits, 8 low bits (8), gamma(4) in 4 bits: 8 bytes.
    distance = bits.BitCount() + 2 + 2 + 5;  // low bit value 4: from 12 back instead
    length = bits.BitCount() + 2 + 2 + 8;    // the length's first data bit
    bits.NormalMatch(0, 8, 8, 4);
    bits.ShortMatch(3, 1);
    for (char c : std::string("xyz")) bits.Literal(uint8_t(c), 8);
    end = bits.BitCount();  // its first bit set reads a literal past the end
    bits.EndCode();
    data = Bytes(text.begin(), text.end());
    for (size_t i = 8; i < 16; i++) data.push_back(data[i]);
    for (int i = 0; i < 3; i++) data.push_back(data[data.size() - 3]);
    for (char c : std::string("xyz")) data.push_back(uint8_t(c));
    stream = MakeStream(uint32_t(data.size()), ReferenceChecksum(data.data(), data.size()), bits);
  }
};

Bytes Decoded(const Bytes& stream, uint32_t size) {
  Bytes out(size + 1);
  uint32_t written = 0;
  if (!DecodeCompressedStreamChecked(stream.data(), uint32_t(stream.size()), out.data(), size, &written) ||
      written != size) {
    return {};
  }
  out.resize(size);
  return out;
}

bool SamePlace(const RepairPlace& a, const RepairPlace& b) {
  return a.byte == b.byte && a.bit == b.bit && a.field == b.field;
}

TEST(Repair, EachFieldOfAHandMadeStream) {
  HandStream hand;
  ASSERT_EQ(Decoded(hand.stream, uint32_t(hand.data.size())), hand.data);
  const struct {
    const char* what;
    RepairPlace place;
  } FLIPS[] = {
      {"a literal", StreamPlace(hand.literal)},
      {"a distance", StreamPlace(hand.distance)},
      {"a match length", StreamPlace(hand.length)},
      {"the end code", StreamPlace(hand.end)},
      {"the checksum field", RepairPlace{7, 5, RepairField::Checksum}},
      {"the decoded-size field", RepairPlace{2, 1, RepairField::DecodedSize}},
      {"the magic", RepairPlace{1, 6, RepairField::Magic}},
  };
  for (const auto& flip : FLIPS) {
    SCOPED_TRACE(flip.what);
    Bytes spoilt = hand.stream;
    RepairApply(spoilt.data(), flip.place);
    ASSERT_TRUE(Decoded(spoilt, uint32_t(hand.data.size())).empty());
    for (unsigned threads : {1u, 3u}) {
      StreamRepair repair =
          RepairStream(spoilt.data(), uint32_t(spoilt.size()), uint32_t(hand.data.size()), RepairOptions{threads});
      ASSERT_EQ(repair.outcome, RepairOutcome::Repaired);
      EXPECT_TRUE(SamePlace(repair.places[0], flip.place));
      EXPECT_EQ(repair.candidates, spoilt.size() * 8);
      RepairApply(spoilt.data(), repair.places[0]);
      EXPECT_EQ(Decoded(spoilt, uint32_t(hand.data.size())), hand.data);
      RepairApply(spoilt.data(), repair.places[0]);
    }
  }
}

// Flips at places spread over a stream of real size: a repair is where the
// flip was made, with the original's bytes; where the checksum proves too
// little or other changes pass too, nothing is repaired. A flip the stream
// does not notice (past its end code, an index-bits value no match uses)
// leaves it whole.
TEST(Repair, EverySingleFlipOfAnEncodedText) {
  Bytes data = SampleProse(12000, 7);
  Bytes stream = EncodeCompressedStream(data.data(), data.size(), EncoderMode::Balanced, true);
  uint32_t bits = uint32_t(stream.size() * 8);
  int repaired = 0;
  for (uint32_t k = 0; k < 10; k++) {
    uint32_t at = uint32_t((uint64_t(k) * 2654435761u) % bits);
    RepairPlace place{at / 8, uint8_t(at % 8), RepairField::Data};
    SCOPED_TRACE(at);
    Bytes spoilt = stream;
    RepairApply(spoilt.data(), place);
    StreamRepair repair = RepairStream(spoilt.data(), uint32_t(spoilt.size()), uint32_t(data.size()), RepairOptions{2});
    if (Decoded(spoilt, uint32_t(data.size())) == data) {
      EXPECT_EQ(repair.outcome, RepairOutcome::Whole);
      continue;
    }
    ASSERT_NE(repair.outcome, RepairOutcome::None);
    ASSERT_NE(repair.outcome, RepairOutcome::Whole);
    if (repair.outcome == RepairOutcome::Ambiguous) continue;
    EXPECT_EQ(repair.places[0].byte, place.byte);
    EXPECT_EQ(repair.places[0].bit, place.bit);
    EXPECT_EQ(repair.outcome == RepairOutcome::Repaired, repair.falseMatchOneIn >= REPAIR_ONE_IN_MIN);
    repaired += repair.outcome == RepairOutcome::Repaired;
    RepairApply(spoilt.data(), repair.places[0]);
    EXPECT_EQ(Decoded(spoilt, uint32_t(data.size())), data);
  }
  EXPECT_GE(repaired, 4);
}

TEST(Repair, TwoFlipsAreNoRepair) {
  Bytes data = SampleProse(20000, 3);
  Bytes stream = EncodeCompressedStream(data.data(), data.size(), EncoderMode::Balanced, true);
  for (size_t second : {size_t(40), size_t(900), stream.size() - 20}) {
    Bytes spoilt = stream;
    RepairApply(spoilt.data(), RepairPlace{200, 3, RepairField::Data});
    RepairApply(spoilt.data(), RepairPlace{uint32_t(second), 5, RepairField::Data});
    StreamRepair repair = RepairStream(spoilt.data(), uint32_t(spoilt.size()), uint32_t(data.size()), RepairOptions{2});
    EXPECT_NE(repair.outcome, RepairOutcome::Repaired) << second;
    EXPECT_NE(repair.outcome, RepairOutcome::Whole) << second;
  }
}

// Eight bytes whose checksum and that of the same bytes with one bit
// changed differ in one bit: with the changed bytes' checksum in its field,
// the stream passes with its literal's bit changed and with the field's.
TEST(Repair, TwoChangesThatPassAreNoRepair) {
  uint32_t state = 1;
  auto next = [&] { return state = state * 1664525u + 1013904223u; };
  for (int tries = 0; tries < 100000; tries++) {
    Bytes data(8);
    for (uint8_t& byte : data) byte = uint8_t(next() >> 24);
    unsigned bit = next() % 32;
    Bytes changed = data;
    changed[4 + bit / 8] ^= uint8_t(1u << (bit % 8));
    uint32_t sum = ReferenceChecksum(data.data(), 8), other = ReferenceChecksum(changed.data(), 8);
    if (__builtin_popcount(sum ^ other) != 1) continue;
    StreamBitWriter bits;
    bits.LiteralWidth(8, 0);
    for (uint8_t byte : data) bits.Literal(byte, 8);
    bits.EndCode();
    Bytes stream = MakeStream(8, other, bits);
    StreamRepair repair = RepairStream(stream.data(), uint32_t(stream.size()), 8);
    ASSERT_EQ(repair.outcome, RepairOutcome::Ambiguous);
    EXPECT_EQ(repair.places[0].field, RepairField::Checksum);
    EXPECT_EQ(repair.places[1].field, RepairField::Data);
    return;
  }
  FAIL() << "no such bytes among those tried";
}

TEST(Repair, WhatCannotBeProvenIsNotTried) {
  Bytes data = SampleProse(5000, 4);
  Bytes plain = EncodeCompressedStream(data.data(), data.size(), EncoderMode::Balanced, false);
  RepairApply(plain.data(), RepairPlace{40, 2, RepairField::Data});
  EXPECT_EQ(RepairStream(plain.data(), uint32_t(plain.size()), uint32_t(data.size())).outcome,
            RepairOutcome::Unprovable);
  // A stored entry has no stream to repair.
  const char* path = "repair_test_stored.zip";
  std::vector<PackEntry> entries{StoredEntry(data)};
  Bytes archive = BuildArchive(entries);
  archive[100] ^= 4;
  ASSERT_TRUE(WriteFileBytes(path, archive));
  RepairedEntry entry;
  EXPECT_FALSE(RepairArchiveEntry(path, 0, uint32_t(data.size()), uint32_t(data.size()), RepairOptions{}, &entry));
  std::remove(path);
}

TEST(Repair, NoTimeLeftIsNotTried) {
  HandStream hand;
  Bytes spoilt = hand.stream;
  RepairApply(spoilt.data(), StreamPlace(hand.literal));
  RepairBudget spent(1e-9);
  while (!spent.Spent()) {
  }
  StreamRepair repair =
      RepairStream(spoilt.data(), uint32_t(spoilt.size()), uint32_t(hand.data.size()), RepairOptions{1, &spent});
  EXPECT_EQ(repair.outcome, RepairOutcome::OutOfTime);
}

// One flipped bit in the index of a backup: its rows come back whole, and
// the archive byte told is the one flipped.
TEST(Repair, TheIndexOfABackup) {
  std::string rows;
  for (int row = 0; row < 3000; row++)
    rows += "Sicherung\\Ordner " + std::to_string(row / 40) + "\\Datei " + std::to_string(row) + ".txt\r\n";
  Bytes index(rows.begin(), rows.end());
  const char* path = "repair_test_index.zip";
  Bytes archive = BuildArchive({CompressedEntry(index), StoredEntry(index)});
  uint32_t packed = uint32_t(archive[4] | archive[5] << 8 | archive[6] << 16 | uint32_t(archive[7]) << 24);
  size_t flipped = 8 + packed / 2;
  archive[flipped] ^= 0x02;
  ASSERT_TRUE(WriteFileBytes(path, archive));
  RepairedEntry entry;
  ASSERT_TRUE(RepairArchiveEntry(path, 0, uint32_t(index.size()), packed, RepairOptions{2}, &entry));
  std::remove(path);
  ASSERT_EQ(entry.repair.outcome, RepairOutcome::Repaired);
  EXPECT_EQ(entry.archiveByte, flipped);
  EXPECT_EQ(entry.bytes, index);
}

TEST(Repair, FalseMatchChanceReadsAsAFigure) {
  EXPECT_EQ(RepairFalseMatchOneIn(uint64_t(65536) * 8), 8000u);  // 8,192
  EXPECT_EQ(RepairFalseMatchOneIn(8), 500000000u);
  EXPECT_EQ(RepairFalseMatchOneIn(uint64_t(1) << 33), 0u);
  EXPECT_EQ(RepairFalseMatchOneIn(1000, 8), 0u);  // the top byte of a word: no proof
}

}  // namespace
