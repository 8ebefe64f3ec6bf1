// packtool extract's run: where each row's file goes, and writing it (at
// once, staged with its batch, or streamed as a large entry is read), with
// what became of it said in the rows' order.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/staged_file.h"
#include "tools/cli/cli.h"
#include "tools/output/entry_file.h"
#include "tools/output/output_tree.h"
#include "tools/rows/rows.h"

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
  std::vector<std::function<void(const TreeResult&)>> waiting{};

  // Places the staged files and says what became of each.
  void PlaceBatch() {
    if (waiting.empty()) return;
    // Taken first: saying a refusal places again, with nothing waiting.
    std::vector<std::function<void(const TreeResult&)>> placed = std::move(waiting);
    waiting.clear();
    std::vector<TreeResult> results = tree.Flush();
    for (size_t i = 0; i < placed.size(); i++) placed[i](results[i]);
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
    PlaceBatch();
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
          PlaceBatch();
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
bool PlanTarget(ExtractRun& run, uint32_t row, ExtractJob* job);
// Writes a row's target and calls done with what became of it: at once, or
// for a file below DIR once its batch is placed (rows are said in order).
void WriteTarget(ExtractRun& run, const ExtractJob& job, const unsigned char* bytes, uint32_t size,
                 const std::function<void(int)>& done);

// A row's target that an entry too large to hold goes into as it is read:
// staged below DIR (placed with its batch) or beside -o FILE.
class StreamedTarget {
 public:
  StreamedTarget(ExtractRun& run, const ExtractJob& job) : run_(run), job_(job) {}
  ~StreamedTarget() { Drop(); }

  ArchiveEntrySink* Sink() { return &file_; }

  // After the entry came whole (of a damaged one, its decoded bytes): keeps
  // the file and calls done as WriteTarget does.
  void Commit(uint32_t decoded, const std::function<void(int)>& done);
  // After the sink refused the entry: says why (EXIT_OK when it did not
  // refuse it, so that the fetch's own word stands).
  int Refusal();
  // Removes what was staged (before the batch is placed: the staged file is
  // in a folder the batch holds).
  void Drop();

 private:
  PlatformFile Open();
  int Refused(const std::string& error);

  ExtractRun& run_;
  const ExtractJob& job_;
  EntryFile file_{[this] { return Open(); }, true};
  TreeResult begun_;
  PlatformStagedFile* staged_ = nullptr;
  PlatformStagedFile beside_;
  std::vector<std::string> made_;
  std::string makeError_;
};
