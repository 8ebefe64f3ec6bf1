#include "tools/commands.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "tools/archive_commands.h"
#include "tools/archive_session.h"
#include "tools/exit_codes.h"
#include "tools/extract_report.h"
#include "tools/host.h"
#include "tools/json_document.h"
#include "tools/past_damage.h"
#include "tools/progress.h"
#include "tools/report.h"
#include "tools/row_match.h"
#include "tools/row_selection.h"
#include "tools/target_path.h"
#include "tools/text_encoding.h"

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
};

ListedRow RowListing(uint32_t row, const std::vector<EntryFacts>& entries, EntryOutcome end,
                     const EntryFacts& cutShort) {
  if (row < entries.size()) return {true, entries[row], Storage(entries[row])};
  // An entry the system refused to read shows as truncated too; the problems below say which.
  if (row == entries.size() && EndsInsideEntry(end)) return {true, cutShort, "truncated"};
  return {false, {}, "missing"};
}

// Rows from..to (inclusive), or the one row.
std::string RowsSaid(uint64_t from, uint64_t to, const char* one, const char* many) {
  return from == to ? std::string(one) + " " + std::to_string(from)
                    : std::string(many) + " " + std::to_string(from) + " to " + std::to_string(to);
}

// The entries of an archive whose plain reading did not hold together, as
// the salvage walk finds them: their listing (a state other than sound
// shows in place of the storage) and the problems they show.
struct WalkedListing {
  std::vector<ListedRow> entries;
  std::vector<std::string> problems;
};

WalkedListing ListPastDamage(const std::string& path, const ArchiveSession& session, const OpenedIndex& index,
                             const PlainReading& plain) {
  WalkedListing listing;
  const std::vector<std::string>& rows = session.Rows();
  bool indexSound = index.state == IndexState::Sound;
  listing.problems.push_back(PastDamageSaid(plain));
  WalkPastDamage(path, rows.size(), indexSound, [&](const WalkedEntry& entry) {
    bool sound = entry.state == SalvageState::Sound;
    listing.entries.push_back(
        {entry.sizeKnown, entry.facts, sound ? Storage(entry.facts) : SalvageStateName(entry.state)});
    if (!sound) listing.problems.push_back(EntryName(entry.number, rows) + ": " + entry.how);
    return true;
  });
  size_t found = listing.entries.size();
  if (found < rows.size()) {
    listing.problems.push_back(RowsSaid(found, rows.size() - 1, "row", "rows") +
                               (found + 1 == rows.size() ? " has" : " have") + " no entry, even past the damage: lost");
  }
  if (indexSound && found > rows.size()) {
    listing.problems.push_back(RowsSaid(rows.size(), found - 1, "entry", "entries") +
                               (found == rows.size() + 1 ? " has" : " have") + " no row");
  }
  return listing;
}

}  // namespace

int RunList(const PackToolRequest& request) {
  ArchiveSession session;
  OpenedIndex index;
  int code = OpenWithIndex(session, request.archive, &index);
  if (code != EXIT_OK) return code;

  PlainReading plain = ReadPlainly(session, index);
  const std::vector<EntryFacts>& entries = plain.entries;
  const std::vector<std::string>& rows = session.Rows();
  std::vector<std::string> problems;
  std::vector<ListedRow> walked;
  if (plain.trouble.empty()) {
    problems = EndProblems(plain.end, session, uint32_t(entries.size()), rows);
  } else {
    WalkedListing listing = ListPastDamage(request.archive, session, index, plain);
    problems = std::move(listing.problems);
    walked = std::move(listing.entries);
  }
  auto listed = [&](uint32_t row) {
    if (plain.trouble.empty()) return RowListing(row, entries, plain.end, plain.endFacts);
    return row < walked.size() ? walked[row] : ListedRow{false, {}, "missing"};
  };
  size_t entryCount = plain.trouble.empty() ? entries.size() : walked.size();

  std::vector<uint32_t> shown;
  int selected = EXIT_OK;
  if (request.rows.empty() && request.patterns.empty()) {
    for (uint32_t row = 0; row < rows.size(); row++) shown.push_back(row);
  } else {
    selected = SelectRows(request, rows, &shown);
    while (!shown.empty() && shown.back() >= rows.size()) {
      Complain("row " + std::to_string(shown.back()) + ": no such row (the index has " +
               Counted(rows.size(), "row", "rows") + ")");
      selected = EXIT_ROW;
      shown.pop_back();
    }
  }

  if (request.format == ListFormat::Raw) {
    for (uint32_t row : shown) {
      Print(rows[row]);
      Print("\n");
    }
  } else if (request.format == ListFormat::Json) {
    JsonDocument json{{"entryCount", entryCount},
                      {"complete", problems.empty() && index.state == IndexState::Sound},
                      {"rows", JsonDocument::array()}};
    for (uint32_t row : shown) {
      ListedRow shown = listed(row);
      json["rows"].push_back({{"row", row},
                              {"text", Windows1252ToUtf8(rows[row])},
                              {"unpackedSize", shown.hasSizes ? JsonDocument(shown.facts.unpackedSize) : nullptr},
                              {"packedSize", shown.hasSizes ? JsonDocument(shown.facts.packedSize) : nullptr},
                              {"storage", shown.storage}});
    }
    PrintJsonDocument(json);
  } else {
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
      Print(PadLeft(std::to_string(row), rowWidth) + "  " + PadLeft(size, sizeWidth) + "  " +
            PadRight(one.storage, 10) + "  " + Shown(rows[row]) + "\n");
    }
  }
  code = FinishOutput(ExitWorst(index.code, selected));
  for (const std::string& problem : problems) Complain(ShownPath(request.archive) + ": " + problem);
  return problems.empty() ? code : ExitWorst(code, EXIT_DAMAGED);
}

