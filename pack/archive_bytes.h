// The archive file as the salvage walk reads it: at any offset, through a
// window, and around what the system refuses to read (a failing disk's bad
// sectors). Internal to pack/.
#pragma once

#include <cstdint>

#include "core/block.h"
#include "core/growing_table.h"
#include "pack/salvage.h"
#include "platform/platform.h"

// Reads the system refuses cost the walk only the units of the file they
// touch: a read that fails is tried again a unit at a time, and the units
// that fail are noted and never read again. Bad sectors come in patches, so
// close after a noted run the units are read one at a time from the start:
// a bad one there costs one refused read, not two (a larger read, then the
// unit). A failing disk may take seconds for each read it refuses, so a
// large bad area is not tried unit by unit: each unit that fails right
// after a noted run gives up as much again as the run holds, so that even a
// dead disk costs a few dozen reads. Where the bad area ends is found when
// something past it is asked for: the walk reads on to the first unit that
// reads again, and then halves the stretch given up before it until it knows
// where the area ends (to the unit), so that the stretches given up cost no
// bytes the disk can still give after the area. With SalvageReads::EveryUnit
// nothing is given up untried: each unit that fails is a run of its own or
// grows the one before by itself.
class ArchiveBytes {
 public:
  static constexpr uint32_t UNIT_SIZE = 4096;
  // Noted runs of unreadable units (a table of 32 MiB at most; a disk with
  // thousands of scattered bad sectors has as many), and refused unit reads
  // (but with SalvageReads::EveryUnit); past either, the file counts as
  // unreadable from there on (a dead disk ends the walk).
  static constexpr uint32_t UNREADABLE_RUNS_MAX = 1u << 20;
  static constexpr uint32_t REFUSED_READS_MAX = 4096;
  // How far past a noted run units are read one at a time (see Read).
  static constexpr uint64_t NEAR_BAD = 64 * UNIT_SIZE;

  // told: where each refused unit is said (may be null).
  explicit ArchiveBytes(SalvageReads reads = SalvageReads::Stretches, SalvageVisitor* told = nullptr)
      : runs_(UNREADABLE_RUNS_MAX), everyUnit_(reads == SalvageReads::EveryUnit), told_(told) {}
  ArchiveBytes(const ArchiveBytes&) = delete;
  ArchiveBytes& operator=(const ArchiveBytes&) = delete;
  ~ArchiveBytes();

  bool Open(const char* path);
  uint64_t Size() const { return size_; }

  // The n bytes at offset (n <= the window's size), or null when the file
  // does not hold them all, or not all of them can be read.
  const unsigned char* At(uint64_t offset, uint32_t n);

  // The same for a few bytes (n <= PROBE_SIZE) that may lie far from where
  // the walk reads: from the window when it holds them, otherwise by a read
  // of PROBE_SIZE bytes that leaves the window where it is. A search that
  // follows headers claiming a window's size or more would otherwise move
  // the window there and back for each position, reading the file once per
  // position; this way each position costs at most a probe per link.
  const unsigned char* Peek(uint64_t offset, uint32_t n);
  static constexpr uint32_t PROBE_SIZE = 16;

  // Reads [offset, offset + n), which the file holds, into destination, up
  // to the first byte that cannot be read: returns how many came (n when
  // all did). The rest of destination is left as it was.
  uint32_t Read(uint64_t offset, unsigned char* destination, uint32_t n);

  // Reads [offset, offset + n), which the file holds, into destination
  // around what cannot be read: zeros there, each such stretch noted in
  // holes (emptied first), from offset, in order. Returns how many bytes
  // destination holds up to the last that was read (0 when none was); the
  // holes are those before that. Where a hole cannot be noted (no memory
  // for it) the bytes end there.
  uint32_t ReadAround(uint64_t offset, unsigned char* destination, uint32_t n, GrowingTable<SalvageHole>& holes);

  // The first offset at or after `offset` that is not known to be
  // unreadable; the size when there is none.
  uint64_t ReadableFrom(uint64_t offset);

  // Bytes given up as unreadable without being asked for: in the stretches
  // of bad areas, and past the limits above.
  uint64_t Untried() const;

 private:
  struct Span {
    uint64_t from;   // unit-aligned
    uint64_t tried;  // the end of the last unit refused; from there to `to` given up untried
    uint64_t to;
    uint64_t refused;  // bytes of it whose reads were refused; the rest was given up untried
  };

  Span* RunEndingAfter(uint64_t offset);
  uint64_t ReadableUntil(uint64_t offset);
  bool ReadExactly(uint64_t at, unsigned char* destination, uint32_t n);
  bool ReadUnit(uint64_t at);
  uint64_t UnitLength(uint64_t at) const;
  void Settle(uint32_t index);
  void NoteUnreadable(uint64_t from);

  PlatformFile file_ = PLATFORM_FILE_INVALID;
  uint64_t size_ = 0;
  Block window_;
  Block unit_;  // a unit read only to learn whether it can be
  unsigned char probe_[PROBE_SIZE] = {};
  uint64_t probeStart_ = 0;
  uint32_t probeLength_ = 0;
  uint64_t start_ = 0;
  uint32_t length_ = 0;
  GrowingTable<Span> runs_;
  uint32_t refusedReads_ = 0;
  bool everyUnit_ = false;
  SalvageVisitor* told_;
  uint64_t unreadableFrom_ = 0;  // everything from here on counts as unreadable
};
