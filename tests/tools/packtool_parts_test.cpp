// The parts of packtool that need no archive: the command line, how row texts
// are shown, and which targets a row text may name.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tools/cli/command_line.h"
#include "tools/rows/entry_texts.h"
#include "tools/rows/row_targets.h"
#include "tools/rows/target_path.h"
#include "tools/text/text_encoding.h"

namespace {

TEST(PackToolText, Windows1252BecomesUtf8WithoutLoss) {
  EXPECT_EQ(Windows1252ToUtf8("Br\xE4"
                              "f"),
            "Br\xC3\xA4"
            "f");
  EXPECT_EQ(Windows1252ToUtf8("\x80"), "\xE2\x82\xAC");  // euro sign
  EXPECT_EQ(Windows1252ToUtf8("\x9F"), "\xC5\xB8");      // Y with diaeresis
  // The five undefined bytes keep their value as C1 controls.
  EXPECT_EQ(Windows1252ToUtf8("\x81\x8D\x8F\x90\x9D"), "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D");
  EXPECT_EQ(Windows1252ToUtf8("\xFF"), "\xC3\xBF");
  // Every byte maps to a distinct code point, so nothing merges.
  std::vector<uint32_t> seen;
  for (int byte = 0; byte < 256; byte++) seen.push_back(Windows1252ToCodePoint(static_cast<unsigned char>(byte)));
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(std::unique(seen.begin(), seen.end()), seen.end());
}

TEST(PackToolText, DisplayEscapesWhatCouldSteerATerminal) {
  EXPECT_EQ(DisplayText("a\x1B[2Jb"), "a\\x1B[2Jb");
  EXPECT_EQ(DisplayText("tab\there\x7F"), "tab\\x09here\\x7F");
  EXPECT_EQ(DisplayText("\x9D\x9F"), "\\x9D\x9F");  // undefined C1 escaped, Y-diaeresis kept
  EXPECT_EQ(DisplayText("C:\\Daten\\\xE4.txt"), "C:\\Daten\\\xE4.txt");
}

TEST(PackToolText, MessagesEscapeWhatCouldSteerATerminal) {
  using enum TerminalBytes;
  for (TerminalBytes terminal : {Windows1252, Utf8, Ascii}) {
    EXPECT_EQ(TerminalSafe("a\x1B]2;x\x07!\x7F", terminal), "a\\x1B]2;x\\x07!\\x7F");
  }
  struct Case {
    std::string_view text;
    TerminalBytes terminal;
    const char* shown;
  };
  static const Case CASES[] = {
      {"\x9D\x9B\xE4", Windows1252, "\\x9D\x9B\xE4"},  // only the undefined C1 byte: the others are text in 1252
      {"\x9Bm\xE4", Ascii, "\\x9Bm\\xE4"},             // an 8-bit CSI, and any byte from 0x80
      {"out/\x1B[2J\xC3\xA4", Utf8, "out/\\x1B[2J\xC3\xA4"},
      {"\xC2\x9Bm\xC2\x85", Utf8, "\\xC2\\x9Bm\\xC2\\x85"},  // U+009B, U+0085: C1 controls
      {"\xC2\xA0\xE2\x82\xAC\xF0\x9F\x98\x80", Utf8, "\xC2\xA0\xE2\x82\xAC\xF0\x9F\x98\x80"},
      {"\x9B\xFF\xE2\x82", Utf8, "\\x9B\\xFF\\xE2\\x82"},           // stray bytes, a cut sequence
      {"\xC0\xAF\xED\xA0\x80", Utf8, "\\xC0\\xAF\\xED\\xA0\\x80"},  // overlong, surrogate
  };
  for (const Case& c : CASES) EXPECT_EQ(TerminalSafe(c.text, c.terminal), c.shown) << c.shown;
}

TEST(PackToolTarget, FileNameIsThePartAfterTheLastSeparator) {
  struct Case {
    std::string_view row;
    const char* name;  // null: refused
  };
  static const Case CASES[] = {
      {"C:\\Daten\\Brief.txt", "Brief.txt"},
      {"Brief.txt", "Brief.txt"},
      {"C:\\Daten/Unter\\Pr\xFC"
       "fung.doc",
       "Pr\xFC"
       "fung.doc"},
      {"\\\\server\\share\\a.txt", "a.txt"},
      {"", nullptr},
      {"C:\\Daten\\", nullptr},
      {"C:\\Daten\\..", nullptr},
      {"C:\\Daten\\.", nullptr},
      {"C:Brief.txt", "Brief.txt"},  // relative to drive C:
      {"C:", nullptr},
      {"C:\\a\\b:c.txt", nullptr},  // a colon is no part of a file name
      {"C:\\a\\b?.txt", nullptr},
      {"C:\\a\\...", nullptr},
      {"C:\\a\\ . ", nullptr},
      {"C:\\a\\tab\there", "tab_here"},  // control bytes become "_", a NUL too
      {std::string_view("C:\\a\\..\0x", 9), ".._x"},
  };
  for (const Case& c : CASES) {
    std::string name = "unchanged";
    const char* refusal = TargetFromRowName(c.row, false, &name);
    if (c.name == nullptr) {
      EXPECT_NE(refusal, nullptr) << c.row;
      EXPECT_EQ(name, "unchanged") << c.row;
    } else {
      EXPECT_EQ(refusal, nullptr) << c.row << ": " << refusal;
      EXPECT_EQ(name, c.name) << c.row;
    }
  }
}

TEST(PackToolTarget, DeviceNamesAreRefusedForWindowsOnly) {
  std::string name;
  // Windows takes the superscript digits (1252: B9, B2, B3) for 1, 2 and 3.
  for (const char* row : {"C:\\x\\CON", "C:\\x\\con.txt", "nul", "C:\\COM1.log", "lpt9 .txt", "CONOUT$", "COM\xB9",
                          "lpt\xB2.txt", "C:\\Com\xB3 .log"}) {
    EXPECT_NE(TargetFromRowName(row, true, &name), nullptr) << row;
    EXPECT_EQ(TargetFromRowName(row, false, &name), nullptr) << row;
  }
  for (const char* row : {"CONSOLE.txt", "COM10", "COM0", "icon.ico", "LPT.txt", "COM\xB9\xB2", "LPT\xBC"}) {
    EXPECT_EQ(TargetFromRowName(row, true, &name), nullptr) << row;
  }
  TargetPath path;
  EXPECT_NE(TargetFromRowPath("C:\\AUX\\a.txt", true, &path), nullptr);
}

TEST(PackToolTarget, PathsStayBelowTheFolder) {
  struct Case {
    const char* row;
    std::vector<std::string> parts;  // folders then name; empty: refused
  };
  static const Case CASES[] = {
      {"C:\\Daten\\Briefe\\a.txt", {"Daten", "Briefe", "a.txt"}},
      {"c:Daten\\a.txt", {"Daten", "a.txt"}},
      {"\\\\server\\share\\a.txt", {"server", "share", "a.txt"}},
      {"/etc/passwd", {"etc", "passwd"}},
      {"a\\.\\b\\\\c.txt", {"a", "b", "c.txt"}},
      {"a.txt", {"a.txt"}},
      {"..\\a.txt", {}},
      {"C:\\Daten\\..\\..\\a.txt", {}},
      {"a/../../b", {}},
      {"a\\..", {}},
      {"C:\\Daten\\", {}},
      {"C:\\Daten\\.", {}},
      {"C:", {}},
      {"\\", {}},
      {"", {}},
      {"\\\\?\\C:\\a.txt", {}},  // "?" and the second colon are not names
      {"a\\...\\b", {}},
      {"a\\b:stream", {}},
  };
  for (const Case& c : CASES) {
    TargetPath path;
    const char* refusal = TargetFromRowPath(c.row, false, &path);
    if (c.parts.empty()) {
      EXPECT_NE(refusal, nullptr) << c.row;
      continue;
    }
    ASSERT_EQ(refusal, nullptr) << c.row << ": " << refusal;
    std::vector<std::string> parts = path.folders;
    parts.push_back(path.name);
    EXPECT_EQ(parts, c.parts) << c.row;
  }
}

// The one rule of extract and the mount: the first row to claim a path has
// it, and files and folders never take each other's place.
TEST(PackToolTarget, TheFirstRowToNameAPathHasIt) {
  std::vector<std::string> rows{"C:\\a\\b.txt", "D:\\A\\b.txt", "C:\\a\\b.txt\\c", "C:\\a",
                                "C:\\x\\b.txt", "C:\\a\\..\\y", "C:\\a\\b\x81"};
  struct Case {
    bool flat;
    bool windowsNames;
    std::vector<std::string> expected;  // per entry: its path, or the clash and the entry that has it
  };
  static const Case CASES[] = {
      {false, false, {"a/b.txt", "A/b.txt", "ThroughFile 0", "IsFolder 0", "x/b.txt", "Unsafe", "a/b_", "entry-7.bin"}},
      {false,
       true,
       {"a/b.txt", "SamePath 0", "ThroughFile 0", "IsFolder 0", "x/b.txt", "Unsafe", "a/b_", "entry-7.bin"}},
      {true, false, {"b.txt", "SamePath 0", "c", "a", "SamePath 0", "y", "b_", "entry-7.bin"}},
  };
  static const char* const CLASHES[] = {"None", "Unsafe", "SamePath", "ThroughFile", "IsFolder"};
  for (const Case& c : CASES) {
    RowTargets targets(rows, c.flat, c.windowsNames);
    for (uint32_t entry = 0; entry < c.expected.size(); entry++) {
      RowTarget target = targets.Claim(entry);
      std::string got = CLASHES[int(target.clash)];
      if (target.clash == TargetClash::None) {
        got.clear();
        for (const std::string& folder : target.folders) got += folder + "/";
        got += target.name;
      } else if (target.clash != TargetClash::Unsafe) {
        got += " " + std::to_string(target.other);
      }
      EXPECT_EQ(got, c.expected[entry]) << "entry " << entry << (c.flat ? ", flat" : "");
    }
  }
}

PackToolRequest Parse(std::vector<const char*> arguments, bool expectOk, std::string* error = nullptr) {
  arguments.insert(arguments.begin(), "packtool");
  PackToolRequest request;
  std::string reason;
  bool ok = ParseCommandLine(static_cast<int>(arguments.size()), arguments.data(), &request, &reason);
  EXPECT_EQ(ok, expectOk) << (arguments.size() > 1 ? arguments[1] : "") << ": " << reason;
  if (error != nullptr) *error = reason;
  return request;
}

// list and verify say these in the same words.
TEST(PackToolNames, RowsAndEntriesPastTheDamageAreCounted) {
  EXPECT_EQ(RowsLostSaid(4, 5), "row 4 has no entry, even past the damage: lost");
  EXPECT_EQ(RowsLostSaid(2, 5), "rows 2 to 4 have no entry, even past the damage: lost");
  EXPECT_EQ(EntriesWithoutRowSaid(3, 4), "entry 3 has no row");
  EXPECT_EQ(EntriesWithoutRowSaid(3, 9), "entries 3 to 8 have no row");
}

TEST(PackToolCommandLine, ReadsEachCommandsArguments) {
  PackToolRequest r = Parse({"extract", "a.zip", "7", "--force", "3", "-d", "out"}, true);
  EXPECT_EQ(r.command, PackToolCommand::Extract);
  EXPECT_EQ(r.archive, "a.zip");
  EXPECT_EQ(r.rows, (std::vector<uint32_t>{7, 3}));
  EXPECT_TRUE(r.force);
  EXPECT_EQ(r.outputFolder, "out");

  r = Parse({"list", "--json", "a.zip"}, true);
  EXPECT_EQ(r.format, ListFormat::Json);
  r = Parse({"extract", "-o", "x", "--", "-odd.zip", "4294967295"}, true);
  EXPECT_EQ(r.archive, "-odd.zip");  // after "--" nothing is an option
  EXPECT_EQ(r.rows, std::vector<uint32_t>{4294967295u});
  EXPECT_EQ(r.outputFile, "x");
  r = Parse({"extract", "a.zip", "--all"}, true);
  EXPECT_TRUE(r.all);
  r = Parse({"cat", "a.zip", "0"}, true);
  EXPECT_EQ(r.rows, std::vector<uint32_t>{0});
  r = Parse({"help", "verify"}, true);
  EXPECT_EQ(r.command, PackToolCommand::Help);
  EXPECT_EQ(r.helpFor, PackToolCommand::Verify);
  r = Parse({"list", "a.zip", "--match", "C:\\Daten\\*", "--match=*.txt", "3"}, true);
  EXPECT_EQ(r.patterns, (std::vector<std::string>{"C:\\Daten\\*", "*.txt"}));
  EXPECT_EQ(r.rows, std::vector<uint32_t>{3});
  r = Parse({"extract", "a.zip", "--match", "*", "-d", "out", "--quiet"}, true);
  EXPECT_TRUE(r.quiet);
  r = Parse({"extract", "a.zip", "2", "--json"}, true);
  EXPECT_EQ(r.format, ListFormat::Json);
  r = Parse({"cat", "a.zip", "--match", "*Brief*"}, true);
  EXPECT_TRUE(r.rows.empty());
  EXPECT_EQ(Parse({"extract", "a.zip", "1", "-o", "-out"}, true).outputFile, "-out");  // values may start with "-"
  EXPECT_EQ(Parse({"list", "a.zip", "--match", "-x*", "--match", "--"}, true).patterns,
            (std::vector<std::string>{"-x*", "--"}));
  r = Parse({"list", "a.zip", "--help"}, true);
  EXPECT_EQ(r.helpFor, PackToolCommand::List);
  // A word that is no number is a name, for the commands that write entries.
  r = Parse({"extract", "a.zip", "Bank.doc", "3", "Briefe\\Bank.doc", "1x", "-n", "--flat"}, true);
  EXPECT_EQ(r.rows, std::vector<uint32_t>{3});
  EXPECT_EQ(r.names, (std::vector<std::string>{"Bank.doc", "Briefe\\Bank.doc", "1x"}));
  EXPECT_TRUE(r.skipExisting && r.flat);
}

TEST(PackToolCommandLine, RefusesWhatMakesNoSense) {
  std::string error;
  Parse({}, false);
  Parse({"frobnicate", "a.zip"}, false);
  Parse({"list"}, false);
  Parse({"rescue", "a.zip", "-d", "x", "--all"}, false);
  Parse({"list", "a.zip", "--match"}, false);
  Parse({"list", "a.zip", "--match="}, false);
  // An empty value glued to its option does not take the next word.
  for (auto [arguments, message] : std::vector<std::pair<std::vector<const char*>, std::string>>{
           {{"list", "a.zip", "--match=", "3"}, "--match needs a pattern"},
           {{"extract", "a.zip", "0", "--directory=", "out"}, "-d needs a folder name"},
           {{"extract", "a.zip", "0", "--output=", "f"}, "-o needs a file name"}}) {
    Parse(arguments, false, &error);
    EXPECT_EQ(error, message);
  }
  EXPECT_EQ(Parse({"list", "a.zip", "--match", "--match="}, true).patterns, (std::vector<std::string>{"--match="}));
  EXPECT_TRUE(Parse({"list", "a.zip", "--quiet"}, true).quiet);
  Parse({"extract", "a.zip", "1", "--quiet", "--json"}, false);
  Parse({"extract", "a.zip", "--all", "--match", "*"}, false);
  Parse({"extract", "a.zip", "1", "--match", "*", "-o", "f"}, false);
  Parse({"extract", "a.zip", "1", "Bank.doc", "-o", "f"}, false);
  Parse({"extract", "a.zip", "1", "-n", "--force"}, false);
  // list takes archives and folders, then rows by number
  EXPECT_EQ(Parse({"list", "a.zip", "Bank.doc"}, true).archives, (std::vector<std::string>{"a.zip", "Bank.doc"}));
  Parse({"cat", "a.zip", "1", "--match", "*"}, false);
  Parse({"list", "a.zip", "--raw", "--json"}, false);
  Parse({"verify", "a.zip", "--force"}, false);
  Parse({"cat", "a.zip"}, false);
  Parse({"cat", "a.zip", "1", "2"}, false);
  Parse({"extract", "a.zip"}, false);
  Parse({"extract", "a.zip", "1", "--all"}, false);
  Parse({"extract", "a.zip", "1", "2", "-o", "f"}, false);
  Parse({"extract", "a.zip", "--all", "-o", "f"}, false);
  Parse({"extract", "a.zip", "1", "-o", "f", "-d", "g"}, false);
  Parse({"extract", "a.zip", "1", "-o"}, false);
  Parse({"extract", "a.zip", "1", "--bogus"}, false);
  Parse({"extract", "a.zip", "4294967296"}, false);
  Parse({"extract", "a.zip", "-1"}, false, &error);
  EXPECT_NE(error.find("not a row number"), std::string::npos) << error;
  Parse({"extract", "a.zip", "+1"}, false);
  Parse({"help", "nothing"}, false);
  Parse({"--version", "list", "a.zip"}, false);
  // One command at a time: a second command's name is a name of rescue's.
  EXPECT_EQ(Parse({"rescue", "a.zip", "-d", "x", "verify", "b.zip"}, true).names,
            (std::vector<std::string>{"verify", "b.zip"}));
  Parse({"extract", "a.zip", "1", "--force=0"}, false);
  Parse({"frobnicate"}, false, &error);
  EXPECT_EQ(error, "unknown command \"frobnicate\"");
}

// Help is asked for in three ways; each names the command, and its text
// starts with the command's usage line (the man page is cut from it).
TEST(PackToolCommandLine, HelpForEachCommand) {
  const struct {
    const char* name;
    PackToolCommand command;
  } COMMANDS[] = {{"list", PackToolCommand::List},
                  {"extract", PackToolCommand::Extract},
                  {"verify", PackToolCommand::Verify},
                  {"cat", PackToolCommand::Cat},
                  {"rescue", PackToolCommand::Rescue}};
  for (const auto& c : COMMANDS) {
    SCOPED_TRACE(c.name);
    for (const std::vector<const char*>& asked :
         {std::vector<const char*>{"help", c.name}, {c.name, "--help"}, {c.name, "a.zip", "-h", "--bogus"}}) {
      PackToolRequest r = Parse(asked, true);
      EXPECT_EQ(r.command, PackToolCommand::Help);
      EXPECT_EQ(r.helpFor, c.command);
    }
    EXPECT_EQ(HelpText(c.command).rfind(std::string("usage: packtool ") + c.name + " [OPTIONS] ARCHIVE", 0), 0u);
  }
  EXPECT_EQ(Parse({"help", "help"}, true).helpFor, PackToolCommand::None);
  EXPECT_EQ(Parse({"--help"}, true).helpFor, PackToolCommand::None);
}

TEST(PackToolCommandLine, HelpNamesEveryExitCode) {
  std::string help = HelpText(PackToolCommand::None);
  for (int code = 0; code <= 7; code++) {
    EXPECT_NE(help.find("  " + std::to_string(code) + "  "), std::string::npos) << code;
  }
}

}  // namespace

