#include <dirent.h>
#include <fcntl.h>
#include <langinfo.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "tools/host.h"
#include "tools/text/row_match.h"
#include "tools/text/text_encoding.h"

namespace {

bool LocaleIsUtf8() {
  const char* codeset = nl_langinfo(CODESET);
  return codeset != nullptr && (strcasecmp(codeset, "UTF-8") == 0 || strcasecmp(codeset, "UTF8") == 0);
}

std::string ErrorText(int error) {
  return strerror(error);
}

// The temporary file being written, for an interrupt to remove: a signal
// handler reaches nothing but globals, and unlink is safe to call in one.
char pendingTemporary[4096];
volatile sig_atomic_t pendingSet = 0;

void RemovePendingAndStop(int signalNumber) {
  if (pendingSet != 0) unlink(pendingTemporary);
  signal(signalNumber, SIG_DFL);
  raise(signalNumber);
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return "";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

void HostSetUp() {
  setlocale(LC_CTYPE, "");
  signal(SIGXFSZ, SIG_IGN);
  for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) signal(signalNumber, RemovePendingAndStop);
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
  struct stat facts;
  if (stat(path.c_str(), &facts) != 0) {
    return errno == ENOENT || errno == ENOTDIR ? HostPathKind::Missing : HostPathKind::Unreadable;
  }
  if (S_ISDIR(facts.st_mode)) return HostPathKind::Folder;
  if (!S_ISREG(facts.st_mode)) return HostPathKind::Other;
  *size = static_cast<uint64_t>(facts.st_size);
  return HostPathKind::File;
}

bool HostMakeFolders(const std::string& path, std::string* error, std::vector<std::string>* made) {
  for (size_t end = 1; end <= path.size(); end++) {
    if (end < path.size() && path[end] != '/') continue;
    std::string folder = path.substr(0, end);
    struct stat facts;
    if (stat(folder.c_str(), &facts) == 0) {
      if (S_ISDIR(facts.st_mode)) continue;
      *error = "\"" + HostShownPath(folder) + "\" is not a folder";
      return false;
    }
    if (mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) {
      *error = "\"" + HostShownPath(folder) + "\": " + ErrorText(errno);
      return false;
    }
    if (made != nullptr) made->push_back(folder);
  }
  return true;
}

void HostRemoveEmptyFolder(const std::string& path) {
  rmdir(path.c_str());
}

bool HostFolderIsEmpty(const std::string& path) {
  DIR* folder = opendir(path.c_str());
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

std::string HostJoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

std::string HostFileNameText(std::string_view text) {
  // Whatever the locale: a name written in raw 1252 under LC_ALL=C would be
  // a different, unreadable name to every UTF-8 program that lists it.
  return Windows1252ToUtf8(FileNameBytes(text));
}

bool HostPatternText(std::string_view typed, std::string* pattern) {
  if (LocaleIsUtf8()) return Utf8ToWindows1252(typed, pattern);
  *pattern = typed;
  return true;
}

std::string HostShownText(std::string_view text) {
  if (!LocaleIsUtf8()) return TerminalSafe(text, TerminalBytes::Ascii);
  return Windows1252ToUtf8(TerminalSafe(text, TerminalBytes::Windows1252));
}

std::string HostShownPath(std::string_view path) {
  return TerminalSafe(path, LocaleIsUtf8() ? TerminalBytes::Utf8 : TerminalBytes::Ascii);
}

bool HostErrorIsTerminal() {
  return isatty(STDERR_FILENO) != 0;
}

uint64_t HostMilliseconds() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
}

std::string HostErrorText() {
  return ErrorText(errno);
}

bool HostOutputFile::Create(const std::string& target, std::string* error) {
  Discard();
  target_ = target;
  committed_ = false;
  std::string folder = FolderOf(target);
  for (int attempt = 0; attempt < 1000; attempt++) {
    std::string name = ".packtool-" + std::to_string(getpid()) + "-" + std::to_string(attempt) + ".tmp";
    std::string path = HostJoinPath(folder, name);
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      handle_ = fd;
      open_ = true;
      temporary_ = path;
      Pending(true);
      return true;
    }
    if (errno != EEXIST) {
      *error = ErrorText(errno);
      return false;
    }
  }
  *error = "no free temporary name beside it";
  return false;
}

bool HostOutputFile::Write(const void* data, size_t size, std::string* error) {
  const char* at = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t done = write(static_cast<int>(handle_), at, size);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) {
      *error = done < 0 ? ErrorText(errno) : "nothing could be written";
      return false;
    }
    at += done;
    size -= static_cast<size_t>(done);
  }
  return true;
}

bool HostOutputFile::CloseHandle(std::string* error) {
  if (!open_) return true;
  open_ = false;
  if (close(static_cast<int>(handle_)) != 0) {
    *error = ErrorText(errno);
    return false;
  }
  return true;
}

bool HostOutputFile::Close(std::string* error) {
  return CloseHandle(error);
}

bool HostOutputFile::Commit(bool replace, bool* targetExists, std::string* error) {
  *targetExists = false;
  if (fsync(static_cast<int>(handle_)) != 0) {
    *error = ErrorText(errno);
    Discard();
    return false;
  }
  if (!CloseHandle(error)) {
    Discard();
    return false;
  }
  if (replace) {
    if (rename(temporary_.c_str(), target_.c_str()) != 0) {
      *error = ErrorText(errno);
      Discard();
      return false;
    }
    Committed();
    return true;
  }
  // A hard link fails when the target exists, with no moment in which a
  // file made meanwhile could be replaced. Where the file system has no hard
  // links, test and rename.
  if (link(temporary_.c_str(), target_.c_str()) == 0) {
    unlink(temporary_.c_str());
    Committed();
    return true;
  }
  int linkError = errno;
  struct stat facts;
  if (linkError == EEXIST || lstat(target_.c_str(), &facts) == 0) {
    *targetExists = true;
    *error = "it exists";
    Discard();
    return false;
  }
  if (rename(temporary_.c_str(), target_.c_str()) != 0) {
    *error = ErrorText(errno);
    Discard();
    return false;
  }
  Committed();
  return true;
}

void HostOutputFile::Discard() {
  std::string ignored;
  CloseHandle(&ignored);
  if (!committed_ && !temporary_.empty()) unlink(temporary_.c_str());
  Pending(false);
  temporary_.clear();
}
