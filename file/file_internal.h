// The buffered transfers behind FileWriteData, FileAtEnd and FileReadLine.
// They work on a buffered record (buffer not null); lengths are 0 or more.
#pragma once

#include <cstdint>

#include "file/file.h"

// The file table made by FileLibraryInit.
ObjectTable* FileTable();

// In writing state: hands the pending bytes to the system in one write and
// returns the count the system reports written; the buffer is then empty. In
// reading state, or with nothing pending, does nothing and returns 0.
int32_t FileFlush(FileRecord* record);

// Count accepted: length once the bytes are in the buffer; for transfers of a
// whole buffer or more, what the system reports written.
int32_t FileBufferedWrite(FileRecord* record, const void* source, int32_t length);

// Bytes delivered: fewer than length only at the end of the file.
int32_t FileBufferedRead(FileRecord* record, void* destination, int32_t length);
