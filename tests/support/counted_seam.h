// The platform seam as the tests see it: the one implementation, wrapped at
// link time (as a test file system wraps the real one), counting the file
// calls and refusing reads or writes where a test asks. Only the tests'
// executables are linked with it (restore_count_seam in
// tests/support/CMakeLists.txt); the programs call the seam directly.
//
// Each wrapped call counts as one, whatever the implementation makes of it
// (PlatformFileCreate's second try is inside it). Any thread may make file
// calls at any time: the counts are atomic, and the refused ranges are set
// under a lock that a read takes only while some are set.
#pragma once

#include <cstdint>

#include "platform/platform.h"

struct PlatformFileCallCounts {
  uint64_t opens;    // PlatformFileOpenRead and PlatformFileOpenReadBelow
  uint64_t creates;  // PlatformFileCreate, PlatformFileCreateNew, PlatformFileCreateNewBelow
  uint64_t reads;
  uint64_t positionedReads;
  uint64_t bytesRead;     // what both kinds of read delivered
  uint64_t refusedReads;  // reads refused as set by PlatformFileRefuseReadsOf
  uint64_t sizeQueries;
  uint64_t writes;
  uint64_t seeks;
  uint64_t closes;
  uint64_t deletes;
  const void* lastWriteSource;  // where the last write took its bytes from
  uint32_t lastWriteLength;
};
PlatformFileCallCounts PlatformFileCalls();
// Counts from 0 again, and ends what the calls below set.
void PlatformFileCallsReset();

// For tests of what a refused read leaves (a failing disk's bad sectors):
// every read that touches the bytes [from, to) of a file fails as one the
// system refused, without reading, until PlatformFileCallsReset. Each call
// adds such a range, up to 1,024 (a patchy bad area, scattered bad
// sectors). A plain read starts at the file's position, as this wrapper
// followed it (opened at 0, moved by reads, writes and seeks).
void PlatformFileRefuseReadsOf(uint64_t from, uint64_t to);
// For tests of a full disk: once `room` more bytes have been written, every
// write is cut short there and refused as the system refuses a write to a
// full disk, until PlatformFileCallsReset.
void PlatformFileLimitWrites(uint64_t room);
// For tests of what an interrupt at a given moment leaves: hook runs each
// time PlatformFileCreateNewBelow has made a file (a signal raised there
// comes between the making and anything its caller does next), until
// PlatformFileCallsReset.
void PlatformFileAfterCreateBelow(void (*hook)());
