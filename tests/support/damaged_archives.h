// Archives with each kind of damage a backup may come back with, for the
// rescue tests, the fuzz seeds and the benchmarks: one place that knows how
// each is made.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
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

// An archive of `rowCount` rows (row 0 names the index) and an entry for
// each: compressed texts of `size` to 1.5 times as many bytes (20,000: 4 to
// 7 KiB packed), every third one stored; the entries named in `empty` are
// empty files. Its damaged copies are made from it.
struct RowArchive {
  explicit RowArchive(size_t rowCount, std::vector<size_t> empty = {}, size_t size = 20000,
                      bool compressedIndex = false);

  std::vector<std::string> rows;
  std::vector<std::vector<uint8_t>> data;  // each entry's bytes; data[0] the index
  std::vector<size_t> offsets;             // where each entry's header starts
  std::vector<uint8_t> bytes;              // the sound archive

  // Zeros from entry's header to the end of the file.
  std::vector<uint8_t> ZeroedFrom(size_t entry) const;
  // The 4 KiB block (at a multiple of 4 KiB) that holds entry's header, zeroed.
  std::vector<uint8_t> ZeroedBlock(size_t entry) const;
  // `length` zeros from `at` bytes into entry's data.
  std::vector<uint8_t> ZeroedInside(size_t entry, size_t at, size_t length) const;
  // The third byte of entry's packed-size field changed: it claims far more
  // than the file holds.
  std::vector<uint8_t> BadPackedSize(size_t entry) const;
  // A bit flipped 30 bytes into entry's data (a compressed one's stream
  // breaks there).
  std::vector<uint8_t> Spoilt(size_t entry) const;
  // The file cut `length` bytes after entry's header starts.
  std::vector<uint8_t> CutInside(size_t entry, size_t length) const;
  // The 512-byte sector that holds entry's header, zeroed.
  std::vector<uint8_t> ZeroedSector(size_t entry) const;
  // Spans of zeros laid over the sound archive: [offset, length) pairs.
  std::vector<uint8_t> Zeroed(const std::vector<std::pair<size_t, size_t>>& spans) const;
  // The rows whose header or data lie in one of the spans, or past the end
  // of `damaged` (a copy made of this archive): every other row's file can
  // come back whole.
  std::vector<bool> Touched(const std::vector<std::pair<size_t, size_t>>& spans) const;
};

// A backup of thousands of small files, as the damage tests at a real
// backup's size and the benchmarks use it: `rowCount` rows of 1,000 to
// 1,500 bytes each (every third stored), with runs of two and three empty
// files in a row at a few places.
RowArchive LargeBackup(size_t rowCount, bool compressedIndex = false);

// The damages the large backups are tried with, each at a place given as a
// fraction of the archive's entries.
struct LargeDamage {
  const char* what;
  std::vector<uint8_t> bytes;
  std::vector<std::pair<size_t, size_t>> spans;  // the bytes spoilt
};

// The backup of the same tree a month before `backup`: every 500th file (from
// row 7) held other bytes then, every 700th (from row 11) was not there yet,
// and a file stood after every 900th that is gone since. Stored and
// compressed as the backup's entries are.
std::vector<uint8_t> MonthBefore(const RowArchive& backup);

// Two bytes of a compressed index's stream spoilt, at 40 % and 70 % of it:
// its checksum fails and the rows after the first are garbage.
LargeDamage SpoiltIndex(const RowArchive& backup);

std::vector<LargeDamage> LargeDamages(const RowArchive& backup);

// `size` bytes of a 16-byte block repeated: a compressed header claiming
// 1 MiB + 257 bytes, its stream magic, and filler. Every 16th offset reads as
// a plausible header whose next one lies beyond a 1 MiB window.
std::vector<uint8_t> ThrashArchive(size_t size);
