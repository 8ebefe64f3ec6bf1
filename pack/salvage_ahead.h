// Entries decoded ahead of the salvage walk, on the engine's workers
// (pack/work_ahead.h). Internal to pack/.
//
// The walk follows the chain of headers from where it last stood (a header
// at X, the next one at X + its header and packed size) as long as each
// one's data lies in the file and, compressed, starts a stream, and adds a
// job for each entry on it, which a worker decodes with SalvageWhole, the function the walk decodes with,
// into memory of its own, reading the file by positioned reads. When the
// walk is about to decode the entry at X with the same header, it takes the
// worker's result instead. Where the walk leaves the chain (a suspect header,
// a search), what was decoded there is dropped and the chain is followed
// from where the walk goes on. A result is given only when all its
// reads came whole and its memory could be had: the bytes the system refuses
// are the walk's own to read, by its rules for bad areas. So the walk's
// entries are the same for any number of threads. On a failing disk each
// refused read may take seconds: after the first one a worker meets, no
// more is decoded ahead.
//
// Memory: the entries added and not yet passed (unpacked and packed size
// each, and OVERHEAD) stay within the limit, 64 entries a worker at most.
// An entry over the limit runs alone: no worker takes it or anything after
// it until the walk has passed it, and the walk decodes it with nothing else
// in flight.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "core/block.h"
#include "core/growing_table.h"
#include "pack/archive_bytes.h"
#include "pack/entry_header.h"
#include "pack/salvage.h"
#include "pack/work_ahead.h"
#include "platform/sync.h"

// Decodes the entry whose header at `at` reads `header` and whose data is
// all in the file: *entry (number 0) with its bytes in *data (a block it
// holds already is used again when large enough), a stored entry's holes
// in holes. scratch: memory for a compressed entry's stream
// that a thread keeps from one entry to the next (null: taken for the call).
void SalvageWhole(SalvageSource& source, uint64_t at, const EntryHeader& header, SalvagedEntry* entry, Block* data,
                  GrowingTable<SalvageHole>& holes, Block* scratch = nullptr);

class SalvageAhead {
 public:
  static constexpr uint64_t LIMIT = uint64_t(256) << 20;
  static constexpr uint64_t OVERHEAD = 256;
  static constexpr size_t ENTRIES_PER_WORKER = 64;
  // Blocks of released entries kept for the next ones, per worker, up to
  // this size each: memory given back for each entry would be given back to
  // the system and faulted in again, a page at a time.
  static constexpr size_t SPARE_PER_WORKER = 16;
  static constexpr uint32_t SPARE_MAX = 1u << 20;

  // file: read by positioned reads only; size: the walk's. Nothing is
  // decoded ahead on an engine without workers.
  SalvageAhead(PlatformFile file, uint64_t size, WorkAhead& engine, uint64_t limit = LIMIT);
  ~SalvageAhead();
  SalvageAhead(const SalvageAhead&) = delete;
  SalvageAhead& operator=(const SalvageAhead&) = delete;

  // The walk is about to decode the entry whose header at `at` reads
  // `header`, and goes on after it: true with *entry (number 0, its bytes
  // valid until the next call) when a worker decoded it; false when the
  // walk is to decode it itself.
  bool Take(uint64_t at, const EntryHeader& header, SalvagedEntry* entry);
  // Nothing more is decoded ahead, and nothing taken.
  void Stop();

 private:
  // An entry on the chain. Its result is written by the worker alone until
  // the job is done, and read by the walk only after.
  struct Link {
    uint64_t offset;
    EntryHeader header;
    bool usable = false;  // every read came whole, and the memory for it
    SalvagedEntry entry{};
    std::unique_ptr<Block> data;
  };
  // What a worker keeps from one entry to the next, handed from job to job.
  struct Scratch {
    Block stream;
    GrowingTable<SalvageHole> holes{1};  // a plain read leaves none
  };

  bool Alone(uint64_t cost) const { return cost > limit_; }
  bool NextLink(EntryHeader* header);
  void AddLinks();
  void ReleaseOldest();
  void Decode(Link* link);

  PlatformFile file_;
  uint64_t size_;
  uint64_t limit_;
  WorkAhead& engine_;
  size_t jobsMax_ = 0;
  size_t spareMax_ = 0;
  std::unique_ptr<AheadJobs> jobs_;  // null: nothing is decoded ahead

  // The walk's alone: the links added and not released, in order (a deque,
  // so that a worker's link stays where it is), and what their jobs reuse.
  std::deque<Link> links_;
  std::vector<std::unique_ptr<Block>> spare_;
  uint64_t chain_ = 0;      // where the next link's header starts
  bool chainEnds_ = false;  // at chain_, until the walk goes on elsewhere
  bool holding_ = false;    // the walk holds links_.front()
  bool stopping_ = false;

  // Guards the scratch kept by workers between jobs, and refused_.
  PlatformMutex mutex_;
  std::vector<std::unique_ptr<Scratch>> scratch_;
  bool refused_ = false;  // a worker's read was refused: the chain ends for good
};
