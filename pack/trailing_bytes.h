// Bytes after the last entry of a whole backup (its index sound, every row
// with its entry): they hold no file, but what they are tells whether
// anything is wrong. Zeros pad the file to a block (copies from tapes and
// floppies do that): no damage at all. Anything else was appended, and is
// worth a warning: another archive, text, or bytes of no known kind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "pack/archive_file.h"

enum class TrailingKind {
  Zeros,    // padding
  Archive,  // they start with an entry header whose data fits: another archive appended
  Text,     // printable text and line ends
  Other,
};

TrailingKind TrailingBytesKind(const unsigned char* bytes, size_t size);

// What they are, in words: "zeros (padding to a block)", "the start of
// another pack archive", "text (\"...\")", "bytes of no known kind (4A 43 ...)".
std::string TrailingBytesSaid(const unsigned char* bytes, size_t size);

// The bytes of the archive file from `from` to its end, read in pieces:
// what they are (zeros only when every one is). False when a read failed.
bool ArchiveFileTrailing(const ArchiveFile* archive, uint64_t from, TrailingKind* kind, std::string* said);
