// What packtool needs of the operating system beyond the pack and file
// libraries: facts about paths, folders, output files that appear only when
// complete, and the console's character set. One implementation for POSIX,
// one for Win32.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Binary standard output (no LF to CR LF), the locale's character set, and a
// write past a file size limit reported as an error instead of a signal.
void HostSetUp();

enum class HostPathKind { Missing, File, Folder, Other, Unreadable };
// What the path names; *size is the file's size for File.
HostPathKind HostPathKindOf(const std::string& path, uint64_t* size);
// Makes the folder and the folders above it that are missing; adds those it
// made to *made (outermost first), also when it fails part way.
bool HostMakeFolders(const std::string& path, std::string* error, std::vector<std::string>* made = nullptr);
// Removes the folder when it holds nothing; else leaves it.
void HostRemoveEmptyFolder(const std::string& path);
// Whether the folder holds nothing (no file, no folder); false also when it
// cannot be read.
bool HostFolderIsEmpty(const std::string& path);
// folder + separator + name; name alone when folder is empty.
std::string HostJoinPath(const std::string& folder, const std::string& name);
// A row text (Windows-1252) as a file name on this machine, control and
// undefined bytes made '_': UTF-8 on POSIX whatever the locale, the 1252
// bytes on Windows.
std::string HostFileNameText(std::string_view text);
// A pattern as typed on the command line, as Windows-1252 bytes: from UTF-8
// where the terminal uses UTF-8. False when it holds a character 1252 lacks.
bool HostPatternText(std::string_view typed, std::string* pattern);
// A text (Windows-1252) as a message shows it: escaped by TerminalSafe, and
// converted to UTF-8 or the console's code page where that differs from 1252.
std::string HostShownText(std::string_view text);
// A path of this machine, or a pattern as typed, as a message shows it:
// escaped by TerminalSafe for what the terminal takes its bytes for.
std::string HostShownPath(std::string_view path);
bool HostErrorIsTerminal();
uint64_t HostMilliseconds();
// The last system error as a short text.
std::string HostErrorText();
// Names the temporary file being written, for an interrupt to remove (one at
// a time); "" for none.
void HostPendingTemporary(const std::string& path);

// A file that appears under its name only once it is complete: it is written
// under a temporary name in the target's folder and renamed into place.
class HostOutputFile {
 public:
  HostOutputFile() = default;
  HostOutputFile(const HostOutputFile&) = delete;
  HostOutputFile& operator=(const HostOutputFile&) = delete;
  ~HostOutputFile() { Discard(); }

  // Makes a new, empty file of its own beside target.
  bool Create(const std::string& target, std::string* error);
  bool Write(const void* data, size_t size, std::string* error);
  // Writes the bytes through to the disk, closes, and renames the file onto
  // the target. Without replace an existing target is kept: *targetExists is
  // set and the temporary file removed. On any failure nothing is left behind.
  bool Commit(bool replace, bool* targetExists, std::string* error);
  // Closes the file and leaves it under its temporary name.
  bool Close(std::string* error);
  // Closes and deletes the temporary file, unless it was committed.
  void Discard();
  const std::string& TemporaryPath() const { return temporary_; }

 private:
  bool CloseHandle(std::string* error);
  // Names the file for an interrupt to remove (one at a time), or no file.
  void Pending(bool pending);
  void Committed() {
    committed_ = true;
    Pending(false);
  }

  intptr_t handle_ = -1;
  bool open_ = false;
  bool committed_ = false;
  std::string temporary_;
  std::string target_;
};
