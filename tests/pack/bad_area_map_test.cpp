// The bad-area map on a file of units whose reads are refused in given
// places: which reads it makes, in order, and what it gives up. The file is
// read front to back around what cannot be read, as the salvage walk reads
// a stored entry: a read, and where it stops, on from the first byte the map
// does not know to be bad.
#include "pack/bad_area_map.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "core/memory.h"

namespace {

constexpr uint32_t UNIT = BadAreaMap::UNIT_SIZE;

// A read touching a bad unit is refused; a read that comes writes each
// byte's unit number (low 8 bits) into destination.
class Disk : public BadAreaProbe {
 public:
  explicit Disk(const char* bad) {
    for (const char* at = bad; *at != 0;) {
      char* end = nullptr;
      uint32_t from = uint32_t(strtoul(at, &end, 10));
      uint32_t units = uint32_t(strtoul(end + 1, &end, 10));
      bad_.push_back({from, from + units});
      at = *end == ' ' ? end + 1 : end;
    }
  }

  bool Read(uint64_t at, unsigned char* destination, uint32_t n) override {
    bool refused = false;
    for (auto [from, to] : bad_) refused = refused || (at < uint64_t(to) * UNIT && at + n > uint64_t(from) * UNIT);
    reads.push_back({uint32_t(at / UNIT), (n + UNIT - 1) / UNIT, refused});
    if (refused) return false;
    for (uint32_t i = 0; i < n; i++) destination[i] = uint8_t((at + i) / UNIT);
    return true;
  }

  struct Made {
    uint32_t from, units;
    bool refused;
  };
  std::vector<Made> reads;

  // "from+units" per read, "!" when refused; one-unit reads of units one
  // after another, all refused or none, as "from+1*count".
  std::string Log() const {
    std::string log;
    for (size_t i = 0; i < reads.size();) {
      const Made& r = reads[i];
      size_t run = 1;
      while (r.units == 1 && i + run < reads.size() && reads[i + run].from == r.from + run &&
             reads[i + run].units == 1 && reads[i + run].refused == r.refused) {
        run++;
      }
      log += (log.empty() ? "" : " ") + std::to_string(r.from) + "+" + std::to_string(r.units) + (r.refused ? "!" : "");
      if (run > 1) log += "*" + std::to_string(run);
      i += run;
    }
    return log;
  }

 private:
  std::vector<std::pair<uint32_t, uint32_t>> bad_;
};

TEST(BadAreaMap, ReadsAndGiveUps) {
  const SalvageReads S = SalvageReads::Stretches, E = SalvageReads::EveryUnit;
  static const struct {
    const char* name;
    uint32_t units;   // the file's size
    const char* bad;  // "from+units" of each bad area
    SalvageReads reads;
    const char* log;     // the probe's reads, in units
    const char* passed;  // the stretches passed over, "from+units"
    uint32_t untried;    // units given up without a read
  } cases[] = {
      {"none", 8, "", S, "0+8", "", 0},
      // The larger read fails, then each unit up to the bad one; after it,
      // unit by unit.
      {"one bad unit", 8, "3+1", S, "0+8! 0+1*3 3+1! 4+1*4", "3+1", 0},
      // Further than NEAR_BAD (64 units) after a bad unit a larger read is
      // tried again.
      {"bad units far apart", 200, "3+1 150+1", S, "0+200! 0+1*3 3+1! 4+1*64 68+132! 68+1*82 150+1! 151+1*49",
       "3+1 150+1", 0},
      // Each refused unit after a run gives up as much again as the run
      // holds; past the area, the stretch given up is narrowed by halves.
      // A readable unit inside the stretch (14) is given up with it.
      {"a bad area in stretches", 64, "8+6 15+25", S,
       "0+64! 0+1*8 8+1!*3 12+1! 16+1! 24+1! 40+1 32+1! 36+1! 38+1!*2 40+1*24", "8+32", 22},
      {"a bad area unit by unit", 64, "8+6 15+25", E, "0+64! 0+1*8 8+1!*6 14+1 15+1!*25 40+1*24", "8+6 15+25", 0},
      // The stretches stop at the end: a dead disk costs a few reads.
      {"dead to the end", 1024, "8+1016", S, "0+1024! 0+1*8 8+1!*3 12+1! 16+1! 24+1! 40+1! 72+1! 136+1! 264+1! 520+1!",
       "8+1016", 1005},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ProgramHeapCreate();
    Disk disk(c.bad);
    auto* map = new BadAreaMap(disk, c.reads, nullptr);
    const uint64_t size = uint64_t(c.units) * UNIT;
    ASSERT_TRUE(map->Open(size));
    std::vector<unsigned char> bytes(size, 0xFF);
    std::vector<std::pair<uint64_t, uint64_t>> stretches;
    for (uint64_t at = 0; at < size;) {
      at += map->Read(at, bytes.data() + at, uint32_t(size - at));
      if (at == size) break;
      uint64_t resume = map->ReadableFrom(at);
      ASSERT_GT(resume, at);
      if (!stretches.empty() && stretches.back().second == at) {
        stretches.back().second = resume;  // the one before grew into it
      } else {
        stretches.push_back({at, resume});
      }
      at = resume;
    }
    EXPECT_EQ(disk.Log(), c.log);
    std::string passed;
    for (auto [from, to] : stretches) {
      passed += (passed.empty() ? "" : " ") + std::to_string(from / UNIT) + "+" + std::to_string((to - from) / UNIT);
    }
    EXPECT_EQ(passed, c.passed);
    EXPECT_EQ(map->Untried(), uint64_t(c.untried) * UNIT);
    for (uint64_t i = 0; i < size; i++) {  // what came is where it belongs
      if (bytes[i] != 0xFF) {
        ASSERT_EQ(bytes[i], uint8_t(i / UNIT)) << i;
      }
    }
    delete map;  // its memory is the program heap's
    ProgramHeapDestroy();
  }
}

}  // namespace
