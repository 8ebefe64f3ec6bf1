// Line reading: which lines a text yields, across refills of the buffer, and
// what it costs in system reads.
#include <string>
#include <vector>

#include "tests/file/file_fixture.h"
#include "tests/support/counted_seam.h"

namespace {

using Lines = std::vector<std::string>;

struct LineCase {
  const char* name;
  std::string content;
  Lines lines;
};

// x and y stand for runs of ordinary bytes.
const LineCase LINE_CASES[] = {
    {"x CR LF y", "x\r\ny", {"x", "y"}},
    {"x LF y", "x\ny", {"x", "y"}},
    {"x CR y", "x\ry", {"x", "y"}},
    {"x LF LF y", "x\n\ny", {"x", "", "y"}},
    {"x LF CR y", "x\n\ry", {"x", "", "y"}},
    {"x CR CR LF y", "x\r\r\ny", {"x", "", "y"}},
    {"x NUL y", std::string("x\0y", 3), {"x", "y"}},
    {"x CR LF", "x\r\n", {"x"}},
    {"x CR", "x\r", {"x"}},
    {"x", "x", {"x"}},
    {"CR LF", "\r\n", {""}},
    {"empty file", "", {}},
    {"longer runs", "Ordner\\Datei.txt\r\nzweite Zeile\n\ndritte", {"Ordner\\Datei.txt", "zweite Zeile", "", "dritte"}},
    {"NUL in the middle", std::string("ab\0cd\0", 6), {"ab", "cd"}},
    {"UTF-8 mark stays", "\xEF\xBB\xBFtext\r\n", {"\xEF\xBB\xBFtext"}},
};

class LineReading : public FileTest {
 protected:
  Lines ReadFile(const std::string& content) {
    const char* path = Path("lines");
    WriteWhole(path, content);
    EXPECT_NE(FileOpenRead(1, path), 0);
    Lines lines = ReadAllLines(1);
    FileClose(1);
    return lines;
  }
};

class UnbufferedLineReading : public UnbufferedFileTest {
 protected:
  Lines ReadFile(const std::string& content) {
    const char* path = Path("lines");
    WriteWhole(path, content);
    EXPECT_NE(FileOpenRead(1, path), 0);
    EXPECT_EQ(Record(1)->buffer, nullptr);
    Lines lines = ReadAllLines(1);
    FileClose(1);
    return lines;
  }
};

TEST_F(LineReading, ContentsGiveExactlyTheirLines) {
  for (const LineCase& c : LINE_CASES) EXPECT_EQ(ReadFile(c.content), c.lines) << c.name;
}

TEST_F(UnbufferedLineReading, ContentsGiveExactlyTheirLines) {
  for (const LineCase& c : LINE_CASES) EXPECT_EQ(ReadFile(c.content), c.lines) << c.name;
}

TEST_F(LineReading, EveryByteOutsideTheLineEndsComesBackUnchanged) {
  std::string line;
  for (int byte = 1; byte < 256; byte++) {
    if (byte != '\n' && byte != '\r') line.push_back(char(byte));
  }
  EXPECT_EQ(ReadFile(line + "\r\n" + line), (Lines{line, line}));
}

TEST_F(LineReading, CrLfSplitAcrossTwoRefillsIsOneLineEnd) {
  std::string first(4095, 'a');
  PlatformFileCallsReset();
  EXPECT_EQ(ReadFile(first + "\r\nnext"), (Lines{first, "next"}));
  // CR as the last byte of a refill followed by another byte: that byte
  // begins the next line.
  EXPECT_EQ(ReadFile(first + "\rnext"), (Lines{first, "next"}));
  EXPECT_EQ(ReadFile(first + "\r\rnext"), (Lines{first, "", "next"}));
  EXPECT_EQ(ReadFile(first + "\n\rnext"), (Lines{first, "", "next"}));
  EXPECT_EQ(ReadFile(first + "\r"), (Lines{first}));
  EXPECT_EQ(ReadFile(std::string(4094, 'a') + "\r\n"), (Lines{std::string(4094, 'a')}));
}

TEST_F(LineReading, LinesOfAnyLengthComeBackWhole) {
  std::string ten(10000, 'z');
  EXPECT_EQ(ReadFile(ten), (Lines{ten}));
  std::string big = Pattern(100000);
  for (char& c : big) {
    if (c == '\0' || c == '\n' || c == '\r') c = '.';
  }
  EXPECT_EQ(ReadFile("short\n" + big + "\r\n" + ten + "\n"), (Lines{"short", big, ten}));
}

TEST_F(UnbufferedLineReading, LinesOfAnyLengthComeBackWhole) {
  std::string ten(10000, 'z');
  EXPECT_EQ(ReadFile(ten + "\r" + ten), (Lines{ten, ten}));
}

TEST_F(LineReading, OneSystemReadPerBufferOfText) {
  std::string text;
  Lines expected;
  for (int i = 0; text.size() < 40960 - 20; i++) {
    std::string line = "Zeile " + std::to_string(i);
    expected.push_back(line);
    text += line + (i % 3 == 0 ? "\r\n" : "\n");
  }
  // Exactly ten buffers, the last line end as the very last byte.
  ASSERT_LT(text.size(), 40960u);
  std::string last(40960 - text.size() - 1, 'q');
  text += last + "\n";
  expected.push_back(last);
  const char* path = Path("count");
  WriteWhole(path, text);
  ASSERT_NE(FileOpenRead(1, path), 0);
  PlatformFileCallsReset();
  EXPECT_EQ(ReadAllLines(1), expected);
  PlatformFileCallCounts calls = PlatformFileCalls();
  EXPECT_EQ(calls.reads, 10u + 1u) << "ten buffers, and one read that finds the end";
  EXPECT_EQ(calls.seeks, 0u);
  FileClose(1);
}

TEST_F(UnbufferedLineReading, OneSystemReadPerByte) {
  const char* path = Path("count");
  WriteWhole(path, "ab\r\ncd\rx");
  ASSERT_NE(FileOpenRead(1, path), 0);
  PlatformFileCallsReset();
  EXPECT_STREQ(FileReadLine(1).Text(), "ab");
  EXPECT_EQ(PlatformFileCalls().reads, 4u);
  EXPECT_STREQ(FileReadLine(1).Text(), "cd");
  EXPECT_EQ(PlatformFileCalls().reads, 8u);
  EXPECT_EQ(PlatformFileCalls().seeks, 1u) << "the byte after CR is given back";
  EXPECT_STREQ(FileReadLine(1).Text(), "x");
  EXPECT_EQ(FileAtEnd(1), -1);
  FileClose(1);
}

TEST_F(LineReading, NumberWithNoOpenFileGivesEmptyLinesAndReadsNothing) {
  const char* path = Path("closed");
  WriteWhole(path, "text\n");
  ASSERT_NE(FileOpenRead(1, path), 0);
  FileClose(1);
  PlatformFileCallsReset();
  for (intptr_t number : {intptr_t{1}, intptr_t{2}, intptr_t{15}, intptr_t{1000}, OBJECT_ANY, intptr_t{-7},
                          reinterpret_cast<intptr_t>(&path)}) {
    String line = FileReadLine(number);
    EXPECT_STREQ(line.Text(), "") << number;
  }
  PlatformFileCallCounts calls = PlatformFileCalls();
  EXPECT_EQ(calls.reads + calls.seeks + calls.writes, 0u);
}

TEST_F(LineReading, ReadingAFileBeingWrittenWritesThePendingBytesFirst) {
  const char* path = Path("writing");
  ASSERT_NE(FileCreate(1, path), 0);
  ASSERT_EQ(FileWriteData(1, "one\n", 4), 4);
  PlatformFileCallsReset();
  EXPECT_STREQ(FileReadLine(1).Text(), "") << "the position is behind the written bytes";
  EXPECT_EQ(PlatformFileCalls().writes, 1u);
  EXPECT_EQ(ReadWhole(path), "one\n");
  FileClose(1);
}

// What the restore command does with an index: write it, read it back.
TEST_F(LineReading, IndexWrittenAndReadBackGivesItsRows) {
  const char* path = Path("index");
  std::string index =
      "C:\\Daten\\Brief.doc\r\nC:\\Daten\\\xDC"
      "bersicht.xls\r\n\r\nD:\\Fotos\\Stra\xDF"
      "e.jpg\r\n";
  ASSERT_NE(FileCreate(1, path), 0);
  ASSERT_EQ(FileWriteData(1, index.data(), int32_t(index.size())), int32_t(index.size()));
  FileClose(1);
  ASSERT_NE(FileOpenRead(1, path), 0);
  EXPECT_EQ(ReadAllLines(1), (Lines{"C:\\Daten\\Brief.doc",
                                    "C:\\Daten\\\xDC"
                                    "bersicht.xls",
                                    "",
                                    "D:\\Fotos\\Stra\xDF"
                                    "e.jpg"}));
  FileClose(1);
  EXPECT_NE(FileDelete(path), 0);
}

}  // namespace

