// The seam over POSIX calls, with the same meaning as the Win32 one (the
// heaps are in heap_posix.cpp).
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "platform/platform.h"
#include "platform/posix/console_posix.h"

namespace {

// A platform fd of 0 would read as "no file" in a record; keep handles above
// the standard streams.
PlatformFile FromDescriptor(int fd) {
  if (fd < 0) return PLATFORM_FILE_INVALID;
  if (fd >= 3) return fd;
  int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  close(fd);
  return moved < 0 ? PLATFORM_FILE_INVALID : moved;
}

// The files the seam holds open, one entry per handle, under openFilesLock
// (any thread may open, close and delete). Windows opens them
// without delete sharing, so a delete of an open file fails there; the same
// answer here needs to know which files are open. Device and inode name the
// file itself, whatever path reached it.
struct OpenFile {
  int fd;
  dev_t device;
  ino_t inode;
};

std::mutex openFilesLock;
OpenFile* openFiles;
size_t openFileCount;
size_t openFileRoom;

bool RememberOpen(int fd) {
  struct stat facts;
  if (fstat(fd, &facts) != 0) return false;
  std::lock_guard<std::mutex> hold(openFilesLock);
  if (openFileCount == openFileRoom) {
    size_t room = openFileRoom == 0 ? 8 : openFileRoom * 2;
    auto* grown = static_cast<OpenFile*>(realloc(openFiles, room * sizeof(OpenFile)));
    if (grown == nullptr) return false;
    openFiles = grown;
    openFileRoom = room;
  }
  openFiles[openFileCount++] = OpenFile{fd, facts.st_dev, facts.st_ino};
  return true;
}

void ForgetOpen(int fd) {
  std::lock_guard<std::mutex> hold(openFilesLock);
  for (size_t i = 0; i < openFileCount; i++) {
    if (openFiles[i].fd != fd) continue;
    openFiles[i] = openFiles[--openFileCount];
    break;
  }
  if (openFileCount != 0) return;
  free(openFiles);
  openFiles = nullptr;
  openFileRoom = 0;
}

bool IsOpen(const struct stat& facts) {
  std::lock_guard<std::mutex> hold(openFilesLock);
  for (size_t i = 0; i < openFileCount; i++) {
    if (openFiles[i].device == facts.st_dev && openFiles[i].inode == facts.st_ino) return true;
  }
  return false;
}

// A file the seam could not record is given up: delete would not know it open.
PlatformFile Recorded(PlatformFile file) {
  if (file == PLATFORM_FILE_INVALID || RememberOpen(static_cast<int>(file))) return file;
  close(static_cast<int>(file));
  return PLATFORM_FILE_INVALID;
}

// Like ReadFile on a disk file: short only at the end of the file. readSome
// moves up to count bytes to at, the total read so far being given.
template <typename ReadSome>
bool ReadFully(void* destination, uint32_t length, uint32_t* done, ReadSome readSome) {
  *done = 0;
  char* at = static_cast<char*>(destination);
  uint32_t total = 0;
  while (total < length) {
    ssize_t got = readSome(at + total, length - total, total);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) break;
    total += static_cast<uint32_t>(got);
  }
  *done = total;
  return true;
}

}  // namespace

PlatformFile PlatformFileOpenRead(const char* path, bool sequential) {
  if (path == nullptr) return PLATFORM_FILE_INVALID;
  PlatformFile file = Recorded(FromDescriptor(open(path, O_RDONLY | O_CLOEXEC)));
  if (file != PLATFORM_FILE_INVALID && sequential) {
    posix_fadvise(static_cast<int>(file), 0, 0, POSIX_FADV_SEQUENTIAL);
  }
  return file;
}

PlatformFile PlatformFileCreate(const char* path) {
  if (path == nullptr) return PLATFORM_FILE_INVALID;
  int fd = open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd >= 0) return Recorded(FromDescriptor(fd));
  // Second try: an existing file we may write but not read.
  return Recorded(FromDescriptor(open(path, O_WRONLY | O_TRUNC | O_CLOEXEC)));
}

PlatformFile PlatformFileCreateNew(const char* path) {
  if (path == nullptr) return PLATFORM_FILE_INVALID;
  return Recorded(FromDescriptor(open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666)));
}

