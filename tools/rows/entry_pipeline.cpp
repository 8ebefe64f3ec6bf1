#include "tools/rows/entry_pipeline.h"

#include <algorithm>
#include <system_error>

std::vector<PlannedEntry> PlanEntries(const PlainReading& plain, const std::function<bool(uint32_t)>& wanted) {
  std::vector<PlannedEntry> plan;
  uint64_t offset = 0;
  for (uint32_t entry = 0; entry < plain.entries.size(); entry++) {
    const EntryFacts& facts = plain.entries[entry];
    // A stored entry is one read, which the command makes as cheaply as a
    // worker would: handing it over would cost more than it saves.
    if (entry > 0 && !facts.stored && wanted(entry)) {
      uint64_t cost = uint64_t(facts.unpackedSize) + facts.packedSize + PlannedEntry::OVERHEAD;
      plan.push_back(PlannedEntry{entry, offset, cost});
    }
    offset += ARCHIVE_HEADER_SIZE + uint64_t(facts.packedSize);
  }
  return plan;
}

unsigned JobsFor(unsigned jobs) {
  if (jobs != 0) return jobs;
  return std::max(1u, std::thread::hardware_concurrency());
}

EntryPipeline::EntryPipeline(ArchiveSession& session, std::vector<PlannedEntry> plan, unsigned threads, uint64_t limit)
    : session_(session), archive_(session.Archive()), plan_(std::move(plan)), limit_(limit) {
  if (threads < 2) return;
  session_.ChecksumBeside();
  if (plan_.empty() || archive_ == nullptr) return;
  threads = unsigned(std::min<size_t>(threads, plan_.size()));
  for (const PlannedEntry& entry : plan_) {
    if (entry.cost <= limit_) budget_ = std::max(budget_, entry.cost);
  }
  budget_ = std::min(limit_, budget_ * ENTRIES_PER_THREAD * threads);
  batchBytes_ = budget_ / (2 * threads);
  // Fewer threads than asked for, when the system gives no more: the
  // output is the same for any number.
  try {
    for (unsigned i = 0; i < threads; i++) workers_.emplace_back([this] { Work(); });
  } catch (const std::system_error&) {
  }
  if (!workers_.empty()) session_.Attach(this);
}

EntryPipeline::~EntryPipeline() {
  if (workers_.empty()) return;
  session_.Attach(nullptr);
  {
    std::lock_guard<PlatformMutex> lock(mutex_);
    stopping_ = true;
  }
  workReady_.notify_all();
  for (std::thread& worker : workers_) worker.join();
  for (DecodedAhead& result : taken_) ArchiveCursorFree(result.cursor);
  for (ArchiveCursor* cursor : spare_) ArchiveCursorFree(cursor);
}

// With the lock held. An entry that runs alone is never taken: the command
// passes it, and only then may the workers go on.
bool EntryPipeline::MayTake() const {
  if (Alone(next_)) return false;
  return inFlight_ == 0 || inFlight_ + plan_[next_].cost <= budget_;
}

// With the lock held: a waiting worker is woken when a batch fits, not
// when each entry passed makes room for one more, so that a full budget
// costs a wake a batch, not one an entry.
bool EntryPipeline::MayTakeBatch() const {
  return MayTake() && (inFlight_ == 0 || inFlight_ + std::max(batchBytes_, plan_[next_].cost) <= budget_);
}

namespace {

// Decodes the planned entry with a cursor of its own: the one given (one
// used before, with its buffers), or a new one.
DecodedAhead DecodeAhead(const ArchiveFile* archive, const PlannedEntry& entry, ArchiveCursor* cursor) {
  DecodedAhead result;
  result.cursor = cursor != nullptr ? cursor : ArchiveCursorCreate(archive);
  if (result.cursor == nullptr) return result;
  ArchiveCursorStopAtImplausible(result.cursor);
  ArchiveCursorChecksumBeside(result.cursor);
  if (ArchiveCursorSeekOffset(result.cursor, entry.offset, entry.number) != 0) {
    result.bytes = ArchiveCursorNextEntry(result.cursor);
  }
  ArchiveEntryInfo info;
  ArchivePlace place;
  if (result.bytes != nullptr && ArchiveCursorLastEntryInfo(result.cursor, &info) != 0 &&
      ArchiveCursorWhere(result.cursor, &place) != 0) {
    result.facts = FactsRead(info);
    result.after = place.offset;
  } else {
    result.bytes = nullptr;
  }
  return result;
}

}  // namespace

