#include "tests/pack/decoder_checks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "pack/decoder.h"
#include "pack/decoder_internal.h"
#include "pack/work_ahead.h"
#include "tests/support/guarded_buffer.h"

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
    for (FastCode code : {FastCode::Portable, FastCode::BitOps}) {
      if (code == FastCode::BitOps && !decoder_parts::BitOpsAvailable()) continue;
      SCOPED_TRACE(std::string(cursor ? "cursor reader" : "buffer reader") +
                   (code == FastCode::BitOps ? ", bit operations" : ""));
      GuardedBuffer other(capacity);
      uint32_t written = 0;
      auto decode = cursor ? decoder_parts::DecodeStreamWith<decoder_parts::CursorReader>
                           : decoder_parts::DecodeStreamWith<decoder_parts::BufferReader>;
      EXPECT_EQ(decode(source.Data(), uint32_t(stream.size()), other.Data(), capacity, &written, code,
                       decoder_parts::BESIDE_NEVER, nullptr),
                d.sound);
      EXPECT_EQ(written, d.written);
      EXPECT_TRUE(written == d.written && std::equal(d.output.begin(), d.output.end(), other.Data()));
    }
  }
  // So must the checksum beside the decoding, here for every size.
  static WorkAhead engine(2);
  GuardedBuffer beside(capacity);
  uint32_t written = 0;
  EXPECT_EQ(
      decoder_parts::DecodeStreamWith<decoder_parts::FastReader>(source.Data(), uint32_t(stream.size()), beside.Data(),
                                                                 capacity, &written, FastCode::Portable, 0, &engine),
      d.sound);
  EXPECT_TRUE(written == d.written && std::equal(d.output.begin(), d.output.end(), beside.Data()));
  return d;
}

Bytes Text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

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
