#include "tools/commands/rescue_report.h"

#include "tools/cli/cli.h"
#include "tools/output/leftovers.h"
#include "tools/text/text.h"

std::string RescuedName(const RescuedEntry& entry, const OtherBackups& others) {
  std::string name = "entry " + std::to_string(entry.number);
  if (entry.number == 0) return name + " (the index)";
  if (!entry.hasRow) return name;
  if (entry.rowNumber != entry.number)
    name += " (row " + std::to_string(entry.rowNumber) + ",";
  else
    name += " (";
  name += "\"" + Shown(entry.row) + "\"";
  if (entry.nameFrom == NameFrom::Guess) name += ", its name a guess";
  if (entry.nameFrom == NameFrom::OtherBackup) name += ", " + OtherProofSaid(others, entry.proof);
  return name + ")";
}

std::string HolesSaid(const SalvagedEntry& entry) {
  const SalvageHole& first = entry.holes[0];
  if (entry.holeCount == 1) {
    return " (zeros in the file for bytes " + std::to_string(first.offset) + " to " +
           std::to_string(uint64_t(first.offset) + first.length - 1) + ")";
  }
  return " (zeros in the file for " + Counted(entry.recovered - entry.FromFile(), "byte", "bytes") + " in " +
         std::to_string(entry.holeCount) + " places, the first at byte " + std::to_string(first.offset) + ")";
}

std::string RescueReportText(const std::vector<RescuedEntry>& entries, const OtherBackups& others) {
  std::string text;
  for (const RescuedEntry& e : entries) {
    bool guess = e.nameFrom == NameFrom::Guess;
    bool byOthers = e.nameFrom == NameFrom::OtherBackup;
    if (e.state == SalvageState::Sound && !guess && !byOthers && e.other.empty()) continue;
    std::string how = e.how.empty() ? SalvageStateName(e.state, e.checked) : e.how;
    if (!e.other.empty()) how += ", " + e.other;
    if (guess) how += "; its name is a guess (the damage before it may hide entries or add some)";
    text += (e.path.empty() ? std::string("(no file)") : e.path) + ": " + RescuedName(e, others) + ": " + how + "\r\n";
  }
  if (text.empty()) return text;
  return "Files of this rescue that are not whole, those repaired, those whose names are guesses or come from "
         "other backups; of a damaged or partial one, the bytes before the damage may be wrong too:\r\n" +
         text;
}

void PrintRescueJson(const std::string& archive, const std::vector<RescuedEntry>& rescued,
                     const std::vector<SalvageRange>& skippedRanges, uint64_t untried, const OtherBackups& others) {
  JsonDocument entries = JsonDocument::array();
  for (const RescuedEntry& e : rescued) {
    // The holes of a file written, as [offset, length] pairs.
    JsonDocument zeros = JsonDocument::array();
    if (e.written > 0) {
      for (const SalvageHole& hole : e.holes) zeros.push_back({hole.offset, hole.length});
    }
    // "row" and "text" as in every document: the row's number, its text.
    entries.push_back({{"entry", e.number},
                       {"row", e.hasRow ? JsonDocument(e.rowNumber) : nullptr},
                       {"text", e.hasRow ? JsonDocument(Windows1252ToUtf8(e.row)) : nullptr},
                       {"nameFrom", NameFromWord(e.hasRow ? e.nameFrom : NameFrom::None)},
                       {"state", SalvageStateName(e.state, e.checked)},
                       {"unpackedSize", e.sizeUnknown ? nullptr : JsonDocument(e.size)},
                       {"written", e.written},
                       {"path", e.path.empty() ? nullptr : JsonDocument(Windows1252ToUtf8(e.path))},
                       {"zeros", zeros}});
    if (e.repairTried) entries.back()["repair"] = RepairJson(e.repair);
    if (e.nameFrom == NameFrom::OtherBackup) entries.back()["namedFrom"] = OtherProofSaid(others, e.proof);
    if (!e.other.empty()) entries.back()["other"] = e.other;
  }
  JsonDocument skipped = JsonDocument::array();
  for (const SalvageRange& range : skippedRanges)
    skipped.push_back({{"offset", range.offset}, {"length", range.length}});
  PrintJsonDocument(
      {{"archive", JsonHostPath(archive)}, {"entries", entries}, {"skipped", skipped}, {"unread", untried}});
}

std::string OtherBackupsHeld(const OtherBackups& others, const SalvagedEntry& entry, const std::string& row) {
  ContentKey key{};
  if (!others.Given() || entry.checked || !SalvagedContentKey(entry, &key)) return "";
  uint32_t backup = 0;
  switch (OtherBackupsHold(others.backups, row, key, &backup)) {
    case OtherHolds::Same:
      return SAME_AS_OTHER + others.Name(backup);
    case OtherHolds::Differs:
      return "not as the other backups hold it: changed since, or damaged";
    default:
      return "";
  }
}

void RescuedTarget(const RescuedEntry& entry, size_t pathRoom, std::vector<std::string>* parts) {
  parts->clear();
  TargetPath path;
  if (entry.number != 0 && entry.hasRow && TargetFromRowPath(entry.row, WINDOWS_NAMES, &path) == nullptr &&
      FitTargetPath(&path, pathRoom, StagedPrefix().size() + 25, WINDOWS_NAMES) == nullptr) {
    // A name that is a guess never stands where the proven ones do.
    if (entry.nameFrom == NameFrom::Guess) parts->push_back(UNPROVEN_FOLDER);
    parts->insert(parts->end(), path.folders.begin(), path.folders.end());
    parts->push_back(path.name);
    return;
  }
  parts->push_back(UnnamedEntryFileName(entry.number));
}
