#include "tools/rows/past_damage.h"

#include "pack/trailing_bytes.h"
#include "tools/cli/cli.h"

namespace {

bool Empty(const EntryFacts& facts) {
  return facts.unpackedSize == 0 && facts.packedSize == 0;
}

std::string Trouble(const PlainReading& plain, const ArchiveSession& session, size_t rows, bool indexSound) {
  uint32_t count = uint32_t(plain.entries.size());
  std::string entry = "entry " + std::to_string(count);
  // More entries than rows: most often zeros read as empty entries.
  if (indexSound && count > rows) {
    return "the plain reading finds " + Counted(count, "entry", "entries") + " but the index has only " +
           Counted(rows, "row", "rows");
  }
  // The header after an entry whose header misstates its packed size is
  // read at the wrong place: that entry is the one to blame.
  uint32_t wrongEntry = 0;
  ArchiveSizeClaim claim{};
  if ((plain.end == EntryOutcome::Truncated || plain.end == EntryOutcome::Implausible) &&
      session.WrongClaimBefore(&wrongEntry, &claim)) {
    return "entry " + std::to_string(wrongEntry) + ": " + SizeClaimSaid(claim) + WRONG_PLACE;
  }
  switch (plain.end) {
    case EntryOutcome::Truncated:
      // A last entry cut short is a cut archive: nothing lies past it.
      if (indexSound && count + 1 >= rows) return "";
      return entry + "'s header claims " + Counted(plain.endFacts.packedSize, "byte", "bytes") + "; " +
             std::to_string(session.LeftAfterHeader()) + " remain";
    case EntryOutcome::Implausible:
      return entry + "'s header claims a compressed entry, but its data does not start a stream";
    default:
      break;
  }
  uint32_t run = 0;
  for (uint32_t i = uint32_t(rows); i < count; i++) {
    run = Empty(plain.entries[i]) ? run + 1 : 0;
    if (run > SALVAGE_EMPTY_RUN_UNKNOWN) {
      return "past its trusted rows, the archive holds more than " + std::to_string(SALVAGE_EMPTY_RUN_UNKNOWN) +
             " empty entries in a row from entry " + std::to_string(i + 1 - run);
    }
  }
  return "";
}

class Walker : public SalvageVisitor {
 public:
  Walker(size_t rows, bool indexSound, const WalkNames& names, const std::function<bool(const WalkedEntry&)>& each)
      : rows_(rows), indexSound_(indexSound), names_(names), each_(each) {}

  bool Entry(const SalvagedEntry& entry) override {
    WalkedEntry walked{entry.number,
                       EntryFacts{entry.unpackedSize, entry.packedSize, entry.stored,
                                  entry.state != SalvageState::Sound, entry.recovered, entry.checked},
                       entry.state,
                       !entry.sizeUnknown,
                       "",
                       entry.bytes,
                       names_.Of(entry.number)};
    if (entry.state != SalvageState::Sound) {
      walked.how = SalvageStateName(entry.state, entry.checked);
      if (entry.state != SalvageState::Lost) {
        walked.how += ", " + RecoveredSaid(entry);
      }
      if (entry.cutShort) {
        walked.how += std::string(", ") + CUT_SHORT;
      } else if (!entry.rangeTaken && !entry.stored && !entry.unreadable && !entry.tooLarge) {
        walked.how += std::string(", ") + DAMAGED_STREAM;
      }
      if (entry.zeroed)
        walked.how += ", its header lies in a run of zeros";
      else if (entry.rangeTaken)
        walked.how += ", its header is not one (found by looking past it)";
      if (entry.unreadable) walked.how += ", the archive file could not be read there";
      if (entry.tooLarge) walked.how += ", too large to hold whole in memory";
    }
    return each_(walked);
  }
  void Skipped(const SalvageRange&) override {}
  SalvageExpected Expected() override { return SalvageExpected{rows_ > 0, indexSound_, rows_}; }

 private:
  size_t rows_;
  bool indexSound_;
  const WalkNames& names_;
  const std::function<bool(const WalkedEntry&)>& each_;
};

}  // namespace

