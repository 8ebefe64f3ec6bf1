// The requesters against the platform's real dialog. A scripted user, run by a
// thread timer inside the dialog's own message loop, finds the dialog among
// this thread's windows, notes what it shows, and types a path or cancels.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which they need.
#include <commdlg.h>
#include <objbase.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/memory.h"
#include "core/startup.h"
#include "requester/request_file.h"
#include "requester/requester.h"

namespace {

constexpr int FILE_NAME_FIELD = 0x47C;  // cmb13: the name field, an edit inside
constexpr int FILE_TYPE_FIELD = 0x470;  // cmb1: the filter pairs
constexpr UINT TICK_MS = 50;
constexpr int SETTLE_TICKS = 3;  // let the dialog finish filling its view
constexpr int CLOSE_TICKS = 20;  // after OK, a dialog still up this long refused the path
constexpr const char* WINDOW_CLASS = "RequesterTestWindow";
constexpr const char* FOREIGN_CLASS = "RequesterForeignWindow";
constexpr const char* FOREIGN_ARGUMENT = "--foreign-window";

const char* const OPEN_TITLE = "Sicherung ausw\xE4hlen";
const char* const SAVE_TITLE = "Datei speichern";

// --- the scripted user ---------------------------------------------------

enum class Answer { Cancel, Choose };

struct DialogVisit {
  Answer answer = Answer::Cancel;
  std::string path;           // typed into the name field for Choose
  std::vector<HWND> watched;  // windows whose enabled state is noted while the dialog is up

  bool opened = false;
  std::string title, folder, name;
  HWND owner = nullptr;
  std::vector<std::string> filters;
  int filterSelection = -1;
  std::vector<bool> enabledDuring;
  bool refused = false;  // still open after OK (a message box, if any, was answered)
};

DialogVisit* visit;
int visitStage;
int visitTicks;

struct ThreadDialogs {
  HWND fileDialog;
  HWND messageBox;
};

BOOL CALLBACK NoteDialog(HWND window, LPARAM found) {
  char className[32] = {};
  GetClassNameA(window, className, sizeof className);
  if (strcmp(className, "#32770") != 0 || !IsWindowVisible(window)) return TRUE;
  auto* dialogs = reinterpret_cast<ThreadDialogs*>(found);
  (GetDlgItem(window, FILE_NAME_FIELD) != nullptr ? dialogs->fileDialog : dialogs->messageBox) = window;
  return TRUE;
}

ThreadDialogs FindThreadDialogs() {
  ThreadDialogs dialogs{};
  EnumThreadWindows(GetCurrentThreadId(), NoteDialog, reinterpret_cast<LPARAM>(&dialogs));
  return dialogs;
}

HWND FindEdit(HWND parent) {
  for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    char className[32] = {};
    GetClassNameA(child, className, sizeof className);
    if (strcmp(className, "Edit") == 0) return child;
    if (HWND inner = FindEdit(child)) return inner;
  }
  return nullptr;
}

std::string WindowText(HWND window) {
  char text[1024] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

void Observe(HWND dialog) {
  visit->opened = true;
  visit->title = WindowText(dialog);
  visit->owner = GetWindow(dialog, GW_OWNER);
  char folder[MAX_PATH] = {};
  SendMessageA(dialog, CDM_GETFOLDERPATH, sizeof folder, reinterpret_cast<LPARAM>(folder));
  visit->folder = folder;
  visit->name = WindowText(FindEdit(GetDlgItem(dialog, FILE_NAME_FIELD)));
  HWND types = GetDlgItem(dialog, FILE_TYPE_FIELD);
  LRESULT count = SendMessageA(types, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; i++) {
    char item[256] = {};
    SendMessageA(types, CB_GETLBTEXT, WPARAM(i), reinterpret_cast<LPARAM>(item));
    visit->filters.push_back(item);
  }
  visit->filterSelection = int(SendMessageA(types, CB_GETCURSEL, 0, 0));
  for (HWND window : visit->watched) visit->enabledDuring.push_back(IsWindowEnabled(window) != FALSE);
}

void Press(HWND dialog, int button) {
  // Posted, not sent: an answer that opens a message box must not run its
  // modal loop inside this timer call.
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, button)));
}

