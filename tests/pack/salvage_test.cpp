// The salvage walk on an archive file whose reads the system refuses in one
// sector or a larger area, as on a failing disk: the 4 KiB units it touches
// are lost, nothing else.
#include "pack/salvage.h"

#include <gtest/gtest.h>

#include <vector>

#include "core/memory.h"
#include "pack/work_ahead.h"
#include "platform/platform.h"
#include "tests/pack/decoder_checks.h"
#include "tests/support/counted_seam.h"
#include "tests/support/damaged_archives.h"
#include "tests/support/pack_writer.h"

namespace {

class Recorder : public SalvageVisitor {
 public:
  bool Entry(const SalvagedEntry& entry) override {
    entries.push_back(entry);
    bytes.emplace_back(entry.bytes, entry.bytes + (entry.bytes != nullptr ? entry.recovered : 0));
    holes.emplace_back(entry.holes, entry.holes + entry.holeCount);
    fromFile.push_back(entry.FromFile());  // its holes are gone after the call
    return true;
  }

  // Whether entry i's bytes are those of `original`, with zeros in its holes.
  bool Matches(size_t i, const Bytes& original) const {
    if (bytes[i].size() > original.size()) return false;
    Bytes expected(original.begin(), original.begin() + ptrdiff_t(bytes[i].size()));
    for (const SalvageHole& hole : holes[i]) {
      if (hole.offset + hole.length > expected.size()) return false;
      std::fill_n(expected.begin() + hole.offset, hole.length, 0);
    }
    return bytes[i] == expected;
  }
  void Skipped(const SalvageRange& range) override { skipped.push_back(range); }
  void Searching(uint64_t offset) override { searched.push_back(offset); }
  void Ended(uint64_t bytes) override { untried = bytes; }
  void Refused(uint64_t offset) override { refused.push_back(offset); }
  SalvageExpected Expected() override { return expected; }

  SalvageExpected expected{false, false, 0};

  std::vector<SalvagedEntry> entries;
  std::vector<Bytes> bytes;
  std::vector<std::vector<SalvageHole>> holes;
  std::vector<uint32_t> fromFile;
  std::vector<SalvageRange> skipped;
  std::vector<uint64_t> searched;
  uint64_t untried = UINT64_MAX;
  std::vector<uint64_t> refused;
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

  const int S = int(SalvageState::Sound), P = int(SalvageState::Partial), ANY = -1;
  struct Case {
    uint64_t refused;      // a byte of the refused sector
    int state[5];          // of each entry
    int headerUnreadable;  // the entry whose header could not be read, or -1
  } cases[] = {
      {header[1] + 8 + 9000, {S, P, S, S, S}, -1},  // stored data
      {header[2] + 8 + 6000, {S, S, P, S, S}, -1},  // compressed data
      {header[3] + 3, {S, S, ANY, P, S}, 3},        // a header; the unit holds the end of entry 2 too
      {0, {P, S, S, S, S}, 0},                      // the first header
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.refused);
    ProgramHeapCreate();
    PlatformFileCallsReset();  // the counts of the tests before this one are not its own
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
      EXPECT_TRUE(seen.Matches(i, data[i])) << "only bytes read";
      if (c.state[i] == P && entry.stored) {  // all of it but the unit, zeros there
        EXPECT_EQ(seen.bytes[i].size(), data[i].size());
        ASSERT_EQ(seen.holes[i].size(), 1u);
        EXPECT_EQ(seen.holes[i][0].offset, c.refused / 4096 * 4096 - (header[i] + 8));
        EXPECT_EQ(seen.holes[i][0].length, 4096u);
        EXPECT_EQ(seen.fromFile[i], data[i].size() - 4096);
      } else if (c.state[i] == P && int(i) != c.headerUnreadable) {  // what decodes from before the unit
        EXPECT_GT(seen.bytes[i].size(), 0u);
        EXPECT_TRUE(seen.holes[i].empty());
      }
    }
    ASSERT_EQ(seen.skipped.size(), c.headerUnreadable < 0 ? 0u : 1u);
    if (c.headerUnreadable >= 0) {
      size_t i = size_t(c.headerUnreadable);
      EXPECT_EQ(seen.skipped[0].offset, header[i]);
      EXPECT_EQ(seen.skipped[0].length, header[i + 1] - header[i]);
      EXPECT_TRUE(seen.skipped[0].unreadable && seen.entries[i].rangeTaken && seen.entries[i].sizeUnknown);
      // Its data, found as the range's bytes, but for the unit's.
      EXPECT_EQ(seen.bytes[i].size(), data[i].size());
      ASSERT_EQ(seen.holes[i].size(), 1u);
      EXPECT_EQ(seen.holes[i][0].offset, 0u);
      EXPECT_EQ(seen.holes[i][0].length, c.refused / 4096 * 4096 + 4096 - (header[i] + 8));
    }
    ProgramHeapDestroy();
  }
  PlatformFileDelete(path);
}