std::string RecoveredSaid(const SalvagedEntry& entry) {
  std::string got = std::to_string(entry.FromFile());
  if (entry.sizeUnknown) return got + " bytes (its size is not known)";
  // Bytes taken past a header that was wrong can be more than it claims.
  if (entry.FromFile() > entry.unpackedSize)
    return got + " bytes (its header claims " + std::to_string(entry.unpackedSize) + ")";
  return got + " of " + std::to_string(entry.unpackedSize) + " bytes";
}

PlainReading ReadPlainly(ArchiveSession& session, const OpenedIndex& index) {
  PlainReading plain;
  plain.entries.push_back(index.facts);
  EntryFacts facts;
  size_t rows = session.Rows().size();
  bool indexSound = index.state == IndexState::Sound;
  for (;;) {
    // Copies from tapes and floppies pad the file to a block with zeros,
    // which would read as empty entries past the last row.
    // (Not after an empty last entry: that may be zeros too, a zeroed tail.)
    if (indexSound && rows > 1 && plain.entries.size() == rows && session.Offset() < session.FileSize() &&
        (plain.entries.back().unpackedSize != 0 || plain.entries.back().packedSize != 0)) {
      TrailingKind kind = TrailingKind::Other;
      std::string said;
      if (ArchiveFileTrailing(session.Archive(), session.Offset(), &kind, &said) && kind == TrailingKind::Zeros) {
        plain.padding = session.FileSize() - session.Offset();
        plain.end = EntryOutcome::End;
        break;
      }
    }
    if ((plain.end = session.Skip(&facts)) != EntryOutcome::Skipped) break;
    plain.entries.push_back(facts);
  }
  if (plain.end != EntryOutcome::TooLarge) plain.endFacts = facts;
  plain.trouble = Trouble(plain, session, session.Rows().size(), index.state == IndexState::Sound);
  return plain;
}

bool WalkPastDamage(const ArchiveFile* archive, size_t rows, bool indexSound,
                    const std::function<bool(const WalkedEntry&)>& each, bool named) {
  WalkNames names;
  if (named && !SurveyNames(archive, int64_t(rows), indexSound, SalvageReads::Stretches, 1, &names)) return false;
  Walker walker(rows, indexSound, names, each);
  return ArchiveSalvageOf(archive, walker);
}

bool WalkPastDamage(const std::string& path, size_t rows, bool indexSound,
                    const std::function<bool(const WalkedEntry&)>& each, bool named) {
  ArchiveFile* archive = ArchiveFileOpen(path.c_str(), ARCHIVE_WALK_NONE);
  if (archive == nullptr) return false;
  bool walked = WalkPastDamage(archive, rows, indexSound, each, named);
  ArchiveFileClose(archive);
  return walked;
}

bool WalkPastDamageNamed(const ArchiveFile* archive, size_t rows, bool indexSound, const WalkNames& names,
                         const std::function<bool(const WalkedEntry&)>& each) {
  Walker walker(rows, indexSound, names, each);
  return ArchiveSalvageOf(archive, walker);
}

bool WalkPastDamageNamed(const std::string& path, size_t rows, bool indexSound, const WalkNames& names,
                         const std::function<bool(const WalkedEntry&)>& each) {
  ArchiveFile* archive = ArchiveFileOpen(path.c_str(), ARCHIVE_WALK_NONE);
  if (archive == nullptr) return false;
  bool walked = WalkPastDamageNamed(archive, rows, indexSound, names, each);
  ArchiveFileClose(archive);
  return walked;
}

std::string PastDamageSaid(const PlainReading& plain) {
  return "damaged archive: " + plain.trouble + "; the entries past it were found by looking past the damage";
}

const char* SalvageStateName(SalvageState state, bool checked) {
  switch (state) {
    case SalvageState::Sound:
      return checked ? "sound" : "unchecked";
    case SalvageState::Damaged:
      return "damaged";
    case SalvageState::Partial:
      return "partial";
    case SalvageState::Repaired:
      return "repaired";
    default:
      return "lost";
  }
}
