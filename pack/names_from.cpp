#include "pack/names_from.h"

#include <tuple>

#include "pack/decoder.h"

namespace {

constexpr uint32_t NO_ROW = OtherBackup::NO_ROW;

using KeyOrder = std::tuple<int, uint32_t, uint64_t>;
KeyOrder Order(const ContentKey& key) {
  return KeyOrder{int(key.kind), key.unpackedSize, key.value};
}

// The one row of the other backups that holds a key.
struct Holder {
  uint32_t backup;
  uint32_t row;
  bool ambiguous;
};

bool Proven(NameFrom from) {
  return from == NameFrom::Index || from == NameFrom::Position || from == NameFrom::OtherBackup;
}

class Naming {
 public:
  Naming(const std::vector<EntryNaming>& naming, const std::vector<std::string>& rows, bool indexSound,
         const std::vector<OtherBackup>& others)
      : rows_(rows), indexSound_(indexSound), others_(others) {
    out.naming = naming;
    out.proofs.resize(naming.size());
    for (uint32_t row = 0; row < rows.size(); row++) {
      auto [at, added] = rowOf_.emplace(rows[row], row);
      if (!added) at->second = NO_ROW;
    }
    for (uint32_t n = 0; n < naming.size(); n++) {
      EntryNaming& own = out.naming[n];
      if (own.from != NameFrom::None && own.row >= rows.size()) own = EntryNaming{};
      if (Proven(own.from)) claimed_.emplace(own.row, n);
    }
  }

  // Each entry of a key that only it has here and only one row has there.
  void Match(const std::vector<bool>& keyed, const std::vector<ContentKey>& keys) {
    std::map<KeyOrder, uint32_t> own;
    for (uint32_t n = 1; n < out.naming.size(); n++) {
      if (n < keyed.size() && keyed[n]) own[Order(keys[n])]++;
    }
    std::map<KeyOrder, Holder> held;
    for (uint32_t b = 0; b < others_.size(); b++) {
      const OtherBackup& other = others_[b];
      for (uint32_t row = 1; row < other.rows.size() && row < other.keyed.size(); row++) {
        if (!other.keyed[row] || own.count(Order(other.keys[row])) == 0) continue;
        auto [at, added] = held.emplace(Order(other.keys[row]), Holder{b, row, false});
        Holder& holder = at->second;
        if (!added && (holder.backup == b || others_[holder.backup].rows[holder.row] != other.rows[row]))
          holder.ambiguous = true;
      }
    }
    for (uint32_t n = 1; n < out.naming.size(); n++) {
      if (n >= keyed.size() || !keyed[n] || Proven(out.naming[n].from) || own[Order(keys[n])] != 1) continue;
      auto found = held.find(Order(keys[n]));
      if (found == held.end() || found->second.ambiguous) continue;
      const Holder& holder = found->second;
      uint32_t row = RowFor(others_[holder.backup].rows[holder.row]);
      if (row == NO_ROW || claimed_.count(row) != 0) continue;
      Assign(n, row, OtherProof{true, holder.backup, holder.row});
    }
  }

  // The entries between two proven neighbours, by their places.
  void Stretches() {
    std::vector<uint32_t> anchors;
    for (uint32_t n = 0; n < out.naming.size(); n++) {
      if (Proven(out.naming[n].from)) anchors.push_back(n);
    }
    for (size_t i = 1; i < anchors.size(); i++) {
      uint32_t first = anchors[i - 1], last = anchors[i];
      if (last - first < 2) continue;
      // Two anchors the archive's own counts gave prove nothing new: damage
      // between them may hide entries and add as many.
      if (!out.proofs[first].matched && !out.proofs[last].matched) continue;
      if (!InOwnRows(first, last)) InOtherRows(first, last);
    }
  }

  // A guess whose row a proven entry took names nothing.
  void DropTakenGuesses() {
    for (uint32_t n = 0; n < out.naming.size(); n++) {
      EntryNaming& own = out.naming[n];
      if (own.from != NameFrom::Guess) continue;
      auto taken = claimed_.find(own.row);
      if (taken != claimed_.end() && taken->second != n) own = EntryNaming{};
    }
  }

  // The added rows numbered in the order of the entries they name.
  void AddedInEntryOrder() {
    std::vector<std::string> added;
    std::map<uint32_t, uint32_t> renumbered;
    for (EntryNaming& own : out.naming) {
      if (own.from == NameFrom::None || own.row < rows_.size()) continue;
      auto [at, fresh] = renumbered.emplace(own.row, uint32_t(rows_.size() + added.size()));
      if (fresh) added.push_back(out.addedRows[own.row - rows_.size()]);
      own.row = at->second;
    }
    out.addedRows = std::move(added);
  }

  OtherNaming out;

 private:
  std::string TextOf(uint32_t row) const { return row < rows_.size() ? rows_[row] : out.addedRows[row - rows_.size()]; }

