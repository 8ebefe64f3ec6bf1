// Entries decoded ahead on several threads, handed to a command in archive
// order. The command reads as before through its session (Next and Skip);
// with a pipeline attached, the session's Next of a planned entry takes the
// entry a worker decoded instead of decoding it, and its own cursor only
// passes the entry's header, so that ends, places and outcomes are the ones
// the plain reading gives, whatever the number of threads.
//
// Shared state is the archive object (only read) and the plan (written
// before the workers start). Each job gets a cursor of its own on the
// archive, placed at the entry's header; the cursor holds the decoded bytes
// until the command has passed the entry. Jobs are taken in archive order.
//
// Memory: the bytes of the entries taken and not yet passed (unpacked and
// packed size each) stay within the budget: 64 entries a thread of the
// largest size planned, at most the limit (256 MiB), so that the workers
// keep near the command and their buffers are used again while still in
// the caches. An entry whose bytes alone exceed the limit runs alone: no
// worker decodes it or anything after it until the command has reached it,
// and the session reads it itself (the command's single path, which may
// stream it).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "pack/archive_file.h"
#include "platform/sync.h"
#include "tools/rows/archive_session.h"
#include "tools/rows/past_damage.h"

struct PlannedEntry {
  // What an entry costs besides its bytes (its cursor, the blocks' headers),
  // so that empty entries count too.
  static constexpr uint64_t OVERHEAD = 256;

  uint32_t number;
  uint64_t offset;  // where its header starts
  uint64_t cost;    // its unpacked and packed size and OVERHEAD: the memory decoding it takes
};

// The entries of the plain reading that `wanted` chooses, entry 0 (the
// index, read already) left out.
std::vector<PlannedEntry> PlanEntries(const PlainReading& plain, const std::function<bool(uint32_t)>& wanted);

// The threads to use for a request of `jobs` (0: one per core).
unsigned JobsFor(unsigned jobs);

// An entry a worker delivered: its cursor (which owns the bytes) and its facts.
struct DecodedAhead {
  ArchiveCursor* cursor = nullptr;
  const unsigned char* bytes = nullptr;  // null when the cursor gave no entry
  EntryFacts facts;
  uint64_t after = 0;  // where the header after it starts
  bool done = false;
};

class EntryPipeline {
 public:
  static constexpr uint64_t LIMIT = uint64_t(256) << 20;
  static constexpr uint64_t ENTRIES_PER_THREAD = 64;

  // Starts `threads` workers on the plan (ascending numbers, places on the
  // session's archive) and attaches to the session; with two threads or
  // more, a big entry's checksum runs beside its decoding too. One thread
  // starts nothing: the session reads as it does alone.
  EntryPipeline(ArchiveSession& session, std::vector<PlannedEntry> plan, unsigned threads, uint64_t limit = LIMIT);
  ~EntryPipeline();
  EntryPipeline(const EntryPipeline&) = delete;
  EntryPipeline& operator=(const EntryPipeline&) = delete;

  // For the session, before it reads entry `number`: frees what was taken
  // before it, and gives the entry decoded ahead, waiting for its worker;
  // null when it is not planned, runs alone, or its cursor delivered
  // nothing (the session then reads it itself, with the same result).
  // Valid until the next call or the pipeline's end.
  const DecodedAhead* Take(uint32_t number);

  // The most bytes (of PlannedEntry::cost) that were in flight at once.
  uint64_t PeakBytesInFlight() const { return peak_; }

 private:
  // Cursors of released jobs kept for the next ones, with their buffers, so
  // that a job costs no allocation (on some systems' heaps, fresh pages from
  // the system): at most one thread's share of entries.
  static constexpr size_t SPARE_MAX = ENTRIES_PER_THREAD;

  bool Alone(size_t job) const { return plan_[job].cost > limit_; }
  bool MayTake() const;
  bool MayTakeBatch() const;
  DecodedAhead& Result(size_t job) { return taken_[job - firstTaken_]; }
  void Work();
  void Release(size_t job);

  ArchiveSession& session_;
  const ArchiveFile* archive_;
  std::vector<PlannedEntry> plan_;
  uint64_t limit_;
  uint64_t budget_ = 0;
  uint64_t batchBytes_ = 0;  // what a worker takes at once
  std::vector<std::thread> workers_;

  // Guards everything below: the hand-over of jobs to workers and of their
  // results to the command.
  PlatformMutex mutex_;
  PlatformCondition workReady_;   // a job may be taken, or the end
  PlatformCondition entryReady_;  // a worker finished a job
  std::deque<DecodedAhead> taken_;      // of the jobs taken and not yet released, in order
  std::vector<ArchiveCursor*> spare_;   // see SPARE_MAX
  size_t firstTaken_ = 0;               // the job of taken_.front()
  size_t next_ = 0;                     // the job a worker takes next
  size_t passed_ = 0;                   // the jobs before it the command has passed
  bool holding_ = false;                // job passed_ - 1 was handed out and is still held
  uint64_t inFlight_ = 0;
  unsigned idleWorkers_ = 0;  // waiting for a job they may take
  uint64_t peak_ = 0;
  bool stopping_ = false;
};
