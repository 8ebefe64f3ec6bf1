// packtool extract: the entries of rows, by number or pattern, written to
// files named after the rows.
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "platform/staged_file.h"
#include "tools/cli/cli.h"
#include "tools/commands/commands.h"
#include "tools/compare/folder_comparison.h"
#include "tools/output/entry_file.h"
#include "tools/output/leftovers.h"
#include "tools/output/output_tree.h"
#include "tools/rows/rows.h"
#include "tools/text/text.h"

namespace {

// Names tried for a file being written beside its target; each one left
// behind by an ended run costs one more try.
constexpr int STAGED_TRIES = 1000;

struct ExtractJob {
  uint32_t row;
  std::vector<std::string> folders;  // below DIR, as file names of this machine
  std::string name;                  // "" for -o FILE
  std::string target;
};

// WriteTarget's result for a target kept by --skip-existing.
constexpr int SKIPPED = -1;

// What one extract run shares between its rows.
struct ExtractRun {
  const PackToolRequest& request;
  const std::vector<std::string>& rows;
  ExtractReport& report;
  RowTargets targets{rows, request.flat, WINDOWS_NAMES};
  // --missing-in: the part of the backup DIR stands for; its folders are
  // left out below DIR.
  const BackupPart* part = nullptr;
  OutputTree tree{request.outputFolder};
  int code = EXIT_OK;
  // What to say of each staged file once its batch is placed, in the order
  // staged; rows after them are said after them.
  std::vector<std::function<void(const TreeResult&)>> held{};

  // Places the staged files and says what became of each.
  void Settle() {
    if (held.empty()) return;
    // Taken first: saying a refusal settles again, with nothing held.
    std::vector<std::function<void(const TreeResult&)>> waiting = std::move(held);
    held.clear();
    std::vector<TreeResult> results = tree.Flush();
    for (size_t i = 0; i < waiting.size(); i++) waiting[i](results[i]);
  }

  // -d is made with the first file written below it and looked at once, not
  // for every file; removing folders a failed write made looks again.
  bool outputFolderThere = false;
  bool MakeOutputFolder(std::string* error, std::vector<std::string>* made) {
    if (!outputFolderThere) outputFolderThere = MakeFolders(request.outputFolder, error, made);
    return outputFolderThere;
  }

  std::string Text(uint32_t row) const { return row < rows.size() ? rows[row] : std::string(); }

  // What to try when two rows meet in one target.
  std::string ClashHint() const { return request.flat ? " (without --flat each row keeps its folders)" : ""; }

  void Refuse(uint32_t row, const std::string& message, const std::string& reason) {
    Settle();
    if (!request.quiet) Complain(RowName(row, rows) + ": " + message);
    report.Refused(row, Text(row), reason);
    code = ExitWorst(code, EXIT_TARGET_REFUSED);
  }

