// Which row of the index names each entry the salvage walk found, and how
// sure that is. Row r names entry r only as long as the walk's numbering is
// the archive's: damage that breaks the order (a range taken past a header
// that cannot be right, a run of zeros, a header that could not be read, an
// end cut short) may stand for more or fewer entries than it holds, so that
// every entry after it would take a neighbour's row.
//
// The entries before the first such damage are named by counting from the
// start ("index"). When the index is sound and the archive's end is whole
// (its last entry ends at the end of the file), the entries after the last
// damage are named by counting back from the end ("position"), as long as
// the counts leave the damage no fewer rows than none. Damage whose entries
// the counts prove (one region, as many entries as it has rows) is named so
// too. Everything else rests on a guess: the row counted from the start,
// never one that a proven entry holds.
#pragma once

#include <cstdint>
#include <vector>

#include "pack/salvage.h"

enum class NameFrom {
  Index,        // counted from the start, before the first damage, with a sound index
  Position,     // counted back from a whole end, after the last damage
  Guess,        // counted from the start past damage: unproven
  OtherBackup,  // proven by another backup of the same files (pack/names_from.h)
  None,         // no row names it
};

// Of each entry the walk delivered, what naming needs.
struct WalkedPlace {
  bool breaksOrder;  // its place in the walk's numbering may not be the archive's
  bool empty;        // an empty entry (zeros read as one, or an empty file)
};

// Whether the walk's entry stands where its numbering may have slipped.
// (A last entry cut short stands where the entries before it end: only
// the end is not whole.)
inline bool SalvageBreaksOrder(const SalvagedEntry& entry) {
  return entry.rangeTaken || entry.sizeUnknown || entry.zeroed;
}

struct EntryNaming {
  NameFrom from = NameFrom::None;
  uint32_t row = 0;  // meaningless for None
};

// rows: the index's rows (entry 0 is the index); indexSound: it decoded
// whole with its checksum, so that the rows are all of them; endWhole: the
// walk ended exactly at the end of the file, past no skipped bytes.
// One naming per entry, in order.
std::vector<EntryNaming> NameEntries(const std::vector<WalkedPlace>& entries, uint64_t rows, bool indexSound,
                                     bool endWhole);

// The word for where a name came from, as reports give it.
const char* NameFromWord(NameFrom from);
