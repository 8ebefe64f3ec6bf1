#include "tools/commands.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "tools/archive_session.h"
#include "tools/exit_codes.h"
#include "tools/extract_report.h"
#include "tools/host.h"
#include "tools/report.h"
#include "tools/row_match.h"
#include "tools/row_selection.h"
#include "tools/target_path.h"
#include "tools/text_encoding.h"

namespace {

#ifdef _WIN32
constexpr bool WINDOWS_NAMES = true;
#else
constexpr bool WINDOWS_NAMES = false;
#endif

// verify shows its progress only where it takes a while.
constexpr uint64_t PROGRESS_MIN_ARCHIVE = 64ull << 20;
constexpr uint64_t PROGRESS_INTERVAL_MS = 250;
constexpr unsigned PROGRESS_BAR_WIDTH = 30;
constexpr size_t PROGRESS_LINE_WIDTH = 79;

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

int FinishOutput(int code) {
  if (fflush(stdout) != 0 || ferror(stdout)) {
    Complain("cannot write to standard output");
    return ExitWorst(code, EXIT_WRITE);
  }
  return code;
}

constexpr const char* DAMAGED_STREAM = "its stream is malformed or fails its checksum";
constexpr const char* CUT_SHORT = "its data runs past the end of the file (the archive is cut short)";

enum class IndexState {
  Sound,
  Damaged,     // its stream failed: the rows are the lines it decoded whole
  Unreadable,  // too large to hold: no rows
};

// Opens the archive and reads its index. EXIT_OK, or the code after saying
// why the command cannot go on. A damaged or unholdable index does not stop
// it: it is reported, and *indexCode is the code the command ends with at
// least (rows then name their entries by number beyond the trusted ones).
int OpenWithIndex(ArchiveSession& session, const std::string& path, EntryFacts* facts, IndexState* state,
                  int* indexCode) {
  *state = IndexState::Sound;
  *indexCode = EXIT_OK;
  std::string error;
  if (!session.Open(path, &error)) {
    Complain(path + ": " + error);
    return EXIT_ARCHIVE;
  }
  EntryOutcome outcome;
  session.ReadIndex(&outcome, facts);
  switch (outcome) {
    case EntryOutcome::End:
    case EntryOutcome::StrayBytes:
      Complain(path + ": not a pack archive: too short for an entry header");
      return EXIT_ARCHIVE;
    case EntryOutcome::Truncated:
      Complain(path +
               ": damaged archive: it ends inside its index (entry 0); \"packtool rescue\" recovers what is there");
      return EXIT_DAMAGED;
    case EntryOutcome::TooLarge:
      Complain(path + ": the index (entry 0) is too large to hold in memory (" + std::to_string(facts->unpackedSize) +
               " bytes): entries are named by number");
      *state = IndexState::Unreadable;
      *indexCode = EXIT_MEMORY;
      return EXIT_OK;
    default:
      break;
  }
  if (facts->damaged) {
    size_t rows = session.Rows().size();
    Complain(path + ": the index (entry 0) is damaged: " + DAMAGED_STREAM + "; only the " +
             Counted(rows, "row", "rows") + " decoded whole before the damage " + (rows == 1 ? "is" : "are") +
             " trusted");
    *state = IndexState::Damaged;
    *indexCode = EXIT_DAMAGED;
  }
  return EXIT_OK;
}

// The problems an archive's end shows: a last entry cut short, stray bytes,
// index rows that no entry answers.
std::vector<std::string> EndProblems(EntryOutcome end, const ArchiveSession& session, uint32_t entryCount,
                                     const std::vector<std::string>& rows) {
  std::vector<std::string> problems;
  uint64_t firstMissing = entryCount;
  if (end == EntryOutcome::Truncated) {
    problems.push_back(EntryName(entryCount, rows) + ": damaged: " + CUT_SHORT);
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
  if (row == entries.size() && end == EntryOutcome::Truncated) return {true, cutShort, "truncated"};
  return {false, {}, "missing"};
}

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
  int Fetch(uint32_t row, EntryFacts* facts, const unsigned char** bytes, bool quietAtEnd = false) {
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
      outcome = session_.Next(facts, bytes);
      if (outcome == EntryOutcome::Read) return EXIT_OK;
      if (outcome == EntryOutcome::TooLarge) {
        Complain(RowName(row, rows) + ": the entry is too large to hold in memory (" +
                 std::to_string(facts->unpackedSize) + " bytes); nothing written");
        return EXIT_MEMORY;
      }
      End(outcome);
    }
    if (row == endEntry_ && end_ == EntryOutcome::Truncated) {
      Complain(RowName(row, rows) + ": damaged entry: " + CUT_SHORT +
               "; nothing written (\"packtool rescue\" recovers what is there)");
      return EXIT_DAMAGED;
    }
    if (quietAtEnd) return EXIT_ROW;
    Complain(RowName(row, rows) + ": the archive holds no entry for it (it ends after " +
             Counted(endEntry_, "entry", "entries") + ")");
    return EXIT_ROW;
  }

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
std::string UnnamedEntryFileName(uint32_t entry) {
  return "entry-" + std::to_string(entry) + ".bin";
}

struct ExtractJob {
  uint32_t row;
  std::string folder;  // to be made before writing; "" for none
  std::string target;
};

// What one extract run shares between its rows.
struct ExtractRun {
  const PackToolRequest& request;
  const std::vector<std::string>& rows;
  bool keepFolders;  // each row's folders below DIR, as --all does
  ExtractReport& report;
  int code = EXIT_OK;