void TypePath(HWND dialog, const std::string& path) {
  HWND edit = FindEdit(GetDlgItem(dialog, FILE_NAME_FIELD));
  SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
  for (char c : path) SendMessageA(edit, WM_CHAR, WPARAM(static_cast<unsigned char>(c)), 1);
}

void CALLBACK OnTick(HWND, UINT, UINT_PTR, DWORD) {
  if (visit == nullptr) return;
  ThreadDialogs dialogs = FindThreadDialogs();
  if (dialogs.messageBox != nullptr) {
    Press(dialogs.messageBox, IDOK);
    return;
  }
  if (dialogs.fileDialog == nullptr) return;
  visitTicks++;
  if (visitStage == 0) {
    if (visitTicks < SETTLE_TICKS) return;
    Observe(dialogs.fileDialog);
    if (visit->answer == Answer::Choose) {
      TypePath(dialogs.fileDialog, visit->path);
      Press(dialogs.fileDialog, IDOK);
    } else {
      Press(dialogs.fileDialog, IDCANCEL);
    }
    visitStage = 1;
    visitTicks = 0;
    return;
  }
  if (visitTicks == CLOSE_TICKS) {
    visit->refused = true;
    Press(dialogs.fileDialog, IDCANCEL);
  } else if (visitTicks == 2 * CLOSE_TICKS) {
    EndDialog(dialogs.fileDialog, 0);
  }
}

String Visit(DialogVisit& script, bool save, const String& title, const String& defaultFile, const String& pattern,
             int32_t patternPosition) {
  visit = &script;
  visitStage = 0;
  visitTicks = 0;
  UINT_PTR timer = SetTimer(nullptr, 0, TICK_MS, OnTick);
  String result = save ? RequestSaveFile(title, defaultFile, pattern, patternPosition)
                       : RequestOpenFile(title, defaultFile, pattern, patternPosition);
  KillTimer(nullptr, timer);
  visit = nullptr;
  return result;
}

// --- windows, heaps and folders of the tests ------------------------------

void PumpMessages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

void RegisterWindowClass(const char* name, WNDPROC procedure) {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = name;
  RegisterClassA(&windowClass);
}

struct HeapCounts {
  size_t blocks = 0;
  size_t bytes = 0;
};

HeapCounts BusyBlocks(PlatformHeap heap) {
  HeapCounts counts;
  PROCESS_HEAP_ENTRY entry{};
  while (HeapWalk(static_cast<HANDLE>(heap), &entry)) {
    if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) == 0) continue;
    counts.blocks++;
    counts.bytes += entry.cbData;
  }
  return counts;
}

std::string CurrentDirectory() {
  char directory[MAX_PATH] = {};
  GetCurrentDirectoryA(sizeof directory, directory);
  return directory;
}

