#include "tools/rows/entry_texts.h"

#include <cstdio>

#include "pack/trailing_bytes.h"
#include "tools/cli/cli.h"

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

std::string SizeClaimSaid(const ArchiveSizeClaim& claim) {
  return "its header claims " + Counted(claim.claimed, "byte", "bytes") + ", but its stream ends after " +
         Counted(claim.streamEnds, "byte", "bytes");
}

std::string RowsSaid(uint64_t from, uint64_t to, const char* one, const char* many) {
  return from == to ? std::string(one) + " " + std::to_string(from)
                    : std::string(many) + " " + std::to_string(from) + " to " + std::to_string(to);
}

std::string RowsLostSaid(uint64_t found, uint64_t rowCount) {
  return RowsSaid(found, rowCount - 1, "row", "rows") + (found + 1 == rowCount ? " has" : " have") +
         " no entry, even past the damage: lost";
}

std::string EntriesWithoutRowSaid(uint64_t rowCount, uint64_t found) {
  return RowsSaid(rowCount, found - 1, "entry", "entries") + (found == rowCount + 1 ? " has" : " have") + " no row";
}

int FinishOutput(int code) {
  if (fflush(stdout) != 0 || ferror(stdout)) {
    Complain("cannot write to standard output");
    return ExitWorst(code, EXIT_WRITE);
  }
  return code;
}

std::vector<std::string> EndProblems(EntryOutcome end, const ArchiveSession& session, uint32_t entryCount,
                                     const std::vector<std::string>& rows, bool indexSound,
                                     std::vector<std::string>* notes) {
  std::vector<std::string> problems;
  uint64_t firstMissing = entryCount;
  // Bytes after the entry of the last row of a sound index hold no file:
  // padding to a block (copies from tapes and floppies), or bytes appended.
  if (indexSound && entryCount >= rows.size() && !rows.empty() &&
      (end == EntryOutcome::Truncated || end == EntryOutcome::StrayBytes)) {
    if (notes != nullptr) {
      uint64_t from = end == EntryOutcome::StrayBytes ? session.FileSize() - session.Remaining() : session.EndedAt();
      std::string trailing = Counted(session.FileSize() - from, "byte", "bytes") + " after the entry of the last row";
      TrailingKind kind = TrailingKind::Other;
      std::string what;
      if (!ArchiveFileTrailing(session.Archive(), from, &kind, &what)) what = "bytes that could not be read";
      // Zeros that pad the file to a block are no damage at all.
      if (kind == TrailingKind::Zeros) {
        notes->push_back(trailing + " are " + what + ": no damage, every row has its entry");
      } else {
        notes->push_back("warning: " + trailing + " hold no entry: " + what + "; every row has its entry");
      }
    }
    return problems;
  }
  uint32_t wrongEntry = 0;
  ArchiveSizeClaim claim{};
  if ((end == EntryOutcome::Truncated || end == EntryOutcome::Implausible) &&
      session.WrongClaimBefore(&wrongEntry, &claim)) {
    problems.push_back(EntryName(wrongEntry, rows) + ": damaged: " + SizeClaimSaid(claim) + WRONG_PLACE);
  } else if (EndsInsideEntry(end)) {
    problems.push_back(EntryName(entryCount, rows) + ": damaged: " + InsideEntryText(end));
    firstMissing++;
  } else if (end == EntryOutcome::StrayBytes) {
    problems.push_back(Counted(session.Remaining(), "stray byte", "stray bytes") +
                       " at the end of the archive, too few for an entry header");
  }
  if (firstMissing < rows.size()) {
    uint64_t last = rows.size() - 1;
    problems.push_back(RowsSaid(firstMissing, last, "row", "rows") + (firstMissing == last ? " has" : " have") +
                       " no entry: the archive holds " + Counted(entryCount, "entry", "entries"));
  }
  return problems;
}
