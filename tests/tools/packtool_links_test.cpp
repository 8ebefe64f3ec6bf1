// Where extract and rescue may write: below the chosen folder only, never
// through a link planted in it, and never over a file of their own run,
// whatever name the file system takes for it.
#include "tests/support/damaged_archives.h"
#include "tests/support/test_files.h"
#include "tests/tools/packtool_fixture.h"

namespace {

// Three rows that Windows takes for one file (case, trailing dot, trailing
// space) and a fourth that differs only in case. Windows: the first row's
// file is written, and each later row that leads to it is refused, --force
// or not, without the word that --force would replace it. POSIX (case
// sensitive here): four files.
TEST_F(PackToolCli, AFileOfThisRunIsKnownWhateverNameLeadsToIt) {
  std::vector<std::string> rows{"Index.txt", "C:\\x\\a.txt", "C:\\x\\a.txt.", "C:\\x\\A.TXT ", "C:\\x\\A.txt"};
  std::vector<PackEntry> entries{StoredEntry(B(Index(rows)))};
  for (size_t row = 1; row < rows.size(); row++) entries.push_back(StoredEntry(B("row " + std::to_string(row))));
  WriteEntries("names.zip", entries);
  for (const char* force : {"", "--force"}) {
    SCOPED_TRACE(force);
    std::string folder = std::string("out") + force;
    std::vector<std::string> arguments{"extract", "names.zip", "--all", "-d", folder};
    if (*force != 0) arguments.push_back(force);
    ToolRun run = Run(arguments);
#ifdef _WIN32
    EXPECT_EQ(run.exitCode, 5) << run.err;
    for (int row : {2, 3}) {
      EXPECT_CONTAINS(run.err, "row " + std::to_string(row) + " (\"" + rows[row] + "\"): \"" + folder + "\\x\\" +
                                   rows[row].substr(5) +
                                   "\" leads to the file written for row 1 (\"C:\\x\\a.txt\") in this run");
    }
    EXPECT_CONTAINS(run.err, "is the target of row 1 (\"C:\\x\\a.txt\") as well");  // row 4: the same text, folded
    EXPECT_EQ(run.err.find("--force replaces"), std::string::npos) << run.err;
    EXPECT_CONTAINS(run.err, "2 files written");  // Index.txt and x\a.txt
    EXPECT_CONTAINS(run.err, ", 3 refused");
    EXPECT_EQ(S(Read(folder + "/x/a.txt")), "row 1");
#else
    EXPECT_EQ(run.exitCode, 0) << run.err;
    for (size_t row = 1; row < rows.size(); row++) {
      std::string name = rows[row].substr(5);
      EXPECT_EQ(S(Read(folder + "/x/" + name)), "row " + std::to_string(row)) << name;
    }
#endif
  }
}

// dest/link leads to a folder outside, dest/file.txt to a file outside.
TEST_F(PackToolCli, NothingIsWrittenThroughALinkInTheFolder) {
  fs::create_directories(base_ / "work" / "outside");
  fs::create_directories(base_ / "work" / "dest");
  fs::create_directories(base_ / "work" / "chosen");
  Write("outside/victim.txt", B("mine"));
  if (!MakeSymbolicLink("../outside", Path("dest/link"), true) ||
      !MakeSymbolicLink("../outside/victim.txt", Path("dest/file.txt"), false) ||
      !MakeSymbolicLink("chosen", Path("via"), true)) {
    GTEST_SKIP() << "no symbolic link can be made here";
  }
  WriteEntries("planted.zip",
               {StoredEntry(B(Index({"Index.txt", "C:\\link\\evil.txt", "C:\\file.txt", "C:\\victim.txt"}))),
                StoredEntry(B("evil")), StoredEntry(B("replaced")), StoredEntry(B("fine"))});
  auto outsideIsUntouched = [&] {
    EXPECT_EQ(fs::directory_entry(base_ / "work" / "outside" / "evil.txt").exists(), false);
    EXPECT_EQ(S(Read("outside/victim.txt")), "mine");
  };
  ToolRun run = Run({"extract", "planted.zip", "--all", "-d", "dest", "--force"});
  EXPECT_EQ(run.exitCode, 5);
  EXPECT_CONTAINS(run.err, "row 1 (\"C:\\link\\evil.txt\"): \"dest" + std::string(1, fs::path::preferred_separator) +
                               "link\" is a symbolic link, junction or other reparse point; nothing is written "
                               "through it");
  EXPECT_CONTAINS(run.err, "row 2 (\"C:\\file.txt\"): \"dest");
  outsideIsUntouched();
  EXPECT_EQ(S(Read("dest/victim.txt")), "fine");

  // rescue keeps the bytes as entry-N.bin at the top, and says why.
  run = Run({"rescue", "planted.zip", "-d", "dest", "--force"});
  EXPECT_EQ(run.exitCode, 5) << run.err;
  EXPECT_CONTAINS(run.err, "nothing is written through it; written as entry-1.bin instead");
  EXPECT_EQ(S(Read("dest/entry-2.bin")), "replaced");
  outsideIsUntouched();

  // The folder the user names may itself be a link.
  run = Run({"extract", "planted.zip", "3", "-d", "via"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(S(Read("chosen/victim.txt")), "fine");
}

// Paths reach messages through one escaping rule, whatever the command.
TEST_F(PackToolCli, MessagesCarryNoByteThatSteersATerminal) {
  std::string archive = "no\x1B]2;x\x07such.zip";
  for (const char* command : {"list", "verify", "extract", "rescue"}) {
    std::vector<std::string> arguments{command, archive};
    if (std::string(command) != "list" && std::string(command) != "verify") {
      arguments.insert(arguments.end(), {"--all", "-d", "out"});
    }
    if (std::string(command) == "rescue") arguments.erase(arguments.begin() + 2);
    ToolRun run = Run(arguments);
    EXPECT_EQ(run.exitCode, 2) << command << run.err;
    EXPECT_CONTAINS(run.err, "no\\x1B]2;x\\x07such.zip");
    EXPECT_EQ(run.err.find_first_of("\x1B\x07"), std::string::npos) << command;
  }
#ifndef _WIN32
  // Under a locale that is not UTF-8, no byte from 0x80 reaches the terminal:
  // 0x9B alone is a control sequence there. Under UTF-8, U+009B is.
  WriteEntries("csi.zip", {StoredEntry(B(Index({"Index.txt", "C:\\\x9Bm.txt"}))), StoredEntry(B("x"))});
  EXPECT_CONTAINS(Run({"list", "csi.zip"}, "C").out, "C:\\\\x9Bm.txt\n");
  EXPECT_CONTAINS(Run({"list", "\xC2\x9B.zip"}, "C.UTF-8").err, "\\xC2\\x9B.zip: no such file");
  EXPECT_CONTAINS(Run({"list", "\x9B.zip"}, "C").err, "\\x9B.zip: no such file");
#endif
}

}  // namespace
