// packtool's use of the repair by the checksum (pack/repair.h): which
// entries it is tried on, the time a run allows for it, and what is said
// of each outcome. rescue repairs; verify only says what a repair would do.
#pragma once

#include <cstdint>
#include <string>

#include "pack/repair.h"
#include "pack/salvage.h"
#include "tools/cli/json_document.h"

class EntryRepairs {
 public:
  // seconds <= 0: nothing is tried. threads: as -j gives them.
  // engine: where the tries' other threads come from (null: their own).
  EntryRepairs(std::string path, double seconds, unsigned threads, WorkAhead* engine = nullptr);

  // Tries the compressed entry whose header starts at headerOffset. False
  // when nothing was tried: the entry is stored, or repairs are off.
  bool Try(uint64_t headerOffset, uint32_t unpackedSize, uint32_t packedSize, RepairedEntry* result);
  // The same for an entry of the salvage walk: only one whose header was
  // read and whose stream lies whole in the file.
  bool Try(const SalvagedEntry& entry, RepairedEntry* result);

 private:
  std::string path_;
  bool on_;
  RepairBudget budget_;
  RepairOptions options_;
};

// "one flipped bit at archive byte 1234567, bit 4; proven by the checksum,
// a chance of a false match below 1 in 4000" for a repair; for the other
// outcomes why nothing was repaired.
std::string RepairSaid(const RepairedEntry& entry);
// The repair as the JSON documents give it: outcome, and where it was.
JsonDocument RepairJson(const RepairedEntry& entry);
