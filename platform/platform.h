// The narrow seam between the portable code and the operating system: heaps
// and file handles for core, pack and file, and what packtool needs beside
// them (folders, moves without replacing, file identity, console facts).
// One implementation per platform; no buffering, no policy and no messages
// live here (a system's own error text is a fact, not a message).
#pragma once

#include <cstddef>
#include <cstdint>

// A heap releases every block it still holds when it is destroyed.
using PlatformHeap = void*;

// maximumSize 0 gives a growable heap; a non-zero maximum gives a fixed heap
// that refuses allocations beyond it (used to test exhausted memory). A
// serialized heap may be used by several threads at once.
PlatformHeap PlatformHeapCreate(bool serialized, size_t initialSize, size_t maximumSize = 0);
void* PlatformHeapAlloc(PlatformHeap heap, size_t size, bool zeroFill);
// Grows or shrinks a block, keeping its contents; added bytes are zero when
// zeroFill is set. Null on failure, and the old block is then untouched.
void* PlatformHeapReAlloc(PlatformHeap heap, void* block, size_t size, bool zeroFill);
void PlatformHeapFree(PlatformHeap heap, void* block);
void PlatformHeapDestroy(PlatformHeap heap);

// A file handle as the records keep it: non-zero while the file is open.
using PlatformFile = intptr_t;
constexpr PlatformFile PLATFORM_FILE_INVALID = -1;

// The file calls have C names, so that a test's link can wrap each of them
// by its name (tests/support/counted_seam.h) around the one implementation.
extern "C" {
// Opens an existing file for reading, shared for reading by others.
// sequential hints a front-to-back scan (archives); otherwise normal attributes.
PlatformFile PlatformFileOpenRead(const char* path, bool sequential);
// Creates the file or empties an existing one, for reading and writing; when
// that is refused, a second try opens an existing file write-only, truncating.
PlatformFile PlatformFileCreate(const char* path);
// Creates a file that does not exist yet, for reading and writing, shared for
// reading. Fails when anything of that name is there: an existing file is
// never opened, emptied or replaced.
PlatformFile PlatformFileCreateNew(const char* path);
// Both transfer calls report the bytes moved in *done; false when the system
// refused the call (then *done is 0).
bool PlatformFileRead(PlatformFile file, void* destination, uint32_t length, uint32_t* done);
bool PlatformFileWrite(PlatformFile file, const void* source, uint32_t length, uint32_t* done);
// Reads at offset from the start of the file, whatever the file position
// was; the position afterwards is not defined. Several threads may read one
// file this way at once. Every file call may be made from any thread. Like PlatformFileRead, short
// only at the end of the file (*done 0 at or past it, which is no failure).
bool PlatformFileReadAt(PlatformFile file, uint64_t offset, void* destination, uint32_t length, uint32_t* done);
// The file's size in bytes; false when the system cannot tell (*size is then 0).
bool PlatformFileSize(PlatformFile file, uint64_t* size);
// What tells a changed file from the one that was opened: its size, when it
// was last written, and whether its last name is gone (POSIX only: a file
// deleted while open can still be read). False when the system cannot tell.
struct PlatformFileFacts {
  uint64_t size;
  int64_t modifiedSeconds;  // since 1970-01-01 UTC
  uint32_t modifiedNanoseconds;
  bool deleted;
};
bool PlatformFileStamp(PlatformFile file, PlatformFileFacts* facts);
// A new file of no name in the temporary folder, for reading and writing;
// it goes away when it is closed (or the process ends).
PlatformFile PlatformFileCreateUnnamed();
// Moves the file position by delta bytes from where it is.
bool PlatformFileSeekRelative(PlatformFile file, int64_t delta);
void PlatformFileClose(PlatformFile file);
// Non-zero when the file was deleted. A file this seam still holds open is
// not deleted (files are opened without delete sharing).
int PlatformFileDelete(const char* path);
}  // extern "C"
// Writes what the system still holds of the file through to the disk; false
// when the system reports that it could not.
bool PlatformFileSync(PlatformFile file);
// Sets the file's size. Added bytes read as 0 and take their room on the
// disk now (where the file system can), so that writing them through a
// mapping does not meet a full disk.
bool PlatformFileResize(PlatformFile file, uint64_t size);

