// The two commands on the real window and gadgets, with the requesters
// replaced by a script. Each test runs in a folder of its own, since the
// index file is made in the current folder.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/commands.h"
#include "core/startup.h"
#include "file/file.h"
#include "gadget/gadget.h"
#include "pack/archive.h"
#include "platform/platform.h"
#include "tests/app/scripted_requester.h"
#include "tests/support/pack_writer.h"
#include "tests/support/test_files.h"
#include "window/window.h"

namespace {

std::vector<uint8_t> Bytes(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

class CommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    workFolder_ = std::string(folder) + "restore_commands_" + std::to_string(GetCurrentProcessId()) + "_" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name();
    CreateDirectoryA(workFolder_.c_str(), nullptr);
    GetCurrentDirectoryA(MAX_PATH, folder);
    previousFolder_ = folder;
    SetCurrentDirectoryA(workFolder_.c_str());

    steps_ = CommandLibraries();
    RuntimeStartUp(steps_);
    Script() = RequesterScript{};
    Commands() = CommandState{};
    ASSERT_TRUE(OpenMainWindow());
  }

  void TearDown() override {
    RuntimeShutDown(steps_);
    SetCurrentDirectoryA(previousFolder_.c_str());
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((workFolder_ + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do DeleteFileA((workFolder_ + "\\" + found.cFileName).c_str());
      while (FindNextFileA(search, &found));
      FindClose(search);
    }
    RemoveDirectoryA(workFolder_.c_str());
  }

  HWND Control(int id) { return GetDlgItem(WindowGet(MAIN_WINDOW)->window, id); }

  std::vector<std::string> Rows() {
    std::vector<std::string> rows;
    LRESULT count = SendMessageA(Control(LIST_ENTRIES), LB_GETCOUNT, 0, 0);
    for (LRESULT row = 0; row < count; row++) rows.push_back(GadgetGetItemText(LIST_ENTRIES, row, 0).Text());
    return rows;
  }

  void Select(int row) { SendMessageA(Control(LIST_ENTRIES), LB_SETCURSEL, WPARAM(row), 0); }

  // Lists the archive at path through the command, as a click on button 1.
  void List(const std::string& path) {
    Script().answers.push_back(path);
    SelectBackup();
  }

  // Exports row to target through the command, as a click on button 2.
  void Export(int row, const std::string& target) {
    Select(row);
    Script().answers.push_back(target);
    ExportEntry();
  }

  LibrarySteps steps_{};
  std::string workFolder_;
  std::string previousFolder_;
};

const std::string INDEX = "C:\\Sicherung\\Inhalt.txt\r\nC:\\Dokumente\\Pr\xFC" "fung.txt\nC:\\Leer.txt\rC:\\Bild.bmp";

std::vector<PackEntry> SampleEntries() {
  std::string letter;
  for (int i = 0; i < 300; i++) letter += "Zeile " + std::to_string(i) + " mit \xE4\xF6\xFC\r\n";
  std::vector<uint8_t> picture(70000);
  for (size_t i = 0; i < picture.size(); i++) picture[i] = uint8_t((i / 300) * 7);
  return {StoredEntry(Bytes(INDEX)), CompressedEntry(Bytes(letter)), StoredEntry({}), CompressedEntry(picture)};
}

TEST_F(CommandsTest, ListingShowsEveryIndexLineAndEnablesExport) {
  ASSERT_TRUE(WriteArchive("backup.zip", SampleEntries()));
  EXPECT_FALSE(IsWindowEnabled(Control(BUTTON_EXPORT)));
  List("backup.zip");
  EXPECT_EQ(Rows(), (std::vector<std::string>{"C:\\Sicherung\\Inhalt.txt", "C:\\Dokumente\\Pr\xFC" "fung.txt",
                                              "C:\\Leer.txt", "C:\\Bild.bmp"}));
  EXPECT_TRUE(IsWindowEnabled(Control(BUTTON_EXPORT)));
  EXPECT_FALSE(Exists("Index.tmp"));
  ASSERT_EQ(Script().openCalls.size(), 1u);
  EXPECT_EQ(Script().openCalls[0].title, "Sicherung ausw\xE4hlen");
  EXPECT_EQ(Script().openCalls[0].defaultFile, "Sicherungen\\");
  EXPECT_EQ(Script().openCalls[0].pattern, "Sicherung|*.zip");
  EXPECT_EQ(Script().openCalls[0].position, 0);
}

// 26 bytes whose index claims 64 MiB: a stream of four literals. The list
// holds the two rows the stream gave, not one empty row per claimed zero.
TEST_F(CommandsTest, AHostileIndexClaimListsWhatItsStreamGave) {
  StreamBitWriter bits;
  bits.LiteralWidth(8, 0);
  for (char c : std::string("a\nb\n")) bits.Literal(uint8_t(c), 8);
  bits.EndCode();
  std::vector<uint8_t> stream = MakeStream(64u << 20, 0, bits);
  stream.resize(18, 0);
  std::vector<uint8_t> archive;
  AppendRawEntry(archive, 64u << 20, uint32_t(stream.size()), stream);
  ASSERT_TRUE(WriteFileBytes("hostile.zip", archive));
  List("hostile.zip");
  EXPECT_EQ(Rows(), (std::vector<std::string>{"a", "b"}));
  EXPECT_FALSE(Exists("Index.tmp"));
}

TEST_F(CommandsTest, SecondListingReplacesAllRows) {
  ASSERT_TRUE(WriteArchive("first.zip", SampleEntries()));
  ASSERT_TRUE(WriteArchive("second.zip", {StoredEntry(Bytes("eins\r\n"))}));
  List("first.zip");
  List("second.zip");
  EXPECT_EQ(Rows(), std::vector<std::string>{"eins"});
}

TEST_F(CommandsTest, ExportWritesTheEntryOfTheSelectedRowByteForByte) {
  std::vector<PackEntry> entries = SampleEntries();
  ASSERT_TRUE(WriteArchive("backup.zip", entries));
  List("backup.zip");
  for (int row = 0; row < 4; row++) {
    std::string target = "row" + std::to_string(row) + ".bin";
    Export(row, target);
    ASSERT_TRUE(Exists(target)) << row;
    EXPECT_EQ(ReadWhole(target), std::string(entries[row].data.begin(), entries[row].data.end())) << row;
  }
  // The row's text is proposed as the target.
  ASSERT_EQ(Script().saveCalls.size(), 4u);
  EXPECT_EQ(Script().saveCalls[1].title, "Datei speichern");
  EXPECT_EQ(Script().saveCalls[1].defaultFile, "C:\\Dokumente\\Pr\xFC" "fung.txt");
  EXPECT_EQ(Script().saveCalls[1].pattern, "");
}

TEST_F(CommandsTest, RowsBeyondTheLastEntryAndNoSelectionWriteNothing) {
  // Five rows, three entries.
  ASSERT_TRUE(WriteArchive("short.zip", {StoredEntry(Bytes("a\nb\nc\nd\ne\n")), StoredEntry(Bytes("B")),
                                         StoredEntry(Bytes("C"))}));
  List("short.zip");
  ASSERT_EQ(Rows().size(), 5u);
  Export(3, "past.bin");
  EXPECT_FALSE(Exists("past.bin"));
  Export(2, "last.bin");
  EXPECT_EQ(ReadWhole("last.bin"), "C");

  SendMessageA(Control(LIST_ENTRIES), LB_SETCURSEL, WPARAM(-1), 0);
  size_t asked = Script().saveCalls.size();
  Script().answers.push_back("none.bin");
  ExportEntry();
  EXPECT_FALSE(Exists("none.bin"));
  EXPECT_EQ(Script().saveCalls.size(), asked) << "nothing to export: no dialog";
}

TEST_F(CommandsTest, CancelKeepsTheListAndEmptiesTheBackupPath) {
  ASSERT_TRUE(WriteArchive("backup.zip", SampleEntries()));
  List("backup.zip");
  List("");  // cancelled
  EXPECT_EQ(Rows().size(), 4u);
  EXPECT_TRUE(IsWindowEnabled(Control(BUTTON_EXPORT)));
  EXPECT_STREQ(Commands().backupPath.Text(), "");
  Export(1, "after_cancel.bin");
  EXPECT_FALSE(Exists("after_cancel.bin"));
}

TEST_F(CommandsTest, AFileNamedIndexTmpThatTheCommandDidNotWriteIsNeitherListedNorDeleted) {
  WriteWhole("Index.tmp", "not ours\r\n");
  ASSERT_TRUE(WriteArchive("empty.zip", {}));
  for (const char* path : {"missing.zip", "empty.zip"}) {
    List(path);
    EXPECT_TRUE(Rows().empty()) << path;
    EXPECT_EQ(ReadWhole("Index.tmp"), "not ours\r\n") << path;
    EXPECT_FALSE(IsWindowEnabled(Control(BUTTON_EXPORT))) << path;
  }
}

TEST_F(CommandsTest, AnArchiveThatCannotBeListedClearsTheListAndEnds) {
  ASSERT_TRUE(WriteArchive("backup.zip", SampleEntries()));
  ASSERT_TRUE(WriteArchive("empty.zip", {}));
  List("backup.zip");
  List("empty.zip");  // no entries, and no index file to fall back on: must not hang
  EXPECT_TRUE(Rows().empty());
  EXPECT_FALSE(Exists("Index.tmp"));
}

TEST_F(CommandsTest, ExportPassesEarlierEntriesWithoutDecodingThem) {
  // Entry 1 is a megabyte of compressed stream that cannot be decoded;
  // exporting row 2 must neither depend on it nor read it.
  const uint32_t bigSize = 1000000;
  std::vector<uint8_t> archive = BuildArchive({StoredEntry(Bytes("i\r\nd\r\nok\r\n"))});
  AppendRawEntry(archive, 2 * bigSize, bigSize, std::vector<uint8_t>(bigSize, 0xEE));
  std::vector<uint8_t> tail = BuildArchive({StoredEntry(Bytes("restored"))});
  archive.insert(archive.end(), tail.begin(), tail.end());
  ASSERT_TRUE(WriteFileBytes("damaged.zip", archive));
  List("damaged.zip");
  PlatformFileCallsReset();
  Export(2, "ok.bin");
  EXPECT_EQ(ReadWhole("ok.bin"), "restored");
  // Entries 0 and 1 were passed by their headers: what was read is a
  // small fraction of entry 1.
  EXPECT_LT(PlatformFileCalls().bytesRead, 1000u);
}

}  // namespace
