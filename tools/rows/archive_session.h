// One archive as a command walks it: an archive object of pack/ with a
// cursor of its own (the reader and decoder the restore tool uses, but not
// the restore tool's process-wide cursor, so that sessions do not share a
// place), with its answers as outcomes: an entry, or where the archive ended
// and why. The index rows are cut by the file library's line rules.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "pack/archive.h"
#include "pack/archive_file.h"
#include "pack/size_claim.h"
#include "tools/cli/exit_codes.h"

enum class EntryOutcome {
  Read,         // delivered; the facts say whether it is damaged
  Skipped,      // passed over, header read, data not
  End,          // the archive ends cleanly before this entry
  StrayBytes,   // 1 to 7 bytes where a header should be
  Truncated,    // a header whose data runs past the end of the file
  Unreadable,   // a read error at this entry (its header or its data)
  TooLarge,     // complete, but its bytes could not be had in memory; passed over
  Implausible,  // a compressed entry whose data does not start a stream: the reading ends there
};

struct EntryFacts {
  uint32_t unpackedSize = 0;
  uint32_t packedSize = 0;
  bool stored = false;
  bool damaged = false;  // Read only: the stream is malformed or fails its checksum
  uint32_t decoded = 0;  // Read only: how many bytes from the start its data really gave
  bool checked = false;  // Read only: sound, and proven by its stream's checksum (not only whole in length)
  uint64_t at = 0;       // Read, Skipped and TooLarge: where its header starts
};

// The facts of an entry a cursor delivered.
inline EntryFacts FactsRead(const ArchiveEntryInfo& info) {
  return EntryFacts{info.unpackedSize, info.packedSize, info.stored != 0,
                    info.damaged != 0, info.decoded,    info.checked != 0};
}

class EntryPipeline;
class WorkAhead;
struct PlannedEntry;

class ArchiveSession {
 public:
  ArchiveSession();
  ArchiveSession(const ArchiveSession&) = delete;
  ArchiveSession& operator=(const ArchiveSession&) = delete;
  ~ArchiveSession();

  // Opens the archive; walked, its entries' places are known at once
  // (Archive() then answers for them), and its headers are read there alone. On failure returns false
  // with the reason (the caller ends with EXIT_ARCHIVE).
  bool Open(const std::string& path, std::string* error, ArchiveWalk walk = ARCHIVE_WALK_NONE);
  // Reads entry 0 into *outcome and, when it was read, cuts it into rows in
  // memory, with the line rules of the restore tool. Of a damaged index only
  // the lines that lie wholly inside the bytes its stream decoded are rows.
  void ReadIndex(EntryOutcome* outcome, EntryFacts* facts);

  // Back to the start, past the index again (its rows stay as they were
  // cut): for a command that read the headers first. A new cursor on the
  // same open file; false when there is no memory for it, or the file is no
  // longer the one walked (a walked archive: the index is passed, not read
  // again), or the index it reads again is not what it was.
  bool Rewind();

  EntryOutcome Next(EntryFacts* facts, const unsigned char** bytes) { return NextTo(facts, bytes, nullptr, nullptr); }
  // As Next, but an entry too large to hold goes to sink (*streamed set;
  // Read with *bytes null, or TooLarge when the sink refused it).
  EntryOutcome NextTo(EntryFacts* facts, const unsigned char** bytes, ArchiveEntrySink* sink, bool* streamed);
  EntryOutcome Skip(EntryFacts* facts);

  // The open archive object, for cursors of other threads and for the walk
  // past damage; null before Open succeeded.
  const ArchiveFile* Archive() const { return archive_; }
  // The engine of a command asked for `jobs` (-j; 0: one per core), made at
  // the first ask and owned by the session, so that what works ahead of it
  // ends before its cursors and archive: from now on a big entry's checksum
  // runs beside its decoding on a free worker.
  WorkAhead& Engine(unsigned jobs);
  // From now on Next takes the planned entries decoded ahead on the
  // engine's workers (none with -j 1: the session reads alone), in order.
  void DecodeAhead(unsigned jobs, std::vector<PlannedEntry> plan);
  void DecodeAhead(unsigned jobs, std::vector<PlannedEntry> plan, uint64_t limit);
  // What decodes ahead, null when nothing does.
  const EntryPipeline* Ahead() const { return ahead_.get(); }

  const std::vector<std::string>& Rows() const { return rows_; }
  // Of a damaged index: the lines it decoded whole, the rows among them.
  size_t DecodedRows() const { return decodedRows_; }
  // The index's decoded bytes (all of them when it is sound).
  const std::vector<unsigned char>& IndexBytes() const { return index_; }
  // The number of the entry the next Next or Skip reaches.
  uint32_t NextEntryNumber() const { return nextEntry_; }
  // Where the next entry header starts.
  uint64_t Offset() const { return Place().offset; }
  uint64_t FileSize() const { return Place().size; }
  // After StrayBytes: how many.
  uint64_t Remaining() const {
    ArchivePlace place = Place();
    return place.size - place.offset;
  }
  // After Truncated, Unreadable or Implausible: where that entry's header
  // starts; after Truncated, how many bytes the file holds after its header.
  uint64_t EndedAt() const { return Place().cutOffset; }
  uint64_t LeftAfterHeader() const { return ArchiveLeftAfterCutHeader(Place()); }
  // After Truncated or Implausible: true when the entry before that header
  // is the one to blame, its header's packed size disagreeing with where
  // its sound stream ends (the header after it was read at the wrong
  // place); *entry is its number.
  bool WrongClaimBefore(uint32_t* entry, ArchiveSizeClaim* claim) const {
    if (!wrongClaim_) return false;
    *entry = nextEntry_ - 1;
    *claim = claim_;
    return true;
  }
  // Where the header of the entry starts: entry 0 at 0, the others as the
  // walk found them (0 for an archive not walked).
  uint64_t HeaderOffsetOf(uint32_t entry) const {
    ArchiveEntryPlace place{};
    return archive_ != nullptr && ArchiveFileEntryPlace(archive_, entry, &place) != 0 ? place.offset : 0;
  }

 private:
  ArchivePlace Place() const;
  bool StartCursor();
  EntryOutcome Missed(EntryFacts* facts, uint64_t at);
  EntryOutcome ReadHere(EntryFacts* facts, const unsigned char** bytes, ArchiveEntrySink* sink, bool* streamed);
  EntryOutcome NextDecodedAhead(EntryFacts* facts, const unsigned char** bytes, ArchiveEntrySink* sink, bool* streamed);
  void CutRows(const unsigned char* bytes, size_t size);

  ArchiveFile* archive_ = nullptr;
  ArchiveCursor* cursor_ = nullptr;
  std::unique_ptr<WorkAhead> engine_;
  std::unique_ptr<EntryPipeline> ahead_;
  uint32_t nextEntry_ = 0;
  uint64_t passedAt_ = 0;    // where the header of entry nextEntry_ - 1 starts
  bool wrongClaim_ = false;  // the reading ended where that entry's header misled it
  ArchiveSizeClaim claim_ = {};
  std::vector<std::string> rows_;
  size_t decodedRows_ = 0;
  std::vector<unsigned char> index_;
};

enum class IndexState {
  Sound,
  Damaged,   // its stream failed: the rows are the lines it decoded whole
  TooLarge,  // too large to hold: no rows
};

// What reading the index leaves a command: the index entry's facts, how far
// its rows are trusted, and the code the command ends with at least.
struct OpenedIndex {
  EntryFacts facts;
  IndexState state = IndexState::Sound;
  int code = EXIT_OK;
};