// Bad areas of 2 MiB: the walk gives up growing stretches of them instead
// of asking for each unit, goes on after them, and loses no byte outside
// them: the stretch given up past the end of an area is tried again from
// where the disk reads again, backwards.
TEST(Salvage, ALargeBadAreaCostsFewReadsAndNoByteOutsideIt) {
  const char* const path = "salvage_test_archive.zip";
  std::vector<Bytes> data;
  for (int i = 0; i < 81; i++) data.push_back(i == 40 ? Noise(4 << 20, 7) : Bytes(40000, uint8_t(i)));
  std::vector<PackEntry> entries;
  for (const Bytes& d : data) entries.push_back(StoredEntry(d));
  ASSERT_TRUE(WriteArchive(path, entries));
  const uint64_t big = 40 * 40008 + 8;  // where entry 40's data starts
  struct Case {
    uint64_t from, to;
  } cases[] = {
      {(2 << 20) + 12345, (4 << 20) - 50000},  // inside the large entry
      {(1 << 20) + 777, (3 << 20) + 1000},     // over the headers of the entries 27 to 40
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.from);
    ProgramHeapCreate();
    PlatformFileRefuseReadsOf(c.from, c.to);
    Recorder seen;
    ASSERT_TRUE(ArchiveSalvage(path, seen));
    EXPECT_LT(PlatformFileCalls().refusedReads, 20u) << "not one per unit of the area";
    EXPECT_LT(PlatformFileCalls().positionedReads, 512u) << "fewer than one per unit of the area";
    PlatformFileCallsReset();
    size_t large = 0;  // the entry that holds entry 40's data
    for (size_t i = 0; i < seen.entries.size(); i++) {
      const SalvagedEntry& entry = seen.entries[i];
      if (entry.offset < big && entry.offset + 8 + entry.recovered > big) large = i;
      bool clear = !entry.sizeUnknown && (entry.offset + 8 + entry.packedSize <= c.from / 4096 * 4096 ||
                                          entry.offset >= (c.to + 4095) / 4096 * 4096);
      if (clear) {
        EXPECT_EQ(entry.state, SalvageState::Sound) << entry.offset;
      }
    }
    ASSERT_NE(large, 0u);
    SCOPED_TRACE(large);
    uint64_t start = seen.entries[large].offset + 8;
    Bytes original(big - start, 0);  // the range's bytes before entry 40's, when they are taken with it
    original.insert(original.end(), data[40].begin(), data[40].end());
    EXPECT_TRUE(seen.Matches(large, original));
    EXPECT_EQ(seen.bytes[large].size(), original.size());
    ASSERT_EQ(seen.holes[large].size(), 1u);
    uint64_t unitFrom = c.from / 4096 * 4096, unitTo = (c.to + 4095) / 4096 * 4096;
    EXPECT_EQ(seen.holes[large][0].offset, std::max(unitFrom, start) - start);
    EXPECT_EQ(start + seen.holes[large][0].offset + seen.holes[large][0].length, unitTo) << "no unit after the area";
    // The search through entry 40's data after the area says how far it is.
    EXPECT_TRUE(std::is_sorted(seen.searched.begin(), seen.searched.end()));
    EXPECT_GE(seen.searched.size(), seen.skipped.empty() ? 0u : 2u);  // 3 MiB on to entry 41
    ProgramHeapDestroy();
  }
  PlatformFileDelete(path);
}

