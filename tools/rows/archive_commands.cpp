#include "tools/rows/archive_commands.h"

#include <cstdio>

#include "tools/cli/extract_report.h"

std::string RowName(uint32_t row, const std::vector<std::string>& rows) {
  std::string name = "row " + std::to_string(row);
  if (row < rows.size()) name += " (\"" + Shown(rows[row]) + "\")";
  return name;
}

std::string EntryName(uint32_t entry, const std::vector<std::string>& rows) {
  std::string name = "entry " + std::to_string(entry);
  if (entry == 0) return name + " (the index)";
  if (entry < rows.size()) name += " (\"" + Shown(rows[entry]) + "\")";
  return name;
}

std::string RowsSaid(uint64_t from, uint64_t to, const char* one, const char* many) {
  return from == to ? std::string(one) + " " + std::to_string(from)
                    : std::string(many) + " " + std::to_string(from) + " to " + std::to_string(to);
}

int FinishOutput(int code) {
  if (fflush(stdout) != 0 || ferror(stdout)) {
    Complain("cannot write to standard output");
    return ExitWorst(code, EXIT_WRITE);
  }
  return code;
}

int OpenWithIndex(ArchiveSession& session, const std::string& path, OpenedIndex* index) {
  *index = OpenedIndex{};
  EntryFacts* facts = &index->facts;
  std::string error;
  if (!session.Open(path, &error)) {
    Complain(ShownPath(path) + ": " + error);
    return EXIT_ARCHIVE;
  }
  EntryOutcome outcome;
  session.ReadIndex(&outcome, facts);
  switch (outcome) {
    case EntryOutcome::End:
    case EntryOutcome::StrayBytes:
      Complain(ShownPath(path) + ": not a pack archive: too short for an entry header");
      return EXIT_ARCHIVE;
    case EntryOutcome::Truncated:
      Complain(ShownPath(path) +
               ": damaged archive: it ends inside its index (entry 0); \"packtool rescue\" recovers what is there");
      return EXIT_DAMAGED;
    case EntryOutcome::Unreadable:
      Complain(ShownPath(path) + ": damaged archive: the index (entry 0) cannot be read: " + UNREADABLE +
               "; \"packtool rescue\" recovers what can be read");
      return EXIT_DAMAGED;
    case EntryOutcome::TooLarge:
      Complain(ShownPath(path) + ": the index (entry 0) is too large to hold in memory (" +
               std::to_string(facts->unpackedSize) + " bytes): entries are named by number");
      index->state = IndexState::Unreadable;
      index->code = EXIT_MEMORY;
      return EXIT_OK;
    default:
      break;
  }
  if (facts->damaged) {
    size_t rows = session.Rows().size();
    Complain(ShownPath(path) + ": the index (entry 0) is damaged: " + DAMAGED_STREAM + "; only the " +
             Counted(rows, "row", "rows") + " decoded whole before the damage " + (rows == 1 ? "is" : "are") +
             " trusted");
    index->state = IndexState::Damaged;
    index->code = EXIT_DAMAGED;
  }
  return EXIT_OK;
}

// The problems an archive's end shows: a last entry cut short, stray bytes,
// index rows that no entry answers.
std::vector<std::string> EndProblems(EntryOutcome end, const ArchiveSession& session, uint32_t entryCount,
                                     const std::vector<std::string>& rows) {
  std::vector<std::string> problems;
  uint64_t firstMissing = entryCount;
  if (EndsInsideEntry(end)) {
    problems.push_back(EntryName(entryCount, rows) + ": damaged: " + InsideEntryText(end));
    firstMissing++;
  } else if (end == EntryOutcome::StrayBytes) {
    problems.push_back(Counted(session.Remaining(), "stray byte", "stray bytes") +
                       " at the end of the archive, too few for an entry header");
  }
  if (firstMissing < rows.size()) {
    uint64_t last = rows.size() - 1;
    std::string which = firstMissing == last ? "row " + std::to_string(last)
                                             : "rows " + std::to_string(firstMissing) + " to " + std::to_string(last);
    problems.push_back(which + (firstMissing == last ? " has" : " have") + " no entry: the archive holds " +
                       Counted(entryCount, "entry", "entries"));
  }
  return problems;
}
