// packtool rescue: everything a damaged archive still holds, written below a
// fresh folder. The pack library finds the entries and salvages their bytes;
// this file names the files, writes them and reports.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "file/file.h"
#include "pack/names_from.h"
#include "pack/other_kinds.h"
#include "pack/row_plausible.h"
#include "pack/salvage.h"
#include "pack/trailing_bytes.h"
#include "pack/work_ahead.h"
#include "tools/cli/cli.h"
#include "tools/commands/commands.h"
#include "tools/commands/rescue_files.h"
#include "tools/commands/rescue_report.h"
#include "tools/output/leftovers.h"
#include "tools/rows/rows.h"
#include "tools/text/text.h"

namespace {

// A partial or damaged file's bytes before the failure may be wrong too: a
// flipped bit decodes on as garbage until the stream breaks.
constexpr const char* MAY_BE_WRONG = "its bytes before the damage may be wrong too";
// The text report left beside the rescued files, so that the folder itself
// says which files are not whole.
constexpr const char* REPORT_FILE = "rescue-report.txt";
constexpr uint32_t REPORT_TRIES = 1000;  // rescue-report-2.txt and on, when it is taken

class Rescue : public SalvageVisitor {
 public:
  Rescue(const PackToolRequest& request, uint64_t archiveSize, WalkNames names, const OtherBackups& others)
      : request_(request),
        others_(others),
        archiveSize_(archiveSize),
        names_(std::move(names)),
        repairs_(request.archive, request.repairSeconds, JobsFor(request.jobs)),
        choosing_(!request.rows.empty() || !request.names.empty() || !request.patterns.empty()),
        progress_("rescuing", request.quiet ? 0 : archiveSize) {}