// A disk with a thousand scattered bad sectors, one in every other unit of
// a large entry: each costs its unit alone, in both ways of reading, and
// the entries after them come whole.
TEST(Salvage, ScatteredBadSectorsCostOnlyTheirUnits) {
  const char* const path = "salvage_test_archive.zip";
  const uint32_t BAD = 1000;
  std::vector<Bytes> data = {Noise(2 * BAD * 4096, 3), Noise(5000, 4), Bytes(70000, 'x')};
  ASSERT_TRUE(WriteArchive(path, {StoredEntry(data[0]), StoredEntry(data[1]), CompressedEntry(data[2])}));
  for (SalvageReads reads : {SalvageReads::Stretches, SalvageReads::EveryUnit}) {
    SCOPED_TRACE(int(reads));
    ProgramHeapCreate();
    for (uint64_t unit = 1; unit < 2 * BAD; unit += 2) PlatformFileRefuseReadsOf(unit * 4096 + 100, unit * 4096 + 612);
    Recorder seen;
    ASSERT_TRUE(ArchiveSalvage(path, seen, reads));
    EXPECT_LE(PlatformFileCalls().refusedReads, BAD + 1) << "one slow read a bad unit, and a larger one into the first";
    PlatformFileCallsReset();
    ASSERT_EQ(seen.entries.size(), 3u);
    EXPECT_EQ(seen.entries[0].state, SalvageState::Partial);
    EXPECT_EQ(seen.bytes[0].size(), data[0].size());
    EXPECT_TRUE(seen.Matches(0, data[0]));
    ASSERT_EQ(seen.holes[0].size(), BAD);
    ASSERT_EQ(seen.refused.size(), BAD) << "each bad unit said once, as it is met";
    for (uint32_t i = 0; i < BAD; i++) {
      EXPECT_EQ(seen.holes[0][i].offset, (2 * i + 1) * 4096 - 8) << i;  // the entry's data starts at byte 8
      EXPECT_EQ(seen.holes[0][i].length, 4096u) << i;
      EXPECT_EQ(seen.refused[i], (2 * i + 1) * 4096) << i;
    }
    EXPECT_EQ(seen.entries[1].state, SalvageState::Sound);
    EXPECT_EQ(seen.entries[2].state, SalvageState::Sound);
    EXPECT_EQ(seen.untried, 0u);
    ProgramHeapDestroy();
  }
  PlatformFileDelete(path);
}

// Zeros read as empty headers: a run of them is empty entries only as far as
// the index has rows left for them; a longer run is damage, taken as one
// entry's range, and the entries after it keep their numbers.
TEST(Salvage, ZerosAreDamageNotEmptyEntries) {
  const char* const path = "salvage_test_archive.zip";
  RowArchive sound(8), empty(8, {3, 4, 5, 7}), large(18);
  const int S = int(SalvageState::Sound), P = int(SalvageState::Partial), L = int(SalvageState::Lost);
  struct Case {
    const char* what;
    Bytes archive;
    bool rowsKnown;
    std::vector<int> states;  // of each entry found, in order
    bool zerosSkipped;
    const RowArchive* offsetsOf;  // whose entries after the damage start where they did
  } cases[] = {
      {"zeroed tail", sound.ZeroedFrom(5), true, {S, S, S, S, S, L}, true, nullptr},
      {"zeroed tail, rows unknown", sound.ZeroedFrom(5), false, {S, S, S, S, S, L}, true, nullptr},
      {"zeroed 4 KiB block", sound.ZeroedBlock(2), true, {S, P, L, S, S, S, S, S}, true, &sound},
      {"zeros inside an entry", sound.ZeroedInside(4, 300, 64), true, {S, S, S, S, P, S, S, S}, false, &sound},
      {"real empty files", empty.bytes, true, {S, S, S, S, S, S, S, S}, false, &empty},
      {"a bad header, its stream whole", large.BadPackedSize(8), true, std::vector<int>(18, S), false, &large},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ProgramHeapCreate();
    ASSERT_TRUE(WriteFileBytes(path, c.archive));
    Recorder seen;
    seen.expected = {c.rowsKnown, c.rowsKnown, c.states.size() > 8 ? 18u : 8u};
    ASSERT_TRUE(ArchiveSalvage(path, seen));
    ASSERT_EQ(seen.entries.size(), c.states.size());
    for (size_t i = 0; i < c.states.size(); i++) {
      EXPECT_EQ(int(seen.entries[i].state), c.states[i]) << i;
      EXPECT_EQ(seen.entries[i].number, i);
      if (c.offsetsOf != nullptr && c.states[i] == S && i > 2) {
        EXPECT_EQ(seen.entries[i].offset, c.offsetsOf->offsets[i]) << i;
        EXPECT_TRUE(seen.bytes[i] == c.offsetsOf->data[i]) << i;
      }
    }
    bool zeros = false;
    for (const SalvageRange& range : seen.skipped) zeros = zeros || range.zeros;
    EXPECT_EQ(zeros, c.zerosSkipped);
    ProgramHeapDestroy();
  }
  // The header whose packed size was spoilt: its entry's bytes come whole
  // from its stream, and it says that its header was repaired.
  ProgramHeapCreate();
  ASSERT_TRUE(WriteFileBytes(path, large.BadPackedSize(8)));
  Recorder seen;
  ASSERT_TRUE(ArchiveSalvage(path, seen));
  ASSERT_EQ(seen.entries.size(), 18u);
  EXPECT_TRUE(seen.entries[8].rangeTaken && seen.entries[8].headerRepaired);
  EXPECT_TRUE(seen.bytes[8] == large.data[8]);
  ProgramHeapDestroy();
  PlatformFileDelete(path);
}

