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

bool Utf8ToWindows1252(std::string_view text, std::string* out) {
  out->clear();
  for (size_t at = 0; at < text.size();) {
    unsigned char lead = static_cast<unsigned char>(text[at]);
    uint32_t codePoint = 0;
    size_t length = 0;
    if (lead < 0x80) {
      codePoint = lead;
      length = 1;
    } else if (lead >= 0xC2 && lead < 0xE0) {
      codePoint = lead & 0x1Fu;
      length = 2;
    } else if (lead >= 0xE0 && lead < 0xF0) {
      codePoint = lead & 0x0Fu;
      length = 3;
    } else {
      return false;  // four-byte characters are none of 1252's
    }
    if (text.size() - at < length) return false;
    for (size_t i = 1; i < length; i++) {
      unsigned char next = static_cast<unsigned char>(text[at + i]);
      if ((next & 0xC0) != 0x80) return false;
      codePoint = codePoint << 6 | (next & 0x3Fu);
    }
    if (length == 3 && codePoint < 0x800) return false;  // overlong
    at += length;
    int byte = 0;
    for (; byte < 256; byte++) {
      if (Windows1252ToCodePoint(static_cast<unsigned char>(byte)) == codePoint) break;
    }
    if (byte == 256) return false;
    *out += static_cast<char>(byte);
  }
  return true;
}
