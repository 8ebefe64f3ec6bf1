// The seam over KERNEL32, with exactly the access masks, share modes,
// creation dispositions and flags that the archive reader and the file
// library ask for.
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <winternl.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "platform/platform.h"
#include "platform/win32/folder_win32.h"

namespace {
// Guards the move and read of PlatformFileReadAt.
SRWLOCK positionLock = SRWLOCK_INIT;
}  // namespace

PlatformHeap PlatformHeapCreate(bool serialized, size_t initialSize, size_t maximumSize) {
  return HeapCreate(serialized ? 0 : HEAP_NO_SERIALIZE, initialSize, maximumSize);
}

void* PlatformHeapAlloc(PlatformHeap heap, size_t size, bool zeroFill) {
  if (heap == nullptr) return nullptr;
  return HeapAlloc(static_cast<HANDLE>(heap), zeroFill ? HEAP_ZERO_MEMORY : 0, size);
}

void* PlatformHeapReAlloc(PlatformHeap heap, void* block, size_t size, bool zeroFill) {
  if (heap == nullptr) return nullptr;
  if (block == nullptr) return PlatformHeapAlloc(heap, size, zeroFill);
  return HeapReAlloc(static_cast<HANDLE>(heap), zeroFill ? HEAP_ZERO_MEMORY : 0, block, size);
}

void PlatformHeapFree(PlatformHeap heap, void* block) {
  if (heap == nullptr || block == nullptr) return;
  HeapFree(static_cast<HANDLE>(heap), 0, block);
}

void PlatformHeapDestroy(PlatformHeap heap) {
  if (heap != nullptr) HeapDestroy(static_cast<HANDLE>(heap));
}

static PlatformFile FromHandle(HANDLE handle) {
  return reinterpret_cast<PlatformFile>(handle);
}

static HANDLE ToHandle(PlatformFile file) {
  return reinterpret_cast<HANDLE>(file);
}

PlatformFile PlatformFileOpenRead(const char* path, bool sequential) {
  DWORD flags = sequential ? FILE_FLAG_SEQUENTIAL_SCAN : FILE_ATTRIBUTE_NORMAL;
  return FromHandle(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, flags, nullptr));
}

PlatformFile PlatformFileCreate(const char* path) {
  HANDLE handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle != INVALID_HANDLE_VALUE) return FromHandle(handle);
  return FromHandle(CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, TRUNCATE_EXISTING, 0, nullptr));
}

