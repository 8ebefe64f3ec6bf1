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

}  // namespace

int RunList(const PackToolRequest& request) {
  ArchiveSession session;
  OpenedIndex index;
  int code = OpenWithIndex(session, request.archive, &index);
  if (code != EXIT_OK) return code;

  std::vector<EntryFacts> entries{index.facts};
  EntryFacts facts;
  EntryOutcome end;
  while ((end = session.Skip(&facts)) == EntryOutcome::Skipped) entries.push_back(facts);
  const std::vector<std::string>& rows = session.Rows();
  std::vector<std::string> problems = EndProblems(end, session, uint32_t(entries.size()), rows);

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
    JsonDocument json{{"entryCount", entries.size()},
                      {"complete", problems.empty() && index.state == IndexState::Sound},
                      {"rows", JsonDocument::array()}};
    for (uint32_t row : shown) {
      ListedRow listed = RowListing(row, entries, end, facts);
      json["rows"].push_back({{"row", row},
                              {"text", Windows1252ToUtf8(rows[row])},
                              {"unpackedSize", listed.hasSizes ? JsonDocument(listed.facts.unpackedSize) : nullptr},
                              {"packedSize", listed.hasSizes ? JsonDocument(listed.facts.packedSize) : nullptr},
                              {"storage", listed.storage}});
    }
    PrintJsonDocument(json);
  } else {
    uint64_t largest = 0;
    for (uint32_t row : shown) {
      ListedRow listed = RowListing(row, entries, end, facts);
      if (listed.hasSizes) largest = std::max<uint64_t>(largest, listed.facts.unpackedSize);
    }
    size_t rowWidth = rows.empty() ? 1 : Digits(rows.size() - 1);
    size_t sizeWidth = Digits(largest);
    for (uint32_t row : shown) {
      ListedRow listed = RowListing(row, entries, end, facts);
      std::string size = listed.hasSizes ? std::to_string(listed.facts.unpackedSize) : "-";
      Print(PadLeft(std::to_string(row), rowWidth) + "  " + PadLeft(size, sizeWidth) + "  " +
            PadRight(listed.storage, 10) + "  " + Shown(rows[row]) + "\n");
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
  RowFetcher fetcher(session, index.facts, index.state == IndexState::Sound);
  EntryFacts facts;
  const unsigned char* bytes = nullptr;
  int fetched = fetcher.Fetch(row, &facts, &bytes);
  if (fetched != EXIT_OK) return ExitWorst(code, fetched);
  if (facts.damaged && !request.force) {
    Complain(RowName(row, session.Rows()) + ": damaged entry: " + DAMAGED_STREAM +
             "; nothing written (--force writes what its stream decoded)");
    return EXIT_DAMAGED;
  }
  fwrite(bytes, 1, facts.decoded, stdout);
  if (facts.damaged) {
    Complain(RowName(row, session.Rows()) + ": damaged entry: " + std::to_string(facts.decoded) + " of " +
             std::to_string(facts.unpackedSize) + " bytes written, those its stream decoded");
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

  // Entry 0 is read already; its facts are at hand.
  EntryFacts facts = index.facts;
  EntryOutcome outcome = index.state == IndexState::Unreadable ? EntryOutcome::TooLarge : EntryOutcome::Read;
  uint32_t entry = 0;
  for (;; entry++) {
    bool check = isChosen(entry);
    if (entry > 0) {
      const unsigned char* bytes = nullptr;
      outcome = check ? session.Next(&facts, &bytes) : session.Skip(&facts);
    }
    if (outcome == EntryOutcome::End || outcome == EntryOutcome::StrayBytes || EndsInsideEntry(outcome)) {
      break;
    }
    if (!check) {
      progress.Update(session.Offset());
      continue;
    }
    checked++;
    if (outcome == EntryOutcome::TooLarge) {
      report(
          EntryName(entry, rows) + ": too large to check in memory (" + std::to_string(facts.unpackedSize) + " bytes)",
          EXIT_MEMORY);
    } else if (facts.damaged) {
      report(EntryName(entry, rows) + ": damaged: " + DAMAGED_STREAM, EXIT_DAMAGED);
    } else {
      unpackedBytes += facts.unpackedSize;
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
  for (const std::string& problem : EndProblems(outcome, session, entryCount, rows)) report(problem, EXIT_DAMAGED);
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
  if (problems == 0) {
    summary += "all sound (" + std::to_string(unpackedBytes) + " bytes unpacked)";
  } else {
    summary += std::to_string(problems) + (problems == 1 ? " problem" : " problems");
  }
  Print(summary + "\n");
  return FinishOutput(code);
}