  bool Entry(const SalvagedEntry& found) override {
    // The index comes first in the walk: repaired, all its rows are back.
    // Other entries are tried once they are known to be chosen.
    RepairedEntry repair;
    bool repairTried = false;
    SalvagedEntry whole = found;
    auto tryRepair = [&] {
      repairTried = repairs_.Try(found, &repair);
      if (repairTried && repair.repair.outcome == RepairOutcome::Repaired) {
        whole.state = SalvageState::Repaired;
        whole.bytes = repair.bytes.data();
        whole.recovered = uint32_t(repair.bytes.size());
        whole.checked = true;
      }
    };
    if (found.number == 0) tryRepair();
    const SalvagedEntry& entry = whole;
    if (entry.number == 0) TakeRows(entry);
    if (!selected_) Select();
    seen_ = entry.number + 1;
    lastEmpty_ = entry.unpackedSize == 0 && entry.packedSize == 0;
    // A last entry cut short past the entry of a sound index's last row:
    // bytes appended to a whole backup, no file of it.
    if (trailing_ && PastLastRow(entry.number)) return true;
    if (entry.cutShort && PastLastRow(entry.number)) {
      Trailing(uint64_t(archiveSize_ - entry.offset));
      return true;
    }
    EntryNaming naming = names_.Of(entry.number);
    if (!names_.surveyedAll && entry.number >= names_.naming.size()) {
      brokeOrder_ = brokeOrder_ || SalvageBreaksOrder(entry);
      naming = EntryNaming{brokeOrder_ ? NameFrom::Guess : NameFrom::Index, entry.number};
    }
    bool hasRow = naming.from != NameFrom::None && naming.row < rows_.size();
    if (!Chosen(hasRow ? naming.row : entry.number, hasRow)) {
      progress_.Update(entry.offset);
      return true;
    }
    if (found.number != 0) tryRepair();
    RescuedEntry rescued{entry.number,
                         hasRow,
                         "",
                         entry.state,
                         entry.checked,
                         hasRow ? naming.from : NameFrom::None,
                         hasRow ? naming.row : 0,
                         entry.unpackedSize,
                         entry.sizeUnknown,
                         0,
                         "",
                         {},
                         "",
                         repairTried,
                         {},
                         {},
                         ""};
    if (rescued.hasRow) {
      rescued.row = rows_[rescued.rowNumber];
      namedRows_[rescued.rowNumber] = true;
      if (rescued.nameFrom == NameFrom::OtherBackup) rescued.proof = names_.ProofOf(entry.number);
      rescued.other = OtherBackupsHeld(others_, entry, rescued.row);
    }
    if (repairTried) {  // what was found and where; the bytes stay here, written below
      rescued.repair.repair = repair.repair;
      rescued.repair.headerOffset = repair.headerOffset;
    }
    rescued.holes.assign(entry.holes, entry.holes + entry.holeCount);
    std::string how;
    if (entry.state == SalvageState::Repaired) {
      how = std::string(SalvageStateName(entry.state, entry.checked)) + ": " + RepairSaid(repair);
    } else if (entry.state != SalvageState::Sound) {
      how = std::string(SalvageStateName(entry.state, entry.checked));
      if (entry.state != SalvageState::Lost) {
        how += ", " + RecoveredSaid(entry);
      }
      if (entry.cutShort) how += ", its data runs past the end of the file";
      if (entry.rangeTaken) how += ", taken from the skipped range";
      if (entry.unreadable) how += ", the archive file could not be read there";
      if (entry.holeCount > 0) how += HolesSaid(entry);
      if (entry.zeroed) how += ", its header lies in a run of zeros";
      if (entry.tooLarge) how += ", too large to hold whole in memory";
      if (repairTried) how += "; " + RepairSaid(repair);
    }
    // Said once its file is placed with its batch, so that everything is
    // said in the archive's order.
    bool repaired = entry.headerRepaired;
    uint32_t size = entry.recovered;
    // A header that misstates where its sound stream ends is damage of the
    // archive, though the file is whole.
    std::string claimWrong =
        entry.sizeClaimWrong ? SizeClaimSaid(ArchiveSizeClaim{entry.claimedPackedSize, entry.streamEnds}) : "";
    RescueFiles::Said said = [this, rescued, how, repaired, size, claimWrong](const RescuedFile* file) mutable {
      if (file != nullptr) Placed(*file, size, &rescued);
      if (!how.empty()) {
        if (rescued.written > 0 && rescued.state != SalvageState::Lost && rescued.state != SalvageState::Repaired)
          how += std::string(" (") + MAY_BE_WRONG + ")";
        rescued.how = how;
        Say(RescuedName(rescued, others_) + ": " + how);
      } else if (!claimWrong.empty()) {
        Say(RescuedName(rescued, others_) + ": sound, its header was wrong: " + claimWrong);
        code_ = ExitWorst(code_, EXIT_DAMAGED);
      } else if (repaired) {
        Say(RescuedName(rescued, others_) +
            ": sound, its header was wrong (its stream decoded whole to its own size, its checksum " + "matching)");
      }
      if (rescued.nameFrom == NameFrom::Guess && rescued.written > 0) guessed_++;
      if (rescued.nameFrom == NameFrom::OtherBackup && rescued.written > 0) namedByOthers_++;
      if (!rescued.other.empty()) {
        bool same = rescued.other.rfind(SAME_AS_OTHER, 0) == 0;
        (same ? sameAsOther_ : differsFromOther_)++;
        if (!same) Say(RescuedName(rescued, others_) + ": " + rescued.other);
      }
      bool whole = rescued.state == SalvageState::Sound || rescued.state == SalvageState::Repaired;
      code_ = ExitWorst(code_, whole && rescued.nameFrom != NameFrom::Guess ? EXIT_OK : EXIT_DAMAGED);
      entries_.push_back(std::move(rescued));
    };
    // A sound empty entry is a file too; of the others only recovered bytes count.
    if (entry.recovered > 0 || entry.state == SalvageState::Sound) {
      std::vector<std::string> parts;
      RescuedTarget(rescued, pathRoom_, &parts);
      files_.Write(parts, entry.number, entry.bytes, entry.recovered, std::move(said));
    } else {
      files_.Hold(std::move(said));
    }
    progress_.Update(entry.offset);
    return true;
  }