// A part of a file seen as memory: data[0, size) are the file's bytes from
// the offset it was mapped at. The pages belong to the file (the system's
// cache of it), not to the process's own memory.
struct PlatformMapping {
  unsigned char* data = nullptr;
  size_t size = 0;
  void* base = nullptr;  // where the system's view starts (aligned below data)
  size_t baseSize = 0;
  PlatformFile file = PLATFORM_FILE_INVALID;
  bool writable = false;
};
// Maps size bytes of the file from offset (any offset), for reading, or for
// writing too (the file must then be open for writing and hold those bytes).
// False when the address space or the system refuses; a 32-bit process has
// room for about 1.5 GiB of views at most.
bool PlatformFileMap(PlatformFile file, uint64_t offset, size_t size, bool writable, PlatformMapping* mapping);
// Unmaps. The bytes written through a writable view are the file's; with
// durable, they are also part of what makes the file durable (on Windows the
// view and the file are flushed to the disk here, as its mapped pages are
// not written through; POSIX leaves it to the file system's sync). False
// when the system reports that it could not.
bool PlatformFileUnmap(PlatformMapping* mapping, bool durable);

// Which file a name leads to, whatever name reached it: the volume and the
// file number on Windows, the device and the inode on POSIX. Two names with
// equal identities are one file (a case-folded name, a name with trailing
// dots or spaces, a short 8.3 alias, a hard link).
struct PlatformFileIdentity {
  uint64_t volume;
  uint64_t file;
  bool operator==(const PlatformFileIdentity&) const = default;
};
bool PlatformFileIdentityOf(PlatformFile file, PlatformFileIdentity* identity);

// A folder held open, below which files and folders are reached one name at
// a time without following a symbolic link, a junction or any other reparse
// point: what such a name leads to is never opened, made, moved or deleted.
// While it is held, the folder (and on Windows every folder above it that
// was opened through it) keeps its place: a name on the way cannot be
// swapped for a link. Names are single parts, without separators.
struct PlatformFolderRecord;
using PlatformFolder = PlatformFolderRecord*;

// What a name below a folder is, not following it.
enum class PlatformNameKind { Missing, File, Folder, Link, Other, Unreadable };

// Opens the folder at path, following links: its name is the caller's choice.
// Null on failure.
PlatformFolder PlatformFolderOpen(const char* path);
// Opens the folder name below folder; with make, makes it first when it is
// missing (*made then true). Null when it cannot, with *kind saying what is
// there: Link for a link or reparse point (never followed), File or Other
// for what is no folder, else the system's failure.
PlatformFolder PlatformFolderOpenBelow(PlatformFolder folder, const char* name, bool make, bool* made,
                                       PlatformNameKind* kind);
void PlatformFolderClose(PlatformFolder folder);
// What name below folder is, and its identity for a File or Folder.
PlatformNameKind PlatformNameBelow(PlatformFolder folder, const char* name, PlatformFileIdentity* identity);
// PlatformFileIdentityOf of a file opened or made below folder, the same
// identity at a lower cost where the system would ask the volume's facts
// for each file (Wine asks its mount manager, another process): the volume
// is the folder's.
bool PlatformFileIdentityBelow(PlatformFolder folder, PlatformFile file, PlatformFileIdentity* identity);
extern "C" {
// Opens the file name below folder for reading, shared for reading; a link
// or reparse point in the name's place is not followed (the open fails).
PlatformFile PlatformFileOpenReadBelow(PlatformFolder folder, const char* name);
// PlatformFileCreateNew below folder (a link in the name's place is there,
// so it fails), but shared for deleting as well: an interrupt may remove the
// file while it is being written.
PlatformFile PlatformFileCreateNewBelow(PlatformFolder folder, const char* name);
// Moves the closed file from to the name to, both below folder. With replace
// a file there is replaced in one step (a link there is replaced as a name,
// not followed): to names either its old file or the new one at every
// moment. Without, anything there stays and *existed is set. Written
// through to the disk on Windows. Non-zero on success; on failure both
// files are as they were.
int PlatformFileMoveBelow(PlatformFolder folder, const char* from, const char* to, bool replace, bool* existed);
// Deletes the file name below folder (a link there as a name). Non-zero when
// deleted.
int PlatformFileDeleteBelow(PlatformFolder folder, const char* name);
}  // extern "C"
// Removes the folder name below folder when it holds nothing.
void PlatformFolderRemoveBelow(PlatformFolder folder, const char* name);
// Makes durable, at once, what was written to the files made by
// PlatformFileCreateNewBelow on the file system that folder is on, and the
// moves made below its folders: on Linux one sync of that file system
// (syncfs), elsewhere on POSIX a sync of every file system. On Windows such
// files are written through to the disk as they are written (their handles
// are opened so) and moves are written through: nothing is left to do. A
// crash before it returns may lose any of them; after it, none.
bool PlatformFileSystemSync(PlatformFolder folder);

