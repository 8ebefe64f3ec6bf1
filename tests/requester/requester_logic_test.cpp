#include "requester/requester_logic.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/memory.h"

namespace {

using namespace std::string_literals;

class RequesterLogic : public testing::Test {
 protected:
  void SetUp() override { ProgramHeapCreate(); }
  void TearDown() override { ProgramHeapDestroy(); }
};

struct FilterCase {
  const char* pattern;
  std::string list;  // every byte of the block, the closing NUL pair included
};

const FilterCase FILTER_CASES[] = {
    {"Sicherung|*.zip", "Sicherung\0*.zip\0\0"s},
    {"", "\0\0"s},
    {nullptr, "\0\0"s},
    {"Text|*.txt|Alle|*.*", "Text\0*.txt\0Alle\0*.*\0\0"s},
    {"Bilder|*.bmp;*.png", "Bilder\0*.bmp;*.png\0\0"s},
    {"||", "\0\0\0\0"s},
    {"Ohne Trenner", "Ohne Trenner\0\0"s},
};

TEST_F(RequesterLogic, FilterListTurnsEveryBarIntoNulAndEndsWithTwoNuls) {
  EXPECT_EQ(FILTER_CASES[0].list.size(), 17u);
  for (const FilterCase& c : FILTER_CASES) {
    char* list = RequesterFilterList(c.pattern);
    ASSERT_NE(list, nullptr) << (c.pattern ? c.pattern : "(none)");
    EXPECT_EQ(std::string(list, c.list.size()), c.list) << (c.pattern ? c.pattern : "(none)");
    ProgramFree(list);
  }
}

struct SplitCase {
  const char* defaultFile;
  const char* directory;  // null: no directory copy
  const char* name;       // what the name field is given
};

const SplitCase SPLIT_CASES[] = {
    {"Sicherungen\\", "Sicherungen", ""},
    {"Ordner\\Unter\\Datei.txt", "Ordner\\Unter", "Datei.txt"},
    {"Datei.txt", "", "Datei.txt"},
    {"\xD6l und M\xFCll.txt", "", "\xD6l und M\xFCll.txt"},
    // Only a leading backslash: no split, and the whole text is no file name.
    {"\\Datei.txt", "", ""},
    {"\\", "", ""},
    {"", "", ""},
    {"Ordner\\a:b.txt", "Ordner", ""},
    {"Ordner\\a/b.txt", "Ordner", ""},
    {"Ordner\\Datei?.txt", "Ordner", ""},
    {"a/b.txt", "", ""},
    {"Zeile mit\tTab", "", ""},
    {"C:\\Daten\\Bericht.txt", "C:\\Daten", "Bericht.txt"},
    {"\\\\Server\\Freigabe\\x.bin", "\\\\Server\\Freigabe", "x.bin"},
    {"Ordner\\\\x", "Ordner\\", "x"},
    {nullptr, nullptr, ""},
};

TEST_F(RequesterLogic, DefaultFileSplitsAtTheLastBackslash) {
  for (const SplitCase& c : SPLIT_CASES) {
    const char* label = c.defaultFile != nullptr ? c.defaultFile : "(none)";
    char fileBuffer[REQUESTER_FILE_BUFFER_SIZE] = {};
    char* directory = RequesterSplitDefaultFile(c.defaultFile, fileBuffer);
    if (c.directory == nullptr) {
      EXPECT_EQ(directory, nullptr) << label;
    } else {
      ASSERT_NE(directory, nullptr) << label;
      EXPECT_STREQ(directory, c.directory) << label;
    }
    EXPECT_STREQ(fileBuffer, c.name) << label;
    ProgramFree(directory);
  }
}

TEST_F(RequesterLogic, NameThatDoesNotFitTheFileBufferIsDropped) {
  // 259 bytes and the terminator fill the buffer exactly; 260 do not fit.
  const std::string fits(REQUESTER_FILE_BUFFER_SIZE - 1, 'n');
  const std::string tooLong(REQUESTER_FILE_BUFFER_SIZE, 'n');
  EXPECT_EQ(RequesterNameIsUsable(fits.c_str()), 1);
  EXPECT_EQ(RequesterNameIsUsable(tooLong.c_str()), 0);
  EXPECT_EQ(RequesterNameIsUsable("a:b"), 0);

  struct {
    std::string defaultFile;
    std::string name;
  } const cases[] = {
      {"Ordner\\" + fits, fits},
      {"Ordner\\" + tooLong, ""},
      {tooLong, ""},
      {fits, fits},
  };
  for (const auto& c : cases) {
    // A canary behind the buffer shows any byte written past its end.
    char memory[REQUESTER_FILE_BUFFER_SIZE + 8] = {};
    memset(memory + REQUESTER_FILE_BUFFER_SIZE, 0x5A, 8);
    ProgramFree(RequesterSplitDefaultFile(c.defaultFile.c_str(), memory));
    EXPECT_EQ(std::string(memory), c.name);
    for (size_t i = REQUESTER_FILE_BUFFER_SIZE; i < sizeof memory; i++) ASSERT_EQ(memory[i], 0x5A);
  }
}

TEST(RequesterLogicMemory, ExhaustedHeapGivesNoListButStillProposesTheName) {
  ProgramHeapCreate(4096);
  const std::string longPattern(10000, 'x');
  EXPECT_EQ(RequesterFilterList(longPattern.c_str()), nullptr);

  const std::string longDirectory = std::string(10000, 'd') + "\\Datei.txt";
  char fileBuffer[REQUESTER_FILE_BUFFER_SIZE] = {};
  EXPECT_EQ(RequesterSplitDefaultFile(longDirectory.c_str(), fileBuffer), nullptr);
  EXPECT_STREQ(fileBuffer, "Datei.txt");

  // What fits is still served from the same heap.
  char* list = RequesterFilterList("Sicherung|*.zip");
  EXPECT_NE(list, nullptr);
  ProgramFree(list);
  ProgramHeapDestroy();
}

}  // namespace
