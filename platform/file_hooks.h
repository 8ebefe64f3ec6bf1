// What both builds of the seam share: the count of file calls and the test
// hooks that refuse reads and limit writes. Internal to platform/. Any
// thread may make file calls at any time: the counters are atomic, and the
// refused ranges are set under a lock that a read takes only when some are
// set.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

namespace file_hooks {

// PlatformFileCallCounts, field by field, for calls from several threads.
struct CallCounters {
  std::atomic<uint64_t> opens, creates, reads, positionedReads, bytesRead, refusedReads, sizeQueries, writes, seeks,
      closes, deletes;
  std::atomic<const void*> lastWriteSource;
  std::atomic<uint32_t> lastWriteLength;
};
extern CallCounters calls;

// Whether a read of length bytes at offset is to be refused (tests set it by
// PlatformFileRefuseReadsOf); *done is set to 0 and the refusal counted.
bool Refused(uint64_t offset, uint32_t length, uint32_t* done);
// Whether any read is to be refused: only then a plain read's position is
// worth asking for.
bool AnyRefused();

// How many of length bytes a write may hand to the system (all of them but
// under PlatformFileLimitWrites), and the count it wrote, taken from the room.
uint32_t WriteAllowed(uint32_t length);
void Written(uint32_t count);

// Runs the hook PlatformFileAfterCreateBelow set, if any, once a file below
// a folder was made.
void Created();

}  // namespace file_hooks
