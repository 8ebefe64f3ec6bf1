// Names proven by another backup of the same files (the month before): an
// entry whose content key matches exactly one entry of another backup is
// that entry's file, so its row there gives its name. A run of such
// matches anchors a stretch: between two proven neighbours that stand as
// far apart in this archive's entries as their rows do (in this archive's
// index, or in the other backup's), every entry is named by its place
// between them, so that files changed since are named too.
//
// Content that several entries share (empty files, copies) proves nothing:
// a key counts only when it is unique among this archive's keyed entries
// and held by exactly one row of the other backups (rows of equal text in
// several backups count once).
//
// A name that the rows of this archive hold is given as that row. Where the
// index is damaged and its rows do not reach the name, the other backup's
// text becomes a row of its own, added after the archive's rows. A row a
// proven entry takes is never also a guess's: that guess is dropped.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "pack/content_key.h"
#include "pack/entry_names.h"
#include "pack/salvage.h"

// Another backup as naming needs it: row r names entry r (row 0 the index).
struct OtherBackup {
  std::vector<std::string> rows;
  std::vector<bool> keyed;  // whether entry r has a key (whole and read)
  std::vector<ContentKey> keys;
  std::map<std::string, uint32_t> byText;  // a row's text: its row, NO_ROW when several rows have it

  // Fills byText once rows are there.
  void IndexRows();
  uint32_t RowOf(const std::string& text) const {
    auto found = byText.find(text);
    return found == byText.end() ? NO_ROW : found->second;
  }
  static constexpr uint32_t NO_ROW = UINT32_MAX;
};

// Of an entry named from another backup, what proves it.
struct OtherProof {
  bool matched = false;  // its own key matched; otherwise it lies between proven neighbours
  uint32_t backup = 0;   // matched: which other backup, and its row there
  uint32_t row = 0;
};

struct OtherNaming {
  std::vector<EntryNaming> naming;  // the entries' namings, those proven by the others changed
  std::vector<OtherProof> proofs;   // one per entry; meaningful where naming says OtherBackup
  // Texts of other backups' rows that name entries but are not among the
  // archive's rows: row rows.size() + k is addedRows[k].
  std::vector<std::string> addedRows;
};

// naming: the entries' namings by the archive's own counts (NameEntries);
// keyed/keys: each entry's content key where it has one; rows: the rows
// this archive trusts (a damaged index's plausible ones), so that a naming
// past them is none; indexSound: its index decoded whole.
OtherNaming NameFromOtherBackups(const std::vector<EntryNaming>& naming, const std::vector<bool>& keyed,
                                 const std::vector<ContentKey>& keys, const std::vector<std::string>& rows,
                                 bool indexSound, const std::vector<OtherBackup>& others);

// The key of an entry the salvage walk gave, of the kind ArchiveFileContentKey
// gives for a whole one: a stored entry complete in length and without holes
// (a hash of its bytes), a compressed one whose checksum matched (its size
// and checksum). False for any other: nothing of it can be matched.
bool SalvagedContentKey(const SalvagedEntry& entry, ContentKey* key);

// What the other backups say of an entry by its row's text and key.
enum class OtherHolds {
  Nothing,  // no other backup has a row of that text with a key
  Same,     // one has it with the same key: `backup` says which
  Differs,  // they have it, every one with another key: changed since, or damaged
};
OtherHolds OtherBackupsHold(const std::vector<OtherBackup>& others, const std::string& text, const ContentKey& key,
                            uint32_t* backup);
