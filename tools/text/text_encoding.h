// Row texts are Windows-1252 bytes. These turn them into what a terminal, a
// JSON reader or a file name on this machine expects, without losing a byte:
// the five byte values that 1252 leaves undefined map to the C1 controls of
// the same value, as the platform's own conversion does.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

uint32_t Windows1252ToCodePoint(unsigned char byte);
std::string Windows1252ToUtf8(std::string_view text);
// What a terminal takes the bytes of a message for.
enum class TerminalBytes {
  Windows1252,  // row texts; paths on Windows
  Utf8,         // paths under a UTF-8 locale
  Ascii,        // anything else: only 7-bit text is surely what it seems
};
// The one escaping rule of messages: the text with every byte that could
// steer a terminal written as \xHH. Those are the control bytes (below 0x20,
// 0x7F) and the C1 controls as the terminal's set has them: in 1252 the five
// undefined bytes; in UTF-8 the encoded C1 code points and every byte of no
// well-formed sequence; in any other set every byte from 0x80 (0x9B alone
// starts a control sequence on an 8-bit terminal).
std::string TerminalSafe(std::string_view text, TerminalBytes terminal);
// TerminalSafe for a row text (1252). Still 1252.
std::string DisplayText(std::string_view text);
// The text with every control byte and every byte 1252 leaves undefined
// replaced by '_': what may become part of a file name. Still 1252.
std::string FileNameBytes(std::string_view text);