// A worker takes the next jobs in a batch, up to a share of the budget, so
// that the hand-overs (each a wake of another thread, costly where the
// system's locks are) come once a batch, not once an entry.
void EntryPipeline::Work() {
  std::vector<DecodedAhead> results;
  std::vector<ArchiveCursor*> cursors;
  for (;;) {
    size_t first, end;
    {
      std::unique_lock<PlatformMutex> lock(mutex_);
      idleWorkers_++;
      workReady_.wait(lock, [this] { return stopping_ || next_ >= plan_.size() || MayTakeBatch(); });
      idleWorkers_--;
      if (stopping_ || next_ >= plan_.size()) return;
      first = next_;
      uint64_t batch = 0;
      do {
        batch += plan_[next_].cost;
        inFlight_ += plan_[next_].cost;
        taken_.emplace_back();
        next_++;
      } while (next_ < plan_.size() && batch < batchBytes_ && MayTake());
      end = next_;
      peak_ = std::max(peak_, inFlight_);
      cursors.clear();
      while (cursors.size() < end - first && !spare_.empty()) {
        cursors.push_back(spare_.back());
        spare_.pop_back();
      }
    }
    results.clear();
    for (size_t job = first; job < end; job++) {
      size_t nth = job - first;
      results.push_back(DecodeAhead(archive_, plan_[job], nth < cursors.size() ? cursors[nth] : nullptr));
      results.back().done = true;
    }
    {
      std::lock_guard<PlatformMutex> lock(mutex_);
      for (size_t job = first; job < end; job++) Result(job) = results[job - first];
    }
    entryReady_.notify_all();
  }
}

// With the lock held, once the job is done or was never taken.
// Jobs are released in order: the one released is the first held.
void EntryPipeline::Release(size_t job) {
  if (job >= next_) {  // no worker took it, and none will
    next_ = job + 1;
    firstTaken_ = next_;
    return;
  }
  ArchiveCursor* cursor = taken_.front().cursor;
  if (cursor != nullptr && spare_.size() < SPARE_MAX) {
    spare_.push_back(cursor);
  } else {
    ArchiveCursorFree(cursor);
  }
  taken_.pop_front();
  firstTaken_++;
  inFlight_ -= plan_[job].cost;
}

const DecodedAhead* EntryPipeline::Take(uint32_t number) {
  if (workers_.empty()) return nullptr;
  std::unique_lock<PlatformMutex> lock(mutex_);
  if (holding_) Release(passed_ - 1);
  holding_ = false;
  // Planned entries the command passed over without reading them.
  while (passed_ < plan_.size() && plan_[passed_].number < number) {
    size_t job = passed_++;
    entryReady_.wait(lock, [&] { return job >= next_ || Result(job).done; });
    Release(job);
  }
  const DecodedAhead* given = nullptr;
  if (passed_ < plan_.size() && plan_[passed_].number == number) {
    // Held until the command's next call; an entry that runs alone keeps
    // the workers waiting until then.
    size_t job = passed_++;
    holding_ = true;
    if (!Alone(job)) {
      // Everything before it is freed: a worker takes it if none has.
      if (idleWorkers_ > 0) workReady_.notify_all();
      entryReady_.wait(lock, [&] { return job < next_ && Result(job).done; });
      if (Result(job).bytes != nullptr) given = &Result(job);
    }
  }
  bool wake = idleWorkers_ > 0 && (next_ >= plan_.size() || MayTakeBatch());
  lock.unlock();
  if (wake) workReady_.notify_all();
  return given;
}