  // Refuses or skips the row when something stands in its target's way;
  // true when it did.
  bool Refused(const ExtractJob& job, const TreeResult& result) {
    switch (result.outcome) {
      case TreeOutcome::Written:
      case TreeOutcome::Failed:
        return false;
      case TreeOutcome::Exists:
        if (request.skipExisting) {
          Settle();
          report.Skipped(job.row, Text(job.row), job.target);
          return true;
        }
        Refuse(job.row, QuotedPath(job.target) + " exists (--force replaces it, --skip-existing keeps it)",
               "the target exists");
        return true;
      case TreeOutcome::NotAFile:
        Refuse(job.row, QuotedPath(job.target) + " exists and is not a file", "the target exists and is not a file");
        return true;
      case TreeOutcome::OfThisRun:
        Refuse(job.row,
               QuotedPath(job.target) + " leads to the file written for " + RowName(result.owner, rows) +
                   " in this run; nothing written" + ClashHint(),
               "its target is the file written for row " + std::to_string(result.owner));
        return true;
      case TreeOutcome::Link:
        Refuse(job.row, QuotedPath(result.path) + LINK_REFUSED, "a link is on the way to its target");
        return true;
    }
    return false;
  }
};

// Where a row goes, or false when it goes nowhere (after saying why, or
// skipping it).
bool PlanTarget(ExtractRun& run, uint32_t row, ExtractJob* job) {
  const PackToolRequest& request = run.request;
  job->row = row;
  if (!request.hasOutputFile) {
    RowTarget target = run.targets.Claim(row);
    if (run.part != nullptr && row < run.rows.size()) {
      size_t below = std::min(FoldersBelowPart(*run.part, run.rows[row]), target.folders.size());
      target.folders.erase(target.folders.begin(), target.folders.begin() + long(below));
    }
    std::vector<std::string> names = target.folders;
    names.push_back(target.name);
    job->target = run.tree.PathOf(names, names.size());
    std::string other = RowName(target.other, run.rows);
    std::string otherRow = "row " + std::to_string(target.other);
    switch (target.clash) {
      case TargetClash::None:
        job->folders = std::move(target.folders);
        job->name = std::move(target.name);
        return !run.Refused(*job, run.tree.Check(job->folders, job->name, request.force));
      case TargetClash::Unsafe:
        run.Refuse(row, std::string("refused as a target: ") + target.refusal + " (give -o FILE)", target.refusal);
        return false;
      case TargetClash::SamePath:
        // A file this run wrote is never replaced, --force or not: two rows
        // naming one target would otherwise leave only the last one's bytes.
        // Rows whose texts differ are caught when the name leads to that file.
        run.Refuse(
            row, QuotedPath(job->target) + " is the target of " + other + " as well; nothing written" + run.ClashHint(),
            TargetClashSaid(target, otherRow));
        return false;
      case TargetClash::ThroughFile:
      case TargetClash::IsFolder:
        run.Refuse(row, TargetClashSaid(target, other) + "; nothing written", TargetClashSaid(target, otherRow));
        return false;
    }
  }
  // -o FILE: the user's own path, links and all.
  job->target = request.outputFile;
  uint64_t size = 0;
  PlatformNameKind kind = PlatformPathKind(job->target.c_str(), &size);
  TreeResult found;
  if (kind == PlatformNameKind::Folder || kind == PlatformNameKind::Other) found.outcome = TreeOutcome::NotAFile;
  if ((kind == PlatformNameKind::File || kind == PlatformNameKind::Unreadable) && !request.force) {
    found.outcome = TreeOutcome::Exists;
  }
  return !run.Refused(*job, found);
}

// Removes the folders a failed write made, deepest first; a folder that
// holds anything stays.
void RemoveMadeFolders(ExtractRun& run, const std::vector<std::string>& made) {
  if (made.empty()) return;
  for (auto folder = made.rbegin(); folder != made.rend(); ++folder) PlatformFolderRemove(folder->c_str());
  // The next file makes them again, and the tree opens them again.
  run.outputFolderThere = false;
  run.tree.LetFoldersGo();
}

// -o FILE: written where the user's path leads.
TreeResult WriteOutputFile(ExtractRun& run, const ExtractJob& job, const unsigned char* bytes, uint32_t size) {
  TreeResult result;
  PlatformStagedFile file;
  bool exists = false;
  if (file.CreateBeside(job.target.c_str(), StagedPrefix().c_str(), STAGED_TRIES) && file.Write(bytes, size) &&
      file.PlaceBeside(run.request.force, &exists)) {
    return result;
  }
  result.outcome = exists ? TreeOutcome::Exists : TreeOutcome::Failed;
  result.error = exists ? "it exists" : file.NoFreeName() ? "no free temporary name beside it" : file.Error();
  return result;
}

// What became of a target's write: EXIT_OK when written, else the code
// after saying why not.
int WriteOutcome(ExtractRun& run, const ExtractJob& job, const TreeResult& result,
                 const std::vector<std::string>& made) {
  const std::vector<std::string>& rows = run.rows;
  if (result.outcome == TreeOutcome::Written) return EXIT_OK;
  RemoveMadeFolders(run, made);
  if (run.Refused(job, result))
    return result.outcome == TreeOutcome::Exists && run.request.skipExisting ? SKIPPED : EXIT_TARGET_REFUSED;
  if (result.making) {
    Complain(RowName(job.row, rows) + ": cannot make the folder: " + result.error);
    run.report.Failed(job.row, run.Text(job.row), "cannot make the folder");
    return EXIT_WRITE;
  }
  Complain(RowName(job.row, rows) + ": cannot write \"" + ShownPath(job.target) + "\": " + result.error);
  run.report.Failed(job.row, run.Text(job.row), "cannot write: " + result.error);
  return EXIT_WRITE;
}

// Writes a row's target and calls done with what became of it: at once, or
// for a file below DIR once its batch is placed (rows are said in order).
void WriteTarget(ExtractRun& run, const ExtractJob& job, const unsigned char* bytes, uint32_t size,
                 const std::function<void(int)>& done) {
  const std::vector<std::string>& rows = run.rows;
  std::string error;
  std::vector<std::string> made;
  if (!job.name.empty() && run.request.hasOutputFolder && !run.MakeOutputFolder(&error, &made)) {
    run.Settle();
    RemoveMadeFolders(run, made);
    Complain(RowName(job.row, rows) + ": cannot make the folder: " + error);
    run.report.Failed(job.row, run.Text(job.row), "cannot make the folder");
    return done(EXIT_WRITE);
  }
  if (job.name.empty()) {
    run.Settle();
    return done(WriteOutcome(run, job, WriteOutputFile(run, job, bytes, size), made));
  }
  OutputTree::Fill fill = [&](PlatformStagedFile& file, std::string*) { return file.Write(bytes, size); };
  // Its target was looked at when it was planned; the move looks again.
  TreeResult staged = run.tree.Stage(job.folders, job.name, fill, size, run.request.force, job.row, false);
  if (staged.outcome != TreeOutcome::Written) {
    run.Settle();
    return done(WriteOutcome(run, job, staged, made));
  }
  run.held.push_back([&run, job, made, done](const TreeResult& result) { done(WriteOutcome(run, job, result, made)); });
  if (run.tree.Full()) run.Settle();
}

// A row's target that an entry too large to hold goes into as it is read:
// staged below DIR (placed with its batch) or beside -o FILE.
class StreamedTarget {
 public:
  StreamedTarget(ExtractRun& run, const ExtractJob& job) : run_(run), job_(job) {}
  ~StreamedTarget() { Drop(); }

