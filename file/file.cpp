#include "file/file.h"

#include <cstring>

#include "core/memory.h"
#include "file/file_internal.h"

namespace {

constexpr int32_t FILE_TABLE_GROWTH = 16;

ObjectTable* fileTable;

FileRecord* FileLookup(intptr_t number) {
  return static_cast<FileRecord*>(ObjectTableGet(fileTable, number));
}

// Transfers of 1, 2 or 4 bytes (the line reader's and FileAtEnd's single
// bytes, small fields) move as one value instead of through a block copy.
void CopyBytes(void* destination, const void* source, int32_t length) {
  if (length <= 0) return;
  switch (length) {
    case 1:
      *static_cast<unsigned char*>(destination) = *static_cast<const unsigned char*>(source);
      return;
    case 2: {
      uint16_t value;
      memcpy(&value, source, 2);
      memcpy(destination, &value, 2);
      return;
    }
    case 4: {
      uint32_t value;
      memcpy(&value, source, 4);
      memcpy(destination, &value, 4);
      return;
    }
    default:
      memcpy(destination, source, size_t(length));
  }
}

int32_t SystemRead(PlatformFile handle, void* destination, int32_t length) {
  uint32_t done = 0;
  // A refused read has moved nothing and counts as the end of the file.
  if (!PlatformFileRead(handle, destination, uint32_t(length), &done)) return 0;
  return int32_t(done);
}

int32_t SystemWrite(PlatformFile handle, const void* source, int32_t length) {
  uint32_t done = 0;
  PlatformFileWrite(handle, source, uint32_t(length), &done);
  return int32_t(done);
}

enum class OpenMode { READ, CREATE, CREATE_NEW };

PlatformFile SystemOpen(const char* path, OpenMode mode) {
  switch (mode) {
    case OpenMode::CREATE:
      return PlatformFileCreate(path);
    case OpenMode::CREATE_NEW:
      return PlatformFileCreateNew(path);
    case OpenMode::READ:
      break;
  }
  return PlatformFileOpenRead(path, false);
}

intptr_t FileOpen(intptr_t number, const char* path, OpenMode mode) {
  // Allocating the number closes the file still open under it, before the
  // new open is even tried.
  auto* record = static_cast<FileRecord*>(ObjectTableAllocate(fileTable, number));
  if (record == nullptr) return 0;
  PlatformFile handle = SystemOpen(path, mode);
  if (handle == PLATFORM_FILE_INVALID || handle == 0) {
    // An explicit number's record is still all zero; a dynamic one goes.
    if (number == OBJECT_ANY) ObjectTableFree(fileTable, reinterpret_cast<intptr_t>(record));
    return 0;
  }
  record->handle = handle;
  record->buffer = static_cast<unsigned char*>(ProgramAlloc(FILE_BUFFER_SIZE, false));
  record->bufferSize = FILE_BUFFER_SIZE;
  record->left = 0;
  record->filled = 0;
  record->reading = 1;
  return number == OBJECT_ANY ? reinterpret_cast<intptr_t>(record) : handle;
}

}  // namespace

ObjectTable* FileTable() {
  return fileTable;
}

void FileLibraryInit() {
  fileTable = ObjectTableCreate(sizeof(FileRecord), FILE_TABLE_GROWTH, FileClose);
}

void FileLibraryEnd() {
  ObjectTableFreeAll(fileTable);
}

intptr_t FileCreate(intptr_t number, const char* path) {
  return FileOpen(number, path, OpenMode::CREATE);
}

intptr_t FileCreateNew(intptr_t number, const char* path) {
  return FileOpen(number, path, OpenMode::CREATE_NEW);
}

intptr_t FileOpenRead(intptr_t number, const char* path) {
  return FileOpen(number, path, OpenMode::READ);
}

int32_t FileFlush(FileRecord* record) {
  if (record->reading != 0 || record->buffer == nullptr) return 0;
  int32_t pending = record->bufferSize - record->left;
  record->left = record->bufferSize;
  // An empty buffer costs no system call.
  if (pending <= 0) return 0;
  return SystemWrite(record->handle, record->buffer, pending);
}