int RunCat(const PackToolRequest& request) {
  ArchiveSession session;
  OpenedIndex index;
  int opened = OpenWithIndex(session, request.archive, &index);
  if (opened != EXIT_OK) return opened;
  int code = index.code;

  std::vector<uint32_t> chosen;
  int selected = SelectRows(request, session.Rows(), &chosen);
  if (selected != EXIT_OK) return ExitWorst(code, selected);
  if (chosen.size() != 1) {
    Complain("the patterns choose " + Counted(chosen.size(), "row", "rows") + "; cat writes exactly one");
    return EXIT_USAGE;
  }
  uint32_t row = chosen.front();
  EntryFacts facts;
  const unsigned char* bytes = nullptr;
  std::string how = DAMAGED_STREAM;
  std::vector<unsigned char> walked;  // the entry's bytes, when the salvage walk found it
  PlainReading plain = ReadPlainly(session, index);
  if (!plain.trouble.empty()) {
    Complain(ShownPath(request.archive) + ": " + PastDamageSaid(plain));
    code = ExitWorst(code, EXIT_DAMAGED);
    bool found = false;
    WalkPastDamage(request.archive, session.Rows().size(), index.state == IndexState::Sound,
                   [&](const WalkedEntry& entry) {
                     if (entry.number != row) return true;
                     found = true;
                     facts = entry.facts;
                     if (!entry.how.empty()) how = entry.how;
                     walked.assign(entry.bytes, entry.bytes + (entry.bytes != nullptr ? entry.facts.decoded : 0));
                     return false;
                   });
    if (!found) {
      Complain(RowName(row, session.Rows()) + ": the archive holds no entry for it, even past the damage");
      return EXIT_DAMAGED;
    }
    bytes = walked.data();
  } else {
    if (!session.Rewind()) {
      Complain(ShownPath(request.archive) + ": the archive changed while it was read");
      return EXIT_ARCHIVE;
    }
    RowFetcher fetcher(session, index.facts, index.state == IndexState::Sound);
    int fetched = fetcher.Fetch(row, &facts, &bytes);
    if (fetched != EXIT_OK) return ExitWorst(code, fetched);
  }
  if (facts.damaged && (!request.force || facts.decoded == 0)) {
    Complain(RowName(row, session.Rows()) + ": damaged entry: " + how + "; nothing written" +
             (facts.decoded == 0 ? "" : " (--force writes what could be decoded)"));
    return EXIT_DAMAGED;
  }
  fwrite(bytes, 1, facts.decoded, stdout);
  if (facts.damaged) {
    Complain(RowName(row, session.Rows()) + ": damaged entry: " + std::to_string(facts.decoded) + " of " +
             std::to_string(facts.unpackedSize) + " bytes written, those that could be decoded (" +
             DAMAGED_MAY_BE_WRONG + ")");
    code = ExitWorst(code, EXIT_DAMAGED);
  }
  return FinishOutput(code);
}

