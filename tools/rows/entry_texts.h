// What packtool's reading commands share: opening an archive with its index,
// naming rows and entries in messages, fetching the entries of rows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tools/cli/cli.h"
#include "tools/rows/archive_session.h"

#ifdef _WIN32
constexpr bool WINDOWS_NAMES = true;
#else
constexpr bool WINDOWS_NAMES = false;
#endif

constexpr const char* DAMAGED_STREAM = "its stream is malformed or fails its checksum";
constexpr const char* CUT_SHORT = "its data runs past the end of the file (the archive is cut short)";
// A damaged entry's bytes before the failure: a flipped bit decodes on as
// garbage until the stream breaks.
constexpr const char* DAMAGED_MAY_BE_WRONG = "the bytes before the damage may be wrong too";
constexpr const char* UNREADABLE = "the system refused to read the archive file there (a read error)";

// Whether the archive ended inside an entry, and what to say of that entry.
inline bool EndsInsideEntry(EntryOutcome end) {
  return end == EntryOutcome::Truncated || end == EntryOutcome::Unreadable;
}
inline const char* InsideEntryText(EntryOutcome end) {
  return end == EntryOutcome::Unreadable ? UNREADABLE : CUT_SHORT;
}

std::string RowName(uint32_t row, const std::vector<std::string>& rows);
std::string EntryName(uint32_t entry, const std::vector<std::string>& rows);
// Rows from..to (inclusive), or the one row.
std::string RowsSaid(uint64_t from, uint64_t to, const char* one, const char* many);
// Past the damage: the rows from `found` on, which no entry was found for
// (found below rowCount), and the entries from rowCount on, which no row of
// a sound index names (found above rowCount).
std::string RowsLostSaid(uint64_t found, uint64_t rowCount);
std::string EntriesWithoutRowSaid(uint64_t rowCount, uint64_t found);
// Flushes standard output; EXIT_WRITE (at least) when that failed.
int FinishOutput(int code);

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

// The problems an archive's end shows: a last entry cut short, stray bytes,
// index rows that no entry answers. Bytes after the entry of a sound
// index's last row are none: notes (when given) says what they are.
std::vector<std::string> EndProblems(EntryOutcome end, const ArchiveSession& session, uint32_t entryCount,
                                     const std::vector<std::string>& rows, bool indexSound,
                                     std::vector<std::string>* notes = nullptr);

// Fetches the entries of rows in ascending order, skipping the entries in
// between without reading their data.
class RowFetcher {
 public:
  RowFetcher(ArchiveSession& session, const EntryFacts& indexFacts, bool indexSound)
      : session_(session), indexFacts_(indexFacts), indexSound_(indexSound) {}

  // EXIT_OK with the entry's bytes (which may be damaged: see facts), or the
  // code after saying why there are none. Of a sound index only its rows are
  // asked for; otherwise row r names entry r whether the index shows it or
  // not. quietAtEnd: no word when the archive holds no entry for the row.
  // With a sink, an entry too large to hold goes there (*streamed set; see
  // ArchiveSession::NextTo): EXIT_OK with *bytes null, or EXIT_MEMORY
  // without a word when the sink refused it (it says why).
  int Fetch(uint32_t row, EntryFacts* facts, const unsigned char** bytes, bool quietAtEnd = false,
            ArchiveEntrySink* sink = nullptr, bool* streamed = nullptr) {
    const std::vector<std::string>& rows = session_.Rows();
    if (row >= rows.size() && indexSound_) {
      std::string range = rows.empty() ? "it has none" : "0 to " + std::to_string(rows.size() - 1);
      Complain("row " + std::to_string(row) + ": no such row (the index has " + Counted(rows.size(), "row", "rows") +
               ": " + range + ")");
      return EXIT_ROW;
    }
    if (row == 0) {
      *facts = indexFacts_;
      *bytes = session_.IndexBytes().data();
      return EXIT_OK;
    }
    EntryOutcome outcome = EntryOutcome::Skipped;
    while (!ended_ && session_.NextEntryNumber() < row) {
      outcome = session_.Skip(facts);
      if (outcome != EntryOutcome::Skipped) End(outcome);
    }
    if (!ended_) {
      bool sunk = false;
      outcome = session_.NextTo(facts, bytes, sink, &sunk);
      if (streamed != nullptr) *streamed = sunk;
      if (outcome == EntryOutcome::Read) return EXIT_OK;
      if (outcome == EntryOutcome::TooLarge && sunk) return EXIT_MEMORY;
      if (outcome == EntryOutcome::TooLarge) {
        Complain(RowName(row, rows) + ": the entry is too large to hold in memory (" +
                 std::to_string(facts->unpackedSize) + " bytes); nothing written");
        return EXIT_MEMORY;
      }
      End(outcome);
    }
    if (row == endEntry_ && EndsInsideEntry(end_)) {
      Complain(RowName(row, rows) + ": damaged entry: " + InsideEntryText(end_) +
               "; nothing written (\"packtool rescue\" recovers what is there)");
      return EXIT_DAMAGED;
    }
    if (quietAtEnd) return EXIT_ROW;
    Complain(RowName(row, rows) + ": the archive holds no entry for it (it ends after " +
             Counted(endEntry_, "entry", "entries") + ")");
    return EXIT_ROW;
  }
  // After Fetch gave EXIT_DAMAGED: why the entry ended.
  const char* EndText() const { return InsideEntryText(end_); }

 private:
  void End(EntryOutcome outcome) {
    ended_ = true;
    end_ = outcome;
    endEntry_ = session_.NextEntryNumber();
  }

  ArchiveSession& session_;
  EntryFacts indexFacts_;
  bool indexSound_;
  bool ended_ = false;
  EntryOutcome end_ = EntryOutcome::End;
  uint32_t endEntry_ = 0;
};

// The file name of an entry that has no trusted row.
inline std::string UnnamedEntryFileName(uint32_t entry) {
  return "entry-" + std::to_string(entry) + ".bin";
}
