#include "pack/entry_names.h"

#include <algorithm>
#include <cstddef>

std::vector<EntryNaming> NameEntries(const std::vector<WalkedPlace>& entries, uint64_t rows, bool indexSound,
                                     bool endWhole) {
  const uint64_t count = entries.size();
  std::vector<bool> broken(count);
  for (uint64_t n = 0; n < count; n++) broken[n] = entries[n].breaksOrder;
  // More entries than rows: the extra ones are most often zeros read as
  // empty files, so no empty entry is taken as proof of its place.
  if (indexSound && count > rows) {
    for (uint64_t n = 1; n < count; n++) broken[n] = broken[n] || entries[n].empty;
  }
  uint64_t first = count, last = 0;
  for (uint64_t n = 0; n < count; n++) {
    if (!broken[n]) continue;
    first = std::min(first, n);
    last = n;
  }
  std::vector<EntryNaming> naming(count);
  auto fromStart = [&](uint64_t n, NameFrom from, uint64_t below) {
    if (n < below) naming[n] = EntryNaming{from, uint32_t(n)};
  };
  for (uint64_t n = 0; n < std::min(first, count); n++) fromStart(n, NameFrom::Index, rows);
  if (first == count) return naming;

  // The rows left for the damage once the tail is counted back from the end.
  uint64_t tail = count - last - 1;
  bool tailCounted = indexSound && endWhole && rows >= first + tail;
  uint64_t tailStart = tailCounted ? rows - tail : rows;
  if (tailCounted) {
    for (uint64_t n = last + 1; n < count; n++)
      naming[n] = EntryNaming{NameFrom::Position, uint32_t(tailStart + n - last - 1)};
  }
  // One region of damage with as many entries as the rows left for it:
  // each of its entries stands where the counts from both ends put it.
  bool oneRegion = std::all_of(broken.begin() + std::ptrdiff_t(first), broken.begin() + std::ptrdiff_t(last) + 1,
                               [](bool b) { return b; });
  bool fits = tailCounted && oneRegion && tailStart - first == last - first + 1;
  for (uint64_t n = first; n <= last; n++) fromStart(n, fits ? NameFrom::Position : NameFrom::Guess, tailStart);
  if (!tailCounted) {
    for (uint64_t n = last + 1; n < count; n++) fromStart(n, NameFrom::Guess, tailStart);
  }
  return naming;
}

const char* NameFromWord(NameFrom from) {
  switch (from) {
    case NameFrom::Index:
      return "index";
    case NameFrom::Position:
      return "position";
    case NameFrom::Guess:
      return "guess";
    case NameFrom::OtherBackup:
      return "other backup";
    default:
      return "none";
  }
}
