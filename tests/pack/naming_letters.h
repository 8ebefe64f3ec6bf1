// The namings of entries past damage as the tables write them: a letter for
// where each name came from (i: index, p: position, g: guess, o: another
// backup, -: none), followed by its row where it has one.
#pragma once

#include <string>
#include <vector>

#include "pack/entry_names.h"

inline std::string Said(const std::vector<EntryNaming>& naming) {
  std::string said;
  for (const EntryNaming& n : naming) {
    const char letters[] = {'i', 'p', 'g', 'o', '-'};
    said += letters[int(n.from)];
    if (n.from != NameFrom::None) said += std::to_string(n.row);
    said += ' ';
  }
  return said;
}
