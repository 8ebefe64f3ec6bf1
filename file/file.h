// Numbered files: each open file is named by an object number and has one
// buffer of 4,096 bytes in front of it, shared by reading and writing, so that
// small transfers (the line reader takes one byte at a time) cost a system
// call only once per buffer. Errors are return values: 0, or "" for a line.
#pragma once

#include <cstdint>

#include "core/object_table.h"
#include "core/string.h"
#include "file/file_name.h"
#include "platform/platform.h"

constexpr int32_t FILE_BUFFER_SIZE = 4096;

// One per open file, kept in the file table under its number. The handle comes
// first: a record whose handle is 0 names no open file.
struct FileRecord {
  PlatformFile handle;
  // bufferSize bytes from the program heap, not cleared; null when they could
  // not be had, and the file then goes straight to the system on every call.
  unsigned char* buffer;
  int32_t bufferSize;
  // Reading: read-ahead bytes not yet handed out. Writing: free bytes, never 0.
  int32_t left;
  // Reading: bytes the last refill brought; the next byte is at filled - left.
  int32_t filled;
  // 1: the buffer holds read-ahead (or nothing). 0: bytes not yet written.
  int32_t reading;
};

// Creates the file table (growth step 16, FileClose as release operation).
void FileLibraryInit();
// Closes every open file, writing its pending bytes; the table stays.
void FileLibraryEnd();

// Both open `path` as file `number`, closing whatever was open under it first
// (even when the new open then fails). They return the system's handle, or
// for OBJECT_ANY the new file's identity, which names it from then on; 0 on
// failure. FileCreate makes the file or empties an existing one.
intptr_t FileCreate(intptr_t number, const char* path);
intptr_t FileOpenRead(intptr_t number, const char* path);
// As FileCreate, but only for a file that is not there yet: when anything of
// that name exists it fails and leaves it untouched.
intptr_t FileCreateNew(intptr_t number, const char* path);

// Writes at the file's logical position. Returns the count accepted: length
// once the bytes are in the buffer, else what the system reports written; 0
// for a null source, a length of 0 or less, or a number with no open file.
int32_t FileWriteData(intptr_t number, const void* source, int32_t length);

// 0 while one more byte can be read, and consumes nothing. At the end: 1 for
// a buffered file, -1 for an unbuffered one (a failed read counts as the end).
// 0 for a number with no open file, so a caller reading until the end must
// first make sure its open succeeded.
int FileAtEnd(intptr_t number);

// Writes the pending bytes, frees the buffer, closes the handle and frees the
// number. Numbers with no open file, and OBJECT_ANY, are ignored.
void FileClose(intptr_t number);

// FileClose that says whether the bytes reached the disk: the pending bytes
// are written and the file synced before it is closed. 1 when the system took
// all of them and the sync succeeded; 0 otherwise, or for a number with no
// open file. The number is freed either way.
int FileCloseSynced(intptr_t number);

// Non-zero when the file was deleted; 0 for a null path. Open files are not
// shared for deletion, so close a file before deleting it.
int FileDelete(const char* path);

// The next line as 8-bit text, without its line end: LF, CR, CR LF or NUL.
// Lines have no length limit and bytes are taken over unchanged. The end of
// the file and an empty last line both give "": test FileAtEnd first. A
// number with no open file gives "" and reads nothing.
String FileReadLine(intptr_t number);

// How much of text[0, size) holds whole lines: the length up to and with its
// last line end (LF, CR or NUL), 0 when it has none. A text cut off at size
// (a damaged index, decoded only in part) keeps the lines that lie wholly
// before the cut; its cut last line is not trusted. The cost is that of the
// last line alone.
size_t LineTextWholeLines(const unsigned char* text, size_t size);

// How much of a text of `size` bytes, of which only the first `decoded` are
// real (an index whose stream stopped early), is trusted as lines: all of it
// when nothing was cut, else the whole lines before the cut. The restore
// tool and packtool both list a damaged index by this.
size_t LineTextTrusted(const unsigned char* text, size_t decoded, size_t size);

// The line rules of FileReadLine on a text in memory: the line that starts at
// `at` (at < size) is text[at, at + *length), and the next one starts at the
// position returned. A text of n bytes gives exactly the lines FileReadLine
// gives for a file holding it.
size_t LineTextNext(const unsigned char* text, size_t size, size_t at, size_t* length);
