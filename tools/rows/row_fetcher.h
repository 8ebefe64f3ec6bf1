// The entries of rows, fetched in ascending order by a command that reads
// some rows of an archive plainly.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/cli/cli.h"
#include "tools/rows/archive_session.h"
#include "tools/rows/entry_texts.h"

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