PlatformFile PlatformFileCreateNew(const char* path) {
  return FromHandle(CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool PlatformFileRead(PlatformFile file, void* destination, uint32_t length, uint32_t* done) {
  DWORD count = 0;
  BOOL ok = ReadFile(ToHandle(file), destination, length, &count, nullptr);
  *done = ok ? count : 0;
  return ok != 0;
}

bool PlatformFileReadAt(PlatformFile file, uint64_t offset, void* destination, uint32_t length, uint32_t* done) {
  *done = 0;
  // A move and a read on the handle's one position, under one lock, so that
  // two threads' reads through a handle never read at each other's offsets.
  // (A positioned ReadFile with an OVERLAPPED offset does the same without a
  // lock, but costs twice as much per read under Wine, and an archive's
  // headers are read one at a time.)
  if (offset > uint64_t(INT64_MAX)) return false;
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(offset);
  DWORD count = 0;
  AcquireSRWLockExclusive(&positionLock);
  bool read = SetFilePointerEx(ToHandle(file), at, nullptr, FILE_BEGIN) &&
              ReadFile(ToHandle(file), destination, length, &count, nullptr);
  ReleaseSRWLockExclusive(&positionLock);
  if (!read) return false;
  *done = count;
  return true;
}

bool PlatformFileSize(PlatformFile file, uint64_t* size) {
  LARGE_INTEGER value;
  if (!GetFileSizeEx(ToHandle(file), &value) || value.QuadPart < 0) {
    *size = 0;
    return false;
  }
  *size = static_cast<uint64_t>(value.QuadPart);
  return true;
}

bool PlatformFileStamp(PlatformFile file, PlatformFileFacts* facts) {
  LARGE_INTEGER size;
  FILETIME written;
  if (!GetFileSizeEx(ToHandle(file), &size) || size.QuadPart < 0 ||
      !GetFileTime(ToHandle(file), nullptr, nullptr, &written)) {
    return false;
  }
  // 100 ns ticks since 1601-01-01; 11,644,473,600 seconds before 1970.
  int64_t ticks = int64_t((uint64_t(written.dwHighDateTime) << 32) | written.dwLowDateTime) - 116444736000000000LL;
  int64_t seconds = ticks / 10000000;
  int64_t rest = ticks % 10000000;
  if (rest < 0) {
    rest += 10000000;
    seconds--;
  }
  *facts = PlatformFileFacts{uint64_t(size.QuadPart), seconds, uint32_t(rest * 100), false};
  return true;
}

PlatformFile PlatformFileCreateUnnamed() {
  char folder[MAX_PATH];
  char name[MAX_PATH];
  if (PlatformTempFolder(folder, sizeof folder) == 0 || GetTempFileNameA(folder, "pkt", 0, name) == 0) {
    return PLATFORM_FILE_INVALID;
  }
  // GetTempFileName made the file; this handle deletes it when closed.
  PlatformFile file = FromHandle(CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                                             FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  if (file == PLATFORM_FILE_INVALID) DeleteFileA(name);
  return file;
}

bool PlatformFileWrite(PlatformFile file, const void* source, uint32_t length, uint32_t* done) {
  DWORD count = 0;
  BOOL ok = WriteFile(ToHandle(file), source, length, &count, nullptr);
  *done = ok ? count : 0;
  return ok != 0;
}

bool PlatformFileSync(PlatformFile file) {
  return FlushFileBuffers(ToHandle(file)) != 0;
}

bool PlatformFileSeekRelative(PlatformFile file, int64_t delta) {
  // Moves that fit 32 bits take the plain form; larger ones pass the high part.
  if (delta >= INT32_MIN && delta <= INT32_MAX) {
    SetLastError(NO_ERROR);
    DWORD result = SetFilePointer(ToHandle(file), static_cast<LONG>(delta), nullptr, FILE_CURRENT);
    return result != INVALID_SET_FILE_POINTER || GetLastError() == NO_ERROR;
  }
  LONG high = static_cast<LONG>(delta >> 32);
  SetLastError(NO_ERROR);
  DWORD result = SetFilePointer(ToHandle(file), static_cast<LONG>(delta & 0xFFFFFFFF), &high, FILE_CURRENT);
  return result != INVALID_SET_FILE_POINTER || GetLastError() == NO_ERROR;
}

void PlatformFileClose(PlatformFile file) {
  CloseHandle(ToHandle(file));
}

int PlatformFileDelete(const char* path) {
  return DeleteFileA(path) ? 1 : 0;
}

bool PlatformFileIdentityOf(PlatformFile file, PlatformFileIdentity* identity) {
  BY_HANDLE_FILE_INFORMATION facts;
  if (!GetFileInformationByHandle(ToHandle(file), &facts)) return false;
  *identity = {facts.dwVolumeSerialNumber, uint64_t(facts.nFileIndexHigh) << 32 | facts.nFileIndexLow};
  return true;
}

namespace {

constexpr DWORD FOLDER_SHARING = FILE_SHARE_READ | FILE_SHARE_WRITE;

PlatformNameKind KindOf(HANDLE handle, PlatformFileIdentity* identity) {
  BY_HANDLE_FILE_INFORMATION facts;
  if (!GetFileInformationByHandle(handle, &facts)) return PlatformNameKind::Unreadable;
  *identity = {facts.dwVolumeSerialNumber, uint64_t(facts.nFileIndexHigh) << 32 | facts.nFileIndexLow};
  if (facts.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return PlatformNameKind::Link;
  if (facts.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return PlatformNameKind::Folder;
  return GetFileType(handle) == FILE_TYPE_DISK ? PlatformNameKind::File : PlatformNameKind::Other;
}

// Opens what path names itself, a reparse point as it is, for its facts.
HANDLE OpenNotFollowing(const std::string& path, DWORD sharing) {
  return CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, sharing, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

PlatformNameKind MissingOrUnreadable(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? PlatformNameKind::Missing
                                                                        : PlatformNameKind::Unreadable;
}

}  // namespace

PlatformFolder PlatformFolderOpen(const char* path) {
  HANDLE handle = CreateFileA(path, FILE_READ_ATTRIBUTES, FOLDER_SHARING, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  PlatformFileIdentity identity;
  if (KindOf(handle, &identity) != PlatformNameKind::Folder) {
    CloseHandle(handle);
    SetLastError(ERROR_DIRECTORY);
    return nullptr;
  }
  auto* folder = new (std::nothrow) PlatformFolderRecord{handle, path, identity.volume};
  if (folder == nullptr) CloseHandle(handle);
  return folder;
}

PlatformFolder PlatformFolderOpenBelow(PlatformFolder folder, const char* name, bool make, bool* made,
                                       PlatformNameKind* kind) {
  std::string path = Below(folder, name);
  *made = make && CreateDirectoryA(path.c_str(), nullptr);
  // Why the folder could not be made (no right to write, a write-protected
  // disk) says more than the open's "not found" that follows.
  DWORD makeError = make && !*made && GetLastError() != ERROR_ALREADY_EXISTS ? GetLastError() : 0;
  HANDLE handle = OpenNotFollowing(path, FOLDER_SHARING);
  if (handle == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    if (makeError != 0 && missing) error = makeError;
    *kind = MissingOrUnreadable(error);
    SetLastError(error);
    return nullptr;
  }
  PlatformFileIdentity identity;
  *kind = KindOf(handle, &identity);
  if (*kind != PlatformNameKind::Folder) {
    CloseHandle(handle);
    SetLastError(ERROR_DIRECTORY);
    return nullptr;
  }
  auto* below = new (std::nothrow) PlatformFolderRecord{handle, path, identity.volume};
  if (below == nullptr) CloseHandle(handle);
  return below;
}

bool PlatformFileIdentityBelow(PlatformFolder folder, PlatformFile file, PlatformFileIdentity* identity) {
  // The file's number alone, which is nFileIndex of GetFileInformationByHandle.
  struct {
    LARGE_INTEGER number;
  } facts;  // FILE_INTERNAL_INFORMATION
  IO_STATUS_BLOCK status;
  constexpr auto FILE_INTERNAL_INFORMATION_CLASS = FILE_INFORMATION_CLASS(6);  // FileInternalInformation
  NTSTATUS result =
      NtQueryInformationFile(ToHandle(file), &status, &facts, sizeof facts, FILE_INTERNAL_INFORMATION_CLASS);
  if (result < 0) {
    SetLastError(RtlNtStatusToDosError(result));
    return false;
  }
  *identity = {folder->volume, uint64_t(facts.number.QuadPart)};
  return true;
}

void PlatformFolderClose(PlatformFolder folder) {
  if (folder == nullptr) return;
  CloseHandle(folder->handle);
  delete folder;
}

PlatformNameKind PlatformNameBelow(PlatformFolder folder, const char* name, PlatformFileIdentity* identity) {
  HANDLE handle = OpenNotFollowing(Below(folder, name), FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  if (handle == INVALID_HANDLE_VALUE) return MissingOrUnreadable(GetLastError());
  PlatformNameKind kind = KindOf(handle, identity);
  CloseHandle(handle);
  return kind;
}

PlatformFile PlatformFileOpenReadBelow(PlatformFolder folder, const char* name) {
  HANDLE handle = CreateFileA(Below(folder, name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return PLATFORM_FILE_INVALID;
  PlatformFileIdentity ignored;
  if (KindOf(handle, &ignored) != PlatformNameKind::File) {
    CloseHandle(handle);
    SetLastError(ERROR_CANT_ACCESS_FILE);
    return PLATFORM_FILE_INVALID;
  }
  return FromHandle(handle);
}

PlatformFile PlatformFileCreateNewBelow(PlatformFolder folder, const char* name) {
  // Delete sharing: an interrupt's handler runs while the file is open and
  // removes it, which takes effect when the process ends. Written through:
  // what a write wrote is on the disk when it returns, so that a batch of
  // such files needs no flush of each (PlatformFileSystemSync).
  PlatformFile file = FromHandle(CreateFileA(
      Below(folder, name).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
      CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_WRITE_THROUGH, nullptr));
  return file;
}

int PlatformFileMoveBelow(PlatformFolder folder, const char* from, const char* to, bool replace, bool* existed) {
  *existed = false;
  DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
  if (MoveFileExA(Below(folder, from).c_str(), Below(folder, to).c_str(), flags)) return 1;
  DWORD error = GetLastError();
  *existed = !replace && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS);
  SetLastError(error);
  return 0;
}

int PlatformFileDeleteBelow(PlatformFolder folder, const char* name) {
  return DeleteFileA(Below(folder, name).c_str()) ? 1 : 0;
}

void PlatformFolderRemoveBelow(PlatformFolder folder, const char* name) {
  RemoveDirectoryA(Below(folder, name).c_str());
}

size_t PlatformTempFolder(char* buffer, size_t size) {
  if (buffer == nullptr || size == 0) return 0;
  buffer[0] = 0;
  DWORD length = GetTempPathA(DWORD(size > MAXDWORD ? MAXDWORD : size), buffer);
  // A length of size or more is the room the path would need, nothing copied.
  if (length == 0 || length >= size) {
    buffer[0] = 0;
    return 0;
  }
  return length;
}

uint32_t PlatformProcessId() {
  return GetCurrentProcessId();
}

size_t PlatformMachineName(char* buffer, size_t size) {
  if (buffer == nullptr || size == 0) return 0;
  buffer[0] = 0;
  DWORD length = DWORD(size > MAXDWORD ? MAXDWORD : size);
  if (!GetComputerNameA(buffer, &length)) {
    buffer[0] = 0;
    return 0;
  }
  return length;
}

bool PlatformFolderIsMountPoint(const char*) {
  return false;
}

bool PlatformProcessGone(uint32_t id) {
  if (id == 0) return false;
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, id);
  if (process == nullptr) return GetLastError() == ERROR_INVALID_PARAMETER;
  // A process that ended keeps its number while a handle to it is open.
  bool ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
  CloseHandle(process);
  return ended;
}

size_t PlatformFullPath(const char* path, char* buffer, size_t size) {
  if (buffer == nullptr || size == 0) return 0;
  buffer[0] = 0;
  DWORD length = GetFullPathNameA(path, DWORD(size > MAXDWORD ? MAXDWORD : size), buffer, nullptr);
  if (length == 0 || length >= size) {
    buffer[0] = 0;
    return 0;
  }
  return length;
}

PlatformNameKind PlatformPathKind(const char* path, uint64_t* size) {
  WIN32_FILE_ATTRIBUTE_DATA facts;
  if (!GetFileAttributesExA(path, GetFileExInfoStandard, &facts)) return MissingOrUnreadable(GetLastError());
  if (facts.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return PlatformNameKind::Folder;
  if (facts.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) return PlatformNameKind::Other;
  *size = uint64_t(facts.nFileSizeHigh) << 32 | facts.nFileSizeLow;
  return PlatformNameKind::File;
}

size_t PlatformPathNameStart(const char* path) {
  size_t start = 0;
  for (size_t at = 0; path[at] != 0; at++) {
    if (path[at] == '\\' || path[at] == '/' || (at == 1 && path[at] == ':')) start = at + 1;
  }
  return start;
}

bool PlatformFolderMake(const char* path) {
  return CreateDirectoryA(path, nullptr) != 0;
}

void PlatformFolderRemove(const char* path) {
  RemoveDirectoryA(path);
}

bool PlatformFolderIsEmpty(const char* path) {
  std::string pattern = path;
  char last = pattern.empty() ? 0 : pattern.back();
  if (last != 0 && last != '\\' && last != '/' && !(last == ':' && pattern.size() == 2)) pattern += '\\';
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((pattern + "*").c_str(), &found);
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

bool PlatformFolderNames(const char* path, void (*each)(const char* name, void* context), void* context) {
  std::string pattern = path;
  char last = pattern.empty() ? 0 : pattern.back();
  if (last != 0 && last != '\\' && last != '/' && !(last == ':' && pattern.size() == 2)) pattern += '\\';
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((pattern + "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  do {
    if (strcmp(found.cFileName, ".") != 0 && strcmp(found.cFileName, "..") != 0) each(found.cFileName, context);
  } while (FindNextFileA(search, &found));
  DWORD error = GetLastError();
  FindClose(search);
  SetLastError(error);
  return error == ERROR_NO_MORE_FILES;
}

size_t PlatformErrorText(char* buffer, size_t size) {
  if (buffer == nullptr || size == 0) return 0;
  DWORD error = GetLastError();
  DWORD room = DWORD(size > 4096 ? 4096 : size);
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, buffer,
                                room, nullptr);
  // The system's texts end in a full stop and a line end; a message goes on.
  while (length > 0 && (buffer[length - 1] == '\r' || buffer[length - 1] == '\n' || buffer[length - 1] == '.')) {
    length--;
  }
  if (length == 0) length = DWORD(snprintf(buffer, size, "system error %lu", static_cast<unsigned long>(error)));
  if (length >= size) length = DWORD(size - 1);
  buffer[length] = 0;
  return length;
}

uint64_t PlatformMilliseconds() {
  return GetTickCount64();
}

bool PlatformFileSystemSync(PlatformFolder) {
  // The staged files are opened to be written through, and moves are
  // written through: a flush of every file would cost what it costs per
  // file, and a whole volume's flush needs an administrator.
  return true;
}

bool PlatformErrorIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

uint32_t PlatformConsoleCodePage() {
  UINT codePage = GetConsoleOutputCP();
  return codePage == 0 ? PLATFORM_CODE_PAGE_1252 : codePage;
}

uint32_t PlatformArgumentCodePage() {
  return GetACP();
}

size_t PlatformEncodeText(uint32_t codePage, const uint16_t* text, size_t count, char* buffer, size_t size) {
  if (count == 0 || count > INT32_MAX || size > INT32_MAX) return 0;
  auto* wide = reinterpret_cast<const wchar_t*>(text);
  int length = WideCharToMultiByte(codePage, 0, wide, int(count), nullptr, 0, nullptr, nullptr);
  if (length <= 0) return 0;
  if (size_t(length) <= size) WideCharToMultiByte(codePage, 0, wide, int(count), buffer, int(size), nullptr, nullptr);
  return size_t(length);
}
