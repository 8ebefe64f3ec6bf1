#include "tools/commands/extract_run.h"

#include <algorithm>

#include "tools/output/leftovers.h"
#include "tools/text/text.h"

namespace {

// Names tried for a file being written beside its target; each one left
// behind by an ended run costs one more try.
constexpr int STAGED_TRIES = 1000;

}  // namespace

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

namespace {

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

}  // namespace

// Writes a row's target and calls done with what became of it: at once, or
// for a file below DIR once its batch is placed (rows are said in order).
void WriteTarget(ExtractRun& run, const ExtractJob& job, const unsigned char* bytes, uint32_t size,
                 const std::function<void(int)>& done) {
  const std::vector<std::string>& rows = run.rows;
  std::string error;
  std::vector<std::string> made;
  if (!job.name.empty() && run.request.hasOutputFolder && !run.MakeOutputFolder(&error, &made)) {
    run.PlaceBatch();
    RemoveMadeFolders(run, made);
    Complain(RowName(job.row, rows) + ": cannot make the folder: " + error);
    run.report.Failed(job.row, run.Text(job.row), "cannot make the folder");
    return done(EXIT_WRITE);
  }
  if (job.name.empty()) {
    run.PlaceBatch();
    return done(WriteOutcome(run, job, WriteOutputFile(run, job, bytes, size), made));
  }
  OutputTree::Fill fill = [&](PlatformStagedFile& file, std::string*) { return file.Write(bytes, size); };
  // Its target was looked at when it was planned; the move looks again.
  TreeResult staged = run.tree.Stage(job.folders, job.name, fill, size, run.request.force, job.row, false);
  if (staged.outcome != TreeOutcome::Written) {
    run.PlaceBatch();
    return done(WriteOutcome(run, job, staged, made));
  }
  run.waiting.push_back(
      [&run, job, made, done](const TreeResult& result) { done(WriteOutcome(run, job, result, made)); });
  if (run.tree.Full()) run.PlaceBatch();
}

void StreamedTarget::Commit(uint32_t decoded, const std::function<void(int)>& done) {
  if (!file_.Finish(decoded)) return done(Refused(file_.Error()));
  if (job_.name.empty()) {
    bool exists = false;
    TreeResult result;
    if (!beside_.PlaceBeside(run_.request.force, &exists)) {
      result.outcome = exists ? TreeOutcome::Exists : TreeOutcome::Failed;
      result.error = exists ? "it exists" : beside_.Error();
    }
    run_.PlaceBatch();
    return done(WriteOutcome(run_, job_, result, made_));
  }
  staged_ = nullptr;
  TreeResult result = run_.tree.End(true, decoded);
  if (result.outcome != TreeOutcome::Written) {
    run_.PlaceBatch();
    return done(WriteOutcome(run_, job_, result, made_));
  }
  ExtractRun& run = run_;
  run.waiting.push_back(
      [&run, job = job_, made = made_, done](const TreeResult& placed) { done(WriteOutcome(run, job, placed, made)); });
  if (run.tree.Full()) run.PlaceBatch();
}

int StreamedTarget::Refusal() {
  if (!file_.Asked()) return EXIT_OK;
  if (!file_.Opened() && !makeError_.empty()) {
    Drop();
    run_.PlaceBatch();
    RemoveMadeFolders(run_, made_);
    Complain(RowName(job_.row, run_.rows) + ": cannot make the folder: " + makeError_);
    run_.report.Failed(job_.row, run_.Text(job_.row), "cannot make the folder");
    return EXIT_WRITE;
  }
  if (!file_.Opened()) {
    run_.PlaceBatch();
    return WriteOutcome(run_, job_, begun_, made_);
  }
  return Refused(file_.Error());
}

void StreamedTarget::Drop() {
  file_.Finish(0);
  if (staged_ != nullptr) run_.tree.End(false, 0);
  staged_ = nullptr;
  beside_.Discard();
}

PlatformFile StreamedTarget::Open() {
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

int StreamedTarget::Refused(const std::string& error) {
  Drop();
  run_.PlaceBatch();
  TreeResult failed;
  failed.outcome = TreeOutcome::Failed;
  failed.error = error;
  return WriteOutcome(run_, job_, failed, made_);
}