int RunVerify(const PackToolRequest& request) {
  ArchiveSession session;
  OpenedIndex index;
  int opened = OpenWithIndex(session, request.archive, &index);
  if (opened != EXIT_OK) return opened;
  int code = index.code;

  // A damaged index says nothing reliable about rows: entries are then named
  // by number only.
  bool indexSound = index.state == IndexState::Sound;
  static const std::vector<std::string> NO_ROWS;
  const std::vector<std::string>& rows = indexSound ? session.Rows() : NO_ROWS;
  // Chosen rows: only their entries are decoded; the others are passed over
  // by their headers.
  bool choosing = !request.rows.empty() || !request.patterns.empty();
  std::vector<uint32_t> chosen;
  if (choosing) code = ExitWorst(code, SelectRows(request, session.Rows(), &chosen));
  auto isChosen = [&](uint32_t entry) { return !choosing || std::binary_search(chosen.begin(), chosen.end(), entry); };
  size_t problems = 0;
  size_t checked = 0;
  uint64_t unpackedBytes = 0;
  Progress progress("verifying", session.FileSize());
  auto report = [&](const std::string& problem, int problemCode) {
    progress.Clear();
    Print(problem + "\n");
    fflush(stdout);
    problems++;
    code = ExitWorst(code, problemCode);
  };

  PlainReading plain = ReadPlainly(session, index);
  if (!plain.trouble.empty()) {
    report(PastDamageSaid(plain), EXIT_DAMAGED);
  } else if (!session.Rewind()) {
    Complain(ShownPath(request.archive) + ": the archive changed while it was read");
    return EXIT_ARCHIVE;
  }
  size_t proven = 0;
  // Entry 0 is read already; its facts are at hand.
  EntryFacts facts = index.facts;
  EntryOutcome outcome = index.state == IndexState::Unreadable ? EntryOutcome::TooLarge : EntryOutcome::Read;
  uint32_t entry = 0;
  auto judge = [&](const std::string& name, const EntryFacts& facts, const std::string& how) {
    checked++;
    if (!how.empty()) {
      report(name + ": " + how, EXIT_DAMAGED);
    } else {
      unpackedBytes += facts.unpackedSize;
      proven += facts.checked ? 1 : 0;
    }
  };
  if (!plain.trouble.empty()) {
    WalkPastDamage(request.archive, session.Rows().size(), indexSound, [&](const WalkedEntry& walked) {
      if (isChosen(walked.number)) judge(EntryName(walked.number, rows), walked.facts, walked.how);
      progress.Update(0);
      entry = walked.number + 1;
      return true;
    });
    outcome = EntryOutcome::End;
  }
  for (; plain.trouble.empty(); entry++) {
    bool check = isChosen(entry);
    if (entry > 0) {
      const unsigned char* bytes = nullptr;
      outcome = check ? session.Next(&facts, &bytes) : session.Skip(&facts);
    }
    if (outcome == EntryOutcome::End || outcome == EntryOutcome::StrayBytes || outcome == EntryOutcome::Implausible ||
        EndsInsideEntry(outcome)) {
      break;
    }
    if (!check) {
      progress.Update(session.Offset());
      continue;
    }
    if (outcome == EntryOutcome::TooLarge) {
      checked++;
      report(
          EntryName(entry, rows) + ": too large to check in memory (" + std::to_string(facts.unpackedSize) + " bytes)",
          EXIT_MEMORY);
    } else {
      judge(EntryName(entry, rows), facts, facts.damaged ? std::string("damaged: ") + DAMAGED_STREAM : "");
    }
    progress.Update(session.Offset());
  }
  uint32_t entryCount = entry;
  for (uint32_t row : chosen) {
    if (row < entryCount) continue;
    report(row < rows.size() || !indexSound ? "row " + std::to_string(row) + ": the archive holds no entry for it"
                                            : "row " + std::to_string(row) + ": no such row",
           EXIT_ROW);
  }
  if (plain.trouble.empty()) {
    for (const std::string& problem : EndProblems(outcome, session, entryCount, rows)) report(problem, EXIT_DAMAGED);
  } else if (entryCount < rows.size()) {
    report(RowsSaid(entryCount, rows.size() - 1, "row", "rows") + (entryCount + 1 == rows.size() ? " has" : " have") +
               " no entry, even past the damage: lost",
           EXIT_DAMAGED);
  }
  // Entries that no row names cannot be found in the restore tool's list.
  if (indexSound && entryCount > rows.size()) {
    uint64_t first = rows.size();
    uint64_t last = entryCount - 1;
    report(first == last ? "entry " + std::to_string(first) + " has no row"
                         : "entries " + std::to_string(first) + " to " + std::to_string(last) + " have no row",
           EXIT_DAMAGED);
  }
  progress.Clear();

  std::string summary = Counted(entryCount, "entry", "entries") + ", " +
                        (indexSound ? Counted(rows.size(), "row", "rows") : "index damaged") +
                        (choosing ? ", " + Counted(checked, "entry", "entries") + " checked" : "") + ": ";
  // Stored entries and streams without a checksum can only be complete in
  // length: that is not proof that their bytes are right.
  if (problems == 0 && proven == checked) {
    summary += "all sound (" + std::to_string(unpackedBytes) + " bytes unpacked, each entry proven by its checksum)";
  } else if (problems == 0) {
    summary += "no damage found (" + std::to_string(unpackedBytes) +
               " bytes unpacked): " + Counted(proven, "entry", "entries") + " proven by a checksum, " +
               std::to_string(checked - proven) + " only complete in length (stored, or a stream without a checksum)";
  } else {
    summary += std::to_string(problems) + (problems == 1 ? " problem" : " problems");
  }
  Print(summary + "\n");
  return FinishOutput(code);
}
