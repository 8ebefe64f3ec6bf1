// Which row names each entry past damage: a table of walks (D: an entry
// whose place breaks the order, E: an empty entry, .: any other) and the
// naming each must get (i: index, p: position, g: guess, -: none).
#include "pack/entry_names.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/pack/naming_letters.h"

namespace {

std::vector<WalkedPlace> Places(const std::string& walk) {
  std::vector<WalkedPlace> places;
  for (char c : walk) places.push_back(WalkedPlace{c == 'D', c == 'E'});
  return places;
}

TEST(EntryNames, FromBothEndsAndAGuessBetween) {
  struct Case {
    const char* what;
    const char* walk;
    uint64_t rows;
    bool indexSound;
    bool endWhole;
    const char* expected;
  } cases[] = {
      {"sound", "....", 4, true, true, "i0 i1 i2 i3 "},
      {"empty files in a row stay", ".EE.", 4, true, true, "i0 i1 i2 i3 "},
      {"one region as long as its rows", "..D..", 5, true, true, "i0 i1 p2 p3 p4 "},
      {"one region hiding two rows", "..D..", 7, true, true, "i0 i1 g2 p5 p6 "},
      {"no whole end: a guess after the damage", "..D..", 7, true, false, "i0 i1 g2 g3 g4 "},
      {"a damaged index: no count from the end", "..D..", 5, false, true, "i0 i1 g2 g3 g4 "},
      {"two regions: a guess between", ".D..D.", 6, true, true, "i0 g1 g2 g3 g4 p5 "},
      {"more entries than rows: empty ones are no proof", ".EE..", 4, true, true, "i0 g1 - p2 p3 "},
      {"counts that do not fit name nothing from the end", ".D....", 3, true, true, "i0 g1 g2 - - - "},
      {"entries past a sound index's rows have none", "....", 3, true, true, "i0 i1 i2 - "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Said(NameEntries(Places(c.walk), c.rows, c.indexSound, c.endWhole)), c.expected);
  }
}

}  // namespace
