// The part of the file requesters that needs no dialog: turning the caller's
// pattern into the dialog's filter list, and the default file into an initial
// directory and a proposed name. Builds on every platform.
#pragma once

#include <cstddef>

// The platform's MAX_PATH: the file buffer that carries the proposed name into
// the dialog and the chosen path out of it, terminator included.
constexpr size_t REQUESTER_FILE_BUFFER_SIZE = 260;

// The filter list for a pattern such as "Sicherung|*.zip": a program-heap copy
// of length + 2 zero-filled bytes in which every '|' is a NUL, so it reads as
// description/wildcard pairs ended by an extra NUL. A null pattern counts as "".
// Null when the program heap is out; the caller frees the block.
char* RequesterFilterList(const char* pattern);

// Splits defaultFile at its last backslash (one in first place does not split)
// into the directory before it and the name after it; without a split the
// whole text is the name and the directory is "". The name goes into
// fileBuffer (REQUESTER_FILE_BUFFER_SIZE bytes, zero-filled by the caller) only
// when it is a valid file name that fits; otherwise fileBuffer stays empty.
// Returns the directory copy (program heap, length + 2 bytes, freed by the
// caller), or null when defaultFile is null or the heap is out.
char* RequesterSplitDefaultFile(const char* defaultFile, char* fileBuffer);

// 1 when name may be proposed in the dialog's name field: a valid file name
// that leaves room for its terminator in the file buffer.
int RequesterNameIsUsable(const char* name);
