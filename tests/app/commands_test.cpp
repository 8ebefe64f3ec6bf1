// The two commands on the real window and gadgets, with the requesters
// replaced by a script. Each test runs in a folder of its own, since the
// index file is made in the current folder.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/app/commands_fixture.h"
#include "tests/support/counted_seam.h"

namespace {

const std::string INDEX = "C:\\Sicherung\\Inhalt.txt\r\nC:\\Dokumente\\Pr\xFC" "fung.txt\nC:\\Leer.txt\rC:\\Bild.bmp";

std::vector<PackEntry> SampleEntries() {
  std::string letter;
  for (int i = 0; i < 300; i++) letter += "Zeile " + std::to_string(i) + " mit \xE4\xF6\xFC\r\n";
  std::vector<uint8_t> picture(70000);
  for (size_t i = 0; i < picture.size(); i++) picture[i] = uint8_t((i / 300) * 7);
  return {StoredEntry(Text(INDEX)), CompressedEntry(Text(letter)), StoredEntry({}), CompressedEntry(picture)};
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

// A full disk where the tool runs, and in the temporary folder too: the rows
// still appear, and no index file is left anywhere.
TEST_F(CommandsTest, AFullDiskStillLists) {
  ASSERT_TRUE(WriteArchive("backup.zip", SampleEntries()));
  PlatformFileLimitWrites(0);
  List("backup.zip");
  PlatformFileCallsReset();
  EXPECT_EQ(Rows(), (std::vector<std::string>{"C:\\Sicherung\\Inhalt.txt", "C:\\Dokumente\\Pr\xFC" "fung.txt",
                                              "C:\\Leer.txt", "C:\\Bild.bmp"}));
  EXPECT_EQ(FolderNames("."), std::vector<std::string>{"backup.zip"});
  char temporary[MAX_PATH];
  GetTempPathA(MAX_PATH, temporary);
  std::string ours = "Wiederherstellung-" + std::to_string(GetCurrentProcessId()) + "-*.tmp";
  EXPECT_TRUE(FolderNames(temporary, ours.c_str()).empty());
}

TEST_F(CommandsTest, SecondListingReplacesAllRows) {
  ASSERT_TRUE(WriteArchive("first.zip", SampleEntries()));
  ASSERT_TRUE(WriteArchive("second.zip", {StoredEntry(Text("eins\r\n"))}));
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

// A full disk at every stage of the write (the small index goes through the
// file's buffer, the picture straight from memory): the file the user chose
// to replace stays as it was and nothing else is left in the folder. With
// room, the whole entry replaces it.
TEST_F(CommandsTest, ExportReplacesAFileOnlyWithTheWholeEntry) {
  std::vector<PackEntry> entries = SampleEntries();
  ASSERT_TRUE(WriteArchive("backup.zip", entries));
  List("backup.zip");
  for (int row : {0, 3}) {
    uint64_t size = entries[row].data.size();
    for (uint64_t room : {uint64_t(0), uint64_t(1), size - 1}) {
      WriteWhole("older.bin", "the user's older copy");
      PlatformFileLimitWrites(room);
      Export(row, "older.bin");
      PlatformFileCallsReset();
      EXPECT_EQ(ReadWhole("older.bin"), "the user's older copy") << row << " " << room;
      EXPECT_EQ(FolderNames(".").size(), 2u) << "only the archive and the user's file, row " << row << " " << room;
    }
    Export(row, "older.bin");
    EXPECT_EQ(ReadWhole("older.bin"), std::string(entries[row].data.begin(), entries[row].data.end())) << row;
    EXPECT_EQ(FolderNames(".").size(), 2u) << row;
  }
}

TEST_F(CommandsTest, RowsBeyondTheLastEntryAndNoSelectionWriteNothing) {
  // Five rows, three entries.
  ASSERT_TRUE(WriteArchive("short.zip",
                           {StoredEntry(Text("a\nb\nc\nd\ne\n")), StoredEntry(Text("B")), StoredEntry(Text("C"))}));
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
  std::vector<uint8_t> archive = BuildArchive({StoredEntry(Text("i\r\nd\r\nok\r\n"))});
  AppendRawEntry(archive, 2 * bigSize, bigSize, std::vector<uint8_t>(bigSize, 0xEE));
  std::vector<uint8_t> tail = BuildArchive({StoredEntry(Text("restored"))});
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

namespace {

TEST_F(CommandsTest, ExportOfADamagedEntryWritesOnlyWhatWasDecoded) {
  // Entry 1 claims 16 MiB; its stream gives a few bytes and ends.
  std::vector<uint8_t> text = Text("nur dies");
  std::vector<uint8_t> stream = EncodeCompressedStream(text.data(), text.size(), EncoderMode::Literals8, false);
  std::vector<uint8_t> archive = BuildArchive({StoredEntry(Text("i\r\nd\r\n"))});
  AppendRawEntry(archive, 16u << 20, uint32_t(stream.size()), stream);
  ASSERT_TRUE(WriteFileBytes("claim.zip", archive));
  List("claim.zip");
  Export(1, "part.bin");
  EXPECT_EQ(ReadWhole("part.bin"), "nur dies");
}

}  // namespace
