// Archives with each kind of damage a backup may come back with, for the
// rescue tests, the fuzz seeds and the benchmarks: one place that knows how
// each is made.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Text-like data with near and far repeats and some noise, so that every
// token kind has something to do; seeded so that each entry differs.
std::vector<uint8_t> SampleProse(size_t size, uint32_t seed);

// A 26-byte archive whose index claims `claim` unpacked bytes and holds a
// stream that gives only "a\nb\n" (no checksum): a hostile size claim.
std::vector<uint8_t> HostileClaimArchive(uint32_t claim);

// An index of five rows and four entries: a stored letter, two compressed
// texts of 3,000 and 5,000 bytes, a short note (stored or compressed).
struct RescueSample {
  RescueSample();

  std::vector<std::string> rows;
  std::vector<uint8_t> index;              // the rows, each ended by CR LF
  std::vector<std::vector<uint8_t>> data;  // entries 1 to 4
  std::vector<size_t> offsets;             // where each entry's header starts, after Build

  std::vector<uint8_t> Build(bool compressIndex, bool lastCompressed);
  // The index's stream cut off after its first 40 bytes of bits (rows 0 and 1
  // decode whole), the entries after it sound.
  std::vector<uint8_t> BuildWithIndexCut();
};
