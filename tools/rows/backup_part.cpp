#include "tools/rows/backup_part.h"

#include <map>

#include "tools/text/text.h"

namespace {

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); i++) {
    if (RowMatchFold(static_cast<unsigned char>(a[i])) != RowMatchFold(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

bool IsDrive(std::string_view name) {
  return name.size() == 2 && name[1] == ':' && ((name[0] | 0x20) >= 'a' && (name[0] | 0x20) <= 'z');
}

std::string Folded(const std::vector<std::string>& names, size_t count) {
  std::string key;
  for (size_t i = 0; i < count; i++) {
    for (char c : names[i]) key += static_cast<char>(RowMatchFold(static_cast<unsigned char>(c)));
    key += '\\';
  }
  return key;
}

template <typename Separator>
std::vector<std::string> Cut(std::string_view text, Separator separator, bool climb) {
  std::vector<std::string> names;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); i++) {
    if (i < text.size() && !separator(text[i])) continue;
    std::string_view name = text.substr(start, i - start);
    start = i + 1;
    if (name.empty() || name == ".") continue;
    if (climb && name == "..") {
      if (!names.empty()) names.pop_back();
      continue;
    }
    names.emplace_back(name);
  }
  return names;
}

}  // namespace

std::vector<std::string> RowNames(std::string_view text) {
  return Cut(
      text, [](char c) { return c == '\\' || c == '/'; }, false);
}

std::string BackupPartText(const BackupPart& part) {
  if (part.names.empty()) return "\\";
  std::string text;
  for (size_t i = 0; i < part.names.size(); i++) text += (i == 0 ? "" : "\\") + part.names[i];
  return text;
}

size_t FoldersBelowPart(const BackupPart& part, std::string_view rowText) {
  std::vector<std::string> row = RowNames(rowText);
  const std::vector<std::string>& names = part.names;
  size_t from = !names.empty() && !IsDrive(names[0]) && !row.empty() && IsDrive(row[0]) ? 1 : 0;
  if (row.size() < from || row.size() - from <= names.size()) return NOT_BELOW;
  for (size_t i = 0; i < names.size(); i++) {
    if (!SameName(names[i], row[from + i])) return NOT_BELOW;
  }
  return names.size() - (!names.empty() && IsDrive(names[0]) ? 1 : 0);
}

std::vector<BackupPart> PartsForFolder(const std::vector<std::string>& folderNames,
                                       const std::vector<std::string>& rows) {
  size_t best = 0;
  size_t nearest = 0;                       // names in the parts of the best run
  std::map<std::string, BackupPart> parts;  // of the best run, by folded text
  std::map<std::string, bool> tried;
  for (const std::string& row : rows) {
    std::vector<std::string> names = RowNames(row);
    // Every run of folders from the row's start; the file itself is none.
    for (size_t count = 1; count < names.size(); count++) {
      std::string key = Folded(names, count);
      if (!tried.emplace(key, true).second) continue;
      size_t run = 0;
      while (run < count && run < folderNames.size() &&
             SameName(names[count - 1 - run], folderNames[folderNames.size() - 1 - run])) {
        run++;
      }
      // The longest run first; of equal runs the part nearest the root.
      if (run == 0 || run < best || (run == best && count > nearest)) continue;
      if (run > best || count < nearest) parts.clear();
      best = run;
      nearest = count;
      parts.emplace(key, BackupPart{{names.begin(), names.begin() + long(count)}});
    }
  }
  std::vector<BackupPart> found;
  for (auto& [key, part] : parts) found.push_back(std::move(part));
  return found;
}

std::vector<std::string> FullPathNames(std::string_view fullPath) {
  return Cut(fullPath, IsPathSeparator, true);
}
