#include "tools/text_encoding.h"

#include <cstdio>

namespace {

// 0x80 to 0x9F; the rest of the upper half is Latin-1.
constexpr uint16_t HIGH_CONTROL_RANGE[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

void AppendUtf8(std::string& out, uint32_t codePoint) {
  if (codePoint < 0x80) {
    out += static_cast<char>(codePoint);
  } else if (codePoint < 0x800) {
    out += static_cast<char>(0xC0 | (codePoint >> 6));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (codePoint >> 12));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  }
}

bool IsControl(unsigned char byte) {
  uint32_t codePoint = Windows1252ToCodePoint(byte);
  return codePoint < 0x20 || (codePoint >= 0x7F && codePoint < 0xA0);
}

}  // namespace

uint32_t Windows1252ToCodePoint(unsigned char byte) {
  if (byte >= 0x80 && byte < 0xA0) return HIGH_CONTROL_RANGE[byte - 0x80];
  return byte;
}

std::string Windows1252ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 4);
  for (unsigned char byte : text) AppendUtf8(out, Windows1252ToCodePoint(byte));
  return out;
}

namespace {

// The text with the bytes `escape` picks written as \xHH.
template <typename Escape>
std::string Escaped(std::string_view text, Escape escape) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char byte : text) {
    if (!escape(byte)) {
      out += static_cast<char>(byte);
      continue;
    }
    char escaped[5];
    snprintf(escaped, sizeof escaped, "\\x%02X", byte);
    out += escaped;
  }
  return out;
}

}  // namespace

std::string DisplayText(std::string_view text) {
  return Escaped(text, IsControl);
}

std::string FileNameBytes(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (IsControl(static_cast<unsigned char>(c))) c = '_';
  }
  return out;
}

std::string DisplayPath(std::string_view path) {
  return Escaped(path, [](unsigned char byte) { return byte < 0x20 || byte == 0x7F; });
}