  void Skipped(const SalvageRange& range) override {
    // Stray bytes, or zeros padding the file to a block, after the last row's entry.
    if (range.offset + range.length == archiveSize_ && (range.length < 8 || (range.zeros && !lastEmpty_)) &&
        PastLastRow(seen_)) {
      Trailing(range.length);
      trailing_ = true;
      return;
    }
    files_.PlaceBatch();  // the entries before it are said first
    skipped_.push_back(range);
    code_ = ExitWorst(code_, EXIT_DAMAGED);
    const char* why = range.unreadable ? ", from a header that could not be read"
                      : range.zeros    ? ", a run of zeros where the index has no rows left for empty entries"
                                       : ", where the entries did not follow on";
    Say("skipped " + Bytes(range.length) + " at offset " + std::to_string(range.offset) + why +
        " (taken as one entry)");
    progress_.Update(range.offset + range.length);
  }

  void Searching(uint64_t offset) override { progress_.Update(offset); }

  // On a failing disk each read error may take seconds: the line says how
  // many there were, so that a long bad area does not look like a hang.
  void Refused(uint64_t offset) override {
    badUnits_++;
    progress_.Note("; " + Counted(badUnits_, "bad unit", "bad units"));
    progress_.Update(offset);
  }

  void Ended(uint64_t untried) override { untried_ = untried; }

  // The index's rows, once entry 0 gave them: all of them when it is sound.
  SalvageExpected Expected() override { return SalvageExpected{!rows_.empty(), indexSound_, rows_.size()}; }

  int Finish() {
    files_.PlaceBatch();
    if (!selected_) Select();
    // Rows that no entry found answers are lost too, and so are the
    // entries chosen by number past the last one found.
    uint32_t found = entries_.empty() ? 0 : entries_.back().number + 1;
    uint32_t last = uint32_t(rows_.size());
    if (choosing_ && !chosen_.empty()) last = std::max(last, chosen_.back() + 1);
    for (uint32_t row = 0; row < last; row++) {
      bool hasRow = row < rows_.size();
      if (hasRow ? namedRows_[row] : row < found) continue;
      if (!Chosen(row, hasRow)) continue;
      RescuedEntry lost{row,
                        hasRow,
                        hasRow ? rows_[row] : "",
                        SalvageState::Lost,
                        false,
                        hasRow ? NameFrom::Index : NameFrom::None,
                        row,
                        0,
                        true,
                        0,
                        "",
                        {},
                        "lost, the archive holds no entry for it",
                        false,
                        {},
                        {},
                        ""};
      Say(RescuedName(lost, others_) + ": " + lost.how);
      code_ = ExitWorst(code_, EXIT_DAMAGED);
      entries_.push_back(std::move(lost));
    }
    size_t counts[5] = {}, unchecked = 0;
    for (const RescuedEntry& entry : entries_) {
      counts[int(entry.state)]++;
      unchecked += entry.state == SalvageState::Sound && !entry.checked ? 1 : 0;
    }
    std::string summary = "rescued " + std::to_string(entries_.size() - counts[int(SalvageState::Lost)]) + " of " +
                          Counted(entries_.size(), "entry", "entries") + " into " + QuotedPath(request_.outputFolder) +
                          ": " + std::to_string(counts[0] - unchecked) + " sound, " + std::to_string(unchecked) +
                          " unchecked, " + std::to_string(counts[1]) + " damaged, " + std::to_string(counts[2]) +
                          " partial, " + std::to_string(counts[3]) + " lost";
    if (counts[int(SalvageState::Repaired)] > 0)
      summary += ", " + std::to_string(counts[int(SalvageState::Repaired)]) + " repaired (one flipped bit each)";
    if (namedByOthers_ > 0) summary += "; " + Counted(namedByOthers_, "file", "files") + " named by other backups";
    if (sameAsOther_ + differsFromOther_ > 0) {
      summary += "; of the unchecked, " + std::to_string(sameAsOther_) + " the same as in another backup, " +
                 std::to_string(differsFromOther_) + " not";
    }
    if (guessed_ > 0) {
      summary +=
          "; " + Counted(guessed_, "file", "files") + " under names that are guesses, below " + UNPROVEN_FOLDER + "/";
    }
    if (!skipped_.empty()) {
      uint64_t bytes = 0;
      for (const SalvageRange& range : skipped_) bytes += range.length;
      summary += "; " + Counted(skipped_.size(), "range", "ranges") + " skipped (" + Bytes(bytes) + ")";
    }
    if (kept_ > 0) summary += "; " + Counted(kept_, "file", "files") + " already there with the same bytes kept";
    Say(summary);
    if (guessed_ > 0 && !others_.Given()) Say(std::string("of the names that are guesses, ") + NAMES_FROM_HINT);
    if (counts[1] + counts[2] > 0)
      Say("of the damaged and partial files, the bytes before the damage may be wrong too");
    WriteReport();
    if (!files_.LeftoversRemoved().empty()) Say(LeftoversSaid(files_.LeftoversRemoved()));
    std::string unsynced;
    if (!files_.Finish(&unsynced)) {
      Error("the files written may not all be on the disk yet: the system could not write their folders: " + unsynced);
      code_ = ExitWorst(code_, EXIT_WRITE);
    }
    if (untried_ > 0) {
      Say(Bytes(untried_) + " of the archive file in bad areas were given up unread; " +
          "--every-unit asks for each 4 KiB of them (slow on a failing disk)");
    }
    if (request_.format == ListFormat::Json) PrintRescueJson(request_.archive, entries_, skipped_, untried_, others_);
    return code_;
  }

