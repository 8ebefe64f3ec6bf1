// The salvage walk on an archive file whose reads the system refuses in one
// place, as a failing disk does: what lies elsewhere is still recovered.
#include "pack/salvage.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "core/memory.h"
#include "platform/platform.h"
#include "tests/support/pack_writer.h"

namespace {

using Bytes = std::vector<uint8_t>;

const char* const ARCHIVE = "salvage_test_archive.zip";
constexpr uint64_t SECTOR = 512;  // what a failing disk refuses at a time
constexpr uint64_t UNIT = 4096;   // what the walk gives up around it

Bytes Noise(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  Bytes bytes(size);
  for (auto& b : bytes) b = uint8_t(random() % 7 == 0 ? 'a' + random() % 3 : random());
  return bytes;
}

struct Seen {
  SalvagedEntry entry;
  Bytes bytes;
};

class Recorder : public SalvageVisitor {
 public:
  bool Entry(const SalvagedEntry& entry) override {
    entries.push_back({entry, Bytes(entry.bytes, entry.bytes + (entry.bytes != nullptr ? entry.recovered : 0))});
    return true;
  }
  void Skipped(const SalvageRange& range) override { skipped.push_back(range); }

  std::vector<Seen> entries;
  std::vector<SalvageRange> skipped;
};

class Salvage : public ::testing::Test {
 protected:
  void SetUp() override { ProgramHeapCreate(); }
  void TearDown() override {
    PlatformFileCallsReset();
    ProgramHeapDestroy();
    PlatformFileDelete(ARCHIVE);
  }
};

// Entries larger than a unit, so that one unit touches at most two. Each
// case refuses the sector that holds one byte; the unit around it is lost,
// and nothing else.
TEST_F(Salvage, RefusedReadsCostOnlyTheUnitsTheyTouch) {
  std::vector<Bytes> data = {Noise(9000, 1), Noise(20000, 2), Noise(30000, 3), Noise(10000, 4), Noise(5, 5)};
  std::vector<PackEntry> entries;
  for (size_t i = 0; i < data.size(); i++) entries.push_back(i == 2 ? CompressedEntry(data[i]) : StoredEntry(data[i]));
  Bytes archive = BuildArchive(entries);
  ASSERT_TRUE(WriteFileBytes(ARCHIVE, archive));
  std::vector<uint64_t> header;  // where each entry's header starts
  for (uint64_t at = 0; at < archive.size(); at += 8 + (archive[at + 4] | archive[at + 5] << 8 | archive[at + 6] << 16))
    header.push_back(at);
  ASSERT_EQ(header.size(), data.size());

  enum { SOUND, PARTIAL, LOST, ANY } const S = SOUND, P = PARTIAL, L = LOST, A = ANY;
  struct Case {
    const char* what;
    uint64_t refused;  // a byte of the refused sector
    int state[5];
    int unreadableHeader;  // the entry whose header could not be read, or -1
  } cases[] = {
      {"stored data", header[1] + 8 + 9000, {S, P, S, S, S}, -1},
      {"compressed data", header[2] + 8 + 6000, {S, S, P, S, S}, -1},
      // The unit holds the end of entry 2's stream too.
      {"a header", header[3] + 3, {S, S, A, L, S}, 3},
      {"the first header", 0, {L, S, S, S, S}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PlatformFileCallsReset();
    uint64_t sector = c.refused / SECTOR * SECTOR;
    PlatformFileRefuseReadsOf(sector, sector + SECTOR);
    Recorder recorder;
    ASSERT_TRUE(ArchiveSalvage(ARCHIVE, recorder));
    EXPECT_LT(PlatformFileCalls().positionedReads, 100u) << "a unit that failed is not read again";

    ASSERT_EQ(recorder.entries.size(), data.size());
    uint64_t unit = c.refused / UNIT * UNIT;
    for (size_t i = 0; i < data.size(); i++) {
      SCOPED_TRACE(i);
      const Seen& seen = recorder.entries[i];
      EXPECT_EQ(seen.entry.number, i);
      EXPECT_EQ(seen.entry.offset, header[i]);
      int want = c.state[i];
      const SalvageState named[] = {SalvageState::Sound, SalvageState::Partial, SalvageState::Lost};
      if (want != ANY) {
        EXPECT_EQ(seen.entry.state, named[want]);
      }
      EXPECT_EQ(seen.entry.unreadable, want != SOUND);
      ASSERT_LE(seen.bytes.size(), data[i].size());
      EXPECT_TRUE(std::equal(seen.bytes.begin(), seen.bytes.end(), data[i].begin())) << "only bytes that were read";
      if (want == PARTIAL) {  // all that comes before the unit
        if (seen.entry.stored) {
          EXPECT_EQ(seen.bytes.size(), unit - (header[i] + 8));
        } else {
          EXPECT_GT(seen.bytes.size(), 0u);
        }
      }
    }
    if (c.unreadableHeader < 0) {
      EXPECT_TRUE(recorder.skipped.empty());
    } else {
      ASSERT_EQ(recorder.skipped.size(), 1u);
      size_t i = size_t(c.unreadableHeader);
      EXPECT_EQ(recorder.skipped[0].offset, header[i]);
      EXPECT_EQ(recorder.skipped[0].length, header[i + 1] - header[i]);
      EXPECT_TRUE(recorder.skipped[0].unreadable);
      EXPECT_TRUE(recorder.entries[i].entry.rangeTaken);
    }
  }
}

}  // namespace