  std::string Text(uint32_t row) const { return row < rows.size() ? rows[row] : std::string(); }

  void Refuse(uint32_t row, const std::string& message, const std::string& reason) {
    Complain(RowName(row, rows) + ": " + message);
    report.Refused(row, Text(row), reason);
    code = ExitWorst(code, EXIT_TARGET_REFUSED);
  }
};

// Where a row goes, or false when it goes nowhere (after saying why).
bool PlanTarget(ExtractRun& run, uint32_t row, ExtractJob* job) {
  const PackToolRequest& request = run.request;
  const std::vector<std::string>& rows = run.rows;
  job->row = row;
  job->folder = request.outputFolder;
  if (request.hasOutputFile) {
    job->target = request.outputFile;
  } else if (row >= rows.size()) {
    job->target = HostJoinPath(job->folder, UnnamedEntryFileName(row));
  } else if (run.keepFolders) {
    TargetPath path;
    if (const char* refusal = TargetFromRowPath(rows[row], WINDOWS_NAMES, &path)) {
      run.Refuse(row, std::string("refused as a target: ") + refusal, refusal);
      return false;
    }
    for (const std::string& folder : path.folders) job->folder = HostJoinPath(job->folder, HostFileNameText(folder));
    job->target = HostJoinPath(job->folder, HostFileNameText(path.name));
  } else {
    std::string name;
    if (const char* refusal = TargetFromRowName(rows[row], WINDOWS_NAMES, &name)) {
      run.Refuse(row, std::string("refused as a target: ") + refusal + " (give -o FILE)", refusal);
      return false;
    }
    job->target = HostJoinPath(job->folder, HostFileNameText(name));
  }
  // A file this run wrote is never replaced, --force or not: two rows
  // naming one target would otherwise leave only the last one's bytes.
  int64_t earlier = run.report.Claim(job->target, row, WINDOWS_NAMES);
  if (earlier >= 0) {
    run.Refuse(row,
               "\"" + ShownPath(job->target) + "\" is the target of " + RowName(uint32_t(earlier), rows) +
                   " as well; nothing written (give -d DIR to keep the rows' folders, or -o FILE)",
               "its target is the target of row " + std::to_string(earlier) + " as well");
    return false;
  }
  uint64_t size = 0;
  HostPathKind kind = HostPathKindOf(job->target, &size);
  if (kind == HostPathKind::Folder || kind == HostPathKind::Other) {
    run.Refuse(row, "\"" + ShownPath(job->target) + "\" exists and is not a file", "the target exists and is not a file");
    return false;
  }
  if (kind != HostPathKind::Missing && !request.force) {
    run.Refuse(row, "\"" + ShownPath(job->target) + "\" exists (--force replaces it)", "the target exists");
    return false;
  }
  return true;
}

// Removes the folders a failed write made, deepest first; a folder that
// holds anything stays.
void RemoveMadeFolders(const std::vector<std::string>& made) {
  for (auto folder = made.rbegin(); folder != made.rend(); ++folder) HostRemoveEmptyFolder(*folder);
}

int WriteTarget(ExtractRun& run, const ExtractJob& job, const unsigned char* bytes, uint32_t size) {
  const std::vector<std::string>& rows = run.rows;
  std::string error;
  std::vector<std::string> made;
  if (!job.folder.empty() && !HostMakeFolders(job.folder, &error, &made)) {
    RemoveMadeFolders(made);
    Complain(RowName(job.row, rows) + ": cannot make the folder: " + error);
    run.report.Failed(job.row, run.Text(job.row), "cannot make the folder");
    return EXIT_WRITE;
  }
  HostOutputFile file;
  bool exists = false;
  if (!file.Create(job.target, &error) || !file.Write(bytes, size, &error) ||
      !file.Commit(run.request.force, &exists, &error)) {
    file.Discard();
    RemoveMadeFolders(made);
    if (exists) {
      run.Refuse(job.row, "\"" + ShownPath(job.target) + "\" exists (--force replaces it)", "the target exists");
      return EXIT_TARGET_REFUSED;
    }
    Complain(RowName(job.row, rows) + ": cannot write \"" + ShownPath(job.target) + "\": " + error);
    run.report.Failed(job.row, run.Text(job.row), "cannot write: " + error);
    return EXIT_WRITE;
  }
  return EXIT_OK;
}

class Progress {
 public:
  explicit Progress(uint64_t total) : shown_(total >= PROGRESS_MIN_ARCHIVE && HostErrorIsTerminal()), total_(total) {}
  ~Progress() { Clear(); }