// A block repeated whose every 16th offset is a plausible header claiming
// just over the search's 1 MiB window: the search follows each such chain
// without moving its window there and back, so that the file is read a few
// times at most, not once per position.
TEST(Salvage, TheSearchReadsEachByteABoundedNumberOfTimes) {
  const char* const path = "salvage_test_archive.zip";
  const size_t size = 3 << 19;  // 1.5 MiB
  ASSERT_TRUE(WriteFileBytes(path, ThrashArchive(size)));
  ProgramHeapCreate();
  PlatformFileCallsReset();
  Recorder seen;
  ASSERT_TRUE(ArchiveSalvage(path, seen));
  PlatformFileCallCounts calls = PlatformFileCalls();
  EXPECT_LT(calls.bytesRead, 8 * size) << calls.positionedReads << " reads";
  PlatformFileCallsReset();
  ProgramHeapDestroy();
  PlatformFileDelete(path);
}

}  // namespace

namespace {

// Everything a walk said, as numbers: each entry's facts and bytes, the
// ranges, the refused units and what was given up.
std::vector<uint64_t> Said(const Recorder& seen) {
  std::vector<uint64_t> said;
  for (size_t i = 0; i < seen.entries.size(); i++) {
    const SalvagedEntry& e = seen.entries[i];
    said.insert(said.end(),
                {e.number, e.offset, e.unpackedSize, e.packedSize, uint64_t(e.state), e.recovered, seen.fromFile[i],
                 uint64_t(e.stored) << 7 | e.cutShort << 6 | e.rangeTaken << 5 | e.tooLarge << 4 | e.unreadable << 3 |
                     e.sizeUnknown << 2 | e.zeroed << 1 | e.headerRepaired,
                 e.checked});
    said.insert(said.end(), seen.bytes[i].begin(), seen.bytes[i].end());
    for (const SalvageHole& hole : seen.holes[i]) said.insert(said.end(), {hole.offset, hole.length});
  }
  for (const SalvageRange& range : seen.skipped) said.insert(said.end(), {range.offset, range.length});
  said.insert(said.end(), seen.refused.begin(), seen.refused.end());
  said.push_back(seen.untried);
  return said;
}

}  // namespace

TEST(Salvage, ThreadsDecodingAheadChangeNothingTheWalkSays) {
  const char* const path = "salvage_threads_archive.zip";
  RowArchive rows(40);
  const struct {
    const char* name;
    Bytes archive;
    uint64_t refused;  // a byte of a sector whose reads the system refuses; 0 for none
  } cases[] = {
      {"sound", rows.bytes, 0},
      {"spoilt", rows.Spoilt(16), 0},  // entry 16 is compressed: its stream breaks
      {"cut", rows.CutInside(30, 20), 0},
      {"zeroed block", rows.ZeroedBlock(12), 0},
      {"bad size", rows.BadPackedSize(20), 0},
      {"refused sector", rows.bytes, rows.offsets[25] + 100},
      {"hostile claim", HostileClaimArchive(0x7FFFFFFF), 0},  // an entry that runs alone
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(WriteFileBytes(path, c.archive));
    std::vector<uint64_t> said[2];
    for (int i = 0; i < 2; i++) {
      ProgramHeapCreate();
      if (c.refused != 0) PlatformFileRefuseReadsOf(c.refused / 512 * 512, c.refused / 512 * 512 + 512);
      Recorder seen;
      seen.expected = SalvageExpected{true, true, rows.rows.size()};
      WorkAhead engine(i == 0 ? 1 : 4);
      ASSERT_TRUE(ArchiveSalvage(path, seen, SalvageReads::Stretches, &engine));
      said[i] = Said(seen);
      PlatformFileCallsReset();
      ProgramHeapDestroy();
    }
    EXPECT_TRUE(said[0] == said[1]);
    EXPECT_GT(said[0].size(), 10u);  // it said something
  }
  PlatformFileDelete(path);
}
