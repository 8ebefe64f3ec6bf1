// A damaged index lists only the lines that lie wholly inside what its
// stream decoded; the zeros the reader puts behind them give no rows.
#include "tests/app/commands_fixture.h"

namespace {

// Lines as the line rules cut this test's texts (CR LF ends only).
std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

// The part of text up to and with its last CR LF.
std::string WholeLines(const std::string& text) {
  size_t last = text.rfind("\r\n");
  return last == std::string::npos ? "" : text.substr(0, last + 2);
}

std::string ManyLines(int count) {
  std::string text;
  for (int i = 0; i < count; i++) text += "C:\\Daten\\Datei " + std::to_string(i) + ".txt\r\n";
  return text;
}

std::vector<uint8_t> Stream(const std::string& text, bool withChecksum) {
  std::vector<uint8_t> data = Text(text);
  return EncodeCompressedStream(data.data(), data.size(), EncoderMode::Balanced, withChecksum);
}

// The index entry is made by the case; a sound entry 1 follows it.
struct DamagedCase {
  const char* what;
  std::string text;  // what the index stream encodes
  std::vector<uint8_t> (*entry)(const std::string& text);
  bool cut;  // decoded ends before the entry's end
};

// A header that claims a quarter of a gigabyte for a stream of three lines.
std::vector<uint8_t> HostileClaim(const std::string& text) {
  std::vector<uint8_t> stream = Stream(text, false);
  std::vector<uint8_t> archive;
  AppendRawEntry(archive, 256u << 20, uint32_t(stream.size()), stream);
  return archive;
}

// The stream stops halfway: its second half is not in the archive.
std::vector<uint8_t> StreamCutInHalf(const std::string& text) {
  std::vector<uint8_t> stream = Stream(text, true);
  stream.resize(stream.size() / 2);
  std::vector<uint8_t> archive;
  AppendRawEntry(archive, uint32_t(text.size()), uint32_t(stream.size()), stream);
  return archive;
}

// Every byte decodes, but the checksum in the stream header is wrong.
std::vector<uint8_t> WrongChecksum(const std::string& text) {
  std::vector<uint8_t> stream = Stream(text, true);
  stream[6] ^= 0x5A;  // first byte of the checksum, after "JC" and the size
  std::vector<uint8_t> archive;
  AppendRawEntry(archive, uint32_t(text.size()), uint32_t(stream.size()), stream);
  return archive;
}

TEST_F(CommandsTest, ADamagedIndexListsOnlyWholeDecodedLines) {
  const DamagedCase cases[] = {
      {"a hostile size claim", "C:\\Brief.doc\r\nC:\\Bild.bmp\r\nC:\\halb", HostileClaim, true},
      {"a hostile size claim, ending in a line end", "C:\\Brief.doc\r\nC:\\Bild.bmp\r\n", HostileClaim, true},
      {"a stream cut short", ManyLines(400), StreamCutInHalf, true},
      {"a wrong checksum", "C:\\Brief.doc\r\nC:\\Bild.bmp\r\nC:\\Ende.txt", WrongChecksum, false},
  };
  int number = 0;
  for (const DamagedCase& test : cases) {
    SCOPED_TRACE(test.what);
    // A name of its own: the last export keeps its archive open.
    std::string path = "damaged" + std::to_string(number++) + ".zip";
    std::vector<uint8_t> archive = test.entry(test.text);
    std::vector<uint8_t> rest = BuildArchive({StoredEntry(Text("eins"))});
    archive.insert(archive.end(), rest.begin(), rest.end());
    ASSERT_TRUE(WriteFileBytes(path, archive));

    // What the reader says it decoded, asked on its own.
    ASSERT_EQ(ArchiveOpen(path.c_str()), 1);
    ASSERT_NE(ArchiveNextEntry(), nullptr);
    ArchiveEntryInfo info{};
    ASSERT_NE(ArchiveLastEntryInfo(&info), 0);
    ASSERT_EQ(info.damaged, 1);
    ASSERT_GT(info.decoded, 0u);
    ASSERT_EQ(info.decoded < info.unpackedSize, test.cut);
    std::string decoded = test.text.substr(0, info.decoded);
    ArchiveClose();

    List(path);
    std::vector<std::string> expected = LinesOf(test.cut ? WholeLines(decoded) : decoded);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(Rows(), expected);
    EXPECT_TRUE(IsWindowEnabled(Control(BUTTON_EXPORT)));
    EXPECT_FALSE(Exists("Index.tmp"));

    // The rows still name their entries: row 1 exports entry 1.
    Export(1, "eins.bin");
    EXPECT_EQ(ReadWhole("eins.bin"), "eins");
    DeleteFileA("eins.bin");
  }
}

TEST_F(CommandsTest, ADamagedIndexWithoutAWholeLineListsNothing) {
  // The claim is far beyond a stream whose only line has no end.
  std::vector<uint8_t> archive = HostileClaim("C:\\ohne Zeilenende");
  ASSERT_TRUE(WriteFileBytes("damaged.zip", archive));
  List("damaged.zip");
  EXPECT_TRUE(Rows().empty());
  EXPECT_FALSE(Exists("Index.tmp"));
}

}  // namespace