  void Update(uint64_t done) {
    if (!shown_) return;
    uint64_t now = HostMilliseconds();
    if (drawn_ && now - last_ < PROGRESS_INTERVAL_MS) return;
    last_ = now;
    drawn_ = true;
    unsigned percent = static_cast<unsigned>(done * 100 / total_);
    std::string bar(PROGRESS_BAR_WIDTH, ' ');
    bar.replace(0, percent * PROGRESS_BAR_WIDTH / 100, percent * PROGRESS_BAR_WIDTH / 100, '#');
    char line[96];
    snprintf(line, sizeof line, "\rverifying [%s] %3u%% of %llu MiB", bar.c_str(), percent,
             static_cast<unsigned long long>(total_ >> 20));
    fputs(line, stderr);
    fflush(stderr);
  }

  void Clear() {
    if (!drawn_) return;
    drawn_ = false;
    fputs(("\r" + std::string(PROGRESS_LINE_WIDTH, ' ') + "\r").c_str(), stderr);
    fflush(stderr);
  }

 private:
  bool shown_;
  bool drawn_ = false;
  uint64_t total_;
  uint64_t last_ = 0;
};

}  // namespace

int RunList(const PackToolRequest& request) {
  ArchiveSession session;
  EntryFacts indexFacts;
  IndexState indexState;
  int indexCode;
  int code = OpenWithIndex(session, request.archive, &indexFacts, &indexState, &indexCode);
  if (code != EXIT_OK) return code;

  std::vector<EntryFacts> entries{indexFacts};
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
    Print("{\n  \"entryCount\": " + std::to_string(entries.size()) + ",\n  \"complete\": " +
          (problems.empty() && indexState == IndexState::Sound ? "true" : "false") + ",\n  \"rows\": [");
    for (uint32_t row : shown) {
      ListedRow listed = RowListing(row, entries, end, facts);
      std::string unpacked = listed.hasSizes ? std::to_string(listed.facts.unpackedSize) : "null";
      std::string packed = listed.hasSizes ? std::to_string(listed.facts.packedSize) : "null";
      Print(std::string(row == shown.front() ? "\n" : ",\n") + "    {\"row\": " + std::to_string(row) +
            ", \"text\": " + JsonString(rows[row]) + ", \"unpackedSize\": " + unpacked + ", \"packedSize\": " + packed +
            ", \"storage\": \"" + listed.storage + "\"}");
    }
    Print(shown.empty() ? "]\n}\n" : "\n  ]\n}\n");
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
  code = FinishOutput(ExitWorst(indexCode, selected));
  for (const std::string& problem : problems) Complain(request.archive + ": " + problem);
  return problems.empty() ? code : ExitWorst(code, EXIT_DAMAGED);
}

