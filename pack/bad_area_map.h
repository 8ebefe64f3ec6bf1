// Where a file's reads are refused by the system (a failing disk's bad
// sectors), and the reads that find it out. Internal to pack/: the salvage
// walk's reads (pack/archive_bytes.h) go through it.
#pragma once

#include <cstdint>

#include "core/block.h"
#include "core/growing_table.h"
#include "pack/salvage.h"

// What the map reads the file through: reads [at, at + n) into destination
// and says whether all of it came (false: the system refused the read).
class BadAreaProbe {
 public:
  virtual ~BadAreaProbe() = default;
  virtual bool Read(uint64_t at, unsigned char* destination, uint32_t n) = 0;
};

// Refused reads cost the walk only the units of the file they touch: a read
// that fails is tried again a unit at a time, and the units that fail are
// noted and never read again. Bad sectors come in patches, so close after a
// noted run the units are read one at a time from the start: a bad one there
// costs one refused read, not two (a larger read, then the unit). A failing
// disk may take seconds for each read it refuses, so a large bad area is not
// tried unit by unit: each unit that fails right after a noted run gives up
// as much again as the run holds, so that even a dead disk costs a few dozen
// reads. Where the bad area ends is found when something past it is asked
// for: the map reads on to the first unit that reads again, and then halves
// the stretch given up before it until it knows where the area ends (to the
// unit), so that the stretches given up cost no bytes the disk can still give
// after the area. With SalvageReads::EveryUnit nothing is given up untried:
// each unit that fails is a run of its own or grows the one before by itself.
class BadAreaMap {
 public:
  static constexpr uint32_t UNIT_SIZE = 4096;
  // Noted runs of refused units (a table of 32 MiB at most; a disk with
  // thousands of scattered bad sectors has as many), and refused unit reads
  // (but with SalvageReads::EveryUnit); past either, the rest of the file is
  // given up (a dead disk ends the walk).
  static constexpr uint32_t RUNS_MAX = 1u << 20;
  static constexpr uint32_t REFUSED_READS_MAX = 4096;
  // How far past a noted run units are read one at a time (see Read).
  static constexpr uint64_t NEAR_BAD = 64 * UNIT_SIZE;

  // told: where each refused unit is said (may be null).
  BadAreaMap(BadAreaProbe& probe, SalvageReads reads, SalvageVisitor* told)
      : probe_(probe), runs_(RUNS_MAX), everyUnit_(reads == SalvageReads::EveryUnit), told_(told) {}
  BadAreaMap(const BadAreaMap&) = delete;
  BadAreaMap& operator=(const BadAreaMap&) = delete;

  // For a file of `size` bytes; false when there is no memory for a unit.
  bool Open(uint64_t size);

  // Reads [offset, offset + n), which the file holds, into destination, up
  // to the first byte that is refused or given up: returns how many came (n when
  // all did). The rest of destination is left as it was.
  uint32_t Read(uint64_t offset, unsigned char* destination, uint32_t n);

  // The first offset at or after `offset` that is not known to be refused
  // or given up; the size when there is none.
  uint64_t ReadableFrom(uint64_t offset);

  // Bytes given up without being asked for: in the stretches of bad areas,
  // and past the limits above.
  uint64_t Untried() const;
  // Whether nothing was refused or given up so far.
  bool AllRead() const { return runs_.Count() == 0 && givenUpFrom_ >= size_; }

 private:
  struct Span {
    uint64_t from;   // unit-aligned
    uint64_t tried;  // the end of the last unit refused; from there to `to` given up untried
    uint64_t to;
    uint64_t refused;  // bytes of it whose reads were refused; the rest was given up untried
  };

  Span* RunEndingAfter(uint64_t offset);
  uint64_t ReadableUntil(uint64_t offset);
  bool ReadUnit(uint64_t at);
  uint64_t UnitLength(uint64_t at) const;
  void Settle(uint32_t index);
  void NoteRefused(uint64_t from);

  BadAreaProbe& probe_;
  uint64_t size_ = 0;
  Block unit_;  // a unit read only to learn whether it can be
  GrowingTable<Span> runs_;
  uint32_t refusedReads_ = 0;
  bool everyUnit_ = false;
  SalvageVisitor* told_;
  uint64_t givenUpFrom_ = 0;  // everything from here on is given up
};
