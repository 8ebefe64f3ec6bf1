// The names of a damaged archive's entries: a first salvage walk finds where
// the order of the entries breaks and how many there are, so that the walk
// that reads them knows, for each entry as it comes, which row names it and
// whether that is proven (see pack/entry_names.h). The first walk decodes
// what the walk must decode to find the entries; it keeps no bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pack/entry_names.h"
#include "pack/names_from.h"
#include "pack/salvage.h"

struct OtherBackups;

// The folder beside the rows' tree that extract, rescue and the mount put
// entries whose name is a guess in, below their guessed row's path.
constexpr const char* UNPROVEN_FOLDER = "names-unproven";

struct WalkNames {
  std::vector<EntryNaming> naming;  // one per entry the walk found
  uint64_t rows = 0;
  bool indexSound = false;
  bool surveyedAll = true;  // false: the survey ended early (a read refused); the entries after it are guesses
  // Each entry's content key where the walk gave it whole (SalvagedContentKey).
  std::vector<bool> keyed;
  std::vector<ContentKey> keys;
  // The rows the survey took from the walk's entry 0 (of a damaged index,
  // the plausible ones), when it took them.
  std::vector<std::string> texts;
  // Named from other backups (NameFromOthers): what proves each entry so
  // named, and the rows their texts added after the archive's own.
  std::vector<OtherProof> proofs;
  std::vector<std::string> addedRows;

  OtherProof ProofOf(uint32_t entry) const { return entry < proofs.size() ? proofs[entry] : OtherProof{}; }

  EntryNaming Of(uint32_t entry) const {
    if (entry < naming.size()) return naming[entry];
    if (!surveyedAll && entry < rows) return EntryNaming{NameFrom::Guess, entry};
    return EntryNaming{};
  }
  // The entry whose naming gives row, or false.
  bool EntryOf(uint32_t row, uint32_t* entry) const;
  size_t Count(NameFrom from) const;
};

// Every entry named by the row of its number, as a sound archive has it.
WalkNames NamesByIndex(uint64_t entries, uint64_t rows);

// Walks the archive at path once. rows and indexSound: what its index said
// (negative rows: take them from the walk's entry 0). False when it cannot
// be opened.
bool SurveyNames(const ArchiveFile* archive, int64_t rows, bool indexSound, SalvageReads reads, unsigned threads,
                 WalkNames* names);
// The same, the archive at path opened for it.
bool SurveyNames(const std::string& path, int64_t rows, bool indexSound, SalvageReads reads, unsigned threads,
                 WalkNames* names);

// Whether the archive's plain reading by headers holds together with a
// sound index and an entry for every row: then no walk is needed to name
// its entries (*names by index). Says nothing.
bool NamesFromPlainReading(const std::string& path, WalkNames* names);

// Names the entries the other backups prove (see pack/names_from.h). rows:
// the rows the command trusts; the rows added to them are in addedRows.
void NameFromOthers(WalkNames* names, const std::vector<std::string>& rows, bool indexSound,
                    const OtherBackups& others);

// The text reports add to an entry's line: "" when its row is proven.
std::string NameFromSaid(NameFrom from);
