#include "tools/text/text_encoding.h"

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

void AppendEscaped(std::string& out, unsigned char byte) {
  char escaped[5];
  snprintf(escaped, sizeof escaped, "\\x%02X", byte);
  out += escaped;
}

// The text with the bytes `escape` picks written as \xHH.
template <typename Escape>
std::string Escaped(std::string_view text, Escape escape) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char byte : text) {
    if (escape(byte)) {
      AppendEscaped(out, byte);
    } else {
      out += static_cast<char>(byte);
    }
  }
  return out;
}

// How many bytes of a well-formed UTF-8 sequence start the text, or 0.
size_t Utf8SequenceLength(std::string_view text) {
  auto byte = [&](size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 0; };
  unsigned char lead = byte(0);
  auto follows = [&](size_t i, unsigned char low = 0x80, unsigned char high = 0xBF) {
    return byte(i) >= low && byte(i) <= high;
  };
  if (lead >= 0xC2 && lead <= 0xDF) return follows(1) ? 2 : 0;
  if (lead >= 0xE0 && lead <= 0xEF) {
    // No overlong forms (E0 80..9F) and no surrogates (ED A0..BF).
    bool second = lead == 0xE0 ? follows(1, 0xA0) : lead == 0xED ? follows(1, 0x80, 0x9F) : follows(1);
    return second && follows(2) ? 3 : 0;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    bool second = lead == 0xF0 ? follows(1, 0x90) : lead == 0xF4 ? follows(1, 0x80, 0x8F) : follows(1);
    return second && follows(2) && follows(3) ? 4 : 0;
  }
  return 0;
}

}  // namespace

std::string TerminalSafe(std::string_view text, TerminalBytes terminal) {
  if (terminal == TerminalBytes::Windows1252) return Escaped(text, IsControl);
  if (terminal == TerminalBytes::Ascii)
    return Escaped(text, [](unsigned char byte) { return byte < 0x20 || byte >= 0x7F; });
  std::string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    unsigned char byte = static_cast<unsigned char>(text[at]);
    if (byte >= 0x20 && byte < 0x7F) {
      out += text[at++];
      continue;
    }
    size_t length = byte < 0x80 ? 0 : Utf8SequenceLength(text.substr(at));
    // U+0080 to U+009F, the C1 controls, are C2 80 to C2 9F.
    bool c1 = length == 2 && byte == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0;
    if (length == 0 || c1) {
      for (size_t i = 0; i < (c1 ? 2 : 1); i++) AppendEscaped(out, static_cast<unsigned char>(text[at + i]));
      at += c1 ? 2 : 1;
      continue;
    }
    out.append(text.substr(at, length));
    at += length;
  }
  return out;
}

std::string DisplayText(std::string_view text) {
  return TerminalSafe(text, TerminalBytes::Windows1252);
}

std::string FileNameBytes(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (IsControl(static_cast<unsigned char>(c))) c = '_';
  }
  return out;
}