  // The row that names text: the archive's own; of a damaged index, one
  // added for it. NO_ROW when a sound index does not hold it (renamed since)
  // or several rows hold it.
  uint32_t RowFor(const std::string& text, bool add = true) {
    auto found = rowOf_.find(text);
    if (found != rowOf_.end()) return found->second;
    if (indexSound_) return NO_ROW;
    auto addedAt = addedOf_.find(text);
    if (addedAt != addedOf_.end()) return addedAt->second;
    if (!add) return uint32_t(rows_.size() + out.addedRows.size());  // where it would go
    uint32_t row = uint32_t(rows_.size() + out.addedRows.size());
    out.addedRows.push_back(text);
    addedOf_.emplace(text, row);
    return row;
  }

  void Assign(uint32_t entry, uint32_t row, OtherProof proof) {
    out.naming[entry] = EntryNaming{NameFrom::OtherBackup, row};
    out.proofs[entry] = proof;
    claimed_.emplace(row, entry);
  }

  bool Free(uint32_t row) const { return row != NO_ROW && claimed_.count(row) == 0; }

  // The stretch as the archive's own rows count it.
  bool InOwnRows(uint32_t first, uint32_t last) {
    uint32_t from = out.naming[first].row, to = out.naming[last].row;
    if (from >= rows_.size() || to >= rows_.size() || to <= from || to - from != last - first) return false;
    for (uint32_t n = first + 1; n < last; n++) {
      if (!Free(from + n - first)) return false;
    }
    for (uint32_t n = first + 1; n < last; n++) Assign(n, from + n - first, OtherProof{});
    return true;
  }

  // The stretch as another backup's rows count it, when the two anchors'
  // texts stand there as far apart as here.
  void InOtherRows(uint32_t first, uint32_t last) {
    std::string from = TextOf(out.naming[first].row), to = TextOf(out.naming[last].row);
    for (const OtherBackup& other : others_) {
      uint32_t a = other.RowOf(from), b = other.RowOf(to);
      if (a == NO_ROW || b == NO_ROW || b <= a || b - a != last - first) continue;
      std::vector<std::string> texts;
      std::map<std::string, int> seen;
      for (uint32_t n = first + 1; n < last; n++) {
        const std::string& text = other.rows[a + n - first];
        uint32_t row = RowFor(text, false);
        if (seen[text]++ > 0 || row == NO_ROW || (row < rows_.size() && !Free(row)) ||
            (row >= rows_.size() && addedOf_.count(text) != 0 && !Free(row)))
          return;
        texts.push_back(text);
      }
      for (uint32_t n = first + 1; n < last; n++) Assign(n, RowFor(texts[n - first - 1]), OtherProof{});
      return;
    }
  }

  const std::vector<std::string>& rows_;
  bool indexSound_;
  const std::vector<OtherBackup>& others_;
  std::map<std::string, uint32_t> rowOf_;    // the archive's rows by text; NO_ROW for a text several have
  std::map<std::string, uint32_t> addedOf_;  // added rows by text
  std::map<uint32_t, uint32_t> claimed_;     // rows proven entries have: the entry
};

}  // namespace

void OtherBackup::IndexRows() {
  byText.clear();
  for (uint32_t row = 0; row < rows.size(); row++) {
    auto [at, added] = byText.emplace(rows[row], row);
    if (!added) at->second = NO_ROW;
  }
}

OtherNaming NameFromOtherBackups(const std::vector<EntryNaming>& naming, const std::vector<bool>& keyed,
                                 const std::vector<ContentKey>& keys, const std::vector<std::string>& rows,
                                 bool indexSound, const std::vector<OtherBackup>& others) {
  Naming named(naming, rows, indexSound, others);
  if (others.empty()) return named.out;
  named.Match(keyed, keys);
  named.Stretches();
  named.DropTakenGuesses();
  named.AddedInEntryOrder();
  return named.out;
}

bool SalvagedContentKey(const SalvagedEntry& entry, ContentKey* key) {
  if (entry.state != SalvageState::Sound || entry.recovered != entry.unpackedSize) return false;
  if (entry.stored && !entry.rangeTaken && entry.holeCount == 0) {
    *key = ContentKey{CONTENT_KEY_STORED_BYTES, entry.unpackedSize,
                      ContentHash(CONTENT_HASH_START, entry.bytes, entry.recovered)};
    return true;
  }
  if (entry.stored || !entry.checked) return false;
  *key = ContentKey{CONTENT_KEY_STREAM_CHECKSUM, entry.unpackedSize, StreamChecksum(entry.bytes, entry.recovered)};
  return true;
}

OtherHolds OtherBackupsHold(const std::vector<OtherBackup>& others, const std::string& text, const ContentKey& key,
                            uint32_t* backup) {
  OtherHolds holds = OtherHolds::Nothing;
  for (uint32_t b = 0; b < others.size(); b++) {
    uint32_t row = others[b].RowOf(text);
    if (row == NO_ROW || row >= others[b].keyed.size() || !others[b].keyed[row]) continue;
    if (others[b].keys[row] == key) {
      *backup = b;
      return OtherHolds::Same;
    }
    holds = OtherHolds::Differs;
  }
  return holds;
}
