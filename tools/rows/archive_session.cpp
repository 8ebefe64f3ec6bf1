#include "tools/rows/archive_session.h"

#include "file/file.h"
#include "pack/archive.h"
#include "pack/other_kinds.h"
#include "pack/row_plausible.h"
#include "pack/work_ahead.h"
#include "platform/platform.h"
#include "tools/cli/cli.h"
#include "tools/rows/entry_pipeline.h"

ArchiveSession::ArchiveSession() = default;

// What works ahead ends first: its jobs read the archive with cursors of
// their own.
ArchiveSession::~ArchiveSession() {
  ahead_.reset();
  if (engine_ != nullptr) engine_->Stop();
  ArchiveCursorFree(cursor_);
  ArchiveFileClose(archive_);
}

bool ArchiveSession::Open(const std::string& path, std::string* error, ArchiveWalk walk) {
  uint64_t size = 0;
  switch (PlatformPathKind(path.c_str(), &size)) {
    case PlatformNameKind::Missing:
      *error = "no such file";
      return false;
    case PlatformNameKind::Folder:
      *error = "is a folder, not a pack archive";
      return false;
    case PlatformNameKind::Link:  // never said of a path: links are followed
    case PlatformNameKind::Other:
      *error = "is not a regular file";
      return false;
    case PlatformNameKind::Unreadable:
      *error = "cannot be read: " + SystemErrorText();
      return false;
    case PlatformNameKind::File:
      break;
  }
  archive_ = ArchiveFileOpen(path.c_str(), walk);
  if (archive_ == nullptr) {
    *error = "cannot be opened: " + SystemErrorText();
    return false;
  }
  if (const char* kind = ArchiveFileOtherKind(archive_)) {
    *error = std::string("is ") + kind + ", not a pack archive";
    return false;
  }
  if (!StartCursor()) {
    *error = "cannot be opened: " + SystemErrorText();
    return false;
  }
  if (FileSize() == 0) {
    *error = "is empty: not a pack archive";
    return false;
  }
  return true;
}

// A cursor before entry 0. Where the plain reading would take a stray header
// for a damaged entry, the commands go on past it with the salvage walk
// instead: the cursor stops there.
bool ArchiveSession::StartCursor() {
  ArchiveCursorFree(cursor_);
  cursor_ = ArchiveCursorCreate(archive_);
  if (cursor_ == nullptr) return false;
  ArchiveCursorStopAtImplausible(cursor_);
  ArchiveCursorChecksumBeside(cursor_, engine_.get());
  nextEntry_ = 0;
  wrongClaim_ = false;
  return true;
}

WorkAhead& ArchiveSession::Engine(unsigned jobs) {
  if (engine_ == nullptr) engine_ = std::make_unique<WorkAhead>(jobs);
  if (cursor_ != nullptr) ArchiveCursorChecksumBeside(cursor_, engine_.get());
  return *engine_;
}

void ArchiveSession::DecodeAhead(unsigned jobs, std::vector<PlannedEntry> plan) {
  DecodeAhead(jobs, std::move(plan), EntryPipeline::LIMIT);
}

void ArchiveSession::DecodeAhead(unsigned jobs, std::vector<PlannedEntry> plan, uint64_t limit) {
  WorkAhead& engine = Engine(jobs);
  ahead_.reset();
  if (engine.Workers() > 0) ahead_ = std::make_unique<EntryPipeline>(engine, archive_, std::move(plan), limit);
}

bool ArchiveSession::Rewind() {
  if (archive_ == nullptr || !StartCursor()) return false;
  // A walked archive's places stand: the index is passed without a read,
  // as long as the file is still the one that was walked.
  if (ArchiveFileEntryCount(archive_) != 0) {
    if (ArchiveFileChanged(archive_) != 0 || ArchiveCursorSeek(cursor_, 1) == 0) return false;
    nextEntry_ = 1;
    passedAt_ = 0;
    return true;
  }
  EntryFacts facts;
  const unsigned char* bytes = nullptr;
  EntryOutcome outcome = Next(&facts, &bytes);
  if (outcome == EntryOutcome::TooLarge) return index_.empty();
  return outcome == EntryOutcome::Read && facts.decoded == index_.size();
}

void ArchiveSession::ReadIndex(EntryOutcome* outcome, EntryFacts* facts) {
  const unsigned char* bytes = nullptr;
  *outcome = Next(facts, &bytes);
  if (*outcome != EntryOutcome::Read) return;
  index_.assign(bytes, bytes + facts->decoded);
  size_t trusted = LineTextTrusted(index_.data(), index_.size(), facts->unpackedSize);
  CutRows(index_.data(), trusted);
  // A damaged index's lines are no rows from the first that is no plausible path.
  if (facts->damaged) {
    decodedRows_ = rows_.size();
    rows_.resize(PlausibleRowsFromStart(rows_));
  }
}