  ArchiveEntrySink* Sink() { return &file_; }

  // After the entry came whole (of a damaged one, its decoded bytes): keeps
  // the file and calls done as WriteTarget does.
  void Commit(uint32_t decoded, const std::function<void(int)>& done) {
    if (!file_.Finish(decoded)) return done(Refused(file_.Error()));
    if (job_.name.empty()) {
      bool exists = false;
      TreeResult result;
      if (!beside_.PlaceBeside(run_.request.force, &exists)) {
        result.outcome = exists ? TreeOutcome::Exists : TreeOutcome::Failed;
        result.error = exists ? "it exists" : beside_.Error();
      }
      run_.Settle();
      return done(WriteOutcome(run_, job_, result, made_));
    }
    staged_ = nullptr;
    TreeResult result = run_.tree.End(true, decoded);
    if (result.outcome != TreeOutcome::Written) {
      run_.Settle();
      return done(WriteOutcome(run_, job_, result, made_));
    }
    ExtractRun& run = run_;
    run.held.push_back([&run, job = job_, made = made_, done](const TreeResult& placed) {
      done(WriteOutcome(run, job, placed, made));
    });
    if (run.tree.Full()) run.Settle();
  }

  // After the sink refused the entry: says why (EXIT_OK when it did not
  // refuse it, so that the fetch's own word stands).
  int Refusal() {
    if (!file_.Asked()) return EXIT_OK;
    if (!file_.Opened() && !makeError_.empty()) {
      Drop();
      run_.Settle();
      RemoveMadeFolders(run_, made_);
      Complain(RowName(job_.row, run_.rows) + ": cannot make the folder: " + makeError_);
      run_.report.Failed(job_.row, run_.Text(job_.row), "cannot make the folder");
      return EXIT_WRITE;
    }
    if (!file_.Opened()) {
      run_.Settle();
      return WriteOutcome(run_, job_, begun_, made_);
    }
    return Refused(file_.Error());
  }

  // Removes what was staged (before the batch is placed: the staged file is
  // in a folder the batch holds).
  void Drop() {
    file_.Finish(0);
    if (staged_ != nullptr) run_.tree.End(false, 0);
    staged_ = nullptr;
    beside_.Discard();
  }

 private:
  PlatformFile Open() {
    if (!job_.name.empty() && run_.request.hasOutputFolder && !run_.MakeOutputFolder(&makeError_, &made_)) {
      return PLATFORM_FILE_INVALID;
    }
    if (job_.name.empty()) {
      if (beside_.CreateBeside(job_.target.c_str(), StagedPrefix().c_str(), STAGED_TRIES)) return beside_.File();
      begun_.outcome = TreeOutcome::Failed;
      begun_.error = beside_.NoFreeName() ? "no free temporary name beside it" : beside_.Error();
      return PLATFORM_FILE_INVALID;
    }
    begun_ = run_.tree.Begin(job_.folders, job_.name, run_.request.force, job_.row, &staged_, false);
    return begun_.outcome == TreeOutcome::Written ? staged_->File() : PLATFORM_FILE_INVALID;
  }

