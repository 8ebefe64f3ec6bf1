#include "tools/rows/target_path.h"

#include <cctype>

#include "file/file_name.h"
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

// One part of a path as a file name: control bytes and the bytes 1252 leaves
// undefined become "_" (so a NUL cannot cut "..\0x" back to ".."), and the
// rest is checked. "." and ".." are the caller's business.
const char* SafePart(std::string_view part, bool windowsNames, std::string* safe) {
  std::string name = FileNameBytes(part);
  if (FileNameIsValid(name.c_str()) == 0) return "a name in it holds a character no file name may hold";
  if (name.find_first_not_of(". ") == std::string::npos) return "a name in it is only dots or spaces";
  if (windowsNames && IsWindowsDeviceName(name)) return "a name in it is a device name of Windows";
  *safe = std::move(name);
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