 private:
  static std::string Bytes(uint64_t n) { return Counted(n, "byte", "bytes"); }

  // Complain, with the progress line out of the way; nothing with --quiet.
  void Say(const std::string& text) {
    if (!request_.quiet) Error(text);
  }
  // What --quiet says all the same: a file that could not be written.
  void Error(const std::string& text) {
    progress_.Clear();
    Complain(text);
  }

  // The rows the request names, once the index gave its rows (or none came).
  void Select() {
    selected_ = true;
    if (!choosing_) return;
    progress_.Clear();
    code_ = ExitWorst(code_, SelectRows(request_, rows_, &chosen_));
  }
  // Rows are chosen by the row that names an entry; an entry without one by its number.
  bool Chosen(uint32_t row, bool hasRow) const {
    if (!choosing_) return true;
    if (!hasRow && row < rows_.size()) return false;
    return std::binary_search(chosen_.begin(), chosen_.end(), row);
  }

  bool PastLastRow(uint32_t entry) const { return indexSound_ && !rows_.empty() && entry >= rows_.size(); }
  // Zeros that pad the file to a block are no damage; other bytes are said.
  void Trailing(uint64_t bytes) {
    files_.PlaceBatch();
    TrailingKind kind = TrailingKind::Other;
    std::string what = "bytes that could not be read";
    ArchiveFile* file = ArchiveFileOpen(request_.archive.c_str(), ARCHIVE_WALK_NONE);
    if (file == nullptr || !ArchiveFileTrailing(file, archiveSize_ - bytes, &kind, &what))
      what = "bytes that could not be read";
    ArchiveFileClose(file);
    std::string trailing = Bytes(bytes) + " after the entry of the last row";
    if (kind == TrailingKind::Zeros) {
      Say(trailing + " are " + what + ": no damage, every row has its entry");
    } else {
      Say("warning: " + trailing + " hold no entry: " + what + "; every row has its entry");
    }
  }