  int Refused(const std::string& error) {
    Drop();
    run_.Settle();
    TreeResult failed;
    failed.outcome = TreeOutcome::Failed;
    failed.error = error;
    return WriteOutcome(run_, job_, failed, made_);
  }

  ExtractRun& run_;
  const ExtractJob& job_;
  EntryFile file_{[this] { return Open(); }, true};
  TreeResult begun_;
  PlatformStagedFile* staged_ = nullptr;
  PlatformStagedFile beside_;
  std::vector<std::string> made_;
  std::string makeError_;
};

}  // namespace

// The rows, of those chosen (all when none are), that the comparison with
// DIR chose; they go below DIR as that part of the backup.
struct ChosenByComparison {
  const BackupPart* part;
  const std::vector<uint32_t>* rows;
};

int Extract(const PackToolRequest& request, const ChosenByComparison* compared) {
  if (request.hasOutputFolder) {
    uint64_t size = 0;
    PlatformNameKind kind = PlatformPathKind(request.outputFolder.c_str(), &size);
    if (kind == PlatformNameKind::File || kind == PlatformNameKind::Other) {
      Complain(QuotedPath(request.outputFolder) + " exists and is not a folder (-d names the folder to write into)");
      return EXIT_TARGET_REFUSED;
    }
  }
  OpenedArchive opened;
  int failed = OpenArchive(request.archive, ReadOn::Entries, &opened);
  if (failed != EXIT_OK) return failed;
  ArchiveSession& session = opened.session;
  const OpenedIndex& index = opened.index;
  const PlainReading& plain = opened.plain;
  const std::vector<std::string>& rows = session.Rows();
  bool indexSound = index.state == IndexState::Sound;

  std::vector<uint32_t> wanted;
  int selected = SelectRows(request, rows, &wanted);
  if (compared != nullptr) {
    bool narrowed = !request.rows.empty() || !request.names.empty() || !request.patterns.empty();
    std::vector<uint32_t> both;
    for (uint32_t row : *compared->rows) {
      if (!narrowed || std::binary_search(wanted.begin(), wanted.end(), row)) both.push_back(row);
    }
    wanted = std::move(both);
  }
  if (request.all) {
    for (uint32_t row = 0; row < rows.size(); row++) wanted.push_back(row);
  }
  if (request.hasOutputFile && wanted.size() != 1) {
    if (wanted.empty()) return ExitWorst(index.code, selected);
    Complain("the names and patterns choose " + Counted(wanted.size(), "row", "rows") + "; -o writes exactly one");
    return EXIT_USAGE;
  }
  bool json = request.format == ListFormat::Json;
  ExtractReport report(PlatformErrorIsTerminal() && !request.quiet, !request.quiet, json);
  ExtractRun run{request, rows, report};
  run.code = index.code;
  if (compared != nullptr) run.part = compared->part;

  bool pastDamage = !plain.trouble.empty();
  if (pastDamage) {
    Complain(ShownPath(request.archive) + ": " + PastDamageSaid(plain));
    run.code = ExitWorst(run.code, EXIT_DAMAGED);
  }
  uint64_t wantedBytes = 0;  // past damage the sizes are not known before the walk
  for (uint32_t row : wanted) {
    if (!pastDamage && row < plain.entries.size()) wantedBytes += plain.entries[row].unpackedSize;
  }
  report.Expect(wanted.size(), wantedBytes);

  // Writes a row's entry, or says why not. how: what is wrong with a damaged
  // entry the salvage walk found ("" for one the plain reading gave).
  auto deliver = [&](const ExtractJob& job, const EntryFacts& facts, const unsigned char* bytes, const std::string& how,
                     StreamedTarget* streamed = nullptr) {
    uint32_t row = job.row;
    std::string reason = how.empty() ? std::string(DAMAGED_STREAM) : how;
    // With --force a damaged entry is written as far as it decoded, even
    // when that is nothing (the restore tool exports it so).
    if (facts.damaged && !request.force) {
      if (streamed != nullptr) streamed->Drop();
      run.Settle();
      Complain(RowName(row, rows) + ": damaged entry: " + reason + "; nothing written (--force writes " +
               (facts.decoded == 0 ? "it as an empty file)" : "what was decoded)"));
      report.Damaged(row, run.Text(row), reason, "", 0);
      run.code = ExitWorst(run.code, EXIT_DAMAGED);
      return;
    }
    // Of a damaged entry only what was decoded is written.
    auto said = [&run, &report, &rows, job, facts, reason](int written) {
      if (written == SKIPPED) return;
      uint32_t row = job.row;
      run.code = ExitWorst(run.code, written);
      if (written != EXIT_OK) return;
      if (!facts.damaged) {
        report.Written(row, run.Text(row), facts.decoded, job.target);
        return;
      }
      Complain(RowName(row, rows) + ": damaged entry written to \"" + ShownPath(job.target) +
               "\": " + std::to_string(facts.decoded) + " of " + std::to_string(facts.unpackedSize) +
               " bytes, those that could be decoded (" + DAMAGED_MAY_BE_WRONG + ")");
      report.Damaged(row, run.Text(row), reason, job.target, facts.decoded);
      run.code = ExitWorst(run.code, EXIT_DAMAGED);
    };
    if (streamed != nullptr) return streamed->Commit(facts.decoded, said);
    WriteTarget(run, job, bytes, facts.decoded, said);
  };

  RowFetcher fetcher(session, index.facts, indexSound);
  auto extract = [&](uint32_t row, bool beyondTrustedRows) {
    ExtractJob job;
    if (!PlanTarget(run, row, &job)) return true;
    EntryFacts facts;
    const unsigned char* bytes = nullptr;
    StreamedTarget big(run, job);
    bool streamed = false;
    int fetched = fetcher.Fetch(row, &facts, &bytes, beyondTrustedRows, big.Sink(), &streamed);
    if (fetched == EXIT_OK) {
      deliver(job, facts, bytes, "", streamed ? &big : nullptr);
      return true;
    }
    if (streamed && fetched == EXIT_MEMORY) {
      if (int refused = big.Refusal(); refused != EXIT_OK) {
        run.code = ExitWorst(run.code, refused);
        return true;
      }
      big.Drop();
      run.Settle();
      Complain(RowName(row, rows) + ": the entry is too large to hold in memory (" +
               std::to_string(facts.unpackedSize) + " bytes); nothing written");
    }
    big.Drop();
    // Past the trusted rows of a damaged index the entries end quietly.
    if (beyondTrustedRows && fetched == EXIT_ROW) return false;
    run.Settle();
    run.code = ExitWorst(run.code, fetched);
    if (fetched == EXIT_DAMAGED) {
      report.Damaged(row, run.Text(row), fetcher.EndText(), "", 0);
      return false;
    }
    report.Failed(row, run.Text(row), fetched == EXIT_MEMORY ? "too large to hold in memory" : "no entry");
    // An entry too large to hold is passed over: the ones after it still come.
    return fetched == EXIT_MEMORY;
  };

  uint32_t found = uint32_t(plain.entries.size());
  if (pastDamage) {
    found = 0;
    // The rows' targets first, in their order, then one walk that writes
    // each entry as it comes.
    std::vector<ExtractJob> jobs;
    for (uint32_t row : wanted) {
      ExtractJob job;
      if (PlanTarget(run, row, &job)) jobs.push_back(job);
    }
    std::vector<bool> done(jobs.size(), false);
    std::vector<size_t> jobOfRow(rows.size(), SIZE_MAX);
    for (size_t i = 0; i < jobs.size(); i++) {
      if (jobs[i].row < rows.size()) jobOfRow[jobs[i].row] = i;
    }
    size_t guessed = 0;
    WalkPastDamage(request.archive, rows.size(), indexSound, [&](const WalkedEntry& entry) {
      found = entry.number + 1;
      const EntryNaming& naming = entry.naming;
      bool named = naming.from != NameFrom::None && naming.row < rows.size();
      if (named && jobOfRow[naming.row] != SIZE_MAX) {
        size_t i = jobOfRow[naming.row];
        ExtractJob job = jobs[i];
        if (naming.from != NameFrom::Index) report.NamedFrom(job.row, NameFromWord(naming.from));
        // A name that is a guess never stands where the proven ones do:
        // its file goes below a folder that says so.
        if (naming.from == NameFrom::Guess && !job.name.empty()) {
          job.folders.insert(job.folders.begin(), UNPROVEN_FOLDER);
          std::vector<std::string> names = job.folders;
          names.push_back(job.name);
          job.target = run.tree.PathOf(names, names.size());
          guessed++;
        }
        deliver(job, entry.facts, entry.bytes, entry.how);
        done[i] = true;
      }
      ExtractJob job;
      // Of a damaged index, --all also takes the entries its trusted rows do not reach.
      if (request.all && !indexSound && !named && entry.number >= rows.size() && PlanTarget(run, entry.number, &job)) {
        deliver(job, entry.facts, entry.bytes, entry.how);
      }
      return true;
    });
    if (guessed > 0 && !request.quiet) {
      run.Settle();
      Complain(ShownPath(request.archive) + ": " + Counted(guessed, "entry", "entries") +
               " past the damage could not be named for sure: each is written below " + UNPROVEN_FOLDER +
               "/ under the name of the row it most likely is");
    }
    run.Settle();
    for (size_t i = 0; i < jobs.size(); i++) {
      if (done[i]) continue;
      Complain(RowName(jobs[i].row, rows) +
               ": the archive holds no entry for it, even past the damage (it ends after " +
               Counted(found, "entry", "entries") + ")");
      report.Failed(jobs[i].row, run.Text(jobs[i].row), "no entry");
      run.code = ExitWorst(run.code, EXIT_DAMAGED);
    }
  } else {
    // The wanted entries are decoded ahead on every thread asked for, and
    // written here in order; a large one is left to the reading here, which
    // streams it to its file instead of holding it.
    auto isWanted = [&](uint32_t entry) {
      const EntryFacts& facts = plain.entries[entry];
      if (std::max(facts.unpackedSize, facts.packedSize) >= ARCHIVE_STREAMED_FROM) return false;
      return (request.all && !indexSound && entry >= rows.size()) ||
             std::binary_search(wanted.begin(), wanted.end(), entry);
    };
    session.DecodeAhead(request.jobs, PlanEntries(plain, isWanted));
    for (uint32_t row : wanted) extract(row, false);
    // Of a damaged index, --all also takes the entries its trusted rows do not reach.
    if (request.all && !indexSound) {
      for (uint32_t row = uint32_t(rows.size()); extract(row, true); row++) {
      }
    }
  }
  run.Settle();
  if (!request.quiet && !run.tree.LeftoversRemoved().empty()) Complain(LeftoversSaid(run.tree.LeftoversRemoved()));
  std::string unsynced;
  if (!run.tree.Finish(&unsynced)) {
    Complain("the files written may not all be on the disk yet: the system could not write their folders: " + unsynced);
    run.code = ExitWorst(run.code, EXIT_WRITE);
  }
  // Entries that no row of a sound index names are not extracted: say so.
  if (request.all && indexSound) {
    if (found > rows.size()) {
      Complain(ShownPath(request.archive) + ": entries " + std::to_string(rows.size()) + " to " +
               std::to_string(found - 1) + " have no row and are not extracted (\"packtool rescue\" writes them)");
      run.code = ExitWorst(run.code, EXIT_DAMAGED);
    }
  }
  // A pattern that chose nothing is named after the other rows are done.
  int code = ExitWorst(run.code, selected);
  report.Finish(code);
  return json ? FinishOutput(code) : code;
}

int RunExtract(const PackToolRequest& request) {
  if (request.comparedWith.empty()) return Extract(request, nullptr);
  // --missing-in: the rows compare calls missing (and changed), written
  // with today's extract below the folder.
  FolderComparison comparison;
  int code = CompareWithFolder(request, CompareHow{request.changedToo, false}, &comparison);
  if (comparison.rowTexts.empty() && code != EXIT_OK) return code;
  std::vector<uint32_t> rows;
  for (const ComparedRow& row : comparison.rows) {
    if (row.state == OnDisk::Missing || (request.changedToo && row.state == OnDisk::Changed)) rows.push_back(row.row);
  }
  if (rows.empty()) {
    if (!request.quiet && request.format != ListFormat::Json) {
      Complain(std::string("nothing of \"") + Shown(BackupPartText(comparison.part)) + "\" is missing in " +
               QuotedPath(request.comparedWith) + (request.changedToo ? " or changed there" : ""));
    }
  }
  PackToolRequest placed = request;
  placed.outputFolder = request.comparedWith;
  placed.hasOutputFolder = true;
  ChosenByComparison chosen{&comparison.part, &rows};
  return ExitWorst(code, Extract(placed, &chosen));
}
