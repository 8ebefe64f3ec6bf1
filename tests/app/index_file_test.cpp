// Where the index goes on its way into the list: "Index.tmp" in the current
// folder when there is none and the folder can be written, else a new file in
// the user's temporary folder. A file that was there is never touched.
#include "tests/app/commands_fixture.h"

namespace {

const std::string INDEX_TEXT = "C:\\Briefe\\Antrag.doc\r\nC:\\Bilder\\Urlaub.bmp\r\nC:\\Notizen.txt";
const std::vector<std::string> INDEX_ROWS = {"C:\\Briefe\\Antrag.doc", "C:\\Bilder\\Urlaub.bmp", "C:\\Notizen.txt"};
const char* const TEMP_PATTERN = "Wiederherstellung-*.tmp";

// Bytes no listing may change: every byte value, line ends among them, over
// more than one file buffer.
std::string UserBytes() {
  std::string bytes;
  for (int i = 0; i < 10000; i++) bytes.push_back(char((i * 7) % 256));
  return bytes;
}

// What the folders held when the first row went into the list.
struct Observed {
  bool seen;
  bool indexInCurrentFolder;
  std::vector<std::string> temp;
};

class IndexFileTest : public CommandsTest {
 protected:
  void SetUp() override {
    CommandsTest::SetUp();
    tempFolder_ = workFolder_ + "\\temp";
    CreateDirectoryA(tempFolder_.c_str(), nullptr);
    char previous[MAX_PATH] = "";
    hadTmp_ = GetEnvironmentVariableA("TMP", previous, MAX_PATH) != 0;
    previousTmp_ = previous;
    // The temporary folder is the one TMP names.
    SetEnvironmentVariableA("TMP", tempFolder_.c_str());
    archive_ = workFolder_ + "\\backup.zip";
    ASSERT_TRUE(WriteArchive(archive_, {StoredEntry(Text(INDEX_TEXT)), StoredEntry(Text("eins"))}));
    active = this;
    observed = {};
    list_ = Control(LIST_ENTRIES);
    listProc_ =
        reinterpret_cast<WNDPROC>(SetWindowLongPtrA(list_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ObserveFirstRow)));
  }

  void TearDown() override {
    SetWindowLongPtrA(list_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(listProc_));
    SetEnvironmentVariableA("TMP", hadTmp_ ? previousTmp_.c_str() : nullptr);
    active = nullptr;
    CommandsTest::TearDown();
  }

  static LRESULT CALLBACK ObserveFirstRow(HWND list, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == LB_INSERTSTRING && !observed.seen) {
      observed.seen = true;
      observed.indexInCurrentFolder = GetFileAttributesA("Index.tmp") != INVALID_FILE_ATTRIBUTES;
      observed.temp = FolderNames(active->tempFolder_, TEMP_PATTERN);
    }
    return CallWindowProcA(active->listProc_, list, message, wParam, lParam);
  }

  // A folder that no one may write to, root included: the system's process
  // folder (drive Z: is the Unix root).
  bool EnterUnwritableFolder() { return SetCurrentDirectoryA("Z:\\proc") != 0; }

  static inline IndexFileTest* active;
  static inline Observed observed;
  std::string tempFolder_;
  std::string archive_;
  bool hadTmp_ = false;
  std::string previousTmp_;
  HWND list_ = nullptr;
  WNDPROC listProc_ = nullptr;
};

enum class Folder { FREE, USER_FILE, USER_FILE_HELD_OPEN, NOT_WRITABLE };

struct FolderCase {
  const char* what;
  Folder folder;
  bool throughTemp;  // the index goes through a file in the temporary folder
};