int RunExtract(const PackToolRequest& request) {
  if (request.hasOutputFolder) {
    uint64_t size = 0;
    HostPathKind kind = HostPathKindOf(request.outputFolder, &size);
    if (kind == HostPathKind::File || kind == HostPathKind::Other) {
      Complain("\"" + ShownPath(request.outputFolder) + "\" exists and is not a folder (-d names the folder to write into)");
      return EXIT_TARGET_REFUSED;
    }
  }
  ArchiveSession session;
  EntryFacts indexFacts;
  IndexState indexState;
  int indexCode;
  int opened = OpenWithIndex(session, request.archive, &indexFacts, &indexState, &indexCode);
  if (opened != EXIT_OK) return opened;
  const std::vector<std::string>& rows = session.Rows();
  bool indexSound = indexState == IndexState::Sound;

  std::vector<uint32_t> wanted;
  int selected = SelectRows(request, rows, &wanted);
  if (request.all) {
    for (uint32_t row = 0; row < rows.size(); row++) wanted.push_back(row);
  }
  bool keepFolders =
      request.all || (request.hasOutputFolder && (wanted.size() > 1 || !request.patterns.empty()));
  bool json = request.format == ListFormat::Json;
  ExtractReport report(HostErrorIsTerminal() && !request.quiet, !request.quiet, json);
  ExtractRun run{request, rows, keepFolders, report};
  run.code = indexCode;

  RowFetcher fetcher(session, indexFacts, indexSound);
  auto extract = [&](uint32_t row, bool beyondTrustedRows) {
    ExtractJob job;
    if (!PlanTarget(run, row, &job)) return true;
    EntryFacts facts;
    const unsigned char* bytes = nullptr;
    int fetched = fetcher.Fetch(row, &facts, &bytes, beyondTrustedRows);
    if (fetched != EXIT_OK) {
      if (beyondTrustedRows) return false;
      run.code = ExitWorst(run.code, fetched);
      if (fetched == EXIT_DAMAGED) {
        report.Damaged(row, run.Text(row), "its data runs past the end of the file", "", 0);
      } else {
        report.Failed(row, run.Text(row), fetched == EXIT_MEMORY ? "too large to hold in memory" : "no entry");
      }
      return false;
    }
    if (facts.damaged && !request.force) {
      Complain(RowName(row, rows) + ": damaged entry: " + DAMAGED_STREAM + "; nothing written (--force writes it)");
      report.Damaged(row, run.Text(row), DAMAGED_STREAM, "", 0);
      run.code = ExitWorst(run.code, EXIT_DAMAGED);
      return true;
    }
    // Of a damaged entry only what its stream decoded is written.
    int written = WriteTarget(run, job, bytes, facts.decoded);
    run.code = ExitWorst(run.code, written);
    if (written != EXIT_OK) return true;
    if (!facts.damaged) {
      report.Written(row, run.Text(row), facts.decoded, job.target);
      return true;
    }
    Complain(RowName(row, rows) + ": damaged entry written to \"" + ShownPath(job.target) +
             "\": " + std::to_string(facts.decoded) + " of " + std::to_string(facts.unpackedSize) +
             " bytes, those its stream decoded");
    report.Damaged(row, run.Text(row), DAMAGED_STREAM, job.target, facts.decoded);
    run.code = ExitWorst(run.code, EXIT_DAMAGED);
    return true;
  };
  for (uint32_t row : wanted) extract(row, false);
  // Of a damaged index, --all also takes the entries its trusted rows do not reach.
  if (request.all && !indexSound) {
    for (uint32_t row = uint32_t(rows.size()); extract(row, true); row++) {
    }
  }
  // A pattern that chose nothing is named after the other rows are done.
  int code = ExitWorst(run.code, selected);
  report.Finish(code);
  return json ? FinishOutput(code) : code;
}

int RunCat(const PackToolRequest& request) {
  ArchiveSession session;
  EntryFacts indexFacts;
  IndexState indexState;
  int code;
  int opened = OpenWithIndex(session, request.archive, &indexFacts, &indexState, &code);
  if (opened != EXIT_OK) return opened;

  std::vector<uint32_t> chosen;
  int selected = SelectRows(request, session.Rows(), &chosen);
  if (selected != EXIT_OK) return ExitWorst(code, selected);
  if (chosen.size() != 1) {
    Complain("the patterns choose " + Counted(chosen.size(), "row", "rows") + "; cat writes exactly one");
    return EXIT_USAGE;
  }
  uint32_t row = chosen.front();
  RowFetcher fetcher(session, indexFacts, indexState == IndexState::Sound);
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
  EntryFacts facts;
  IndexState indexState;
  int code;
  int opened = OpenWithIndex(session, request.archive, &facts, &indexState, &code);
  if (opened != EXIT_OK) return opened;

  // A damaged index says nothing reliable about rows: entries are then named
  // by number only.
  bool indexSound = indexState == IndexState::Sound;
  static const std::vector<std::string> NO_ROWS;
  const std::vector<std::string>& rows = indexSound ? session.Rows() : NO_ROWS;
  // Chosen rows: only their entries are decoded; the others are passed over
  // by their headers.
  bool choosing = !request.rows.empty() || !request.patterns.empty();
  std::vector<uint32_t> chosen;
  if (choosing) code = ExitWorst(code, SelectRows(request, session.Rows(), &chosen));
  auto isChosen = [&](uint32_t entry) {
    return !choosing || std::binary_search(chosen.begin(), chosen.end(), entry);
  };
  size_t problems = 0;
  size_t checked = 0;
  uint64_t unpackedBytes = 0;
  Progress progress(session.FileSize());
  auto report = [&](const std::string& problem, int problemCode) {
    progress.Clear();
    Print(problem + "\n");
    fflush(stdout);
    problems++;
    code = ExitWorst(code, problemCode);
  };

  // Entry 0 is read already; its facts are at hand.
  EntryOutcome outcome = indexState == IndexState::Unreadable ? EntryOutcome::TooLarge : EntryOutcome::Read;
  uint32_t entry = 0;
  for (;; entry++) {
    bool check = isChosen(entry);
    if (entry > 0) {
      const unsigned char* bytes = nullptr;
      outcome = check ? session.Next(&facts, &bytes) : session.Skip(&facts);
    }
    if (outcome == EntryOutcome::End || outcome == EntryOutcome::StrayBytes || outcome == EntryOutcome::Truncated) {
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
