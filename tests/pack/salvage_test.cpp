// The salvage walk on an archive file whose reads the system refuses in one
// sector, as on a failing disk: the 4 KiB unit around it is lost, nothing else.
#include "pack/salvage.h"

#include <gtest/gtest.h>

#include <vector>

#include "core/memory.h"
#include "platform/platform.h"
#include "tests/pack/decoder_checks.h"
#include "tests/support/pack_writer.h"

namespace {

class Recorder : public SalvageVisitor {
 public:
  bool Entry(const SalvagedEntry& entry) override {
    entries.push_back(entry);
    bytes.emplace_back(entry.bytes, entry.bytes + (entry.bytes != nullptr ? entry.recovered : 0));
    return true;
  }
  void Skipped(const SalvageRange& range) override { skipped.push_back(range); }

  std::vector<SalvagedEntry> entries;
  std::vector<Bytes> bytes;
  std::vector<SalvageRange> skipped;
};

TEST(Salvage, RefusedReadsCostOnlyTheUnitsTheyTouch) {
  const char* const path = "salvage_test_archive.zip";
  std::vector<Bytes> data;
  for (size_t size : {9000, 20000, 30000, 10000, 5}) {   // larger than a unit: one touches at most two entries
    data.push_back(Noise(size, uint32_t(data.size())));  // a compressed one stays as large
  }
  std::vector<PackEntry> entries;
  for (size_t i = 0; i < data.size(); i++) entries.push_back(i == 2 ? CompressedEntry(data[i]) : StoredEntry(data[i]));
  Bytes archive = BuildArchive(entries);
  ASSERT_TRUE(WriteFileBytes(path, archive));
  std::vector<uint64_t> header;  // where each entry's header starts
  for (uint64_t at = 0; at < archive.size(); at += 8 + (archive[at + 4] | archive[at + 5] << 8 | archive[at + 6] << 16))
    header.push_back(at);

  const int S = int(SalvageState::Sound), P = int(SalvageState::Partial), L = int(SalvageState::Lost), ANY = -1;
  struct Case {
    uint64_t refused;      // a byte of the refused sector
    int state[5];          // of each entry
    int headerUnreadable;  // the entry whose header could not be read, or -1
  } cases[] = {
      {header[1] + 8 + 9000, {S, P, S, S, S}, -1},  // stored data
      {header[2] + 8 + 6000, {S, S, P, S, S}, -1},  // compressed data
      {header[3] + 3, {S, S, ANY, L, S}, 3},        // a header; the unit holds the end of entry 2 too
      {0, {L, S, S, S, S}, 0},                      // the first header
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.refused);
    ProgramHeapCreate();
    uint64_t sector = c.refused / 512 * 512;
    PlatformFileRefuseReadsOf(sector, sector + 512);
    Recorder seen;
    ASSERT_TRUE(ArchiveSalvage(path, seen));
    EXPECT_LT(PlatformFileCalls().positionedReads, 100u) << "a unit that failed is not read again";
    PlatformFileCallsReset();
    ASSERT_EQ(seen.entries.size(), data.size());
    for (size_t i = 0; i < data.size(); i++) {
      SCOPED_TRACE(i);
      const SalvagedEntry& entry = seen.entries[i];
      EXPECT_EQ(entry.number, i);
      EXPECT_EQ(entry.offset, header[i]);
      if (c.state[i] != ANY) {
        EXPECT_EQ(int(entry.state), c.state[i]);
      }
      EXPECT_EQ(entry.unreadable, c.state[i] != S);
      ASSERT_LE(seen.bytes[i].size(), data[i].size());
      EXPECT_TRUE(std::equal(seen.bytes[i].begin(), seen.bytes[i].end(), data[i].begin())) << "only bytes read";
      if (c.state[i] == P && entry.stored) {  // all that comes before the unit
        EXPECT_EQ(seen.bytes[i].size(), c.refused / 4096 * 4096 - (header[i] + 8));
      } else if (c.state[i] == P) {
        EXPECT_GT(seen.bytes[i].size(), 0u);
      }
    }
    ASSERT_EQ(seen.skipped.size(), c.headerUnreadable < 0 ? 0u : 1u);
    if (c.headerUnreadable >= 0) {
      size_t i = size_t(c.headerUnreadable);
      EXPECT_EQ(seen.skipped[0].offset, header[i]);
      EXPECT_EQ(seen.skipped[0].length, header[i + 1] - header[i]);
      EXPECT_TRUE(seen.skipped[0].unreadable && seen.entries[i].rangeTaken);
    }
    ProgramHeapDestroy();
  }
  PlatformFileDelete(path);
}

// A bad area of 2 MiB among entries of 40 KB: the walk gives up growing
// stretches of it instead of asking for each unit, and goes on after it.
TEST(Salvage, ALargeBadAreaCostsFewReads) {
  const char* const path = "salvage_test_archive.zip";
  std::vector<PackEntry> entries;
  for (int i = 0; i < 100; i++) entries.push_back(StoredEntry(Bytes(40000, uint8_t(i))));
  ASSERT_TRUE(WriteArchive(path, entries));
  ProgramHeapCreate();
  PlatformFileRefuseReadsOf(1 << 20, 3 << 20);
  Recorder seen;
  ASSERT_TRUE(ArchiveSalvage(path, seen));
  EXPECT_LT(PlatformFileCalls().positionedReads, 400u) << "not two per unit of the area";
  PlatformFileCallsReset();
  size_t sound = 0;
  for (size_t i = 0; i < seen.entries.size(); i++) {
    bool clear = seen.entries[i].offset + 40008 <= (1 << 20) || seen.entries[i].offset >= (7 << 19);
    if (clear) {
      EXPECT_EQ(seen.entries[i].state, SalvageState::Sound) << seen.entries[i].offset;
    }
    if (seen.entries[i].state == SalvageState::Sound) {
      sound++;
      EXPECT_EQ(seen.bytes[i], Bytes(40000, seen.bytes[i][0]));
    }
  }
  EXPECT_GE(sound, 26u + 8u) << "the entries before 1 MiB and after 3.5 MiB";
  ProgramHeapDestroy();
  PlatformFileDelete(path);
}

}  // namespace