TEST_F(IndexFileTest, EveryCurrentFolderListsAndKeepsWhatWasThere) {
  static const FolderCase cases[] = {
      {"no Index.tmp, writable", Folder::FREE, false},
      {"the user's Index.tmp", Folder::USER_FILE, true},
      {"the user's Index.tmp, held open without sharing", Folder::USER_FILE_HELD_OPEN, true},
      {"a folder no one can write", Folder::NOT_WRITABLE, true},
  };
  const std::string userBytes = UserBytes();
  for (const FolderCase& test : cases) {
    SCOPED_TRACE(test.what);
    SetCurrentDirectoryA(workFolder_.c_str());
    DeleteFileA("Index.tmp");
    HANDLE held = INVALID_HANDLE_VALUE;
    if (test.folder == Folder::USER_FILE) WriteWhole("Index.tmp", userBytes);
    if (test.folder == Folder::USER_FILE_HELD_OPEN) {
      held = CreateFileA("Index.tmp", GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
      ASSERT_NE(held, INVALID_HANDLE_VALUE);
      DWORD written = 0;
      ASSERT_TRUE(WriteFile(held, userBytes.data(), DWORD(userBytes.size()), &written, nullptr));
    }
    if (test.folder == Folder::NOT_WRITABLE) {
      ASSERT_TRUE(EnterUnwritableFolder());
    }

    observed = {};
    GadgetClearItems(LIST_ENTRIES);
    List(archive_);
    SetCurrentDirectoryA(workFolder_.c_str());

    EXPECT_EQ(Rows(), INDEX_ROWS);
    ASSERT_TRUE(observed.seen);
    if (test.throughTemp) {
      ASSERT_EQ(observed.temp.size(), 1u) << "one new file in the temporary folder";
    } else {
      EXPECT_TRUE(observed.temp.empty());
      EXPECT_TRUE(observed.indexInCurrentFolder);
    }
    EXPECT_TRUE(FolderNames(tempFolder_).empty()) << "the temporary file is deleted after the read-back";

    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    if (test.folder == Folder::FREE || test.folder == Folder::NOT_WRITABLE) {
      EXPECT_FALSE(Exists("Index.tmp"));
    } else {
      EXPECT_TRUE(ReadWhole("Index.tmp") == userBytes) << "the user's file, byte for byte";
    }
    EXPECT_TRUE(IsWindowEnabled(Control(BUTTON_EXPORT)));
  }
}

TEST_F(IndexFileTest, ANameLeftInTheTemporaryFolderIsPassedOverAndKept) {
  // Names an ended process may have left: this process's first two.
  std::vector<std::string> left;
  for (int attempt = 0; attempt < 2; attempt++) {
    left.push_back("Wiederherstellung-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(attempt) +
                   ".tmp");
    WriteWhole(tempFolder_ + "\\" + left.back(), "left " + std::to_string(attempt));
  }
  ASSERT_TRUE(EnterUnwritableFolder());
  List(archive_);
  SetCurrentDirectoryA(workFolder_.c_str());
  EXPECT_EQ(Rows(), INDEX_ROWS);
  ASSERT_EQ(observed.temp.size(), 3u);
  EXPECT_EQ(FolderNames(tempFolder_, TEMP_PATTERN).size(), 2u);
  for (int attempt = 0; attempt < 2; attempt++) {
    EXPECT_EQ(ReadWhole(tempFolder_ + "\\" + left[attempt]), "left " + std::to_string(attempt));
  }
}

TEST_F(IndexFileTest, NowhereToPutTheIndexListsFromMemory) {
  // The current folder refuses, and TMP names a folder that is not there:
  // no index file is made, the rows still appear.
  SetEnvironmentVariableA("TMP", (workFolder_ + "\\missing").c_str());
  ASSERT_TRUE(EnterUnwritableFolder());
  List(archive_);
  SetCurrentDirectoryA(workFolder_.c_str());
  EXPECT_EQ(Rows(), INDEX_ROWS);
  ASSERT_TRUE(observed.seen);
  EXPECT_FALSE(observed.indexInCurrentFolder);
  EXPECT_TRUE(observed.temp.empty());
  EXPECT_FALSE(Exists(workFolder_ + "\\missing"));

  // Once there is room again, the same backup lists.
  SetEnvironmentVariableA("TMP", tempFolder_.c_str());
  List(archive_);
  EXPECT_EQ(Rows(), INDEX_ROWS);
}

}  // namespace