int32_t FileBufferedWrite(FileRecord* record, const void* source, int32_t length) {
  if (length < 0) return 0;
  if (record->reading != 0) {
    // Give the read-ahead back, so that the write lands right behind the last
    // byte handed out.
    if (record->left > 0) PlatformFileSeekRelative(record->handle, -int64_t(record->left));
    record->reading = 0;
    record->left = record->bufferSize;
  }
  // Strictly less: the buffer is never left full, a write of exactly the free
  // room flushes first.
  if (length < record->left) {
    CopyBytes(record->buffer + (record->bufferSize - record->left), source, length);
    record->left -= length;
    return length;
  }
  FileFlush(record);
  // Large transfers go straight from the caller's memory.
  if (length >= record->bufferSize) return SystemWrite(record->handle, source, length);
  CopyBytes(record->buffer, source, length);
  record->left -= length;
  return length;
}

int32_t FileBufferedRead(FileRecord* record, void* destination, int32_t length) {
  if (length < 0) return 0;
  if (record->reading == 0) {
    FileFlush(record);
    record->reading = 1;
    record->left = 0;
  }
  unsigned char* next = record->buffer + (record->filled - record->left);
  if (record->left >= length) {
    CopyBytes(destination, next, length);
    record->left -= length;
    return length;
  }
  // Never below 0 (invariant); said here so the compiler can bound the copies.
  int32_t taken = record->left > 0 ? record->left : 0;
  CopyBytes(destination, next, taken);
  record->left = 0;
  unsigned char* rest = static_cast<unsigned char*>(destination) + taken;
  int32_t restLength = length - taken;
  // Large transfers go straight into the caller's memory.
  if (restLength >= record->bufferSize) return taken + SystemRead(record->handle, rest, restLength);
  int32_t got = SystemRead(record->handle, record->buffer, record->bufferSize);
  record->filled = got;
  int32_t moved = restLength < got ? restLength : got;
  CopyBytes(rest, record->buffer, moved);
  record->left = got - moved;
  return taken + moved;
}

int32_t FileWriteData(intptr_t number, const void* source, int32_t length) {
  if (source == nullptr || length <= 0) return 0;
  FileRecord* record = FileLookup(number);
  if (record == nullptr) return 0;
  if (record->buffer == nullptr) return SystemWrite(record->handle, source, length);
  return FileBufferedWrite(record, source, length);
}

int FileAtEnd(intptr_t number) {
  FileRecord* record = FileLookup(number);
  if (record == nullptr) return 0;
  unsigned char byte;
  if (record->buffer != nullptr) {
    if (FileBufferedRead(record, &byte, 1) == 0) return 1;
    // The byte came from the buffer: hand it out again on the next read.
    record->left += 1;
    return 0;
  }
  if (SystemRead(record->handle, &byte, 1) == 0) return -1;
  PlatformFileSeekRelative(record->handle, -1);
  return 0;
}

void FileClose(intptr_t number) {
  FileRecord* record = FileLookup(number);
  if (record == nullptr) return;
  if (record->buffer != nullptr) {
    // A refused write cannot be reported here; the handle is closed anyway.
    FileFlush(record);
    ProgramFree(record->buffer);
  }
  PlatformFileClose(record->handle);
  ObjectTableFree(fileTable, number);
}

int FileCloseSynced(intptr_t number) {
  FileRecord* record = FileLookup(number);
  if (record == nullptr) return 0;
  bool complete = true;
  if (record->buffer != nullptr && record->reading == 0) {
    int32_t pending = record->bufferSize - record->left;
    complete = FileFlush(record) == pending;
  }
  complete = PlatformFileSync(record->handle) && complete;
  FileClose(number);
  return complete ? 1 : 0;
}

int FileDelete(const char* path) {
  if (path == nullptr) return 0;
  return PlatformFileDelete(path);
}