  // The rows of the index: the lines its recovered bytes hold whole, or all
  // of them when nothing of it was cut off.
  void TakeRows(const SalvagedEntry& index) {
    indexSound_ = index.state == SalvageState::Sound;
    size_t size = LineTextTrusted(index.bytes, index.recovered, index.unpackedSize);
    size_t length = 0;
    for (size_t at = 0; at < size;) {
      size_t next = LineTextNext(index.bytes, size, at, &length);
      rows_.emplace_back(reinterpret_cast<const char*>(index.bytes) + at, length);
      at = next;
    }
    // A damaged index's lines are no rows from the first that is no plausible path.
    if (!indexSound_) {
      size_t plausible = PlausibleRowsFromStart(rows_);
      if (plausible < rows_.size()) {
        Say("the index is damaged: line " + std::to_string(plausible) +
            " and those after it are no plausible paths; their entries are written as entry-N.bin" +
            (others_.Given() ? " unless other backups prove their names" : ""));
        rows_.resize(plausible);
      }
    }
    // Names other backups prove; a damaged index's rows gain the texts they give.
    NameFromOthers(&names_, rows_, indexSound_, others_);
    rows_.insert(rows_.end(), names_.addedRows.begin(), names_.addedRows.end());
    namedRows_.assign(rows_.size(), false);
  }

  // What became of an entry's file of size bytes.
  void Placed(const RescuedFile& file, uint32_t size, RescuedEntry* rescued) {
    if (file.link) code_ = ExitWorst(code_, EXIT_TARGET_REFUSED);
    if (file.written) {
      rescued->written = size;
      rescued->path = file.path;
      kept_ += file.kept ? 1 : 0;
      if (!file.inTheWay.empty())
        Say(RescuedName(*rescued, others_) + ": " + file.inTheWay + "; written as " + file.path + " instead");
    } else if (!file.refused.empty()) {
      Say(RescuedName(*rescued, others_) + ": " + file.refused + "; nothing written");
      code_ = ExitWorst(code_, EXIT_TARGET_REFUSED);
    } else {
      Error(RescuedName(*rescued, others_) + ": cannot write " + file.failed);
      code_ = ExitWorst(code_, EXIT_WRITE);
    }
  }

  // One line per entry that is not sound: where it is and what is wrong.
  void WriteReport() {
    std::string text = RescueReportText(entries_, others_);
    if (text.empty()) return;
    // Written as the entries are, so that a link planted in the folder is not followed.
    TreeResult result;
    for (uint32_t k = 1; k <= REPORT_TRIES; k++) {
      std::string name = k == 1 ? REPORT_FILE : "rescue-report-" + std::to_string(k) + ".txt";
      result = files_.WriteNow(name, text);
      if (result.outcome == TreeOutcome::Written) {
        Say("what each file that is not whole is: " + QuotedPath(result.path));
        return;
      }
      if (result.outcome == TreeOutcome::Failed) break;
    }
    Error("cannot write the rescue report: " +
          (result.error.empty() ? QuotedPath(result.path) + " exists" : result.error));
    code_ = ExitWorst(code_, EXIT_WRITE);
  }

