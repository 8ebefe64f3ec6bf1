#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "tools/host.h"
#include "tools/text/text_encoding.h"

namespace {

constexpr UINT CODE_PAGE_UTF8 = 65001;
constexpr UINT CODE_PAGE_WINDOWS_1252 = 1252;
// WriteFile takes a 32-bit count; large entries go out in pieces.
constexpr size_t WRITE_PIECE = 1u << 30;

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

std::string ErrorText(DWORD error) {
  char text[512];
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                                sizeof text, nullptr);
  while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == '.')) length--;
  if (length == 0) return "system error " + std::to_string(error);
  return std::string(text, length);
}

HANDLE Handle(intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

// The temporary file being written, for Ctrl+C to remove. The handler runs on
// a thread of its own while the file is open: it is opened with delete
// sharing, so the deletion takes effect when the process ends.
char pendingTemporary[MAX_PATH + 1];
volatile LONG pendingSet = 0;

BOOL WINAPI RemovePending(DWORD) {
  if (pendingSet != 0) DeleteFileA(pendingTemporary);
  return FALSE;
}

std::string FolderOf(const std::string& path) {
  size_t separator = path.find_last_of("\\/");
  if (separator == std::string::npos) {
    return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) : "";
  }
  return path.substr(0, separator + 1);
}

// Where the folders a path names begin: behind "C:\", "\\server\share\" or
// a leading backslash, which are never made.
size_t FirstMadeFolder(const std::string& path) {
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    size_t at = 2;
    for (int part = 0; part < 2; part++) {
      while (at < path.size() && !IsSeparator(path[at])) at++;
      if (at < path.size()) at++;
    }
    return at;
  }
  size_t at = path.size() >= 2 && path[1] == ':' ? 2 : 0;
  if (at < path.size() && IsSeparator(path[at])) at++;
  return at;
}

}  // namespace

void HostSetUp() {
  // --raw promises LF endings and cat the bytes as they are.
  _setmode(_fileno(stdout), _O_BINARY);
  SetConsoleCtrlHandler(RemovePending, TRUE);
}

void HostPendingTemporary(const std::string& path) {
  pendingSet = 0;
  if (path.empty() || path.size() >= sizeof pendingTemporary) return;
  memcpy(pendingTemporary, path.c_str(), path.size() + 1);
  pendingSet = 1;
}

void HostOutputFile::Pending(bool pending) {
  HostPendingTemporary(pending ? temporary_ : std::string());
}

HostPathKind HostPathKindOf(const std::string& path, uint64_t* size) {
  WIN32_FILE_ATTRIBUTE_DATA facts;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &facts)) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? HostPathKind::Missing
                                                                          : HostPathKind::Unreadable;
  }
  if (facts.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return HostPathKind::Folder;
  if (facts.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) return HostPathKind::Other;
  *size = (static_cast<uint64_t>(facts.nFileSizeHigh) << 32) | facts.nFileSizeLow;
  return HostPathKind::File;
}

// A path in quotes as a message shows it. Appended piece by piece: GCC 12
// at -O3 warns of an overlapping copy in the chained operator+ form.
static std::string Quoted(const std::string& path) {
  std::string text = "\"";
  text.append(HostShownPath(path));
  text.push_back('"');
  return text;
}