// The user's folder for temporary files, ending in a path separator, copied
// with its terminator into buffer. Returns its length; 0 (and "" where there
// is room) when the system names none or it does not fit.
size_t PlatformTempFolder(char* buffer, size_t size);
// The calling process's identifier, for names no other process is using.
uint32_t PlatformProcessId();
// This machine's name as the system gives it (its host or computer name),
// copied with its terminator into buffer; returns its length, 0 when it
// does not fit or the system names none.
size_t PlatformMachineName(char* buffer, size_t size);
// Whether no process of that identifier runs on this machine now (false
// when one does, or the system cannot tell: such a process may still run).
bool PlatformProcessGone(uint32_t id);

// The path made absolute against the current folder, as text: nothing is
// asked of what it names (it may be missing) and no link is followed; on
// Windows the system's full path name. Copied with its terminator into
// buffer; returns its length, 0 when it does not fit or the system refuses.
size_t PlatformFullPath(const char* path, char* buffer, size_t size);

// What path names, following links: Missing, File (*size is then its size),
// Folder, Other (a device, a pipe) or Unreadable (the system refused to say).
PlatformNameKind PlatformPathKind(const char* path, uint64_t* size);
// Where the last name of path begins: behind its last separator ('/'; on
// Windows also '\\' and a drive's ':'). 0 for a bare name. What lies before
// it is the folder the name is in.
size_t PlatformPathNameStart(const char* path);
// Makes the one folder path (the folder it is in must exist). False when
// nothing was made: something of that name is there, or the system refused.
bool PlatformFolderMake(const char* path);
// Removes the folder path when it holds nothing; else leaves it.
void PlatformFolderRemove(const char* path);
// Whether a file system is mounted on the folder at path (it lies on another
// device than the folder it is in). False when it cannot be told; Windows
// mounts no file system on a folder of packtool's: false there.
bool PlatformFolderIsMountPoint(const char* path);
// Whether the folder holds nothing (no file, no folder); false also when it
// cannot be read.
bool PlatformFolderIsEmpty(const char* path);

// Calls each with every name in the folder at path (following links; not
// "." or ".."), in the order the system gives them. False when the folder
// cannot be read (the names given before a failure stand).
bool PlatformFolderNames(const char* path, void (*each)(const char* name, void* context), void* context);

// The last failure of a system call of this thread as the system words it,
// copied with its terminator into buffer (cut to fit). Returns its length.
size_t PlatformErrorText(char* buffer, size_t size);
// A clock that only moves forward, in milliseconds from an arbitrary start.
uint64_t PlatformMilliseconds();

// Sets up a console program: standard output takes bytes as they are (no LF
// to CR LF), the locale's character set is the console's, a write past a
// file size limit fails instead of ending the process, and an interrupt
// (Ctrl+C, a hang-up, a termination) removes the files named by
// PlatformDeleteOnInterrupt before the process ends.
void PlatformConsoleSetUp();
// Adds the file below folder to those an interrupt is to remove, up to
// PLATFORM_INTERRUPT_FILES at once (false when that many are named, or the
// name is longer than a staged file's). The folder must stay open while it
// is named.
constexpr int PLATFORM_INTERRUPT_FILES = 4096;
bool PlatformDeleteOnInterrupt(PlatformFolder folder, const char* name);
// Takes the file below folder off that list again.
void PlatformKeepOnInterrupt(PlatformFolder folder, const char* name);
// Adds the folder name below folder (null: name is a path from the working
// folder) to those an interrupt removes, after the files, when they then
// hold nothing (on Windows only those whose files were closed), up to
// PLATFORM_INTERRUPT_FOLDERS at once; naming one twice adds it once. False
// when that many are named or the name is too long. The folder must stay
// open while it is named.
constexpr int PLATFORM_INTERRUPT_FOLDERS = 512;
bool PlatformRemoveFolderOnInterrupt(PlatformFolder folder, const char* name);
void PlatformKeepFolderOnInterrupt(PlatformFolder folder, const char* name);
// Whether standard error is a terminal (a person may be watching).
bool PlatformErrorIsTerminal();

// Code pages as Windows numbers them.
constexpr uint32_t PLATFORM_CODE_PAGE_UNKNOWN = 0;  // only 7-bit text is surely what it seems
constexpr uint32_t PLATFORM_CODE_PAGE_1252 = 1252;
constexpr uint32_t PLATFORM_CODE_PAGE_UTF8 = 65001;
// The character set the console shows bytes in: on Windows the console's
// output code page (1252 without a console), on POSIX UTF-8 under a UTF-8
// locale and unknown under any other.
uint32_t PlatformConsoleCodePage();
// The character set of the command line's arguments: on Windows the ANSI
// code page, on POSIX as for the console.
uint32_t PlatformArgumentCodePage();
// Unicode text (code points below 0x10000) in codePage, by the system's
// tables, into buffer when it fits. Returns the length it takes; 0 when the
// system has no such code page (POSIX has none of its own).
size_t PlatformEncodeText(uint32_t codePage, const uint16_t* text, size_t count, char* buffer, size_t size);
