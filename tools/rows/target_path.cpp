#include "tools/rows/target_path.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>

#include "file/file_name.h"
#include "platform/platform.h"
#include "tools/text/text.h"

namespace {

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

std::string_view WithoutDrive(std::string_view text) {
  if (text.size() >= 2 && text[1] == ':' && isalpha(static_cast<unsigned char>(text[0]))) text.remove_prefix(2);
  return text;
}

bool IsWindowsDeviceName(std::string_view part) {
  // "CON.txt" opens the console as well: the device is named by what comes
  // before the first dot, trailing spaces ignored.
  std::string_view base = part.substr(0, part.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  std::string upper;
  for (char c : base) upper += static_cast<char>(toupper(static_cast<unsigned char>(c)));
  if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL" || upper == "CONIN$" || upper == "CONOUT$") {
    return true;
  }
  if (upper.size() != 4 || !(upper.starts_with("COM") || upper.starts_with("LPT"))) return false;
  // Windows takes the superscript digits one, two and three (1252: B9, B2,
  // B3) for 1 to 3 there as well.
  unsigned char digit = static_cast<unsigned char>(upper[3]);
  return (digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
}

// The longest file name the file systems take: 255 bytes of UTF-8 on
// Linux, 255 UTF-16 units on Windows (a Windows-1252 byte is one unit).
constexpr size_t NAME_LENGTH_MAX = 255;
// An extension longer than this is not kept whole when a name is shortened.
constexpr size_t EXTENSION_KEPT_MAX = 16;

size_t LengthOnDisk(std::string_view name, bool windowsNames) {
  return windowsNames ? name.size() : Windows1252ToUtf8(std::string(name)).size();
}

// A name longer than the file system takes, shortened so that it fits: its
// start, "~" and a hash of the whole name (so that two long names that
// start alike stay apart), then its extension. Each Windows-1252 byte takes
// at most 3 bytes of UTF-8.
std::string Shortened(const std::string& name, bool windowsNames, size_t limit = NAME_LENGTH_MAX) {
  if (LengthOnDisk(name, windowsNames) <= limit) return name;
  uint32_t hash = 2166136261u;  // FNV-1a
  for (unsigned char c : name) hash = (hash ^ c) * 16777619u;
  char mark[16];
  snprintf(mark, sizeof mark, "~%08x", hash);
  size_t dot = name.rfind('.');
  std::string extension = dot != std::string::npos && name.size() - dot <= EXTENSION_KEPT_MAX ? name.substr(dot) : "";
  if (LengthOnDisk(mark, windowsNames) + LengthOnDisk(extension, windowsNames) > limit) extension.clear();
  std::string base = name.substr(0, name.size() - extension.size());
  size_t room = limit - LengthOnDisk(mark, windowsNames) - LengthOnDisk(extension, windowsNames);
  while (!base.empty() && LengthOnDisk(base, windowsNames) > room) base.pop_back();
  while (!base.empty() && (base.back() == ' ' || base.back() == '.')) base.pop_back();
  return base + mark + extension;
}

// One part of a path as a file name: control bytes and the bytes 1252 leaves
// undefined become "_" (so a NUL cannot cut "..\0x" back to ".."), and the
// rest is checked. "." and ".." are the caller's business.
const char* SafePart(std::string_view part, bool windowsNames, std::string* safe) {
  std::string name = FileNameBytes(part);
  if (FileNameIsValid(name.c_str()) == 0) return "a name in it holds a character no file name may hold";
  if (name.find_first_not_of(". ") == std::string::npos) return "a name in it is only dots or spaces";
  if (windowsNames && IsWindowsDeviceName(name)) return "a name in it is a device name of Windows";
  *safe = Shortened(name, windowsNames);
  return nullptr;
}

}  // namespace

const char* TargetFromRowName(std::string_view rowText, bool windowsNames, std::string* name) {
  if (rowText.empty()) return "the row is empty";
  std::string_view rest = WithoutDrive(rowText);
  size_t last = rest.find_last_of("\\/");
  std::string_view part = last == std::string_view::npos ? rest : rest.substr(last + 1);
  if (part.empty() || part == "." || part == "..") return "it names a folder, not a file";
  return SafePart(part, windowsNames, name);
}

const char* TargetFromRowPath(std::string_view rowText, bool windowsNames, TargetPath* path) {
  if (rowText.empty()) return "the row is empty";
  std::string_view rest = WithoutDrive(rowText);
  size_t last = rest.find_last_of("\\/");
  std::string_view lastPart = last == std::string_view::npos ? rest : rest.substr(last + 1);
  if (lastPart.empty() || lastPart == ".") return "it names a folder, not a file";

  TargetPath result;
  while (!rest.empty()) {
    size_t end = 0;
    while (end < rest.size() && !IsSeparator(rest[end])) end++;
    std::string_view part = rest.substr(0, end);
    rest.remove_prefix(end < rest.size() ? end + 1 : end);
    if (part.empty() || part == ".") continue;
    if (part == "..") return "it climbs out of its folder with \"..\"";
    std::string safe;
    if (const char* refusal = SafePart(part, windowsNames, &safe)) return refusal;
    result.folders.push_back(std::move(safe));
  }
  result.name = std::move(result.folders.back());
  result.folders.pop_back();
  *path = std::move(result);
  return nullptr;
}

const char* FitTargetPath(TargetPath* path, size_t room, size_t nameAtLeast, bool windowsNames) {
  if (room == 0) return nullptr;
  // A part is never shortened below its start, the hash and a short
  // extension: a path that does not fit then is refused.
  constexpr size_t PART_LENGTH_MIN = 16;
  auto total = [&] {
    size_t length = std::max(LengthOnDisk(path->name, windowsNames), nameAtLeast);
    for (const std::string& folder : path->folders) length += LengthOnDisk(folder, windowsNames) + 1;
    return length;
  };
  for (size_t length = total(); length > room; length = total()) {
    // The longest part gives up what is too much, or what it can.
    std::string* longest = &path->name;
    for (std::string& folder : path->folders) {
      if (LengthOnDisk(folder, windowsNames) > LengthOnDisk(*longest, windowsNames)) longest = &folder;
    }
    size_t now = LengthOnDisk(*longest, windowsNames);
    if (now <= PART_LENGTH_MIN) return "its path is longer than the system takes, even with its names shortened";
    size_t limit = std::max(PART_LENGTH_MIN, now - std::min(now, length - room));
    *longest = Shortened(*longest, windowsNames, limit);
  }
  return nullptr;
}

size_t TargetPathRoomBelow(const std::string& folder, size_t reserved) {
#ifdef _WIN32
  // The calls this program makes take a whole path of MAX_PATH - 1 letters.
  constexpr size_t PATH_LENGTH_MAX = 259;
  char full[1024];
  size_t length = PlatformFullPath(folder.c_str(), full, sizeof full);
  if (length == 0 || length >= sizeof full) length = folder.size();
  // The folder, a backslash, then the path below it; at least one letter.
  return length + 1 + reserved < PATH_LENGTH_MAX ? PATH_LENGTH_MAX - length - 1 - reserved : 1;
#else
  // Below a folder every name is reached from the folder before it: no
  // whole path is handed to the system.
  (void)folder;
  (void)reserved;
  return 0;
#endif
}
