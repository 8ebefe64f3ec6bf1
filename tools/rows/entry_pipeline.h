// Entries decoded ahead on the engine's workers (pack/work_ahead.h), handed
// to a command in archive order. A session asked to decode ahead
// (ArchiveSession::DecodeAhead) owns one: its Next of a planned entry takes
// the entry a worker decoded instead of decoding it, and its own cursor only
// passes the entry's header, so that ends, places and outcomes are the ones
// the plain reading gives, whatever the number of workers.
//
// Shared state is the archive object (only read) and the plan (written
// before any job). Each job gets a cursor of its own on the archive, placed
// at the entry's header; the cursor holds the decoded bytes until the
// command has passed the entry. Jobs are added in archive order, as their
// sequence numbers.
//
// Memory: the bytes of the entries added and not yet passed (unpacked and
// packed size each) stay within the budget: 64 entries a worker of the
// largest size planned, at most the limit (256 MiB), so that the workers
// keep near the command and their buffers are used again while still in
// the caches. An entry whose bytes alone exceed the limit runs alone: no
// worker decodes it or anything after it until the command has reached it,
// and the session reads it itself (the command's single path, which may
// stream it).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "pack/archive_file.h"
#include "pack/work_ahead.h"
#include "tools/rows/archive_session.h"
#include "tools/rows/past_damage.h"

struct PlannedEntry {
  // What an entry costs besides its bytes (its cursor, the blocks' headers),
  // so that empty entries count too.
  static constexpr uint64_t OVERHEAD = 256;

  uint32_t number;
  uint64_t offset;  // where its header starts, as the plain reading found it
  uint64_t cost;    // its unpacked and packed size and OVERHEAD: the memory decoding it takes
};

// The entries of the plain reading that `wanted` chooses, entry 0 (the
// index, read already) left out.
std::vector<PlannedEntry> PlanEntries(const PlainReading& plain, const std::function<bool(uint32_t)>& wanted);

// The jobs of a request of `jobs` (0: one per core).
inline unsigned JobsFor(unsigned jobs) {
  return WorkAhead::JobsFor(jobs);
}

// An entry a worker delivered: its cursor (which owns the bytes) and its facts.
struct DecodedAhead {
  ArchiveCursor* cursor = nullptr;
  const unsigned char* bytes = nullptr;  // null when the cursor gave no entry
  EntryFacts facts;
  uint64_t after = 0;  // where the header after it starts
};

class EntryPipeline {
 public:
  static constexpr uint64_t LIMIT = uint64_t(256) << 20;
  static constexpr uint64_t ENTRIES_PER_WORKER = 64;

  // The plan: ascending numbers, places on archive. Nothing is decoded
  // ahead on an engine without workers.
  EntryPipeline(WorkAhead& engine, const ArchiveFile* archive, std::vector<PlannedEntry> plan, uint64_t limit = LIMIT);
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
  uint64_t PeakBytesInFlight() const { return jobs_ != nullptr ? jobs_->PeakBytes() : 0; }

 private:
  // Cursors of released jobs kept for the next ones, with their buffers, so
  // that a job costs no allocation (on some systems' heaps, fresh pages from
  // the system): at most one worker's share of entries.
  static constexpr size_t SPARE_MAX = ENTRIES_PER_WORKER;

  bool Alone(size_t job) const { return plan_[job].cost > limit_; }
  void AddJobs();
  void ReleaseOldest();

  WorkAhead& engine_;
  const ArchiveFile* archive_;
  std::vector<PlannedEntry> plan_;
  uint64_t limit_;
  std::unique_ptr<AheadJobs> jobs_;  // null: nothing is decoded ahead
  // The command's alone: the results of the jobs added and not released, in
  // order (a deque, so that a worker's slot stays where it is), and
  // cursors kept for the next jobs.
  struct Slot {
    size_t job;  // of the plan
    DecodedAhead result;
  };
  std::deque<Slot> results_;
  std::vector<ArchiveCursor*> spare_;
  size_t nextJob_ = 0;    // the job added next
  size_t passed_ = 0;     // the jobs the command has passed or is at
  bool holding_ = false;  // job passed_ - 1 was handed out and is still held
};
