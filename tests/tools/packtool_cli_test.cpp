// packtool as a user runs it: a separate process on archives made by the
// test encoder, checked by its exit code, what it printed and the files it
// left. The same cases run natively and, in the win32 build, against
// packtool.exe under Wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/tools/packtool_fixture.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

TEST_F(PackToolCli, HelpAndUsageErrors) {
  ToolRun run = Run({"--help"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_CONTAINS(run.out, "exit codes:");
  EXPECT_CONTAINS(run.out, "  6  a file or standard output could not be written");
  EXPECT_EQ(Run({"help", "extract"}).exitCode, 0);
  EXPECT_CONTAINS(Run({"extract", "--help"}).out, "--force");

  for (const std::vector<std::string>& wrong :
       std::vector<std::vector<std::string>>{{},
                                             {"frobnicate", "a.zip"},
                                             {"list"},
                                             {"extract", "a.zip", "-1"},
                                             {"extract", "a.zip", "1", "2", "-o", "f"},
                                             {"cat", "a.zip"},
                                             {"list", "a.zip", "--bogus"}}) {
    run = Run(wrong);
    EXPECT_EQ(run.exitCode, 1) << (wrong.empty() ? "(nothing)" : wrong[0]);
    EXPECT_CONTAINS(run.err, "packtool: ");
    EXPECT_TRUE(run.out.empty());
  }
}

TEST_F(PackToolCli, ArchivesThatCannotBeReadAreNamed) {
  fs::create_directories(base_ / "work" / "folder.zip");
  Write("empty.zip", {});
  Write("short.zip", B("abcde"));
  Bytes cut;
  AppendRawEntry(cut, 100, 100, B("only ten b"));
  Write("cut.zip", cut);
  struct Case {
    const char* archive;
    const char* says;
  };
  for (const Case& c : {Case{"missing.zip", "no such file"}, Case{"folder.zip", "folder"}, Case{"empty.zip", "empty"},
                        Case{"short.zip", "not a pack archive"}, Case{"cut.zip", "ends inside its index"}}) {
    for (const char* command : {"list", "verify", "cat"}) {
      std::vector<std::string> arguments{command, c.archive};
      if (std::string(command) == "cat") arguments.push_back("0");
      ToolRun run = Run(arguments);
      // Cut inside its index, an archive is damaged: its first header is sound.
      EXPECT_EQ(run.exitCode, std::string(c.archive) == "cut.zip" ? 4 : 2) << command << " " << c.archive;
      EXPECT_CONTAINS(run.err, c.archive);
      EXPECT_CONTAINS(run.err, c.says);
    }
  }
}

TEST_F(PackToolCli, ADamagedIndexStillLeadsToItsEntries) {
  // The index's stream is cut off after its first row: the second row is
  // never decoded whole, so only row 0 is trusted; entry 2 is named by number.
  Bytes index = B(Index({"C:\\index.txt", "C:\\a.txt", "C:\\b.txt"}));
  Bytes stream = EncodeCompressedStream(index.data(), index.size(), EncoderMode::Literals8, true);
  stream.resize(10 + 20);  // the stream header, then 20 bytes of bits: 17 literals of 9 bits, row 0 and its CR LF
  Bytes archive;
  AppendRawEntry(archive, uint32_t(index.size()), uint32_t(stream.size()), stream);
  AppendRawEntry(archive, 1, 1, B("a"));
  AppendRawEntry(archive, 1, 1, B("b"));
  Write("bad-index.zip", archive);

  ToolRun run = Run({"list", "--raw", "bad-index.zip"});
  EXPECT_EQ(run.exitCode, 4);
  EXPECT_CONTAINS(run.err, "only the 1 row decoded whole");
  EXPECT_EQ(run.out, "C:\\index.txt\n");
  run = Run({"extract", "bad-index.zip", "1", "2", "-d", "out"});
  EXPECT_EQ(run.exitCode, 4) << run.err;
  EXPECT_EQ(Read("out/entry-1.bin"), B("a"));
  EXPECT_EQ(Read("out/entry-2.bin"), B("b"));
  run = Run({"cat", "bad-index.zip", "2"});
  EXPECT_EQ(run.exitCode, 4);
  EXPECT_EQ(run.out, "b");
  // The index itself is damaged: written with --force, its decoded bytes only.
  EXPECT_EQ(Run({"cat", "bad-index.zip", "0"}).exitCode, 4);
  run = Run({"cat", "--force", "bad-index.zip", "0"});
  EXPECT_EQ(run.exitCode, 4);
  EXPECT_LT(run.out.size(), index.size());
  EXPECT_EQ(run.out, S(index).substr(0, run.out.size()));
  run = Run({"verify", "bad-index.zip"});
  EXPECT_EQ(run.exitCode, 4);
  EXPECT_CONTAINS(run.out, "entry 0 (the index): damaged");
  EXPECT_CONTAINS(run.out, "3 entries, index damaged: 1 problem");

  // An index the reader cannot hold (over 2 GiB unpacked).
  Bytes huge;
  AppendRawEntry(huge, 0x80000000u, 12, B("JC0123456789"));
  Write("huge-index.zip", huge);
  run = Run({"list", "huge-index.zip"});
  EXPECT_EQ(run.exitCode, 7);
  EXPECT_CONTAINS(run.err, "too large");
}

TEST_F(PackToolCli, RowsFollowTheLineRulesOfTheRestoreTool) {
  // LF, CR, CR LF, NUL, LF CR and CR CR LF end lines; the last line has none.
  std::string index = std::string("r0\r\nr1\nr2\rr3") + '\0' + "r4\n\rr6\r\r\nr8";
  std::vector<PackEntry> entries{StoredEntry(B(index))};
  for (int entry = 1; entry < 9; entry++) entries.push_back(StoredEntry(B("entry " + std::to_string(entry))));
  WriteEntries("lines.zip", entries);

  ToolRun run = Run({"list", "--raw", "lines.zip"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "r0\nr1\nr2\nr3\nr4\n\nr6\n\nr8\n");

  run = Run({"list", "lines.zip"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  std::istringstream lines(run.out);
  std::string line;
  std::vector<std::string> table;
  while (std::getline(lines, line)) table.push_back(line);
  ASSERT_EQ(table.size(), 9u);
  EXPECT_EQ(table[0], "0  " + std::to_string(index.size()) + "  stored      r0");
  EXPECT_EQ(table[5], "5   7  stored      ");
  EXPECT_EQ(table[8], "8   7  stored      r8");

  // A line end at the very end adds no row; an index of one line end has one empty row.
  WriteEntries("end.zip", {StoredEntry(B("a\r\nb\r\n")), StoredEntry(B("1"))});
  EXPECT_EQ(Run({"list", "--raw", "end.zip"}).out, "a\nb\n");
  WriteEntries("one.zip", {StoredEntry(B("\r\n"))});
  EXPECT_EQ(Run({"list", "--raw", "one.zip"}).out, "\n");
}

TEST_F(PackToolCli, EveryKindOfEntryRoundTrips) {
  struct Kind {
    const char* name;
    PackEntry entry;
  };
  std::vector<Kind> kinds = {
      {"stored.txt", StoredEntry(SampleData(5000, 1))},
      {"balanced.txt", CompressedEntry(SampleData(40000, 2))},
      {"literals8.txt", CompressedEntry(SampleData(3000, 3), EncoderMode::Literals8)},
      {"literals7.txt", CompressedEntry(SampleData(3000, 4), EncoderMode::Literals7)},
      {"rawblocks.bin", CompressedEntry(SampleData(3000, 5), EncoderMode::RawBlocks)},
      {"short.txt", CompressedEntry(SampleData(3000, 6), EncoderMode::ShortMatches)},
      {"onebyte.txt", CompressedEntry(SampleData(3000, 7), EncoderMode::OneByteCodes)},
      {"repeat.txt", CompressedEntry(SampleData(3000, 8), EncoderMode::RepeatMatches)},
      {"normal.txt", CompressedEntry(SampleData(3000, 9), EncoderMode::NormalMatches)},
      {"indexbits.txt", CompressedEntry(SampleData(3000, 10), EncoderMode::IndexBits)},
      {"nochecksum.txt", CompressedEntry(SampleData(3000, 11), EncoderMode::Balanced, false)},
      {"empty.txt", StoredEntry({})},
      {"tiny.txt", CompressedEntry(B("ab"))},
  };
  std::vector<std::string> rows{"C:\\Sicherung\\Index.txt"};
  for (const Kind& kind : kinds) rows.push_back(std::string("C:\\Daten\\") + kind.name);
  std::vector<PackEntry> entries{CompressedEntry(B(Index(rows)))};  // a compressed index too
  for (const Kind& kind : kinds) entries.push_back(kind.entry);
  WriteEntries("kinds.zip", entries);

  ToolRun run = Run({"verify", "kinds.zip"});
  EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_CONTAINS(
      run.out, "14 entries, 14 rows: no damage found (72314 bytes unpacked): 10 entries proven by a checksum, 4 only");

  run = Run({"list", "kinds.zip"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_CONTAINS(run.out, " 1   5000  stored      C:\\Daten\\stored.txt\n");
  EXPECT_CONTAINS(run.out, " 2  40000  compressed  C:\\Daten\\balanced.txt\n");
  EXPECT_CONTAINS(run.out, "12      0  stored      C:\\Daten\\empty.txt\n");

  // Each row on its own, through -o and through cat.
  for (size_t row = 1; row < rows.size(); row++) {
    std::string out = "single-" + std::to_string(row);
    run = Run({"extract", "kinds.zip", std::to_string(row), "-o", out});
    EXPECT_EQ(run.exitCode, 0) << row << run.err;
    EXPECT_EQ(Read(out), entries[row].data) << row;
    run = Run({"cat", "kinds.zip", std::to_string(row)});
    EXPECT_EQ(run.exitCode, 0) << row << run.err;
    EXPECT_EQ(B(run.out), entries[row].data) << row;
  }
  // All rows at once into a folder, each below its row's folders, in any
  // order given.
  std::vector<std::string> arguments{"extract", "kinds.zip", "-d", "all"};
  for (size_t row = rows.size(); row-- > 0;) arguments.push_back(std::to_string(row));
  run = Run(arguments);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(S(Read("all/Sicherung/Index.txt")), Index(rows));
  for (size_t kind = 0; kind < kinds.size(); kind++) {
    EXPECT_EQ(Read(std::string("all/Daten/") + kinds[kind].name), kinds[kind].entry.data) << kinds[kind].name;
  }

  run = Run({"list", "--json", "kinds.zip"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  JsonDocument listed = Document(run.out);
  EXPECT_EQ(Keys(listed), (std::vector<std::string>{"entryCount", "complete", "rows"}));
  EXPECT_EQ(listed["entryCount"], 14);
  EXPECT_EQ(listed["complete"], true);
  EXPECT_EQ(listed["rows"].size(), rows.size());
  EXPECT_EQ(listed["rows"][2], (JsonDocument{{"row", 2},
                                             {"text", "C:\\Daten\\balanced.txt"},
                                             {"unpackedSize", 40000},
                                             {"packedSize", EntryBytes(entries[2]).size()},
                                             {"storage", "compressed"},
                                             {"nameFrom", "index"}}));
}

TEST_F(PackToolCli, TargetsComeFromTheRowText) {
  WriteEntries("names.zip",
               {StoredEntry(B(Index({"C:\\Sicherung\\Index.txt", "C:\\Daten\\Briefe\\Brief.txt",
                                     "\\\\server\\share\\Bericht.doc", "", "C:\\Daten\\Briefe\\"}))),
                StoredEntry(B("Brief")), StoredEntry(B("Bericht")), StoredEntry(B("leer")), StoredEntry(B("Ordner"))});
  // However chosen, each row lands below its row's folders; --flat takes its
  // file name alone.
  EXPECT_EQ(Run({"extract", "names.zip", "1"}).exitCode, 0);
  EXPECT_EQ(S(Read("Daten/Briefe/Brief.txt")), "Brief");
  EXPECT_EQ(Run({"extract", "names.zip", "1", "-d", "into/flat", "--flat"}).exitCode, 0);
  EXPECT_EQ(S(Read("into/flat/Brief.txt")), "Brief");
  EXPECT_EQ(Run({"extract", "names.zip", "1", "2", "-d", "into/deep"}).exitCode, 0);
  EXPECT_EQ(S(Read("into/deep/Daten/Briefe/Brief.txt")), "Brief");
  EXPECT_EQ(S(Read("into/deep/server/share/Bericht.doc")), "Bericht");

  // A row without a file name is refused, but -o gives it one.
  ToolRun run = Run({"extract", "names.zip", "3", "4"});
  EXPECT_EQ(run.exitCode, 5);
  EXPECT_CONTAINS(run.err, "row 3");
  EXPECT_CONTAINS(run.err, "row 4 (\"C:\\Daten\\Briefe\\\")");
  EXPECT_EQ(Run({"extract", "names.zip", "3", "-o", "named"}).exitCode, 0);
  EXPECT_EQ(S(Read("named")), "leer");

  // --all keeps the folders, without the drive or the server's slashes.
  run = Run({"extract", "names.zip", "--all", "-d", "tree"});
  EXPECT_EQ(run.exitCode, 5) << run.err;  // rows 3 and 4 name no file
  EXPECT_EQ(S(Read("tree/Sicherung/Index.txt")).substr(0, 23), "C:\\Sicherung\\Index.txt\r");
  EXPECT_EQ(S(Read("tree/Daten/Briefe/Brief.txt")), "Brief");
  EXPECT_EQ(S(Read("tree/server/share/Bericht.doc")), "Bericht");
}

TEST_F(PackToolCli, PathsThatClimbOutAreRefused) {
  fs::create_directories(base_ / "work" / "inner");
  std::vector<std::string> rows{"Index.txt",
                                "..\\escape1.txt",
                                "C:\\Daten\\..\\..\\escape2.txt",
                                "a/../../escape3.txt",
                                "..",
                                "C:\\Daten\\...\\escape4.txt",
                                "/absolute/kept.txt",
                                "ok.txt"};
  std::vector<PackEntry> entries{StoredEntry(B(Index(rows)))};
  for (size_t row = 1; row < rows.size(); row++) entries.push_back(StoredEntry(B("entry " + std::to_string(row))));
  WriteEntries("inner/escape.zip", entries);

  ToolRun run = Run({"extract", "inner/escape.zip", "--all", "-d", "inner/out"});
  EXPECT_EQ(run.exitCode, 5);
  for (int row : {1, 2, 3, 4, 5}) EXPECT_CONTAINS(run.err, "row " + std::to_string(row) + " (");
  EXPECT_EQ(Files(), (std::set<std::string>{"inner/escape.zip", "inner/out/Index.txt", "inner/out/absolute/kept.txt",
                                            "inner/out/ok.txt"}));

  // One row climbs as well as many; by its file name alone (--flat) nothing climbs.
  EXPECT_EQ(Run({"extract", "inner/escape.zip", "1", "-d", "inner/flat"}).exitCode, 5);
  run = Run({"extract", "inner/escape.zip", "1", "-d", "inner/flat", "--flat"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(S(Read("inner/flat/escape1.txt")), "entry 1");
  run = Run({"extract", "inner/escape.zip", "1", "2", "-d", "inner/tree"});
  EXPECT_EQ(run.exitCode, 5) << run.err;
  EXPECT_EQ(Run({"extract", "inner/escape.zip", "4"}).exitCode, 5);
}

TEST_F(PackToolCli, ExistingFilesAreKeptWithoutForce) {
  WriteEntries("over.zip", {StoredEntry(B(Index({"Index.txt", "C:\\a.txt", "C:\\b.txt"}))),
                            CompressedEntry(SampleData(9000, 20)), StoredEntry(B("new b"))});
  Write("a.txt", B("old a"));
  ToolRun run = Run({"extract", "over.zip", "1", "2"});
  EXPECT_EQ(run.exitCode, 5);
  EXPECT_CONTAINS(run.err, "\"a.txt\" exists");
  EXPECT_EQ(S(Read("a.txt")), "old a");
  EXPECT_EQ(S(Read("b.txt")), "new b");  // the other row is still written
  EXPECT_EQ(Files(), (std::set<std::string>{"over.zip", "a.txt", "b.txt"}));

  EXPECT_EQ(Run({"extract", "over.zip", "2", "-o", "a.txt"}).exitCode, 5);
  EXPECT_EQ(S(Read("a.txt")), "old a");
  EXPECT_EQ(Run({"extract", "over.zip", "1", "--force"}).exitCode, 0);
  EXPECT_EQ(Read("a.txt"), SampleData(9000, 20));
  EXPECT_EQ(Files(), (std::set<std::string>{"over.zip", "a.txt", "b.txt"}));

  // A folder in the target's place is never replaced.
  fs::create_directories(base_ / "work" / "dir");
  EXPECT_EQ(Run({"extract", "over.zip", "2", "-o", "dir", "--force"}).exitCode, 5);
  EXPECT_TRUE(fs::is_directory(base_ / "work" / "dir"));
}

TEST_F(PackToolCli, DamagedEntriesAreErrorsThatWriteNothing) {
  Bytes archive = BuildArchive({StoredEntry(B(Index({"Index.txt", "C:\\good1.txt", "C:\\checksum.txt", "C:\\magic.txt",
                                                     "C:\\good2.txt", "C:\\cut.txt"}))),
                                StoredEntry(B("good 1"))});
  Bytes spoilt = SampleData(20000, 30);
  AppendSpoiltEntry(archive, spoilt, 6, 0x10);  // checksum field
  AppendSpoiltEntry(archive, spoilt, 0, 0x01);  // "JC" magic
  Bytes good2 = EntryBytes(CompressedEntry(B("good 2 good 2 good 2")));
  AppendRawEntry(archive, 20, uint32_t(good2.size()), good2);
  AppendRawEntry(archive, 50, 50, B("only part of the data"));
  Write("damaged.zip", archive);
  const std::set<std::string> untouched{"damaged.zip"};

  struct Case {
    int row;
    const char* says;
  };
  for (const Case& c : {Case{2, "fails its checksum"}, Case{3, "malformed"}, Case{5, "cut short"}}) {
    ToolRun run = Run({"extract", "damaged.zip", std::to_string(c.row)});
    EXPECT_EQ(run.exitCode, 4) << c.row;
    EXPECT_CONTAINS(run.err, "row " + std::to_string(c.row) + " (");
    EXPECT_CONTAINS(run.err, c.says);
    EXPECT_EQ(Files(), untouched);
    run = Run({"cat", "damaged.zip", std::to_string(c.row)});
    EXPECT_EQ(run.exitCode, 4) << c.row;
    EXPECT_TRUE(run.out.empty());
  }
  // Entries behind damaged ones are reached past the damage; the archive is
  // damaged all the same.
  ToolRun past = Run({"extract", "damaged.zip", "4", "-o", "good2"});
  EXPECT_EQ(past.exitCode, 4);
  EXPECT_CONTAINS(past.err, "entry 3's header claims a compressed entry, but its data does not start a stream");
  EXPECT_EQ(S(Read("good2")), "good 2 good 2 good 2");

  // --force writes what could be decoded, and still reports the damage.
  ToolRun run = Run({"extract", "damaged.zip", "2", "-o", "forced", "--force"});
  EXPECT_EQ(run.exitCode, 4);
  EXPECT_CONTAINS(run.err, "damaged entry written");
  EXPECT_EQ(Read("forced").size(), spoilt.size());
  // Of an entry cut short, what is there.
  EXPECT_EQ(Run({"extract", "damaged.zip", "5", "-o", "forced-cut", "--force"}).exitCode, 4);
  EXPECT_EQ(S(Read("forced-cut")), "only part of the data");

  run = Run({"verify", "damaged.zip"});
  EXPECT_EQ(run.exitCode, 4);
  EXPECT_CONTAINS(run.out, "entry 2 (\"C:\\checksum.txt\"): damaged, 20000 of 20000 bytes, its stream is malformed");
  EXPECT_CONTAINS(run.out, "entry 3 (\"C:\\magic.txt\"): lost, its stream is malformed");
  EXPECT_CONTAINS(run.out, "entry 5 (\"C:\\cut.txt\"): partial, 21 of 50 bytes, its data runs past the end");
  EXPECT_CONTAINS(run.out, "6 entries, 6 rows: 4 problems\n");
  EXPECT_EQ(run.out.find("entry 1 "), std::string::npos);
  EXPECT_EQ(run.out.find("entry 4 "), std::string::npos);

  // list goes on past the header that cannot be one: the entries' states.
  run = Run({"list", "damaged.zip"});
  EXPECT_EQ(run.exitCode, 4);
  EXPECT_CONTAINS(run.out, "3  20000  lost        C:\\magic.txt\n");
  EXPECT_CONTAINS(run.out, "4     20  compressed  C:\\good2.txt\n");
  EXPECT_CONTAINS(run.out, "5     50  partial     C:\\cut.txt\n");
  EXPECT_CONTAINS(run.err, "cut short");
}

TEST_F(PackToolCli, RowsWithoutEntriesAndStrayBytes) {
  Bytes archive = BuildArchive({StoredEntry(B(Index({"Index.txt", "a.txt", "b.txt", "c.txt", "d.txt"}))),
                                StoredEntry(B("a")), StoredEntry(B("b"))});
  Write("short.zip", archive);
  archive.insert(archive.end(), {1, 2, 3});
  Write("stray.zip", archive);

  ToolRun run = Run({"extract", "short.zip", "2", "3", "9"});
  EXPECT_EQ(run.exitCode, 3);
  EXPECT_CONTAINS(run.err, "row 3 (\"c.txt\"): the archive holds no entry for it");
  EXPECT_CONTAINS(run.err, "row 9: no such row (the index has 5 rows: 0 to 4)");
  EXPECT_EQ(S(Read("b.txt")), "b");
  EXPECT_FALSE(Exists("c.txt"));
  EXPECT_EQ(Run({"cat", "short.zip", "4"}).exitCode, 3);

  run = Run({"list", "short.zip"});
  EXPECT_EQ(run.exitCode, 4);
  EXPECT_CONTAINS(run.out, "4   -  missing     d.txt\n");
  EXPECT_CONTAINS(run.err, "rows 3 to 4 have no entry");
  run = Run({"verify", "short.zip"});
  EXPECT_EQ(run.exitCode, 4);
  EXPECT_CONTAINS(run.out, "rows 3 to 4 have no entry: the archive holds 3 entries\n");

  run = Run({"verify", "stray.zip"});
  EXPECT_EQ(run.exitCode, 4);
  EXPECT_CONTAINS(run.out, "3 stray bytes at the end of the archive");
  EXPECT_EQ(Run({"extract", "stray.zip", "2", "-o", "b2"}).exitCode, 0);
}

TEST_F(PackToolCli, FailedWritesLeaveNoPartialFile) {
  WriteEntries("write.zip",
               {StoredEntry(B(Index({"Index.txt", "C:\\x.bin"}))), CompressedEntry(SampleData(300000, 40))});
  Write("blocker", B("a file where a folder should be"));
  ToolRun run = Run({"extract", "write.zip", "1", "-o", "blocker/x.bin"});
  EXPECT_EQ(run.exitCode, 6);
  EXPECT_CONTAINS(run.err, "cannot write");
  run = Run({"extract", "write.zip", "1", "-d", "blocker"});
  EXPECT_EQ(run.exitCode, 5);
  EXPECT_CONTAINS(run.err, "\"blocker\" exists and is not a folder");
  EXPECT_EQ(Files(), (std::set<std::string>{"write.zip", "blocker"}));
#ifndef _WIN32
  // A file size limit fails the write partway, like a full disk.
  Write("x.bin", B("the old file"));
  run = Run({"extract", "write.zip", "1", "--force"}, "", 100000);
  EXPECT_EQ(run.exitCode, 6);
  EXPECT_CONTAINS(run.err, "cannot write \"x.bin\"");
  EXPECT_EQ(S(Read("x.bin")), "the old file");
  EXPECT_EQ(Files(), (std::set<std::string>{"write.zip", "blocker", "x.bin"}));
  // The folders made for a file that failed go again; one that was there stays.
  fs::create_directories(base_ / "work" / "kept");
  run = Run({"extract", "write.zip", "1", "-d", "kept/fresh/sub"}, "", 100000);
  EXPECT_EQ(run.exitCode, 6) << run.err;
  EXPECT_TRUE(fs::exists(base_ / "work" / "kept"));
  EXPECT_FALSE(fs::exists(base_ / "work" / "kept" / "fresh"));
  // ... and a later file makes them again.
  WriteEntries("two.zip", {StoredEntry(B(Index({"Index.txt", "C:\\x.bin", "C:\\y.txt"}))),
                           CompressedEntry(SampleData(300000, 40)), StoredEntry(B("small"))});
  run = Run({"extract", "two.zip", "1", "2", "-d", "kept/again"}, "", 100000);
  EXPECT_EQ(run.exitCode, 6) << run.err;
  EXPECT_EQ(S(Read("kept/again/y.txt")), "small");
  EXPECT_FALSE(fs::exists(base_ / "work" / "kept" / "again" / "x.bin"));
#else
  // A target held open without delete sharing cannot be replaced: the
  // failure comes at the very end, when every byte is written.
  Write("x.bin", B("the old file"));
  HANDLE held = CreateFileA(Path("x.bin").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  run = Run({"extract", "write.zip", "1", "--force"});
  CloseHandle(held);
  EXPECT_EQ(run.exitCode, 6);
  EXPECT_CONTAINS(run.err, "cannot write \"x.bin\"");
  EXPECT_EQ(S(Read("x.bin")), "the old file");
  EXPECT_EQ(Files(), (std::set<std::string>{"write.zip", "blocker", "x.bin"}));
#endif
}

#ifndef _WIN32
TEST_F(PackToolCli, RowTextsFollowTheLocalesCharacterSet) {
  WriteEntries("umlaut.zip", {StoredEntry(B(Index({"Index.txt",
                                                   "C:\\Br\xE4"
                                                   "f.txt",
                                                   "esc\x1B[31mred", "say \"\x01\""}))),
                              StoredEntry(B("ae")), StoredEntry(B("esc")), StoredEntry(B("quote"))});
  EXPECT_CONTAINS(Run({"list", "umlaut.zip"}, "C.UTF-8").out,
                  "C:\\Br\xC3\xA4"
                  "f.txt\n");
  // Under any other locale bytes from 0x80 are escaped: the terminal's set is not known.
  EXPECT_CONTAINS(Run({"list", "umlaut.zip"}, "C").out, "C:\\Br\\xE4f.txt\n");
  EXPECT_CONTAINS(Run({"list", "umlaut.zip"}, "C.UTF-8").out, "esc\\x1B[31mred\n");
  EXPECT_CONTAINS(Run({"list", "--raw", "umlaut.zip"}, "C.UTF-8").out,
                  "C:\\Br\xE4"
                  "f.txt\nesc\x1B[31mred\n");
  // JSON is UTF-8 whatever the locale; the parser takes no raw control byte.
  JsonDocument json = Document(Run({"list", "--json", "umlaut.zip"}, "C").out);
  EXPECT_EQ(json["rows"][1]["text"],
            "C:\\Br\xC3\xA4"
            "f.txt");
  EXPECT_EQ(json["rows"][2]["text"], "esc\x1B[31mred");
  EXPECT_EQ(json["rows"][3]["text"], "say \"\x01\"");

  // File names follow as well.
  EXPECT_EQ(Run({"extract", "umlaut.zip", "1", "-d", "utf8"}, "C.UTF-8").exitCode, 0);
  EXPECT_TRUE(
      Exists("utf8/Br\xC3\xA4"
             "f.txt"));
  // ... in UTF-8 whatever the locale: raw 1252 bytes would be a name no
  // UTF-8 program can show.
  EXPECT_EQ(Run({"extract", "umlaut.zip", "1", "-d", "bytes"}, "C").exitCode, 0);
  EXPECT_TRUE(
      Exists("bytes/Br\xC3\xA4"
             "f.txt"));
  EXPECT_FALSE(fs::exists(base_ / "work" / "bytes" /
                          "Br\xE4"
                          "f.txt"));
}
#else
TEST_F(PackToolCli, RowTextsFollowTheConsoleCodePage) {
  WriteEntries("umlaut.zip", {StoredEntry(B(Index({"Index.txt",
                                                   "C:\\Br\xE4"
                                                   "f.txt"}))),
                              StoredEntry(B("ae"))});
  // Without a console (as under the test runner) the texts stay 1252.
  if (GetConsoleOutputCP() == 0) {
    EXPECT_CONTAINS(Run({"list", "umlaut.zip"}).out,
                    "C:\\Br\xE4"
                    "f.txt\n");
  }
  // A new console starts with the OEM code page (437 or 850): a-umlaut is 0x84 in both.
  ToolRunOptions options;
  options.folder = (base_ / "work").string();
  options.newConsole = true;
  ASSERT_TRUE(GetOEMCP() == 437 || GetOEMCP() == 850) << GetOEMCP();
  ToolRun run = RunPackTool({"list", "umlaut.zip"}, options);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_CONTAINS(run.out,
                  "C:\\Br\x84"
                  "f.txt\n");
  run = RunPackTool({"list", "--raw", "umlaut.zip"}, options);
  EXPECT_EQ(run.out,
            "Index.txt\nC:\\Br\xE4"
            "f.txt\n");
  run = RunPackTool({"list", "--json", "umlaut.zip"}, options);
  EXPECT_EQ(Document(run.out)["rows"][1]["text"],
            "C:\\Br\xC3\xA4"
            "f.txt");
}
#endif

#ifndef _WIN32
// On a terminal, extract of many rows draws one progress line (files, bytes,
// rate) instead of a line per file, and clears it before each complaint;
// of a few rows it writes its line per file as before.
TEST_F(PackToolCli, ExtractOfManyRowsOnATerminalShowsOneProgressLine) {
  std::string index = "C:\\Sicherung\\Index.txt\r\n";
  std::vector<PackEntry> entries{StoredEntry({})};
  for (int file = 1; file <= 300; file++) {
    index += "C:\\Daten\\Datei" + std::to_string(file) + ".txt\r\n";
    entries.push_back(StoredEntry(B("Inhalt " + std::to_string(file))));
  }
  entries[0] = StoredEntry(B(index));
  WriteEntries("many.zip", entries);
  ToolRunOptions options;
  options.folder = Path("");
  options.errorTerminal = true;

  ToolRun few = RunPackTool({"extract", "many.zip", "Datei1.txt", "Datei2.txt", "-d", "few"}, options);
  EXPECT_EQ(few.exitCode, 0) << few.err;
  EXPECT_CONTAINS(few.err, "row 1  ");
  EXPECT_EQ(few.err.find("extracting "), std::string::npos) << few.err;

  ToolRun many = RunPackTool({"extract", "many.zip", "--all", "-d", "out"}, options);
  EXPECT_EQ(many.exitCode, 0) << many.err;
  EXPECT_CONTAINS(many.err, "\rextracting ");
  EXPECT_CONTAINS(many.err, "/301 files, ");
  EXPECT_EQ(many.err.find("row 1  "), std::string::npos) << many.err;
  EXPECT_EQ(Read("out/Daten/Datei300.txt"), B("Inhalt 300"));

  // Every target there now: each row's complaint starts a line of its own.
  ToolRun again = RunPackTool({"extract", "many.zip", "--all", "-d", "out"}, options);
  EXPECT_NE(again.exitCode, 0);
  size_t complaints = 0;
  for (size_t at = again.err.find("packtool: "); at != std::string::npos; at = again.err.find("packtool: ", at + 1)) {
    complaints++;
    EXPECT_TRUE(at == 0 || again.err[at - 1] == '\r' || again.err[at - 1] == '\n') << again.err.substr(0, at);
  }
  EXPECT_GT(complaints, 0u);
}
#endif

}  // namespace
