#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "tools/cli/cli.h"
#include "tools/commands/commands.h"
#include "tools/rows/rows.h"
#include "tools/text/text.h"

namespace {

std::string Storage(const EntryFacts& facts) {
  return facts.stored ? "stored" : "compressed";
}

size_t Digits(uint64_t value) {
  return std::to_string(value).size();
}

std::string PadLeft(const std::string& text, size_t width) {
  return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::string PadRight(const std::string& text, size_t width) {
  return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

// How the list shows the entry of one row.
struct ListedRow {
  bool hasSizes = false;
  EntryFacts facts;
  std::string storage;
  NameFrom nameFrom = NameFrom::Index;  // how the row is known to name that entry
};

ListedRow RowListing(uint32_t row, const std::vector<EntryFacts>& entries, EntryOutcome end,
                     const EntryFacts& cutShort) {
  if (row < entries.size()) return {true, entries[row], Storage(entries[row])};
  // An entry with a read error shows as truncated too; the problems below say which.
  if (row == entries.size() && EndsInsideEntry(end)) return {true, cutShort, "truncated"};
  return {false, {}, "missing"};
}

// The entries of an archive whose plain reading did not hold together, as
// the salvage walk finds them: their listing (a state other than sound
// shows in place of the storage) and the problems they show.
struct WalkedListing {
  std::vector<ListedRow> rows;  // by row
  size_t entries = 0;
  std::vector<std::string> problems;
};

WalkedListing ListPastDamage(const ArchiveSession& session, const OpenedIndex& index, const PlainReading& plain) {
  WalkedListing listing;
  const std::vector<std::string>& rows = session.Rows();
  bool indexSound = index.state == IndexState::Sound;
  listing.problems.push_back(PastDamageSaid(plain));
  listing.rows.assign(rows.size(), ListedRow{false, {}, "missing"});
  size_t guessed = 0, named = 0;
  WalkPastDamage(session.Archive(), rows.size(), indexSound, [&](const WalkedEntry& entry) {
    bool sound = entry.state == SalvageState::Sound;
    listing.entries++;
    const EntryNaming& naming = entry.naming;
    if (naming.from != NameFrom::None && naming.row < rows.size()) {
      listing.rows[naming.row] = {entry.sizeKnown, entry.facts,
                                  sound ? Storage(entry.facts) : SalvageStateName(entry.state, entry.facts.checked),
                                  naming.from};
      guessed += naming.from == NameFrom::Guess ? 1 : 0;
      named++;
    }
    if (!sound) listing.problems.push_back(EntryName(entry.number, rows) + ": " + entry.how);
    return true;
  });
  size_t found = listing.entries;
  if (found < rows.size()) listing.problems.push_back(RowsLostSaid(found, rows.size()));
  if (named < std::min(found, rows.size())) {
    listing.problems.push_back(Counted(std::min(found, rows.size()) - named, "row", "rows") +
                               " are answered by no entry for sure: the damage hides some");
  }
  if (guessed > 0) {
    listing.problems.push_back("which entry " + Counted(guessed, "row", "rows") +
                               " name is a guess (the damage may hide entries or add some)");
  }
  if (indexSound && found > rows.size()) listing.problems.push_back(EntriesWithoutRowSaid(rows.size(), found));
  return listing;
}

// Lists the archive at path. records: null for an archive listed alone (its
// document is printed here); else its record is added there, and every line
// of text begins with the archive's name.
int ListOne(const PackToolRequest& request, const std::string& path, JsonDocument* records) {
  OpenedArchive opened;
  int code = OpenArchive(path, ReadOn::Headers, &opened);
  if (code != EXIT_OK) {
    if (records != nullptr && request.format == ListFormat::Json) records->push_back(FailedRecord(path, code));
    return code;
  }
  const ArchiveSession& session = opened.session;
  const OpenedIndex& index = opened.index;
  const PlainReading& plain = opened.plain;
  const std::vector<EntryFacts>& entries = plain.entries;
  const std::vector<std::string>& rows = session.Rows();
  std::vector<std::string> problems;
  std::vector<ListedRow> walked;
  size_t walkedEntries = 0;
  if (plain.HoldsTogether()) {
    problems = EndProblems(plain.end, session, uint32_t(entries.size()), rows, index.state == IndexState::Sound);
  } else {
    WalkedListing listing = ListPastDamage(session, index, plain);
    problems = std::move(listing.problems);
    walked = std::move(listing.rows);
    walkedEntries = listing.entries;
  }
  auto listed = [&](uint32_t row) {
    if (plain.HoldsTogether()) return RowListing(row, entries, plain.end, plain.endFacts);
    return row < walked.size() ? walked[row] : ListedRow{false, {}, "missing"};
  };
  size_t entryCount = plain.HoldsTogether() ? entries.size() : walkedEntries;

  std::vector<uint32_t> shown;
  int selected = EXIT_OK;
  if (request.rows.empty() && request.patterns.empty()) {
    for (uint32_t row = 0; row < rows.size(); row++) shown.push_back(row);
  } else {
    selected = SelectRows(request, rows, &shown);
    while (!shown.empty() && shown.back() >= rows.size()) {
      Complain((records != nullptr ? ShownPath(path) + ": " : "") + "row " + std::to_string(shown.back()) +
               ": no such row (the index has " + Counted(rows.size(), "row", "rows") + ")");
      selected = EXIT_ROW;
      shown.pop_back();
    }
  }

  std::string prefix = records != nullptr ? ShownPath(path) + ": " : "";
  // -q: nothing on standard output (the parser keeps it from --raw and --json).
  if (request.format == ListFormat::Raw) {
    for (uint32_t row : shown) {
      Print(prefix);
      Print(rows[row]);
      Print("\n");
    }
  } else if (request.format == ListFormat::Json) {
    JsonDocument json = JsonDocument::object();
    if (records != nullptr) json["archive"] = JsonHostPath(path);
    json.update({{"entryCount", entryCount},
                 {"complete", problems.empty() && index.state == IndexState::Sound},
                 {"rows", JsonDocument::array()}});
    for (uint32_t row : shown) {
      ListedRow shown = listed(row);
      JsonDocument& record = json["rows"].emplace_back();
      if (records != nullptr) record["archive"] = JsonHostPath(path);
      record.update(
          {{"row", row},
           {"text", Windows1252ToUtf8(rows[row])},
           {"unpackedSize", shown.hasSizes ? JsonDocument(shown.facts.unpackedSize) : nullptr},
           {"packedSize", shown.hasSizes ? JsonDocument(shown.facts.packedSize) : nullptr},
           {"storage", shown.storage},
           {"nameFrom", NameFromWord(shown.hasSizes || shown.storage != "missing" ? shown.nameFrom : NameFrom::None)}});
    }
    if (records != nullptr) {
      records->push_back(std::move(json));
    } else {
      PrintJsonDocument(json);
    }
  } else if (!request.quiet) {
    uint64_t largest = 0;
    for (uint32_t row : shown) {
      ListedRow one = listed(row);
      if (one.hasSizes) largest = std::max<uint64_t>(largest, one.facts.unpackedSize);
    }
    size_t rowWidth = rows.empty() ? 1 : Digits(rows.size() - 1);
    size_t sizeWidth = Digits(largest);
    for (uint32_t row : shown) {
      ListedRow one = listed(row);
      std::string size = one.hasSizes ? std::to_string(one.facts.unpackedSize) : "-";
      Print(prefix + PadLeft(std::to_string(row), rowWidth) + "  " + PadLeft(size, sizeWidth) + "  " +
            PadRight(one.storage, 10) + "  " + Shown(rows[row]) +
            (one.nameFrom == NameFrom::Guess ? "  (which entry is this row's is a guess)" : "") + "\n");
    }
  }
  code = FinishOutput(ExitWorst(index.code, selected));
  for (const std::string& problem : problems) Complain(ShownPath(path) + ": " + problem);
  return problems.empty() ? code : ExitWorst(code, EXIT_DAMAGED);
}

}  // namespace

int RunList(const PackToolRequest& request) {
  return ForEachArchive(
      request, [&](const std::string& path, JsonDocument* records) { return ListOne(request, path, records); });
}
