#include "platform/file_hooks.h"

namespace file_hooks {

PlatformFileCallCounts calls;

namespace {

struct RefusedRange {
  uint64_t from, to;
};
RefusedRange refused[1024];
unsigned refusedCount = 0;
uint64_t writeRoom = UINT64_MAX;

}  // namespace

bool Refused(uint64_t offset, uint32_t length, uint32_t* done) {
  *done = 0;
  if (length == 0) return false;
  for (unsigned i = 0; i < refusedCount; i++) {
    if (offset < refused[i].to && offset + length > refused[i].from) {
      calls.refusedReads++;
      return true;
    }
  }
  return false;
}

bool AnyRefused() {
  return refusedCount != 0;
}

uint32_t WriteAllowed(uint32_t length) {
  return length <= writeRoom ? length : uint32_t(writeRoom);
}

void Written(uint32_t count) {
  if (writeRoom != UINT64_MAX) writeRoom -= count;
}

}  // namespace file_hooks

using file_hooks::calls;

PlatformFileCallCounts PlatformFileCalls() {
  return calls;
}

void PlatformFileCallsReset() {
  calls = PlatformFileCallCounts{};
  file_hooks::refusedCount = 0;
  file_hooks::writeRoom = UINT64_MAX;
}

void PlatformFileRefuseReadsOf(uint64_t from, uint64_t to) {
  using file_hooks::refused;
  using file_hooks::refusedCount;
  if (refusedCount < sizeof refused / sizeof refused[0]) refused[refusedCount++] = file_hooks::RefusedRange{from, to};
}

void PlatformFileLimitWrites(uint64_t room) {
  file_hooks::writeRoom = room;
}