bool PlatformFileRead(PlatformFile file, void* destination, uint32_t length, uint32_t* done) {
  return ReadFully(destination, length, done,
                   [file](char* at, uint32_t count, uint32_t) { return read(static_cast<int>(file), at, count); });
}

bool PlatformFileReadAt(PlatformFile file, uint64_t offset, void* destination, uint32_t length, uint32_t* done) {
  *done = 0;
  if (offset > uint64_t(INT64_MAX) - length) return false;
  return ReadFully(destination, length, done, [file, offset](char* at, uint32_t count, uint32_t total) {
    return pread(static_cast<int>(file), at, count, static_cast<off_t>(offset + total));
  });
}

bool PlatformFileSize(PlatformFile file, uint64_t* size) {
  struct stat facts;
  if (fstat(static_cast<int>(file), &facts) != 0 || facts.st_size < 0) {
    *size = 0;
    return false;
  }
  *size = static_cast<uint64_t>(facts.st_size);
  return true;
}

bool PlatformFileStamp(PlatformFile file, PlatformFileFacts* facts) {
  struct stat stat;
  if (fstat(static_cast<int>(file), &stat) != 0 || stat.st_size < 0) return false;
  *facts = PlatformFileFacts{static_cast<uint64_t>(stat.st_size), int64_t(stat.st_mtim.tv_sec),
                             uint32_t(stat.st_mtim.tv_nsec), stat.st_nlink == 0};
  return true;
}

PlatformFile PlatformFileCreateUnnamed() {
  char folder[4096];
  if (PlatformTempFolder(folder, sizeof folder) == 0) return PLATFORM_FILE_INVALID;
  int fd = open(folder, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return FromDescriptor(fd);
  // A file system without O_TMPFILE: a fresh name, removed at once.
  std::string name = std::string(folder) + "packtool-XXXXXX";
  fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return PLATFORM_FILE_INVALID;
  unlink(name.c_str());
  return FromDescriptor(fd);
}

bool PlatformFileWrite(PlatformFile file, const void* source, uint32_t length, uint32_t* done) {
  *done = 0;
  const char* at = static_cast<const char*>(source);
  uint32_t total = 0;
  while (total < length) {
    ssize_t put = write(static_cast<int>(file), at + total, length - total);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) break;
    total += static_cast<uint32_t>(put);
  }
  *done = total;
  return total == length;
}

bool PlatformFileSync(PlatformFile file) {
  return fsync(static_cast<int>(file)) == 0;
}

bool PlatformFileSeekRelative(PlatformFile file, int64_t delta) {
  return lseek(static_cast<int>(file), static_cast<off_t>(delta), SEEK_CUR) >= 0;
}

void PlatformFileClose(PlatformFile file) {
  ForgetOpen(static_cast<int>(file));
  close(static_cast<int>(file));
}

int PlatformFileDelete(const char* path) {
  if (path == nullptr) return 0;
  // lstat: unlinking a symbolic link leaves the file it points to alone.
  struct stat facts;
  if (lstat(path, &facts) == 0 && IsOpen(facts)) return 0;
  return unlink(path) == 0 ? 1 : 0;
}

bool PlatformFileIdentityOf(PlatformFile file, PlatformFileIdentity* identity) {
  struct stat facts;
  if (fstat(static_cast<int>(file), &facts) != 0) return false;
  *identity = {uint64_t(facts.st_dev), uint64_t(facts.st_ino)};
  return true;
}

bool PlatformFileIdentityBelow(PlatformFolder, PlatformFile file, PlatformFileIdentity* identity) {
  return PlatformFileIdentityOf(file, identity);
}

// A folder below which names are reached with the *at calls, each with
// O_NOFOLLOW or AT_SYMLINK_NOFOLLOW, so that a link is never followed.
struct PlatformFolderRecord {
  int fd;
};

