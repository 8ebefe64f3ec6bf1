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
// The text with every control byte (below 0x20, 0x7F, and the undefined C1
// values) written as \xHH, so that a row cannot steer the terminal. Still 1252.
std::string DisplayText(std::string_view text);
// The text with every control byte and every byte 1252 leaves undefined
// replaced by '_': what may become part of a file name. Still 1252.
std::string FileNameBytes(std::string_view text);
// A path of this machine as a message shows it: control bytes (below 0x20,
// 0x7F) written as \xHH, the rest as it is.
std::string DisplayPath(std::string_view path);