void ArchiveSession::CutRows(const unsigned char* bytes, size_t size) {
  rows_.clear();
  size_t length = 0;
  for (size_t at = 0; at < size;) {
    size_t next = LineTextNext(bytes, size, at, &length);
    rows_.emplace_back(reinterpret_cast<const char*>(bytes) + at, length);
    at = next;
  }
}

EntryOutcome ArchiveSession::NextTo(EntryFacts* facts, const unsigned char** bytes, ArchiveEntrySink* sink,
                                    bool* streamed) {
  if (streamed != nullptr) *streamed = false;
  if (ahead_ != nullptr) return NextDecodedAhead(facts, bytes, sink, streamed);
  return ReadHere(facts, bytes, sink, streamed);
}

EntryOutcome ArchiveSession::ReadHere(EntryFacts* facts, const unsigned char** bytes, ArchiveEntrySink* sink,
                                      bool* streamed) {
  uint64_t at = Place().offset;
  int sunk = 0;
  *bytes = ArchiveCursorNextEntryTo(cursor_, sink, &sunk);
  if (streamed != nullptr) *streamed = sunk != 0;
  if (*bytes == nullptr && (sunk == 0 || Place().miss != ARCHIVE_MISS_NONE)) return Missed(facts, at);
  ArchiveEntryInfo info;
  ArchiveCursorLastEntryInfo(cursor_, &info);
  *facts = FactsRead(info);
  facts->at = at;
  passedAt_ = at;
  nextEntry_++;
  return EntryOutcome::Read;
}

// The entry a worker decoded, when there is one: its cursor read the header
// where this one stands and passed the entry, so this one goes on where that
// one ended, with no read. Otherwise the entry is read here, and so is every
// end of the archive.
EntryOutcome ArchiveSession::NextDecodedAhead(EntryFacts* facts, const unsigned char** bytes, ArchiveEntrySink* sink,
                                              bool* streamed) {
  const DecodedAhead* decoded = ahead_->Take(nextEntry_);
  if (decoded == nullptr || ArchiveCursorSeekOffset(cursor_, decoded->after, nextEntry_ + 1) == 0) {
    return ReadHere(facts, bytes, sink, streamed);
  }
  passedAt_ = decoded->facts.at;
  nextEntry_++;
  *facts = decoded->facts;
  *bytes = decoded->bytes;
  return EntryOutcome::Read;
}

EntryOutcome ArchiveSession::Skip(EntryFacts* facts) {
  uint64_t at = Place().offset;
  if (ArchiveCursorSkipEntry(cursor_) == 0) return Missed(facts, at);
  ArchiveEntryInfo info;
  ArchiveCursorLastEntryInfo(cursor_, &info);
  *facts = EntryFacts{info.unpackedSize, info.packedSize, info.stored != 0, false};
  facts->at = at;
  passedAt_ = at;
  nextEntry_++;
  return EntryOutcome::Skipped;
}

// The reader said why it gave no entry; an entry it passed over counts.
// at: where the header it read starts.
EntryOutcome ArchiveSession::Missed(EntryFacts* facts, uint64_t at) {
  *facts = EntryFacts{};
  ArchivePlace place = Place();
  switch (place.miss) {
    case ARCHIVE_MISS_END:
      return EntryOutcome::End;
    case ARCHIVE_MISS_STRAY:
      return EntryOutcome::StrayBytes;
    case ARCHIVE_MISS_TOO_LARGE: {
      ArchiveEntryInfo info;
      ArchiveCursorLastEntryInfo(cursor_, &info);
      *facts = EntryFacts{info.unpackedSize, info.packedSize, info.stored != 0, false};
      facts->at = at;
      passedAt_ = at;
      nextEntry_++;
      return EntryOutcome::TooLarge;
    }
    default:  // cut short, implausible, or a read error: the archive ends there, at the header it names
      *facts = EntryFacts{place.cutUnpackedSize, place.cutPackedSize, place.cutUnpackedSize == place.cutPackedSize};
      // A header read where the entry before says its data ends: when that
      // entry's stream ends elsewhere, its header is the wrong one.
      wrongClaim_ = place.miss != ARCHIVE_MISS_UNREADABLE && nextEntry_ > 0 &&
                    ArchiveFileSizeClaimWrong(archive_, passedAt_, &claim_) != 0;
      if (place.miss == ARCHIVE_MISS_IMPLAUSIBLE) return EntryOutcome::Implausible;
      return place.miss == ARCHIVE_MISS_UNREADABLE ? EntryOutcome::Unreadable : EntryOutcome::Truncated;
  }
}

// Where the cursor stands; all zero when no archive is open.
ArchivePlace ArchiveSession::Place() const {
  ArchivePlace place{};
  if (cursor_ != nullptr) ArchiveCursorWhere(cursor_, &place);
  return place;
}