  const PackToolRequest& request_;
  const OtherBackups& others_;
  uint64_t archiveSize_;
  uint32_t seen_ = 0;       // entries the walk gave so far
  bool lastEmpty_ = false;  // the last entry the walk gave is empty (zeros before a zero run may be more)
  bool trailing_ = false;   // the bytes after the last row's entry were said: no entry of them
  WalkNames names_;
  EntryRepairs repairs_;
  std::vector<bool> namedRows_;  // rows an entry found answers
  size_t guessed_ = 0;           // files written under names that are guesses
  size_t namedByOthers_ = 0;     // files written under names other backups prove
  size_t sameAsOther_ = 0;       // unchecked entries another backup holds the same
  size_t differsFromOther_ = 0;  // unchecked entries the other backups hold otherwise
  bool brokeOrder_ = false;      // unsurveyed: an entry so far broke the order of the entries
  bool choosing_;                // rows, names or patterns choose the entries written
  bool selected_ = false;
  std::vector<uint32_t> chosen_;  // ascending
  std::vector<std::string> rows_;
  bool indexSound_ = false;
  std::vector<RescuedEntry> entries_;
  std::vector<SalvageRange> skipped_;
  uint64_t untried_ = 0;
  uint64_t badUnits_ = 0;
  int code_ = EXIT_OK;
  size_t kept_ = 0;  // files a run before placed, found holding their entry's bytes
  Progress progress_;
  RescueFiles files_{request_.outputFolder};
  // What a path below the folder may take (0: no limit); a guessed name's
  // folder is taken off it too.
  size_t pathRoom_ = TargetPathRoomBelow(request_.outputFolder, std::string(UNPROVEN_FOLDER).size() + 1);
};

}  // namespace

int RunRescue(const PackToolRequest& request) {
  uint64_t size = 0;
  switch (PlatformPathKind(request.archive.c_str(), &size)) {
    case PlatformNameKind::Missing:
      Complain(ShownPath(request.archive) + ": no such file");
      return EXIT_ARCHIVE;
    case PlatformNameKind::File:
      break;
    default:
      Complain(ShownPath(request.archive) + ": is not a file that can be read");
      return EXIT_ARCHIVE;
  }
  if (size == 0) {
    Complain(ShownPath(request.archive) + ": is empty: not a pack archive");
    return EXIT_ARCHIVE;
  }
  // Opened once for the look at its kind, the survey of names and the walk.
  std::unique_ptr<ArchiveFile, void (*)(ArchiveFile*)> archive(
      ArchiveFileOpen(request.archive.c_str(), ARCHIVE_WALK_NONE), ArchiveFileClose);
  if (archive == nullptr) {
    Complain(ShownPath(request.archive) + ": cannot be opened: " + SystemErrorText());
    return EXIT_ARCHIVE;
  }
  if (const char* kind = ArchiveFileOtherKind(archive.get())) {
    Complain(ShownPath(request.archive) + ": is " + kind + ", not a pack archive: nothing to rescue");
    return EXIT_ARCHIVE;
  }
  int code = PrepareRescueFolder(request);
  if (code != EXIT_OK) return code;
  SalvageReads reads = request.everyUnit ? SalvageReads::EveryUnit : SalvageReads::Stretches;
  // Names are proven by a walk of their own before the files are written,
  // unless the plain reading of the headers holds together.
  // With --every-unit, where each slow read counts, the archive is read
  // once: the names past the first damage that breaks the order are guesses.
  WalkNames names;
  names.surveyedAll = false;
  if (!request.everyUnit && !NamesFromPlainReading(request.archive, &names) &&
      !SurveyNames(archive.get(), -1, false, reads, JobsFor(request.jobs), &names)) {
    Complain(ShownPath(request.archive) + ": cannot be opened: " + SystemErrorText());
    return EXIT_ARCHIVE;
  }
  OtherBackups others;
  // An other backup that cannot be read is said; the rescue's own code stands.
  ReadOtherBackups(request.namesFrom, request.archive, &others);
  if (!request.namesFrom.empty() && !others.Given()) {
    Complain("--names-from: no other backup could be read; names past damage are not proven by any");
  }
  Rescue rescue(request, size, std::move(names), others);
  WorkAhead engine(request.jobs);
  if (!ArchiveSalvageOf(archive.get(), rescue, reads, &engine)) {
    Complain(ShownPath(request.archive) + ": cannot be opened: " + SystemErrorText());
    return EXIT_ARCHIVE;
  }
  code = rescue.Finish();
  if (fflush(stdout) != 0 || ferror(stdout)) {
    Complain("cannot write to standard output");
    code = ExitWorst(code, EXIT_WRITE);
  }
  return code;
}
