#include "tools/rows/entry_pipeline.h"

#include <algorithm>

std::vector<PlannedEntry> PlanEntries(const PlainReading& plain, const std::function<bool(uint32_t)>& wanted) {
  std::vector<PlannedEntry> plan;
  for (uint32_t entry = 1; entry < plain.entries.size(); entry++) {
    const EntryFacts& facts = plain.entries[entry];
    // A stored entry is one read, which the command makes as cheaply as a
    // worker would: handing it over would cost more than it saves.
    if (facts.stored || !wanted(entry)) continue;
    uint64_t cost = uint64_t(facts.unpackedSize) + facts.packedSize + PlannedEntry::OVERHEAD;
    plan.push_back(PlannedEntry{entry, facts.at, cost});
  }
  return plan;
}

EntryPipeline::EntryPipeline(WorkAhead& engine, const ArchiveFile* archive, std::vector<PlannedEntry> plan,
                             uint64_t limit)
    : engine_(engine), archive_(archive), plan_(std::move(plan)), limit_(limit) {
  if (engine_.Workers() == 0 || plan_.empty() || archive_ == nullptr) return;
  uint64_t largest = 0;
  for (const PlannedEntry& entry : plan_) {
    if (entry.cost <= limit_) largest = std::max(largest, entry.cost);
  }
  jobs_ = std::make_unique<AheadJobs>(engine_, std::min(limit_, largest * ENTRIES_PER_WORKER * engine_.Workers()));
  AddJobs();
}

EntryPipeline::~EntryPipeline() {
  jobs_.reset();  // no worker touches a result after this
  for (Slot& slot : results_) ArchiveCursorFree(slot.result.cursor);
  for (ArchiveCursor* cursor : spare_) ArchiveCursorFree(cursor);
}

namespace {

// Decodes the planned entry with the cursor given (one used before, with its
// buffers), or a new one.
void DecodeAhead(const ArchiveFile* archive, const PlannedEntry& entry, WorkAhead* engine, DecodedAhead* result) {
  if (result->cursor == nullptr) result->cursor = ArchiveCursorCreate(archive);
  if (result->cursor == nullptr) return;
  ArchiveCursorStopAtImplausible(result->cursor);
  ArchiveCursorChecksumBeside(result->cursor, engine);
  if (ArchiveCursorSeekOffset(result->cursor, entry.offset, entry.number) != 0) {
    result->bytes = ArchiveCursorNextEntry(result->cursor);
  }
  ArchiveEntryInfo info;
  ArchivePlace place;
  if (result->bytes != nullptr && ArchiveCursorLastEntryInfo(result->cursor, &info) != 0 &&
      ArchiveCursorWhere(result->cursor, &place) != 0) {
    result->facts = FactsRead(info);
    result->facts.at = entry.offset;
    result->after = place.offset;
  } else {
    result->bytes = nullptr;
  }
}

}  // namespace

// Adds the next jobs while they fit, not past one that runs alone. Only once
// half the budget is free again, so that idle workers are woken for a batch
// of entries, not for each one the command passes.
void EntryPipeline::AddJobs() {
  nextJob_ = std::max(nextJob_, passed_);
  if (nextJob_ >= plan_.size() || Alone(nextJob_)) return;
  if (jobs_->InFlight() > jobs_->Budget() / 2) return;
  while (nextJob_ < plan_.size() && !Alone(nextJob_) && jobs_->Fits(plan_[nextJob_].cost)) {
    results_.push_back(Slot{nextJob_, {}});
    DecodedAhead* result = &results_.back().result;
    if (!spare_.empty()) {
      result->cursor = spare_.back();
      spare_.pop_back();
    }
    const PlannedEntry* entry = &plan_[nextJob_];
    jobs_->Add(entry->cost, [this, entry, result] { DecodeAhead(archive_, *entry, &engine_, result); });
    nextJob_++;
  }
}

// The oldest job added, done or never begun: its cursor is kept for the
// next jobs, or freed.
void EntryPipeline::ReleaseOldest() {
  jobs_->Release();
  ArchiveCursor* cursor = results_.front().result.cursor;
  if (cursor != nullptr && spare_.size() < SPARE_MAX) {
    spare_.push_back(cursor);
  } else {
    ArchiveCursorFree(cursor);
  }
  results_.pop_front();
}

const DecodedAhead* EntryPipeline::Take(uint32_t number) {
  if (jobs_ == nullptr) return nullptr;
  if (holding_) ReleaseOldest();
  holding_ = false;
  // Planned entries the command passed over without reading them: jobs not
  // begun never run, those running are waited for.
  while (passed_ < plan_.size() && plan_[passed_].number < number) {
    if (!results_.empty() && results_.front().job == passed_) ReleaseOldest();
    passed_++;
  }
  const DecodedAhead* given = nullptr;
  if (passed_ < plan_.size() && plan_[passed_].number == number) {
    size_t job = passed_;
    // An entry that runs alone is the session's to read, with nothing in
    // flight: everything before it is released.
    if (!Alone(job) && (results_.empty() || results_.front().job != job)) AddJobs();  // the command caught up
    passed_++;
    if (!results_.empty() && results_.front().job == job) {
      holding_ = true;
      if (jobs_->Wait() && results_.front().result.bytes != nullptr) given = &results_.front().result;
    }
  }
  AddJobs();
  return given;
}
