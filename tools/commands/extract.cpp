// packtool extract: the entries of rows, by number or pattern, written to
// files named after the rows.
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "platform/staged_file.h"
#include "tools/cli/cli.h"
#include "tools/commands/commands.h"
#include "tools/commands/extract_run.h"
#include "tools/compare/folder_comparison.h"
#include "tools/output/entry_file.h"
#include "tools/output/leftovers.h"
#include "tools/output/output_tree.h"
#include "tools/rows/rows.h"
#include "tools/text/text.h"

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
  bool indexSound = index.state == IndexState::Sound;
  // Other backups of the same files prove names past damage, and of a
  // damaged index the names its rows do not reach: then the entries are
  // found by the salvage walk, named first.
  OtherBackups others;
  // (A whole archive needs none: they are not read.)
  if (!request.namesFrom.empty() && (!plain.HoldsTogether() || !indexSound)) {
    ReadOtherBackups(request.namesFrom, request.archive, &others);
    if (!others.Given()) Complain("--names-from: no other backup could be read; no name past damage is proven by one");
  }
  size_t trustedRows = session.Rows().size();
  bool pastDamage = !plain.HoldsTogether() || (!indexSound && others.Given());
  std::vector<std::string> rows = session.Rows();
  WalkNames names;
  if (pastDamage) {
    SurveyNames(session.Archive(), int64_t(trustedRows), indexSound, SalvageReads::Stretches, 1, &names);
    NameFromOthers(&names, rows, indexSound, others);
    rows.insert(rows.end(), names.addedRows.begin(), names.addedRows.end());
  }

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
  // A staged file stands beside its target before it takes the target's name.
  run.targets.FitPathsInto(TargetPathRoomBelow(request.outputFolder), StagedPrefix().size() + 25);
  run.code = index.code;
  if (compared != nullptr) run.part = compared->part;

  if (!plain.HoldsTogether()) {
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
      run.PlaceBatch();
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
      run.PlaceBatch();
      Complain(RowName(row, rows) + ": the entry is too large to hold in memory (" +
               std::to_string(facts.unpackedSize) + " bytes); nothing written");
    }
    big.Drop();
    // Past the trusted rows of a damaged index the entries end quietly.
    if (beyondTrustedRows && fetched == EXIT_ROW) return false;
    run.PlaceBatch();
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
    size_t guessed = 0, unnamedLeft = 0;
    WalkPastDamageNamed(session.Archive(), trustedRows, indexSound, names, [&](const WalkedEntry& entry) {
      found = entry.number + 1;
      const EntryNaming& naming = entry.naming;
      bool named = naming.from != NameFrom::None && naming.row < rows.size();
      if (named && jobOfRow[naming.row] != SIZE_MAX) {
        size_t i = jobOfRow[naming.row];
        ExtractJob job = jobs[i];
        if (naming.from != NameFrom::Index) report.NamedFrom(job.row, NameFromWord(naming.from));
        if (naming.from == NameFrom::OtherBackup)
          report.NamedBy(job.row, OtherProofSaid(others, names.ProofOf(entry.number)));
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
      // (Those numbered among the rows other backups added have no
      // entry-N.bin name clear of theirs: they are left to rescue.)
      if (request.all && !indexSound && !named && entry.number >= trustedRows && entry.number < rows.size())
        unnamedLeft++;
      if (request.all && !indexSound && !named && entry.number >= rows.size() && PlanTarget(run, entry.number, &job)) {
        deliver(job, entry.facts, entry.bytes, entry.how);
      }
      return true;
    });
    if (guessed > 0 && !request.quiet) {
      run.PlaceBatch();
      Complain(ShownPath(request.archive) + ": " + Counted(guessed, "entry", "entries") +
               " past the damage could not be named for sure: each is written below " + UNPROVEN_FOLDER +
               "/ under the name of the row it most likely is" +
               (others.Given() ? "" : std::string("; ") + NAMES_FROM_HINT));
    }
    run.PlaceBatch();
    if (unnamedLeft > 0) {
      Complain(ShownPath(request.archive) + ": " + Counted(unnamedLeft, "entry", "entries") +
               " that neither the index nor the other backups name " + (unnamedLeft == 1 ? "is" : "are") +
               " not extracted (\"packtool rescue\" writes " + (unnamedLeft == 1 ? "it)" : "them)"));
      run.code = ExitWorst(run.code, EXIT_DAMAGED);
    }
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
      if (ArchiveEntryStreamed(facts.unpackedSize, facts.packedSize)) return false;
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
  run.PlaceBatch();
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
