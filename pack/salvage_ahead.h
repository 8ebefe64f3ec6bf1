// Entries decoded ahead of the salvage walk, on other threads. Internal to
// pack/.
//
// The workers follow the chain of headers from where the walk last stood (a
// header at X, the next one at X + its header and packed size) as long as
// each one's data lies in the file and, compressed, starts a stream, and
// decode each entry with SalvageWhole, the function the walk decodes with,
// into memory of their own, reading the file by positioned reads. When the
// walk is about to decode the entry at X with the same header, it takes the
// worker's result instead. Where the walk leaves the chain (a suspect header,
// a search), what was decoded there is dropped and the workers follow the
// chain from where the walk goes on. A result is given only when all its
// reads came whole and its memory could be had: the bytes the system refuses
// are the walk's own to read, by its rules for bad areas. So the walk's
// entries are the same for any number of threads. On a failing disk each
// refused read may take seconds: after the first one a worker meets, no
// more is decoded ahead.
//
// Memory: the entries taken and not yet passed (unpacked and packed size
// each, and OVERHEAD) stay within the limit, 64 entries a thread at most.
// An entry over the limit runs alone: no worker takes it or anything after
// it until the walk has passed it, and the walk decodes it with nothing else
// in flight.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "core/block.h"
#include "core/growing_table.h"
#include "pack/archive_bytes.h"
#include "pack/entry_header.h"
#include "pack/salvage.h"
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
  static constexpr size_t ENTRIES_PER_THREAD = 64;
  // Blocks of released entries kept for the next ones, per thread, up to
  // this size each: memory given back for each entry would be given back to
  // the system and faulted in again, a page at a time.
  static constexpr size_t SPARE_PER_THREAD = 16;
  static constexpr uint32_t SPARE_MAX = 1u << 20;

  // file: read by positioned reads only; size: the walk's.
  SalvageAhead(PlatformFile file, uint64_t size, unsigned threads, uint64_t limit = LIMIT);
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
  struct Job;
  using JobPointer = std::shared_ptr<Job>;

  bool Alone(uint64_t cost) const { return cost > limit_; }
  bool LinkReady();
  bool MayTake();
  bool WakeWorkers() const;
  void Drop(const JobPointer& job);
  void Release(Job& job);
  void DropAll();
  void Work();

  PlatformFile file_;
  uint64_t size_;
  uint64_t limit_;
  size_t jobsMax_ = 0;
  size_t spareMax_ = 0;
  std::vector<std::thread> workers_;

  // Guards everything below: the chain the workers follow, the jobs on it
  // and the hand-over of their results to the walk.
  PlatformMutex mutex_;
  PlatformCondition workReady_;          // a link may be taken, or the end
  PlatformCondition jobDone_;            // a worker finished a job
  std::deque<JobPointer> jobs_;                // taken, in chain order
  JobPointer given_;                           // the job the walk holds
  std::vector<std::unique_ptr<Block>> spare_;  // blocks of jobs released, for the next ones
  uint64_t chain_ = 0;                         // where the next link's header starts
  enum class Link { Unread, Ready, End } link_ = Link::Unread;
  EntryHeader linkHeader_{};
  uint64_t inFlight_ = 0;
  unsigned idleWorkers_ = 0;  // waiting for a link they may take
  bool walkWaiting_ = false;  // for a job to be done, or for nothing in flight
  bool stopping_ = false;
  bool refused_ = false;  // a worker's read was refused: the chain ends for good
};
