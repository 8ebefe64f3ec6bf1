#include "platform/file_hooks.h"

#include <mutex>

namespace file_hooks {

CallCounters calls;

namespace {

struct RefusedRange {
  uint64_t from, to;
};
// The ranges are written under the lock; the count is also read without it,
// so that a read with nothing refused costs no lock.
std::mutex refusedLock;
RefusedRange refused[1024];
std::atomic<unsigned> refusedCount{0};
std::atomic<uint64_t> writeRoom{UINT64_MAX};
std::atomic<void (*)()> afterCreate{nullptr};

}  // namespace

void Created() {
  if (void (*hook)() = afterCreate.load()) hook();
}

bool Refused(uint64_t offset, uint32_t length, uint32_t* done) {
  *done = 0;
  if (length == 0 || !AnyRefused()) return false;
  std::lock_guard<std::mutex> hold(refusedLock);
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
  uint64_t room = writeRoom;
  return length <= room ? length : uint32_t(room);
}

void Written(uint32_t count) {
  if (writeRoom != UINT64_MAX) writeRoom -= count;
}

}  // namespace file_hooks

using file_hooks::calls;

PlatformFileCallCounts PlatformFileCalls() {
  return PlatformFileCallCounts{calls.opens,          calls.creates,      calls.reads,       calls.positionedReads,
                                calls.bytesRead,      calls.refusedReads, calls.sizeQueries, calls.writes,
                                calls.seeks,          calls.closes,       calls.deletes,     calls.lastWriteSource,
                                calls.lastWriteLength};
}

void PlatformFileCallsReset() {
  for (auto* counter :
       {&calls.opens, &calls.creates, &calls.reads, &calls.positionedReads, &calls.bytesRead, &calls.refusedReads,
        &calls.sizeQueries, &calls.writes, &calls.seeks, &calls.closes, &calls.deletes}) {
    *counter = 0;
  }
  calls.lastWriteSource = nullptr;
  calls.lastWriteLength = 0;
  std::lock_guard<std::mutex> hold(file_hooks::refusedLock);
  file_hooks::refusedCount = 0;
  file_hooks::writeRoom = UINT64_MAX;
  file_hooks::afterCreate = nullptr;
}

void PlatformFileRefuseReadsOf(uint64_t from, uint64_t to) {
  using file_hooks::refused;
  using file_hooks::refusedCount;
  std::lock_guard<std::mutex> hold(file_hooks::refusedLock);
  if (refusedCount < sizeof refused / sizeof refused[0]) {
    refused[refusedCount] = file_hooks::RefusedRange{from, to};
    refusedCount++;
  }
}

void PlatformFileLimitWrites(uint64_t room) {
  file_hooks::writeRoom = room;
}

void PlatformFileAfterCreateBelow(void (*hook)()) {
  file_hooks::afterCreate = hook;
}