class Requester : public testing::Test {
 protected:
  void SetUp() override {
    startDirectory_ = CurrentDirectory();
    work_ = startDirectory_ + "\\requester-work";
    for (const char* folder : {"", "\\Sicherungen", "\\Ordner", "\\Ordner\\Unter", "\\Anderer"}) {
      CreateDirectoryA((work_ + folder).c_str(), nullptr);
    }
    HANDLE file = CreateFileA((work_ + "\\Ordner\\Unter\\Vorhanden.txt").c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    CloseHandle(file);
    ASSERT_TRUE(SetCurrentDirectoryA(work_.c_str()));
    programHeap_ = BusyBlocks(ProgramHeap());
    listHeap_ = BusyBlocks(ListHeap());
  }

  void TearDown() override {
    for (HWND window : windows_) DestroyWindow(window);
    PumpMessages();
    SetCurrentDirectoryA(startDirectory_.c_str());
    for (const char* file : {"\\Ordner\\Unter\\Vorhanden.txt", "\\Anderer\\Neu"}) DeleteFileA((work_ + file).c_str());
    for (const char* folder : {"\\Ordner\\Unter", "\\Ordner", "\\Sicherungen", "\\Anderer", ""}) {
      RemoveDirectoryA((work_ + folder).c_str());
    }
  }

  HWND Window(const char* title, bool visible = true, bool enabled = true) {
    HWND window = CreateWindowExA(0, WINDOW_CLASS, title, WS_OVERLAPPEDWINDOW | (visible ? WS_VISIBLE : 0),
                                  40 + 30 * int(windows_.size()), 40, 240, 120, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    if (!enabled) EnableWindow(window, FALSE);
    windows_.push_back(window);
    return window;
  }

  // The test's window in the foreground, as the program's main window is
  // when the user clicks one of its buttons.
  static bool BringToForeground(HWND window) {
    for (int i = 0; i < 100 && GetForegroundWindow() != window; i++) {
      SetForegroundWindow(window);
      PumpMessages();
      Sleep(10);
    }
    return GetForegroundWindow() == window;
  }

  // After a request the current directory and both heaps are as they were.
  void ExpectNothingLeftBehind() {
    EXPECT_EQ(CurrentDirectory(), work_);
    HeapCounts program = BusyBlocks(ProgramHeap());
    HeapCounts list = BusyBlocks(ListHeap());
    EXPECT_EQ(program.blocks, programHeap_.blocks);
    EXPECT_EQ(program.bytes, programHeap_.bytes);
    EXPECT_EQ(list.blocks, listHeap_.blocks) << "disabled-window records left behind";
  }

  std::string startDirectory_;
  std::string work_;
  std::vector<HWND> windows_;
  HeapCounts programHeap_;
  HeapCounts listHeap_;
};

// --- the tests ------------------------------------------------------------

TEST(RequesterLibrary, InitStartsComOnThisThread) {
  // A second start on the same thread reports S_FALSE; balance it again.
  HRESULT again = CoInitialize(nullptr);
  EXPECT_EQ(again, S_FALSE);
  if (SUCCEEDED(again)) CoUninitialize();
}

TEST(RequesterLibrary, DialogRecordHoldsTheVersion4FieldsOnly) {
  char fileBuffer[260] = {};
  OPENFILENAMEA record;
  memset(&record, 0xCC, sizeof record);
  RequesterDialogRecord(record, HWND(0x1234), "a\0b\0", 2, fileBuffer, "Ordner", "Titel");
  EXPECT_EQ(record.lStructSize, 76u);
  EXPECT_EQ(record.Flags, 0x8080Cu);
  EXPECT_EQ(record.nFilterIndex, 3u);
  EXPECT_EQ(record.nMaxFile, 260u);
  EXPECT_EQ(record.lpstrFile, fileBuffer);
  EXPECT_EQ(record.hwndOwner, HWND(0x1234));
  EXPECT_STREQ(record.lpstrInitialDir, "Ordner");
  EXPECT_STREQ(record.lpstrTitle, "Titel");
  EXPECT_EQ(record.lpstrCustomFilter, nullptr);
  EXPECT_EQ(record.lpstrFileTitle, nullptr);
  EXPECT_EQ(record.lpstrDefExt, nullptr);
  EXPECT_EQ(record.lpfnHook, nullptr);
  EXPECT_EQ(record.lpTemplateName, nullptr);
  EXPECT_EQ(record.hInstance, nullptr);
}

TEST_F(Requester, ThreadWindowsAreDisabledAndReEnabledExactly) {
  struct {
    const char* title;
    bool visible, enabled;
    bool enabledWhileOpen, enabledAfter;
  } const cases[] = {
      {"Vordergrund", true, true, true, true},  // the foreground window is left alone
      {"Offen", true, true, false, true},
      {"Gesperrt", true, false, false, false},  // disabled before: stays disabled
      {"Versteckt", false, true, true, true},   // hidden: neither disabled nor recorded
      {"Noch eins", true, true, false, true},
  };
  std::vector<HWND> handles;
  for (const auto& c : cases) handles.push_back(Window(c.title, c.visible, c.enabled));
  ASSERT_TRUE(BringToForeground(handles[0]));
  EXPECT_EQ(RequesterOwnerWindow(), handles[0]);

  DisableThreadWindows();
  for (size_t i = 0; i < handles.size(); i++)
    EXPECT_EQ(IsWindowEnabled(handles[i]) != 0, cases[i].enabledWhileOpen) << cases[i].title;
  EXPECT_EQ(BusyBlocks(ListHeap()).blocks, listHeap_.blocks + 2) << "one node per disabled window";
  EnableThreadWindows();
  for (size_t i = 0; i < handles.size(); i++)
    EXPECT_EQ(IsWindowEnabled(handles[i]) != 0, cases[i].enabledAfter) << cases[i].title;
  ExpectNothingLeftBehind();
}

TEST_F(Requester, CancelledOpenGivesEmptyAndLeavesEverythingAsItWas) {
  HWND main = Window("Hauptfenster");
  HWND open = Window("Offen");
  HWND disabled = Window("Gesperrt", true, false);
  HWND hidden = Window("Versteckt", false);
  ASSERT_TRUE(BringToForeground(main));

  DialogVisit user;
  user.watched = {open, disabled, hidden};
  String result = Visit(user, false, OPEN_TITLE, "Sicherungen\\", "Sicherung|*.zip", 0);

  EXPECT_TRUE(StringEqual(result, ""));
  EXPECT_FALSE(result.IsNull());
  ASSERT_TRUE(user.opened);
  EXPECT_EQ(user.title, OPEN_TITLE);
  EXPECT_EQ(user.owner, main);
  EXPECT_EQ(user.folder, work_ + "\\Sicherungen");
  EXPECT_EQ(user.name, "");
  EXPECT_EQ(user.filters, std::vector<std::string>{"Sicherung"});
  EXPECT_EQ(user.filterSelection, 0);
  EXPECT_EQ(user.enabledDuring, (std::vector<bool>{false, false, true}));
  EXPECT_TRUE(IsWindowEnabled(main));
  EXPECT_TRUE(IsWindowEnabled(open));
  EXPECT_FALSE(IsWindowEnabled(disabled));
  EXPECT_TRUE(IsWindowEnabled(hidden));
  ExpectNothingLeftBehind();
}

TEST_F(Requester, ChosenPathComesBackWholeAndTheDirectoryStays) {
  // The file need not exist, and no extension from the pattern is added.
  const std::string paths[] = {work_ + "\\Anderer\\Archiv.zip", work_ + "\\Anderer\\Neu"};
  for (const std::string& path : paths) {
    DialogVisit user;
    user.answer = Answer::Choose;
    user.path = path;
    String result = Visit(user, false, OPEN_TITLE, "Sicherungen\\", "Sicherung|*.zip", 0);
    EXPECT_TRUE(user.opened);
    EXPECT_FALSE(user.refused);
    EXPECT_EQ(std::string(result.Text()), path);
    ExpectNothingLeftBehind();
  }
}

TEST_F(Requester, SaveProposesTheNameInItsDirectoryAndReplacesWithoutAsking) {
  DialogVisit user;
  user.answer = Answer::Choose;
  user.path = work_ + "\\Ordner\\Unter\\Vorhanden.txt";
  String result = Visit(user, true, SAVE_TITLE, "Ordner\\Unter\\Vorhanden.txt", "", 0);

  ASSERT_TRUE(user.opened);
  EXPECT_EQ(user.title, SAVE_TITLE);
  EXPECT_EQ(user.folder, work_ + "\\Ordner\\Unter");
  EXPECT_EQ(user.name, "Vorhanden.txt");
  EXPECT_TRUE(user.filters.empty());
  EXPECT_FALSE(user.refused) << "an existing file is replaced without a question";
  EXPECT_EQ(std::string(result.Text()), user.path);
  ExpectNothingLeftBehind();
}

TEST_F(Requester, InvalidProposedNameLeavesTheNameFieldEmpty) {
  struct {
    const char* defaultFile;
    const char* folder;  // below the work folder; null: not looked at
  } const cases[] = {
      {"Ordner\\a:b.txt", "\\Ordner"},
      {"Ordner\\Unter\\x/y", "\\Ordner\\Unter"},
      // Not split, so no initial directory: where the dialog starts is the
      // platform's choice (Wine: the folder used last).
      {"\\Datei.txt", nullptr},
  };
  for (const auto& c : cases) {
    DialogVisit user;
    String result = Visit(user, true, SAVE_TITLE, c.defaultFile, "", 0);
    ASSERT_TRUE(user.opened) << c.defaultFile;
    EXPECT_EQ(user.name, "") << c.defaultFile;
    if (c.folder != nullptr) {
      EXPECT_EQ(user.folder, work_ + c.folder) << c.defaultFile;
    }
    EXPECT_TRUE(StringEqual(result, ""));
    ExpectNothingLeftBehind();
  }
}

TEST_F(Requester, PatternPositionPreselectsItsPair) {
  DialogVisit user;
  String result = Visit(user, false, OPEN_TITLE, String(), "Text|*.txt|Alle|*.*", 1);
  ASSERT_TRUE(user.opened);
  EXPECT_EQ(user.filters, (std::vector<std::string>{"Text", "Alle"}));
  EXPECT_EQ(user.filterSelection, 1);
  EXPECT_TRUE(StringEqual(result, ""));
  ExpectNothingLeftBehind();
}

TEST_F(Requester, PathInAMissingDirectoryIsRefused) {
  DialogVisit user;
  user.answer = Answer::Choose;
  user.path = work_ + "\\Fehlt\\Datei.txt";
  String result = Visit(user, true, SAVE_TITLE, "Anderer\\", "", 0);
  ASSERT_TRUE(user.opened);
  EXPECT_TRUE(user.refused) << "the dialog took a path whose directory does not exist";
  EXPECT_TRUE(StringEqual(result, "")) << result.Text();
  ExpectNothingLeftBehind();
}

bool RunsUnderWine() {
  return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

TEST_F(Requester, PathLongerThanTheFileBufferGivesEmpty) {
  // Wine 8 copies the typed path into a MAX_PATH buffer on its stack before
  // it compares it with the record's buffer, and crashes.
  if (RunsUnderWine()) GTEST_SKIP() << "Wine's dialog overruns its own stack with a path this long";
  DialogVisit user;
  user.answer = Answer::Choose;
  user.path = work_ + "\\Anderer\\" + std::string(240, 'l');
  String result = Visit(user, true, SAVE_TITLE, "Anderer\\", "", 0);
  ASSERT_TRUE(user.opened);
  EXPECT_TRUE(StringEqual(result, "")) << result.Text();
  ExpectNothingLeftBehind();
}

// --- a window of another process in the foreground ------------------------

LRESULT CALLBACK ForeignWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcA(window, message, wParam, lParam);
}

// The child process: one window in the foreground until it is closed.
int RunForeignWindow() {
  RegisterWindowClass(FOREIGN_CLASS, ForeignWindowProc);
  HWND window = CreateWindowExA(0, FOREIGN_CLASS, "Fremd", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 400, 300, 240, 120,
                                nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  SetForegroundWindow(window);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
  return 0;
}

TEST_F(Requester, ForeignForegroundWindowGivesNoOwnerAndMainIsDisabledMeanwhile) {
  HWND main = Window("Hauptfenster");
  ASSERT_TRUE(BringToForeground(main));

  char program[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, program, sizeof program);
  std::string commandLine = std::string("\"") + program + "\" " + FOREIGN_ARGUMENT;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child{};
  ASSERT_TRUE(
      CreateProcessA(program, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child));
  HWND foreign = nullptr;
  for (int i = 0; i < 500 && (foreign == nullptr || GetForegroundWindow() != foreign); i++) {
    foreign = FindWindowA(FOREIGN_CLASS, nullptr);
    PumpMessages();
    Sleep(10);
  }
  bool foreignInFront = foreign != nullptr && GetForegroundWindow() == foreign;

  EXPECT_TRUE(foreignInFront);
  if (foreignInFront) {
    EXPECT_EQ(RequesterOwnerWindow(), nullptr);
    DialogVisit user;
    user.watched = {main};
    String result = Visit(user, false, OPEN_TITLE, "Sicherungen\\", "Sicherung|*.zip", 0);
    EXPECT_TRUE(user.opened);
    EXPECT_EQ(user.owner, nullptr);
    EXPECT_EQ(user.enabledDuring, std::vector<bool>{false});
    EXPECT_TRUE(IsWindowEnabled(main));
    EXPECT_TRUE(StringEqual(result, ""));
    ExpectNothingLeftBehind();
  }
  if (foreign != nullptr) PostMessageA(foreign, WM_CLOSE, 0, 0);
  EXPECT_EQ(WaitForSingleObject(child.hProcess, 10000), WAIT_OBJECT_0);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && strcmp(argv[1], FOREIGN_ARGUMENT) == 0) return RunForeignWindow();
  LibrarySteps steps{};
  steps.requesterInit = RequesterLibraryInit;
  RuntimeStartUp(steps);
  RegisterWindowClass(WINDOW_CLASS, DefWindowProcA);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
