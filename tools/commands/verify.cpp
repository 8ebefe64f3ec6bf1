#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "pack/archive.h"
#include "tools/cli/cli.h"
#include "tools/commands/commands.h"
#include "tools/output/entry_file.h"
#include "tools/rows/rows.h"

namespace {

// Where an entry too large to hold goes while it is checked: a stored one's
// bytes are read in pieces and let go (reading them whole is the check), a
// compressed one is decoded into an unnamed temporary file, mapped, so that
// verify's memory stays bounded whatever the archive holds.
class VerifySink : public ArchiveEntrySink {
 public:
  ~VerifySink() {
    decoded_.Finish(0);
    if (temporary_ != PLATFORM_FILE_INVALID) PlatformFileClose(temporary_);
  }
  bool Take(const unsigned char*, uint32_t) override { return true; }
  unsigned char* Room(uint32_t size, uint32_t packedSize) override { return decoded_.Room(size, packedSize); }

 private:
  PlatformFile temporary_ = PLATFORM_FILE_INVALID;
  EntryFile decoded_{[this] { return temporary_ = PlatformFileCreateUnnamed(); }, false};
};

// Verifies the archive at path. records: null for an archive verified alone
// (its JSON document is printed here); else its record is added there, and
// every line of text begins with the archive's name.
int VerifyOne(const PackToolRequest& request, const std::string& path, JsonDocument* records) {
  bool json = request.format == ListFormat::Json;
  OpenedArchive opened;
  int code = OpenArchive(path, ReadOn::Entries, &opened);
  if (code != EXIT_OK) {
    if (records != nullptr && json) records->push_back(FailedRecord(path, code));
    return code;
  }
  ArchiveSession& session = opened.session;
  const OpenedIndex& index = opened.index;
  const PlainReading& plain = opened.plain;
  code = index.code;

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
  std::string prefix = records != nullptr ? ShownPath(path) + ": " : "";
  JsonDocument said = JsonDocument::array();
  auto report = [&](const std::string& problem, int problemCode) {
    progress.Clear();
    if (json) said.push_back(problem);
    if (!json && !request.quiet) Print(prefix + problem + "\n");
    fflush(stdout);
    problems++;
    code = ExitWorst(code, problemCode);
  };

  if (!plain.HoldsTogether()) report(PastDamageSaid(plain), EXIT_DAMAGED);
  // What a repair by the checksum would do for a damaged entry: said, not done.
  EntryRepairs repairs(path, request.repairSeconds, JobsFor(request.jobs), &session.Engine(request.jobs));
  auto diagnosis = [&](uint64_t headerOffset, const EntryFacts& facts) {
    RepairedEntry repair;
    if (!repairs.Try(headerOffset, facts.unpackedSize, facts.packedSize, &repair)) return std::string();
    if (repair.repair.outcome == RepairOutcome::Repaired)
      return "; " + RepairSaid(repair) + "; packtool rescue repairs it";
    return "; " + RepairSaid(repair);
  };
  size_t proven = 0;
  // Entry 0 is read already; its facts are at hand.
  EntryFacts facts = index.facts;
  EntryOutcome outcome = index.state == IndexState::TooLarge ? EntryOutcome::TooLarge : EntryOutcome::Read;
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
  if (!plain.HoldsTogether()) {
    WalkPastDamage(
        session.Archive(), session.Rows().size(), indexSound,
        [&](const WalkedEntry& walked) {
          if (isChosen(walked.number)) judge(EntryName(walked.number, rows), walked.facts, walked.how);
          progress.Update(0);
          entry = walked.number + 1;
          return true;
        },
        false);
    outcome = EntryOutcome::End;
  }
  // The chosen entries are decoded ahead on every thread asked for; the
  // loop below takes them in order as it would read them. A large one is
  // left to the reading here, which streams it instead of holding it.
  auto isPlanned = [&](uint32_t entry) {
    const EntryFacts& facts = plain.entries[entry];
    return std::max(facts.unpackedSize, facts.packedSize) < ARCHIVE_STREAMED_FROM && isChosen(entry);
  };
  if (plain.HoldsTogether()) session.DecodeAhead(request.jobs, PlanEntries(plain, isPlanned));
  for (; plain.HoldsTogether(); entry++) {
    // Zeros padding the file after the last row's entry are no entries.
    if (plain.padding > 0 && entry == plain.entries.size()) {
      outcome = EntryOutcome::End;
      Complain(ShownPath(path) + ": " + Counted(plain.padding, "zero byte", "zero bytes") +
               " after the entry of the last row pad the file to a block: no damage");
      break;
    }
    bool check = isChosen(entry);
    if (entry > 0) {
      const unsigned char* bytes = nullptr;
      VerifySink sink;
      bool streamed = false;
      outcome = check ? session.NextTo(&facts, &bytes, &sink, &streamed) : session.Skip(&facts);
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
      std::string how;
      if (facts.damaged) {
        how = std::string("damaged: ") + DAMAGED_STREAM + diagnosis(facts.at, facts);
      }
      judge(EntryName(entry, rows), facts, how);
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
  if (plain.HoldsTogether()) {
    std::vector<std::string> notes;
    for (const std::string& problem : EndProblems(outcome, session, entryCount, rows, indexSound, &notes))
      report(problem, EXIT_DAMAGED);
    for (const std::string& note : notes) Complain(ShownPath(path) + ": " + note);
  } else if (entryCount < rows.size()) {
    report(RowsLostSaid(entryCount, rows.size()), EXIT_DAMAGED);
  }
  // Entries that no row names cannot be found in the restore tool's list.
  if (indexSound && entryCount > rows.size()) report(EntriesWithoutRowSaid(rows.size(), entryCount), EXIT_DAMAGED);
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
  if (json) {
    JsonDocument record = JsonDocument::object();
    if (records != nullptr) record["archive"] = JsonHostPath(path);
    record.update({{"entryCount", entryCount},
                   {"rowCount", indexSound ? JsonDocument(rows.size()) : nullptr},
                   {"checked", checked},
                   {"proven", proven},
                   {"unpackedBytes", unpackedBytes},
                   {"sound", problems == 0},
                   {"problems", said}});
    if (records == nullptr) {
      PrintJsonDocument(record);
    } else {
      records->push_back(std::move(record));
    }
  } else if (!request.quiet) {
    Print(prefix + summary + "\n");
  }
  return FinishOutput(code);
}

}  // namespace

int RunVerify(const PackToolRequest& request) {
  // Of several archives, a total after their lines: a folder of a year's
  // backups is judged at a glance.
  size_t several = 0, sound = 0, unread = 0;
  int code = ForEachArchive(request, [&](const std::string& path, JsonDocument* records) {
    int verified = VerifyOne(request, path, records);
    several += records != nullptr ? 1 : 0;
    sound += verified == EXIT_OK ? 1 : 0;
    unread += verified == EXIT_ARCHIVE ? 1 : 0;
    return verified;
  });
  if (several > 0 && request.format != ListFormat::Json && !request.quiet) {
    std::string total = "total: " + Counted(several, "archive", "archives") + ", " + std::to_string(sound) + " sound";
    if (several - sound - unread > 0) total += ", " + std::to_string(several - sound - unread) + " with problems";
    if (unread > 0) total += ", " + std::to_string(unread) + " could not be read";
    Print(total + "\n");
    code = FinishOutput(code);
  }
  return code;
}
