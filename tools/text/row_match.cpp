#include "tools/text/row_match.h"

#include <cstdint>

#include "tools/text/text_encoding.h"

unsigned char RowMatchFold(unsigned char byte) {
  if (byte >= 'A' && byte <= 'Z') return static_cast<unsigned char>(byte + 0x20);
  if (byte == '/') return '\\';
  // Latin-1 capitals from À to Þ, but for the multiplication sign.
  if (byte >= 0xC0 && byte <= 0xDE && byte != 0xD7) return static_cast<unsigned char>(byte + 0x20);
  switch (byte) {
    case 0x8A:  // S caron
    case 0x8C:  // OE
    case 0x8E:  // Z caron
      return static_cast<unsigned char>(byte + 0x10);
    case 0x9F:  // Y diaeresis
      return 0xFF;
    default:
      return byte;
  }
}

bool RowMatches(std::string_view pattern, std::string_view rowText) {
  // Greedy with one step back: on a mismatch the last '*' takes one more
  // byte. Each '*' supersedes the one before, so this is O(pattern * row)
  // at worst and needs no recursion.
  size_t p = 0;
  size_t r = 0;
  size_t star = std::string_view::npos;
  size_t starRow = 0;
  while (r < rowText.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      starRow = r;
      continue;
    }
    if (p < pattern.size() && (pattern[p] == '?' || RowMatchFold(static_cast<unsigned char>(pattern[p])) ==
                                                        RowMatchFold(static_cast<unsigned char>(rowText[r])))) {
      p++;
      r++;
      continue;
    }
    if (star == std::string_view::npos) return false;
    p = star + 1;
    r = ++starRow;
  }
  while (p < pattern.size() && pattern[p] == '*') p++;
  return p == pattern.size();
}

namespace {

bool IsSeparator(char c) {
  return RowMatchFold(static_cast<unsigned char>(c)) == '\\';
}

bool StartsWithDrive(std::string_view text) {
  return text.size() >= 2 && text[1] == ':' && ((text[0] | 0x20) >= 'a' && (text[0] | 0x20) <= 'z');
}

// The text past its drive letter and leading separators: a path as the disk
// or the mount shows a row ("Daten/Briefe" for "C:\Daten\Briefe").
std::string_view PastDriveAndSeparators(std::string_view text) {
  if (StartsWithDrive(text)) text.remove_prefix(2);
  while (!text.empty() && IsSeparator(text.front())) text.remove_prefix(1);
  return text;
}

bool MatchesOrNamesFolder(std::string_view pattern, std::string_view rowText) {
  if (RowMatches(pattern, rowText)) return true;
  std::string folder(pattern);
  while (!folder.empty() && IsSeparator(folder.back())) folder.pop_back();
  if (folder.empty()) return false;
  return RowMatches(folder + "\\*", rowText);
}

}  // namespace

bool PatternChoosesRow(std::string_view pattern, std::string_view rowText) {
  if (MatchesOrNamesFolder(pattern, rowText)) return true;
  // A pattern without a drive letter is also a path as the disk or the
  // mount shows the rows: from the first folder on.
  if (StartsWithDrive(pattern) || pattern.empty() || pattern.front() == '*') return false;
  std::string_view path = PastDriveAndSeparators(pattern);
  return !path.empty() && MatchesOrNamesFolder(path, PastDriveAndSeparators(rowText));
}

bool NameChoosesRow(std::string_view name, std::string_view rowText) {
  while (!name.empty() && IsSeparator(name.back())) name.remove_suffix(1);
  if (name.empty()) return false;
  if (RowEndsWithName(name, rowText)) return true;
  // A folder's name: the rows inside it.
  for (size_t end = rowText.size(); end-- > 0;) {
    if (IsSeparator(rowText[end]) && RowEndsWithName(name, rowText.substr(0, end))) return true;
  }
  return false;
}

bool HasWildcard(std::string_view pattern) {
  return pattern.find_first_of("*?") != std::string_view::npos;
}

bool RowEndsWithName(std::string_view name, std::string_view rowText) {
  if (name.empty() || name.size() > rowText.size()) return false;
  size_t start = rowText.size() - name.size();
  for (size_t i = 0; i < name.size(); i++) {
    if (RowMatchFold(static_cast<unsigned char>(name[i])) !=
        RowMatchFold(static_cast<unsigned char>(rowText[start + i])))
      return false;
  }
  // The name must begin where a folder or file name begins: at the start,
  // behind a separator, behind a drive letter, or with a separator itself.
  if (start == 0 || RowMatchFold(static_cast<unsigned char>(name[0])) == '\\') return true;
  char before = rowText[start - 1];
  return RowMatchFold(static_cast<unsigned char>(before)) == '\\' || (start == 2 && before == ':');
}

namespace {

// The code point of the UTF-8 sequence at text[at], and its length; 0 when
// no well-formed sequence starts there.
size_t Utf8Sequence(std::string_view text, size_t at, uint32_t* codePoint) {
  unsigned char lead = static_cast<unsigned char>(text[at]);
  size_t length = 0;
  uint32_t least = 0;  // below it a sequence of that length is overlong
  if (lead < 0x80) {
    *codePoint = lead;
    return 1;
  } else if (lead >= 0xC2 && lead < 0xE0) {
    *codePoint = lead & 0x1Fu;
    length = 2;
  } else if (lead >= 0xE0 && lead < 0xF0) {
    *codePoint = lead & 0x0Fu;
    length = 3;
    least = 0x800;
  } else if (lead >= 0xF0 && lead < 0xF5) {
    *codePoint = lead & 0x07u;
    length = 4;
    least = 0x10000;
  } else {
    return 0;
  }
  if (text.size() - at < length) return 0;
  for (size_t i = 1; i < length; i++) {
    unsigned char next = static_cast<unsigned char>(text[at + i]);
    if ((next & 0xC0) != 0x80) return 0;
    *codePoint = *codePoint << 6 | (next & 0x3Fu);
  }
  if (*codePoint < least || *codePoint > 0x10FFFF || (*codePoint >= 0xD800 && *codePoint < 0xE000)) return 0;
  return length;
}

}  // namespace

bool Utf8ToWindows1252(std::string_view text, std::string* out, bool* notUtf8) {
  out->clear();
  bool unmappable = false;
  for (size_t at = 0; at < text.size();) {
    uint32_t codePoint = 0;
    size_t length = Utf8Sequence(text, at, &codePoint);
    if (length == 0) {
      if (notUtf8 != nullptr) *notUtf8 = true;
      return false;
    }
    at += length;
    int byte = 0;
    while (byte < 256 && Windows1252ToCodePoint(static_cast<unsigned char>(byte)) != codePoint) byte++;
    // Read on: text that is not UTF-8 further on is said as such.
    if (byte == 256) {
      unmappable = true;
      continue;
    }
    *out += static_cast<char>(byte);
  }
  if (notUtf8 != nullptr) *notUtf8 = false;
  return !unmappable;
}