namespace {

// 128 umlauts are 256 bytes of UTF-8: a name the Linux file system refuses.
// It is shortened to fit, keeps its extension, and two such names stay apart.
TEST(PackToolTarget, ANameTooLongForTheDiskIsShortenedToFit) {
  std::string umlauts(128, '\xe4');
  TargetPath first, second;
  ASSERT_EQ(TargetFromRowPath("C:\\Daten\\" + umlauts + ".txt", false, &first), nullptr);
  ASSERT_EQ(TargetFromRowPath("C:\\Daten\\" + umlauts + "b.txt", false, &second), nullptr);
  EXPECT_LE(Windows1252ToUtf8(first.name).size(), 255u);
  EXPECT_TRUE(first.name.ends_with(".txt"));
  EXPECT_NE(first.name, second.name);
  EXPECT_EQ(first.folders, std::vector<std::string>{"Daten"});
  // On Windows a 1252 byte is one letter: 132 of them fit as they are.
  ASSERT_EQ(TargetFromRowPath("C:\\" + umlauts + ".txt", true, &first), nullptr);
  EXPECT_EQ(first.name, umlauts + ".txt");
  ASSERT_EQ(TargetFromRowPath("C:\\" + std::string(300, 'a'), true, &first), nullptr);
  EXPECT_EQ(first.name.size(), 255u);
}

// A whole path longer than the system takes below the folder is fitted: the
// longest parts are shortened first, names stay apart and keep their
// extension, and a path of too many short folders is refused, never cut.
TEST(PackToolTarget, AWholePathTooLongIsFittedPartByPart) {
  auto length = [](const TargetPath& path, size_t nameAtLeast) {
    size_t total = std::max(path.name.size(), nameAtLeast);
    for (const std::string& folder : path.folders) total += folder.size() + 1;
    return total;
  };
  struct Case {
    std::string row;
    size_t room, nameAtLeast;
    bool fits;
  } cases[] = {
      {"C:\\" + std::string(100, 'a') + "\\" + std::string(100, 'b') + "\\Brief.txt", 120, 0, true},
      {"C:\\" + std::string(100, 'a') + "\\" + std::string(100, 'b') + "\\Brief.txt", 120, 60, true},
      {"C:\\Daten\\" + std::string(200, 'c') + ".jpeg", 100, 0, true},
      {"C:\\kurz\\Brief.txt", 20, 0, true},                           // fits as it is
      {"C:\\" + std::string(40, 'd') + "\\x.txt", 0, 0, true},        // no limit
      {"C:\\a\\b\\c\\d\\e\\f\\g\\h\\i\\j\\Brief.txt", 10, 0, false},  // too many folders
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.row.substr(0, 40) + " in " + std::to_string(c.room));
    TargetPath path, whole;
    ASSERT_EQ(TargetFromRowPath(c.row, true, &path), nullptr);
    whole = path;
    const char* refusal = FitTargetPath(&path, c.room, c.nameAtLeast, true);
    if (!c.fits) {
      EXPECT_NE(refusal, nullptr);
      continue;
    }
    ASSERT_EQ(refusal, nullptr);
    if (c.room == 0 || length(whole, c.nameAtLeast) <= c.room) {
      EXPECT_EQ(path.folders, whole.folders);
      EXPECT_EQ(path.name, whole.name);
      continue;
    }
    EXPECT_LE(length(path, c.nameAtLeast), c.room);
    EXPECT_EQ(path.folders.size(), whole.folders.size());
    EXPECT_EQ(path.name.substr(path.name.rfind('.')), whole.name.substr(whole.name.rfind('.')));
  }
  // Two long paths that differ only at their ends stay apart when fitted.
  TargetPath first, second;
  ASSERT_EQ(TargetFromRowPath("C:\\" + std::string(150, 'e') + "1\\a.txt", true, &first), nullptr);
  ASSERT_EQ(TargetFromRowPath("C:\\" + std::string(150, 'e') + "2\\a.txt", true, &second), nullptr);
  ASSERT_EQ(FitTargetPath(&first, 60, 0, true), nullptr);
  ASSERT_EQ(FitTargetPath(&second, 60, 0, true), nullptr);
  EXPECT_NE(first.folders, second.folders);
}

}  // namespace