bool HostMakeFolders(const std::string& path, std::string* error, std::vector<std::string>* made) {
  for (size_t end = FirstMadeFolder(path) + 1; end <= path.size(); end++) {
    if (end < path.size() && !IsSeparator(path[end])) continue;
    std::string folder = path.substr(0, end);
    DWORD attributes = GetFileAttributesA(folder.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
      if (attributes & FILE_ATTRIBUTE_DIRECTORY) continue;
      *error = Quoted(folder) + " is not a folder";
      return false;
    }
    if (!CreateDirectoryA(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
      *error = Quoted(folder) + ": " + ErrorText(GetLastError());
      return false;
    }
    if (made != nullptr) made->push_back(folder);
  }
  return true;
}

void HostRemoveEmptyFolder(const std::string& path) {
  RemoveDirectoryA(path.c_str());
}

bool HostFolderIsEmpty(const std::string& path) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(HostJoinPath(path, "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  bool empty = true;
  do {
    if (strcmp(found.cFileName, ".") != 0 && strcmp(found.cFileName, "..") != 0) {
      empty = false;
      break;
    }
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return empty;
}

std::string HostJoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  char last = folder.back();
  if (IsSeparator(last) || (last == ':' && folder.size() == 2)) return folder + name;
  return folder + "\\" + name;
}

std::string HostFileNameText(std::string_view text) {
  // File names go to the ANSI functions, as the restore tool's do.
  return FileNameBytes(text);
}

bool HostPatternText(std::string_view typed, std::string* pattern) {
  // The arguments come in the ANSI code page, 1252, as the row texts are.
  *pattern = typed;
  return true;
}

// A text (1252) in the console's code page.
static std::string ConsoleText(std::string_view text) {
  UINT codePage = GetConsoleOutputCP();
  if (codePage == 0 || codePage == CODE_PAGE_WINDOWS_1252) return std::string(text);
  if (codePage == CODE_PAGE_UTF8) return Windows1252ToUtf8(text);
  std::vector<wchar_t> wide;
  for (unsigned char byte : text) wide.push_back(static_cast<wchar_t>(Windows1252ToCodePoint(byte)));
  if (wide.empty()) return "";
  int length =
      WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  if (length <= 0) return std::string(text);
  std::string converted(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), converted.data(), length, nullptr,
                      nullptr);
  return converted;
}

std::string HostShownText(std::string_view text) {
  return ConsoleText(TerminalSafe(text, TerminalBytes::Windows1252));
}

std::string HostShownPath(std::string_view path) {
  // Paths come in the ANSI code page, 1252, as the row texts do.
  return HostShownText(path);
}

bool HostErrorIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

uint64_t HostMilliseconds() {
  return GetTickCount64();
}

std::string HostErrorText() {
  return ErrorText(GetLastError());
}

bool HostOutputFile::Create(const std::string& target, std::string* error) {
  Discard();
  target_ = target;
  committed_ = false;
  std::string folder = FolderOf(target);
  for (int attempt = 0; attempt < 1000; attempt++) {
    std::string name = ".packtool-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(attempt) + ".tmp";
    std::string path = HostJoinPath(folder, name);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      handle_ = reinterpret_cast<intptr_t>(file);
      open_ = true;
      temporary_ = path;
      Pending(true);
      return true;
    }
    DWORD failure = GetLastError();
    if (failure != ERROR_FILE_EXISTS && failure != ERROR_ALREADY_EXISTS) {
      *error = ErrorText(failure);
      return false;
    }
  }
  *error = "no free temporary name beside it";
  return false;
}

bool HostOutputFile::Write(const void* data, size_t size, std::string* error) {
  const char* at = static_cast<const char*>(data);
  while (size > 0) {
    DWORD piece = static_cast<DWORD>(size < WRITE_PIECE ? size : WRITE_PIECE);
    DWORD done = 0;
    if (!WriteFile(Handle(handle_), at, piece, &done, nullptr) || done == 0) {
      *error = done == 0 && GetLastError() == ERROR_SUCCESS ? "nothing could be written" : ErrorText(GetLastError());
      return false;
    }
    at += done;
    size -= done;
  }
  return true;
}

bool HostOutputFile::CloseHandle(std::string* error) {
  if (!open_) return true;
  open_ = false;
  if (!::CloseHandle(Handle(handle_))) {
    *error = ErrorText(GetLastError());
    return false;
  }
  return true;
}

bool HostOutputFile::Close(std::string* error) {
  return CloseHandle(error);
}

bool HostOutputFile::Commit(bool replace, bool* targetExists, std::string* error) {
  *targetExists = false;
  if (!FlushFileBuffers(Handle(handle_))) {
    *error = ErrorText(GetLastError());
    Discard();
    return false;
  }
  if (!CloseHandle(error)) {
    Discard();
    return false;
  }
  DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
  if (!MoveFileExA(temporary_.c_str(), target_.c_str(), flags)) {
    DWORD failure = GetLastError();
    *targetExists = !replace && (failure == ERROR_ALREADY_EXISTS || failure == ERROR_FILE_EXISTS);
    *error = *targetExists ? "it exists" : ErrorText(failure);
    Discard();
    return false;
  }
  Committed();
  return true;
}

void HostOutputFile::Discard() {
  std::string ignored;
  CloseHandle(&ignored);
  if (!committed_ && !temporary_.empty()) DeleteFileA(temporary_.c_str());
  Pending(false);
  temporary_.clear();
}
