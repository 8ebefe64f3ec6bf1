#include "tools/rows/walk_names.h"

#include "file/file.h"
#include "pack/row_plausible.h"
#include "pack/work_ahead.h"
#include "platform/platform.h"
#include "tools/rows/other_backups.h"
#include "tools/rows/past_damage.h"

namespace {

class Survey : public SalvageVisitor {
 public:
  Survey(int64_t rows, bool indexSound, uint64_t fileSize)
      : fromIndex_(rows < 0), rows_(rows < 0 ? 0 : uint64_t(rows)), indexSound_(indexSound), fileSize_(fileSize) {}

  bool Entry(const SalvagedEntry& entry) override {
    if (entry.number == 0 && fromIndex_) TakeRows(entry);
    // Bytes appended after the entry of a sound index's last row are no
    // entry, and the end stays whole.
    if (entry.cutShort && indexSound_ && rows_ > 0 && entry.number >= rows_) return true;
    places.push_back(WalkedPlace{SalvageBreaksOrder(entry), entry.unpackedSize == 0 && entry.packedSize == 0});
    ContentKey key{};
    keyed.push_back(entry.number != 0 && SalvagedContentKey(entry, &key));
    keys.push_back(key);
    lastCutShort_ = entry.cutShort;
    return !refused_;
  }
  // On a failing disk every refused read may take seconds: the survey ends
  // at the first, and the entries after it are named by guess.
  void Refused(uint64_t) override { refused_ = true; }
  void Skipped(const SalvageRange& range) override {
    if (range.offset + range.length >= fileSize_) reachesEnd_ = true;
  }
  SalvageExpected Expected() override { return SalvageExpected{rows_ > 0, indexSound_, rows_}; }

  WalkNames Names() const {
    WalkNames names;
    names.rows = rows_;
    names.indexSound = indexSound_;
    names.naming = NameEntries(places, rows_, indexSound_, !reachesEnd_ && !lastCutShort_ && !refused_);
    names.surveyedAll = !refused_;
    names.keyed = keyed;
    names.keys = keys;
    names.texts = texts_;
    return names;
  }

  std::vector<WalkedPlace> places;
  std::vector<bool> keyed;
  std::vector<ContentKey> keys;

 private:
  void TakeRows(const SalvagedEntry& index) {
    indexSound_ = index.state == SalvageState::Sound;
    size_t size = LineTextTrusted(index.bytes, index.recovered, index.unpackedSize);
    size_t length = 0;
    for (size_t at = 0; at < size; rows_++) {
      size_t next = LineTextNext(index.bytes, size, at, &length);
      texts_.emplace_back(reinterpret_cast<const char*>(index.bytes) + at, length);
      at = next;
    }
    if (!indexSound_) texts_.resize(PlausibleRowsFromStart(texts_));
  }

  bool fromIndex_;
  uint64_t rows_;
  bool indexSound_;
  uint64_t fileSize_;
  bool reachesEnd_ = false;
  bool refused_ = false;
  bool lastCutShort_ = false;
  std::vector<std::string> texts_;
};

}  // namespace

bool WalkNames::EntryOf(uint32_t row, uint32_t* entry) const {
  for (uint32_t n = 0; n < naming.size(); n++) {
    if (naming[n].from != NameFrom::None && naming[n].row == row) {
      *entry = n;
      return true;
    }
  }
  return false;
}

size_t WalkNames::Count(NameFrom from) const {
  size_t count = 0;
  for (const EntryNaming& n : naming) count += n.from == from ? 1 : 0;
  return count;
}

WalkNames NamesByIndex(uint64_t entries, uint64_t rows) {
  WalkNames names;
  names.rows = rows;
  names.indexSound = true;
  names.naming.resize(entries);
  for (uint64_t n = 0; n < entries && n < rows; n++) names.naming[n] = EntryNaming{NameFrom::Index, uint32_t(n)};
  return names;
}

bool SurveyNames(const ArchiveFile* archive, int64_t rows, bool indexSound, SalvageReads reads, unsigned threads,
                 WalkNames* names) {
  Survey survey(rows, indexSound, ArchiveFileSize(archive));
  WorkAhead engine(threads);
  if (!ArchiveSalvageOf(archive, survey, reads, &engine)) return false;
  *names = survey.Names();
  return true;
}

bool SurveyNames(const std::string& path, int64_t rows, bool indexSound, SalvageReads reads, unsigned threads,
                 WalkNames* names) {
  ArchiveFile* archive = ArchiveFileOpen(path.c_str(), ARCHIVE_WALK_NONE);
  if (archive == nullptr) return false;
  bool surveyed = SurveyNames(archive, rows, indexSound, reads, threads, names);
  ArchiveFileClose(archive);
  return surveyed;
}

bool NamesFromPlainReading(const std::string& path, WalkNames* names) {
  ArchiveSession session;
  std::string error;
  if (!session.Open(path, &error)) return false;
  EntryOutcome outcome;
  OpenedIndex index;
  session.ReadIndex(&outcome, &index.facts);
  if (outcome != EntryOutcome::Read || index.facts.damaged) return false;
  PlainReading plain = ReadPlainly(session, index);
  size_t rows = session.Rows().size();
  if (!plain.HoldsTogether() || plain.end != EntryOutcome::End || plain.entries.size() != rows) return false;
  *names = NamesByIndex(rows, rows);
  return true;
}

void NameFromOthers(WalkNames* names, const std::vector<std::string>& rows, bool indexSound,
                    const OtherBackups& others) {
  if (!others.Given()) return;
  OtherNaming named = NameFromOtherBackups(names->naming, names->keyed, names->keys, rows, indexSound, others.backups);
  names->naming = std::move(named.naming);
  names->proofs = std::move(named.proofs);
  names->addedRows = std::move(named.addedRows);
}

std::string NameFromSaid(NameFrom from) {
  switch (from) {
    case NameFrom::Position:
      return "";
    case NameFrom::Guess:
      return "its name is a guess (past damage that may hide entries or add some)";
    default:
      return "";
  }
}
