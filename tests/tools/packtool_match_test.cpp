// Choosing rows by pattern, the collision rule within one run, names that
// hold bytes no file name should, and reading without a temporary folder.
#include <algorithm>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/tools/packtool_fixture.h"
#include "tools/rows/row_selection.h"
#include "tools/text/row_match.h"
#include "tools/text/text_encoding.h"

namespace {

TEST(PackToolMatch, PatternsCompareAsWindowsComparesNames) {
  struct Case {
    const char* pattern;
    const char* row;
    bool matches;
  };
  static const Case CASES[] = {
      {"C:\\Dokumente\\*", "C:\\Dokumente\\Brief.txt", true},
      {"C:\\Dokumente\\*", "C:\\Dokumente\\Unter\\tief\\a.doc", true},  // '*' crosses folders
      {"C:\\Dokumente\\*", "C:\\Dokumente", false},
      {"C:\\Dokumente\\*", "C:\\Daten\\Dokumente\\a", false},
      {"c:/dokumente/*", "C:\\Dokumente\\Brief.txt", true},  // '/' is '\', case folds
      {"*\\brief.TXT", "C:\\Alt\\Brief.txt", true},
      {"*.txt", "C:\\a.txt.bak", false},
      {"*.txt", ".txt", true},
      {"Brief?.txt", "Brief1.txt", true},
      {"Brief?.txt", "Brief.txt", false},
      {"Brief?.txt", "Brief12.txt", false},
      {"*", "", true},
      {"", "", true},
      {"", "a", false},
      {"a*b*c", "axxbyyc", true},
      {"a*b*c", "axxbyy", false},
      {"*a*a*a*a*b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", false},
      // Windows-1252 letters fold as well: Ä/ä, Ö/ö, Ü/ü, É/é, Š/š, Œ/œ, Ÿ/ÿ.
      {"\xC4\xD6\xDC\xC9", "\xE4\xF6\xFC\xE9", true},
      {"\xE4\xF6\xFC\xE9", "\xC4\xD6\xDC\xC9", true},
      {"\x8A\x8C\x9F", "\x9A\x9C\xFF", true},
      {"\xD7", "\xF7", false},  // multiplication and division signs are no pair
      {"\xDF", "ss", false},    // sharp s stays one letter
      {"?", "\xE4", true},
  };
  for (const Case& c : CASES) {
    EXPECT_EQ(RowMatches(c.pattern, c.row), c.matches) << "\"" << c.pattern << "\" on \"" << c.row << "\"";
  }
}

TEST(PackToolMatch, TypedUtf8BecomesWindows1252) {
  std::string out;
  EXPECT_TRUE(Utf8ToWindows1252("C:\\\xC3\x84nderung\\\xE2\x82\xAC*", &out));
  EXPECT_EQ(out, "C:\\\xC4nderung\\\x80*");
  EXPECT_FALSE(Utf8ToWindows1252("\xE4", &out));               // not UTF-8
  EXPECT_FALSE(Utf8ToWindows1252("\xE2\x82", &out));           // cut short
  EXPECT_FALSE(Utf8ToWindows1252("\xE4\xB8\xAD", &out));       // a character 1252 lacks
  EXPECT_FALSE(Utf8ToWindows1252("\xF0\x9F\x98\x80", &out));   // beyond 16 bits
  EXPECT_FALSE(Utf8ToWindows1252("\xC0\xAF", &out));           // overlong '/'
  // UTF-8 whatever the locale (LC_ALL=C: no code page known); other bytes
  // as they are where the locale is not UTF-8 either; Windows' are 1252.
  std::string why;
  EXPECT_TRUE(TypedAsRowText("*\xC3\xBC*", PLATFORM_CODE_PAGE_UNKNOWN, &out, &why) && out == "*\xFC*");
  EXPECT_TRUE(TypedAsRowText("*\xFC*", PLATFORM_CODE_PAGE_UNKNOWN, &out, &why) && out == "*\xFC*");
  EXPECT_FALSE(TypedAsRowText("*\xFC*", PLATFORM_CODE_PAGE_UTF8, &out, &why));
  EXPECT_FALSE(TypedAsRowText("\xE4\xB8\xAD", PLATFORM_CODE_PAGE_UNKNOWN, &out, &why));
  EXPECT_TRUE(TypedAsRowText("*\xC3\xBC*", PLATFORM_CODE_PAGE_1252, &out, &why) && out == "*\xC3\xBC*");
}

// A name ends a row's path in whole parts, or names a folder on it; a
// pattern that names a folder takes what is inside it.
TEST(PackToolMatch, NamesAndFolderPatternsTakeWholePathParts) {
  struct Case {
    ChooseBy by;
    const char* typed;
    const char* row;
    bool chooses;
  };
  static const Case CASES[] = {
      {ChooseBy::Name, "Bank.doc", "C:\\Briefe\\Bank.doc", true},
      {ChooseBy::Name, "Briefe\\Bank.doc", "C:\\Briefe\\Bank.doc", true},
      {ChooseBy::Name, "briefe/bank.doc", "C:\\Briefe\\Bank.doc", true},
      {ChooseBy::Name, "\\Bank.doc", "C:\\Briefe\\Bank.doc", true},
      {ChooseBy::Name, "ank.doc", "C:\\Briefe\\Bank.doc", false},  // part of a name
      {ChooseBy::Name, "Briefe", "C:\\Briefe\\Bank.doc", true},    // a folder's name: the rows inside
      {ChooseBy::Name, "riefe", "C:\\Briefe\\Bank.doc", false},    // part of a folder's name
      {ChooseBy::Name, "B*.doc", "C:\\Briefe\\B*.doc", true},      // no wildcards in a name
      {ChooseBy::Name, "Bank.doc", "C:Bank.doc", true},
      {ChooseBy::Name, "\xC4nderung.txt", "C:\\\xE4nderung.txt", true},
      {ChooseBy::Pattern, "C:\\Users\\Anna\\Briefe", "C:\\Users\\Anna\\Briefe\\Bank.doc", true},
      {ChooseBy::Pattern, "C:\\Users\\Anna\\Briefe\\", "C:\\Users\\Anna\\Briefe\\Alt\\a.doc", true},
      {ChooseBy::Pattern, "c:/users/anna/briefe//", "C:\\Users\\Anna\\Briefe\\Bank.doc", true},
      {ChooseBy::Pattern, "C:\\Users\\Anna\\Briefe", "C:\\Users\\Anna\\Briefe2\\Bank.doc", false},
      {ChooseBy::Pattern, "*\\Briefe", "D:\\x\\Briefe\\Bank.doc", true},
  };
  for (const Case& c : CASES) {
    std::vector<uint32_t> chosen;
    std::vector<size_t> unmatched;
    MatchRows({c.typed}, c.by, {c.row}, &chosen, &unmatched);
    EXPECT_EQ(chosen.size(), c.chooses ? 1u : 0u) << "\"" << c.typed << "\" on \"" << c.row << "\"";
  }
}

TEST(PackToolMatch, EachPatternThatChoosesNothingIsKnown) {
  std::vector<std::string> rows{"C:\\Index.txt", "C:\\A\\x.txt", "C:\\B\\y.doc"};
  std::vector<uint32_t> chosen;
  std::vector<size_t> unmatched;
  MatchRows({"*.txt", "*.pdf", "*\\b\\*"}, ChooseBy::Pattern, rows, &chosen, &unmatched);
  EXPECT_EQ(chosen, (std::vector<uint32_t>{0, 1, 2}));
  EXPECT_EQ(unmatched, std::vector<size_t>{1});
}

TEST(PackToolMatch, NamesNeverHoldUndefinedOrControlBytes) {
  EXPECT_EQ(FileNameBytes("a\x81" "b\x8D\x8F\x90\x9D\x7F" "c\xE4\x80"), "a_b_____c\xE4\x80");
}

// The rows of the process tests below.
std::vector<PackEntry> FolderArchive() {
  std::vector<std::string> rows{"C:\\Sicherung\\Index.txt", "C:\\Dokumente\\Brief.txt",
                                "C:\\Dokumente\\\xC4nderung\\Plan.txt", "C:\\Daten\\Brief.txt",
                                "C:\\Dokumente2\\x.txt"};
  std::vector<PackEntry> entries{StoredEntry(B(Index(rows)))};
  for (size_t row = 1; row < rows.size(); row++) entries.push_back(StoredEntry(B("entry " + std::to_string(row))));
  return entries;
}

TEST_F(PackToolCli, MatchRestoresAFolderWithTheFoldersBelowIt) {
  WriteEntries("b.zip", FolderArchive());
  ToolRun run = Run({"extract", "b.zip", "--match", "C:\\Dokumente\\*", "-d", "rescue"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  // Files() spells names in UTF-8 in both builds.
  EXPECT_EQ(Files(), (std::set<std::string>{"b.zip", "rescue/Dokumente/Brief.txt",
                                            "rescue/Dokumente/\xC3\x84nderung/Plan.txt"}));
  EXPECT_CONTAINS(run.err, "2 files written (14 bytes)");

  // Case and '/' for '\', typed on a UTF-8 terminal; several patterns.
#ifdef _WIN32
  const char* typed = "c:/dokumente/\xE4*";
#else
  const char* typed = "c:/dokumente/\xC3\xA4*";
#endif
  run = Run({"list", "b.zip", "--match", typed, "--match", "*daten*", "--raw"}, "C.UTF-8");
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "C:\\Dokumente\\\xC4nderung\\Plan.txt\nC:\\Daten\\Brief.txt\n");
  run = Run({"cat", "b.zip", "--match", "*plan.TXT"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "entry 2");
  run = Run({"cat", "b.zip", "--match", "*brief.txt"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_CONTAINS(run.err, "2 rows");
  run = Run({"verify", "b.zip", "--match", "*\\Brief.txt"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_CONTAINS(run.out,
                  "5 entries, 5 rows, 2 entries checked: no damage found (14 bytes unpacked): 0 entries proven by a "
                  "checksum, 2 only");
}

TEST_F(PackToolCli, APatternThatMatchesNothingIsNamedAfterTheRest) {
  WriteEntries("b.zip", FolderArchive());
  ToolRun run = Run({"extract", "b.zip", "--match", "*.pdf", "--match", "*\\x.txt", "-d", "out", "--quiet"});
  EXPECT_EQ(run.exitCode, 3);
  std::string err = run.err;
  err.erase(std::remove(err.begin(), err.end(), '\r'), err.end());  // the Windows console's line ends
  EXPECT_EQ(err, "packtool: no row matches \"*.pdf\"\n");            // --quiet: no summary
  EXPECT_EQ(S(Read("out/Dokumente2/x.txt")), "entry 4");
  run = Run({"list", "b.zip", "--match", "nothing"});
  EXPECT_EQ(run.exitCode, 3);
  EXPECT_EQ(run.out, "");
}

TEST_F(PackToolCli, AFileWrittenInTheRunIsNeverReplaced) {
  std::vector<std::string> rows{"Index.txt", "C:\\Alt\\Brief.txt", "C:\\Neu\\Brief.txt", "C:\\x\\brief.TXT"};
  std::vector<PackEntry> entries{StoredEntry(B(Index(rows))), StoredEntry(B("alt")), StoredEntry(B("neu")),
                                 StoredEntry(B("x"))};
  WriteEntries("same.zip", entries);
  Write("Brief.txt", B("before the run"));
  ToolRun run = Run({"extract", "same.zip", "1", "2", "3", "--force", "--flat"});
  EXPECT_EQ(run.exitCode, 5) << run.err;
  EXPECT_EQ(S(Read("Brief.txt")), "alt");  // --force replaced what was there before
  EXPECT_CONTAINS(run.err, "row 2 (\"C:\\Neu\\Brief.txt\"): \"Brief.txt\" is the target of row 1");
#ifdef _WIN32
  EXPECT_CONTAINS(run.err, "row 3 (\"C:\\x\\brief.TXT\"): \"brief.TXT\" is the target of row 1");
#endif
  // Without --flat every row keeps its folder, so nothing collides.
  run = Run({"extract", "same.zip", "1", "2", "3", "-d", "out", "--json"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(S(Read("out/Neu/Brief.txt")), "neu");
  JsonDocument report = Document(run.out);
  EXPECT_EQ(Keys(report), (std::vector<std::string>{"written", "kept", "refused", "damaged", "failed", "exitCode"}));
  EXPECT_EQ(report["written"].size(), 3u);
  EXPECT_EQ(report["written"][0], (JsonDocument{{"row", 1},
                                                {"text", "C:\\Alt\\Brief.txt"},
                                                {"nameFrom", "index"},
                                                {"target", fs::path("out/Alt/Brief.txt").make_preferred().string()},
                                                {"size", 3}}));
  for (const char* list : {"kept", "refused", "damaged", "failed"})
    EXPECT_EQ(report[list], JsonDocument::array()) << list;
  EXPECT_EQ(report["exitCode"], 0);
}

TEST_F(PackToolCli, UndefinedBytesInARowBecomeUnderscores) {
  std::vector<std::string> rows{"Index.txt", "C:\\a\x81\x9D\x7F.txt", "C:\\Br\xE4" "f.txt"};
  WriteEntries("odd.zip", {StoredEntry(B(Index(rows))), StoredEntry(B("odd")), StoredEntry(B("umlaut"))});
  ToolRun run = Run({"extract", "odd.zip", "1", "2", "-d", "out"}, "C");
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(Files(), (std::set<std::string>{"odd.zip", "out/a___.txt", "out/Br\xC3\xA4" "f.txt"}));
  Write("out/a___.txt", B("kept"));
  run = Run({"extract", "odd.zip", "1", "-d", "out"}, "C");
  EXPECT_EQ(run.exitCode, 5);
  EXPECT_CONTAINS(run.err, "C:\\a\\x81\\x9D\\x7F.txt");  // the row, escaped
  EXPECT_EQ(run.err.find('\x81'), std::string::npos);
}

TEST_F(PackToolCli, ReadingNeedsNoTemporaryFolder) {
  WriteEntries("b.zip", FolderArchive());
  fs::create_directories(base_ / "readonly");
  fs::permissions(base_ / "readonly", fs::perms::owner_read | fs::perms::owner_exec);
  std::string missing = (base_ / "missing").string();
  std::string readOnly = (base_ / "readonly").string();
#ifdef _WIN32
  static const char* const NAMES[] = {"TMP", "TEMP"};
#else
  static const char* const NAMES[] = {"TMPDIR"};
#endif
  for (const char* folder : {static_cast<const char*>(nullptr), missing.c_str(), readOnly.c_str()}) {
    ToolRunOptions options;
    options.folder = (base_ / "work").string();
    for (const char* name : NAMES) options.environment.emplace_back(name, folder);
    std::string which = folder == nullptr ? "unset" : folder;
    ToolRun run = RunPackTool({"list", "b.zip", "--raw"}, options);
    EXPECT_EQ(run.exitCode, 0) << which << run.err;
    EXPECT_CONTAINS(run.out, "C:\\Daten\\Brief.txt\n");
    run = RunPackTool({"cat", "b.zip", "3"}, options);
    EXPECT_EQ(run.exitCode, 0) << which << run.err;
    EXPECT_EQ(run.out, "entry 3");
    run = RunPackTool({"verify", "b.zip"}, options);
    EXPECT_EQ(run.exitCode, 0) << which << run.err;
    EXPECT_CONTAINS(run.out, "5 entries, 5 rows: no damage found");
  }
  EXPECT_FALSE(fs::exists(base_ / "missing"));
  EXPECT_TRUE(fs::is_empty(base_ / "readonly"));
  fs::permissions(base_ / "readonly", fs::perms::owner_all);
}

TEST_F(PackToolCli, CountsOfOneAreSingular) {
  WriteEntries("one.zip", {StoredEntry(B("Index.txt\r\nC:\\a.txt\r\nC:\\b.txt\r\n")), StoredEntry(B("a"))});
  Bytes archive = Read("one.zip");
  archive.push_back(0);
  Write("one.zip", archive);
  ToolRun run = Run({"verify", "one.zip"});
  EXPECT_EQ(run.exitCode, 4);
  EXPECT_CONTAINS(run.out, "1 stray byte at the end");
  EXPECT_CONTAINS(run.out, "row 2 has no entry: the archive holds 2 entries");
  WriteEntries("single.zip", {StoredEntry(B("Index.txt\r\n"))});
  run = Run({"verify", "single.zip"});
  EXPECT_CONTAINS(
      run.out,
      "1 entry, 1 row: no damage found (11 bytes unpacked): 0 entries proven by a checksum, 1 only complete in length");
}

}  // namespace

namespace {

// A name chooses every row whose path ends with it; a name that chooses none
// is named with what else there is; -o takes the one row a name chose;
// rescue salvages the file a name chose and nothing else.
TEST_F(PackToolCli, NamesChooseRowsByTheEndOfTheirPath) {
  WriteEntries("b.zip", FolderArchive());
#ifdef _WIN32
  const char* plan = "\xC4nderung\\plan.TXT";  // arguments come in the ANSI code page
#else
  const char* plan = "\xC3\x84nderung/plan.TXT";
#endif
  ToolRun run = Run({"extract", "b.zip", "Brief.txt", plan, "-d", "out"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(Files(), (std::set<std::string>{"b.zip", "out/Dokumente/Brief.txt", "out/Daten/Brief.txt",
                                            "out/Dokumente/\xC3\x84nderung/Plan.txt"}));
  run = Run({"extract", "b.zip", "rief.txt", "4", "-d", "none"});
  EXPECT_EQ(run.exitCode, 3);
  EXPECT_CONTAINS(run.err, "no row is named \"rief.txt\" (a name ends a row's path or names a folder in it; --match takes wildcards");
  EXPECT_EQ(S(Read("none/Dokumente2/x.txt")), "entry 4");
  EXPECT_EQ(Run({"extract", "b.zip", "Plan.txt", "-o", "plan.txt"}).exitCode, 0);
  EXPECT_EQ(S(Read("plan.txt")), "entry 2");
  run = Run({"extract", "b.zip", "Brief.txt", "-o", "two.txt"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_CONTAINS(run.err, "choose 2 rows; -o writes exactly one");
#ifndef _WIN32
  // Typed in UTF-8 under LC_ALL=C, as from cron.
  run = Run({"list", "b.zip", "--match", "*\xC3\xA4*", "--raw"}, "C");
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "C:\\Dokumente\\\xC4nderung\\Plan.txt\n");
#endif
  run = Run({"rescue", "b.zip", "Plan.txt", "-d", "saved", "--json", "-q"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(Files().count("saved/Dokumente/\xC3\x84nderung/Plan.txt"), 1u);
  EXPECT_EQ(Files().count("saved/Dokumente/Brief.txt"), 0u);
  JsonDocument rescued = Document(run.out);
  ASSERT_EQ(rescued["entries"].size(), 1u);
  EXPECT_EQ(rescued["entries"][0]["row"], 2);
}

// An extract --all that failed part way goes on with --skip-existing: what
// is there is kept (also what was changed since), the rest is written.
TEST_F(PackToolCli, SkipExistingGoesOnAfterAnInterruptedRun) {
  std::vector<std::string> rows{"Index.txt", "C:\\Daten\\a.txt", "C:\\Daten\\gross.bin", "C:\\Daten\\z.txt"};
  Bytes large = SampleData(300000, 7);
  WriteEntries("r.zip",
               {StoredEntry(B(Index(rows))), StoredEntry(B("a")), CompressedEntry(large), StoredEntry(B("z"))});
#ifndef _WIN32
  // A file size limit fails the large file's write, like a full disk.
  ToolRun run = Run({"extract", "r.zip", "--all", "-d", "out"}, "", 100000);
  EXPECT_EQ(run.exitCode, 6) << run.err;
#else
  ToolRun run = Run({"extract", "r.zip", "0", "a.txt", "z.txt", "-d", "out"});  // what an ended run left
#endif
  ASSERT_FALSE(Exists("out/Daten/gross.bin"));
  Write("out/Daten/a.txt", B("changed since"));
  run = Run({"extract", "r.zip", "--all", "-d", "out", "-n", "--json"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(Read("out/Daten/gross.bin"), large);
  EXPECT_EQ(S(Read("out/Daten/a.txt")), "changed since");
  JsonDocument report = Document(run.out);
  ASSERT_EQ(report["written"].size(), 1u);
  EXPECT_EQ(report["written"][0]["row"], 2);
  ASSERT_EQ(report["kept"].size(), 3u);
  EXPECT_EQ(report["kept"][1]["target"], fs::path("out/Daten/a.txt").make_preferred().string());
  // -q says nothing of a file kept, nor of one refused: the exit code does.
  run = Run({"extract", "r.zip", "--all", "-d", "out", "-n", "-q"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, "");
  run = Run({"extract", "r.zip", "a.txt", "-d", "out", "-q"});
  EXPECT_EQ(run.exitCode, 5);
  EXPECT_EQ(run.err, "");
}

}  // namespace