// The whole lines of a text cut off somewhere: up to and with its last line end.
TEST(LineTextWholeLines, KeepsWhatEndsBeforeTheCut) {
  static const struct {
    const char* text;
    size_t size;
    size_t whole;
  } cases[] = {
      {"", 0, 0},     {"abc", 3, 0},    {"ab\ncd", 5, 3},   {"ab\r\ncd", 6, 4},
      {"ab\r", 3, 3}, {"ab\0cd", 5, 3}, {"ab\ncd\n", 6, 6}, {"\n\n", 2, 2},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LineTextWholeLines(reinterpret_cast<const unsigned char*>(c.text), c.size), c.whole) << c.text;
  }
  // Trusted: all of a text that was not cut, its last line too.
  const auto* text = reinterpret_cast<const unsigned char*>("ab\ncd");
  EXPECT_EQ(LineTextTrusted(text, 5, 5), 5u);
  EXPECT_EQ(LineTextTrusted(text, 4, 5), 3u);
}

// The in-memory cut gives what the file reader gives, for the table's texts
// and for every split of a mixed text.
TEST(LineTextNext, CutsAsTheLineReaderDoes) {
  static const struct {
    std::string text;
    std::vector<std::string> lines;
  } cases[] = {
      {"x\r\ny", {"x", "y"}},
      {"x\ny", {"x", "y"}},
      {"x\ry", {"x", "y"}},
      {"x\n\ny", {"x", "", "y"}},
      {"x\n\ry", {"x", "", "y"}},
      {"x\r\r\ny", {"x", "", "y"}},
      {std::string("x\0y", 3), {"x", "y"}},
      {"x\r\n", {"x"}},
      {"x\r", {"x"}},
      {"x", {"x"}},
      {"\r\n", {""}},
      {"", {}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> lines;
    const auto* text = reinterpret_cast<const unsigned char*>(c.text.data());
    size_t length = 0;
    for (size_t at = 0; at < c.text.size();) {
      size_t next = LineTextNext(text, c.text.size(), at, &length);
      lines.emplace_back(c.text.substr(at, length));
      at = next;
    }
    EXPECT_EQ(lines, c.lines) << c.text;
  }
}
