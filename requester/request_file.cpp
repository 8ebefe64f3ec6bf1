#include "requester/request_file.h"

#include <commctrl.h>
#include <objbase.h>

#include <cstddef>
#include <cstring>

#include "core/memory.h"
#include "core/object_table.h"
#include "requester/requester.h"
#include "requester/requester_logic.h"

namespace {

// OPENFILENAME_SIZE_VERSION_400A, as a constant the compiler can check.
constexpr DWORD DIALOG_RECORD_SIZE = offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR);
static_assert(DIALOG_RECORD_SIZE == 76);
static_assert(REQUESTER_DIALOG_FLAGS == 0x8080C);

// One node per window a requester disabled. The thread id lets a requester
// re-enable only what its own thread disabled.
struct DisabledWindow {
  uint32_t threadId;
  HWND window;
};

struct RequesterState {
  Node* disabledWindows;  // newest first; empty while no requester is open
};

RequesterState* requesterState;

const char* TextOrNone(const String& text) {
  return text.IsNull() ? nullptr : text.Text();
}

BOOL CALLBACK DisableIfThreadWindow(HWND window, LPARAM /*unused*/) {
  DWORD thread = GetCurrentThreadId();
  if (GetWindowThreadProcessId(window, nullptr) != thread) return TRUE;
  if (!IsWindowVisible(window) || !IsWindowEnabled(window)) return TRUE;
  // Asked anew for each window: disabling one may move the foreground.
  if (window == GetForegroundWindow()) return TRUE;
  auto* record = static_cast<DisabledWindow*>(NodeListAdd(requesterState->disabledWindows, sizeof(DisabledWindow)));
  // A window that cannot be recorded could not be re-enabled: leave it usable.
  if (record == nullptr) return TRUE;
  record->threadId = thread;
  record->window = window;
  EnableWindow(window, FALSE);
  return TRUE;
}

// Steps 2 to 8 of a request; true when the user chose a path, which is then in
// fileBuffer.
bool ShowDialog(char* fileBuffer, const String& title, const String& defaultFile, const String& pattern,
                int32_t patternPosition, bool save) {
  char* filterList = RequesterFilterList(TextOrNone(pattern));
  if (filterList == nullptr) return false;
  // Without memory for the directory copy the dialog starts where the
  // platform chooses; the proposed name is in the file buffer all the same.
  char* initialDirectory = RequesterSplitDefaultFile(TextOrNone(defaultFile), fileBuffer);

  OPENFILENAMEA record;
  RequesterDialogRecord(record, RequesterOwnerWindow(), filterList, patternPosition, fileBuffer, initialDirectory,
                        TextOrNone(title));
  DisableThreadWindows();
  BOOL chosen = save ? GetSaveFileNameA(&record) : GetOpenFileNameA(&record);
  EnableThreadWindows();

  ProgramFree(filterList);
  ProgramFree(initialDirectory);
  return chosen != 0;
}

}  // namespace

void RequesterLibraryInit() {
  InitCommonControls();
  CoInitialize(nullptr);
  requesterState = static_cast<RequesterState*>(StateBlockCreate(sizeof(RequesterState)));
}

String RequestFile(const String& title, const String& defaultFile, const String& pattern, int32_t patternPosition,
                   bool save) {
  auto* fileBuffer = static_cast<char*>(ProgramAlloc(REQUESTER_FILE_BUFFER_SIZE, true));
  if (fileBuffer == nullptr) return String("");
  bool chosen = ShowDialog(fileBuffer, title, defaultFile, pattern, patternPosition, save);
  fileBuffer[REQUESTER_FILE_BUFFER_SIZE - 1] = '\0';
  String result(chosen ? fileBuffer : "");
  ProgramFree(fileBuffer);
  return result;
}

void RequesterDialogRecord(OPENFILENAMEA& record, HWND owner, const char* filterList, int32_t patternPosition,
                           char* fileBuffer, const char* initialDirectory, const char* title) {
  memset(&record, 0, sizeof record);
  record.lStructSize = DIALOG_RECORD_SIZE;
  record.hwndOwner = owner;
  record.lpstrFilter = filterList;
  record.nFilterIndex = DWORD(patternPosition) + 1;
  record.lpstrFile = fileBuffer;
  record.nMaxFile = REQUESTER_FILE_BUFFER_SIZE;
  record.lpstrInitialDir = initialDirectory;
  record.lpstrTitle = title;
  record.Flags = REQUESTER_DIALOG_FLAGS;
}

HWND RequesterOwnerWindow() {
  HWND foreground = GetForegroundWindow();
  if (foreground == nullptr) return nullptr;
  DWORD process = 0;
  GetWindowThreadProcessId(foreground, &process);
  return process == GetCurrentProcessId() ? foreground : nullptr;
}

void DisableThreadWindows() {
  // Without its state block (start-up not run, or no memory) the requester
  // could not re-enable what it disabled, so it disables nothing.
  if (requesterState == nullptr) return;
  EnumWindows(DisableIfThreadWindow, 0);
}

void EnableThreadWindows() {
  if (requesterState == nullptr) return;
  DWORD thread = GetCurrentThreadId();
  Node* node = requesterState->disabledWindows;
  while (node != nullptr) {
    Node* next = node->next;
    auto* record = static_cast<DisabledWindow*>(NodePayload(node));
    if (record->threadId == thread) {
      EnableWindow(record->window, TRUE);
      NodeListRemove(requesterState->disabledWindows, record);
    }
    node = next;
  }
}
