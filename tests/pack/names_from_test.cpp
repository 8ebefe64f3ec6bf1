// Names proven by another backup: tables of an archive's namings by its own
// counts (i, p, g with their rows, - for none), its entries' keys (a letter
// each, '.' for none) and the other backup's rows ("text:key" words), and
// the namings that must come of them (o: named from the other backup).
#include "pack/names_from.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/pack/naming_letters.h"

namespace {

std::vector<EntryNaming> Namings(const std::string& said) {
  std::vector<EntryNaming> namings;
  std::istringstream words(said);
  std::string word;
  while (words >> word) {
    NameFrom from = word[0] == 'i'   ? NameFrom::Index
                    : word[0] == 'p' ? NameFrom::Position
                    : word[0] == 'g' ? NameFrom::Guess
                                     : NameFrom::None;
    namings.push_back(EntryNaming{from, from == NameFrom::None ? 0u : uint32_t(std::stoul(word.substr(1)))});
  }
  return namings;
}

ContentKey Key(char letter) {
  return ContentKey{CONTENT_KEY_STREAM_CHECKSUM, 100, uint64_t(letter)};
}

// "a:x b:y": rows a and b with keys x and y ('.' none); row 0 is the index.
OtherBackup Other(const std::string& words) {
  OtherBackup other;
  other.rows.push_back("index");
  other.keyed.push_back(false);
  other.keys.push_back(Key('.'));
  std::istringstream in(words);
  std::string word;
  while (in >> word) {
    other.rows.push_back(word.substr(0, word.find(':')));
    char key = word.back();
    other.keyed.push_back(key != '.');
    other.keys.push_back(Key(key));
  }
  other.IndexRows();
  return other;
}

TEST(NamesFrom, KeysAndStretchesProveRows) {
  struct Case {
    const char* what;
    const char* naming;  // by the archive's own counts
    const char* keys;    // one letter per entry, entry 0 first
    const char* rows;    // the archive's trusted rows after row 0
    bool indexSound;
    const char* other;
    const char* expected;
    const char* added;  // rows added, space-separated
  } cases[] = {
      {"a key matched once proves its row", "i0 g1 g2 g3 p4", "..x..", "a b c d", true, "a:. b:. c:x d:.",
       "i0 g1 o3 - p4 ", ""},
      {"between proven neighbours, by place", "i0 i1 g2 g3 g4 g5 p6", "..x..y.", "a b c d e f", true,
       "a:. b:x c:. d:. e:y f:.", "i0 i1 o2 o3 o4 o5 p6 ", ""},
      {"a stretch whose counts do not fit stays a guess", "i0 i1 g2 g3 g4 g5", "..x..y", "a b c d e f g", true,
       "a:. b:x c:. d:. e:. f:y", "i0 i1 o2 g3 g4 o6 ", ""},
      {"a key two entries share proves nothing", "i0 g1 g2 g3", ".xx.", "a b c", true, "a:x b:. c:.", "i0 g1 g2 g3 ",
       ""},
      {"a key two rows of the other share proves nothing", "i0 g1 g2", "..x", "a b", true, "a:x b:x", "i0 g1 g2 ", ""},
      {"a sound index without the other's text: renamed since", "i0 g1 g2", "..x", "a b", true, "a:. z:x", "i0 g1 g2 ",
       ""},
      {"a damaged index: the other's texts become rows", "i0 i1 - - -", "..x.y", "a", false, "a:. b:x c:. d:y",
       "i0 i1 o2 o3 o4 ", "b c d"},
      {"a damaged index: a stretch counted in the other's rows", "i0 - - - -", ".x..y", "", false, "a:x b:. c:. d:y",
       "i0 o1 o2 o3 o4 ", "a b c d"},
      {"the archive's own proof stands", "i0 i1 p2", ".x.", "a b", true, "a:. b:x", "i0 i1 p2 ", ""},
      {"from the last entry the index names to a match", "i0 g1 g2 g3", "...x", "a b c", true, "a:. b:. c:x",
       "i0 o1 o2 o3 ", ""},
      {"two backups agreeing on a text count once", "i0 g1 g2", "..x", "a b", true, "a:. b:x", "i0 o1 o2 ", ""},
      {"no other backup: nothing changes", "i0 g1 g2", "..x", "a b", true, "", "i0 g1 g2 ", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> rows{"index"};
    std::istringstream in(c.rows);
    for (std::string row; in >> row;) rows.push_back(row);
    std::vector<bool> keyed;
    std::vector<ContentKey> keys;
    for (const char* at = c.keys; *at != 0; at++) {
      keyed.push_back(*at != '.');
      keys.push_back(Key(*at));
    }
    std::vector<OtherBackup> others;
    if (*c.other != 0) others.push_back(Other(c.other));
    if (std::string(c.what).rfind("two backups", 0) == 0) others.push_back(Other(c.other));
    OtherNaming named = NameFromOtherBackups(Namings(c.naming), keyed, keys, rows, c.indexSound, others);
    EXPECT_EQ(Said(named.naming), c.expected);
    std::string added;
    for (const std::string& row : named.addedRows) added += (added.empty() ? "" : " ") + row;
    EXPECT_EQ(added, c.added);
  }
}

TEST(NamesFrom, AMatchSaysWhereItCameFrom) {
  std::vector<OtherBackup> others{Other("a:."), Other("a:. b:. c:x")};
  OtherNaming named = NameFromOtherBackups(Namings("i0 g1 g2"), {false, false, true}, {Key('.'), Key('.'), Key('x')},
                                           {"index", "a", "c"}, true, others);
  ASSERT_EQ(named.naming[2].from, NameFrom::OtherBackup);
  EXPECT_TRUE(named.proofs[2].matched);
  EXPECT_EQ(named.proofs[2].backup, 1u);
  EXPECT_EQ(named.proofs[2].row, 3u);
}

TEST(NamesFrom, WhatTheOthersHoldOfARow) {
  std::vector<OtherBackup> others{Other("a:x b:y")};
  struct Case {
    const char* text;
    char key;
    OtherHolds expected;
  } cases[] = {{"a", 'x', OtherHolds::Same}, {"b", 'x', OtherHolds::Differs}, {"c", 'x', OtherHolds::Nothing}};
  for (const Case& c : cases) {
    uint32_t backup = 9;
    EXPECT_EQ(OtherBackupsHold(others, c.text, Key(c.key), &backup), c.expected) << c.text;
    if (c.expected == OtherHolds::Same) {
      EXPECT_EQ(backup, 0u);
    }
  }
}

TEST(NamesFrom, TheKeyOfASalvagedEntry) {
  const unsigned char bytes[] = "abcdefgh";
  struct Case {
    const char* what;
    bool stored, checked;
    SalvageState state;
    uint32_t recovered;
    bool keyed;
    ContentKeyKind kind;
  } cases[] = {
      {"stored, whole", true, false, SalvageState::Sound, 8, true, CONTENT_KEY_STORED_BYTES},
      {"compressed, checked", false, true, SalvageState::Sound, 8, true, CONTENT_KEY_STREAM_CHECKSUM},
      {"compressed without a checksum", false, false, SalvageState::Sound, 8, false, CONTENT_KEY_DECODED},
      {"partial", true, false, SalvageState::Partial, 4, false, CONTENT_KEY_DECODED},
      {"damaged", false, false, SalvageState::Damaged, 8, false, CONTENT_KEY_DECODED},
  };
  for (const Case& c : cases) {
    SalvagedEntry entry{};
    entry.unpackedSize = 8;
    entry.stored = c.stored;
    entry.checked = c.checked;
    entry.state = c.state;
    entry.bytes = bytes;
    entry.recovered = c.recovered;
    ContentKey key{};
    EXPECT_EQ(SalvagedContentKey(entry, &key), c.keyed) << c.what;
    if (c.keyed) {
      EXPECT_EQ(key.kind, c.kind) << c.what;
    }
  }
}

}  // namespace