namespace {

PlatformNameKind KindOf(const struct stat& facts) {
  if (S_ISLNK(facts.st_mode)) return PlatformNameKind::Link;
  if (S_ISDIR(facts.st_mode)) return PlatformNameKind::Folder;
  return S_ISREG(facts.st_mode) ? PlatformNameKind::File : PlatformNameKind::Other;
}

PlatformFolder FolderRecordOf(int fd) {
  if (fd < 0) return nullptr;
  auto* folder = new (std::nothrow) PlatformFolderRecord{fd};
  if (folder == nullptr) close(fd);
  return folder;
}

}  // namespace

PlatformFolder PlatformFolderOpen(const char* path) {
  return FolderRecordOf(open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

PlatformFolder PlatformFolderOpenBelow(PlatformFolder folder, const char* name, bool make, bool* made,
                                       PlatformNameKind* kind) {
  *made = make && mkdirat(folder->fd, name, 0777) == 0;
  // Why the folder could not be made (no right to write, a read-only file
  // system) says more than the open's "No such file" that follows.
  int makeError = make && !*made && errno != EEXIST ? errno : 0;
  int fd = openat(folder->fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd >= 0) {
    *kind = PlatformNameKind::Folder;
    return FolderRecordOf(fd);
  }
  int error = makeError != 0 && errno == ENOENT ? makeError : errno;
  PlatformFileIdentity ignored;
  *kind = PlatformNameBelow(folder, name, &ignored);
  if (*kind == PlatformNameKind::Folder || (*kind == PlatformNameKind::Missing && error != ENOENT)) {
    *kind = PlatformNameKind::Unreadable;
  }
  errno = error;
  return nullptr;
}

void PlatformFolderClose(PlatformFolder folder) {
  if (folder == nullptr) return;
  close(folder->fd);
  delete folder;
}

PlatformNameKind PlatformNameBelow(PlatformFolder folder, const char* name, PlatformFileIdentity* identity) {
  struct stat facts;
  if (fstatat(folder->fd, name, &facts, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT ? PlatformNameKind::Missing : PlatformNameKind::Unreadable;
  }
  *identity = {uint64_t(facts.st_dev), uint64_t(facts.st_ino)};
  return KindOf(facts);
}

PlatformFile PlatformFileOpenReadBelow(PlatformFolder folder, const char* name) {
  return Recorded(FromDescriptor(openat(folder->fd, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC)));
}

PlatformFile PlatformFileCreateNewBelow(PlatformFolder folder, const char* name) {
  return FromDescriptor(openat(folder->fd, name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
}

int PlatformFileMoveBelow(PlatformFolder folder, const char* from, const char* to, bool replace, bool* existed) {
  *existed = false;
  if (replace) return renameat(folder->fd, from, folder->fd, to) == 0 ? 1 : 0;
#ifdef RENAME_NOREPLACE
  // One step that fails when the name is taken, where the file system has it.
  if (renameat2(folder->fd, from, folder->fd, to, RENAME_NOREPLACE) == 0) return 1;
  if (errno == EEXIST) {
    *existed = true;
    return 0;
  }
#endif
  // A hard link fails when the name is taken, with no moment in which a
  // file made meanwhile could be replaced. Where the file system has no hard
  // links, test and rename.
  if (linkat(folder->fd, from, folder->fd, to, 0) == 0) {
    unlinkat(folder->fd, from, 0);
    return 1;
  }
  int error = errno;
  struct stat facts;
  if (error == EEXIST || fstatat(folder->fd, to, &facts, AT_SYMLINK_NOFOLLOW) == 0) {
    *existed = true;
    errno = EEXIST;
    return 0;
  }
  return renameat(folder->fd, from, folder->fd, to) == 0 ? 1 : 0;
}

int PlatformFileDeleteBelow(PlatformFolder folder, const char* name) {
  return unlinkat(folder->fd, name, 0) == 0 ? 1 : 0;
}

void PlatformFolderRemoveBelow(PlatformFolder folder, const char* name) {
  unlinkat(folder->fd, name, AT_REMOVEDIR);
}

size_t PlatformTempFolder(char* buffer, size_t size) {
  if (buffer == nullptr || size == 0) return 0;
  buffer[0] = 0;
  const char* folder = getenv("TMPDIR");
  if (folder == nullptr || folder[0] == 0) folder = "/tmp";
  size_t length = strlen(folder);
  bool separator = folder[length - 1] == '/';
  size_t total = length + (separator ? 0 : 1);
  if (total >= size) return 0;
  memcpy(buffer, folder, length);
  if (!separator) buffer[length] = '/';
  buffer[total] = 0;
  return total;
}

uint32_t PlatformProcessId() {
  return static_cast<uint32_t>(getpid());
}

size_t PlatformMachineName(char* buffer, size_t size) {
  if (buffer == nullptr || size == 0) return 0;
  buffer[0] = 0;
  if (gethostname(buffer, size) != 0 || memchr(buffer, 0, size) == nullptr) {
    buffer[0] = 0;
    return 0;
  }
  return strlen(buffer);
}

bool PlatformFolderIsMountPoint(const char* path) {
  struct stat folder;
  struct stat above;
  std::string parent = std::string(path) + "/..";
  if (stat(path, &folder) != 0 || stat(parent.c_str(), &above) != 0) return false;
  return folder.st_dev != above.st_dev || folder.st_ino == above.st_ino;
}

bool PlatformProcessGone(uint32_t id) {
  if (id == 0 || id > uint32_t(INT32_MAX)) return false;
  // Signal 0 only asks; EPERM means a process of another user has the number.
  return kill(static_cast<pid_t>(id), 0) != 0 && errno == ESRCH;
}

size_t PlatformFullPath(const char* path, char* buffer, size_t size) {
  if (buffer == nullptr || size == 0) return 0;
  buffer[0] = 0;
  std::string full;
  if (path[0] != '/') {
    char here[4096];
    if (getcwd(here, sizeof here) == nullptr) return 0;
    full = here;
    if (full.back() != '/') full += '/';
  }
  full += path;
  if (full.size() >= size) return 0;
  memcpy(buffer, full.c_str(), full.size() + 1);
  return full.size();
}

PlatformNameKind PlatformPathKind(const char* path, uint64_t* size) {
  struct stat facts;
  if (stat(path, &facts) != 0) {
    return errno == ENOENT || errno == ENOTDIR ? PlatformNameKind::Missing : PlatformNameKind::Unreadable;
  }
  PlatformNameKind kind = KindOf(facts);
  if (kind == PlatformNameKind::File) *size = uint64_t(facts.st_size);
  return kind;
}

size_t PlatformPathNameStart(const char* path) {
  const char* slash = strrchr(path, '/');
  return slash == nullptr ? 0 : size_t(slash - path) + 1;
}

bool PlatformFolderMake(const char* path) {
  return mkdir(path, 0777) == 0;
}

void PlatformFolderRemove(const char* path) {
  rmdir(path);
}

bool PlatformFolderIsEmpty(const char* path) {
  DIR* folder = opendir(path);
  if (folder == nullptr) return false;
  bool empty = true;
  while (struct dirent* entry = readdir(folder)) {
    if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0) {
      empty = false;
      break;
    }
  }
  closedir(folder);
  return empty;
}

bool PlatformFolderNames(const char* path, void (*each)(const char* name, void* context), void* context) {
  DIR* folder = opendir(path);
  if (folder == nullptr) return false;
  errno = 0;
  while (struct dirent* entry = readdir(folder)) {
    if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0) each(entry->d_name, context);
    errno = 0;
  }
  int error = errno;
  closedir(folder);
  errno = error;
  return error == 0;
}

bool PlatformDeleteOnInterrupt(PlatformFolder folder, const char* name) {
  return posix_console::AddPending(folder->fd, name);
}

void PlatformKeepOnInterrupt(PlatformFolder folder, const char* name) {
  posix_console::DropPending(folder->fd, name);
}

bool PlatformRemoveFolderOnInterrupt(PlatformFolder folder, const char* name) {
  return posix_console::AddPendingFolder(folder != nullptr ? folder->fd : AT_FDCWD, name);
}

void PlatformKeepFolderOnInterrupt(PlatformFolder folder, const char* name) {
  posix_console::DropPendingFolder(folder != nullptr ? folder->fd : AT_FDCWD, name);
}

bool PlatformFileSystemSync(PlatformFolder folder) {
#ifdef __linux__
  return syncfs(folder->fd) == 0;
#else
  (void)folder;
  sync();
  return true;
#endif
}
