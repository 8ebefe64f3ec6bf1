// The linker hands every call of a wrapped seam function to __wrap_<name>
// here, and __real_<name> to the implementation (GNU ld's --wrap, on both
// builds).
#include "tests/support/counted_seam.h"

#include <atomic>
#include <cerrno>
#include <map>
#include <mutex>

#ifdef _WIN32
#include <windows.h>
#endif

#define SEAM_WRAP(name) __wrap_##name
#define SEAM_REAL(name) __real_##name

extern "C" {
PlatformFile SEAM_REAL(PlatformFileOpenRead)(const char* path, bool sequential);
PlatformFile SEAM_REAL(PlatformFileCreate)(const char* path);
PlatformFile SEAM_REAL(PlatformFileCreateNew)(const char* path);
PlatformFile SEAM_REAL(PlatformFileCreateUnnamed)();
bool SEAM_REAL(PlatformFileRead)(PlatformFile file, void* destination, uint32_t length, uint32_t* done);
bool SEAM_REAL(PlatformFileWrite)(PlatformFile file, const void* source, uint32_t length, uint32_t* done);
bool SEAM_REAL(PlatformFileReadAt)(PlatformFile file, uint64_t offset, void* destination, uint32_t length,
                                   uint32_t* done);
bool SEAM_REAL(PlatformFileSize)(PlatformFile file, uint64_t* size);
bool SEAM_REAL(PlatformFileSeekRelative)(PlatformFile file, int64_t delta);
void SEAM_REAL(PlatformFileClose)(PlatformFile file);
int SEAM_REAL(PlatformFileDelete)(const char* path);
PlatformFile SEAM_REAL(PlatformFileOpenReadBelow)(PlatformFolder folder, const char* name);
PlatformFile SEAM_REAL(PlatformFileCreateNewBelow)(PlatformFolder folder, const char* name);
int SEAM_REAL(PlatformFileDeleteBelow)(PlatformFolder folder, const char* name);
}

namespace {

struct Counters {
  std::atomic<uint64_t> opens, creates, reads, positionedReads, bytesRead, refusedReads, sizeQueries, writes, seeks,
      closes, deletes;
  std::atomic<const void*> lastWriteSource;
  std::atomic<uint32_t> lastWriteLength;
};
Counters calls;

struct RefusedRange {
  uint64_t from, to;
};
// The ranges and the positions are written under the lock; the count of
// ranges is also read without it, so that a read with nothing refused costs
// no lock.
std::mutex lock;
RefusedRange refused[1024];
std::atomic<unsigned> refusedCount{0};
std::atomic<uint64_t> writeRoom{UINT64_MAX};
std::atomic<void (*)()> afterCreate{nullptr};
// Where each open file's plain reads and writes stand, for refusing a plain
// read by the bytes it would touch.
std::map<PlatformFile, uint64_t> positions;

PlatformFile Opened(PlatformFile file) {
  if (file == PLATFORM_FILE_INVALID) return file;
  std::lock_guard<std::mutex> hold(lock);
  positions[file] = 0;
  return file;
}

void Moved(PlatformFile file, int64_t delta) {
  std::lock_guard<std::mutex> hold(lock);
  positions[file] += uint64_t(delta);
}

uint64_t Position(PlatformFile file) {
  std::lock_guard<std::mutex> hold(lock);
  return positions[file];
}

// Whether a read of length bytes at offset is to be refused; then *done is
// 0 and the refusal counted.
bool Refused(uint64_t offset, uint32_t length, uint32_t* done) {
  *done = 0;
  if (length == 0 || refusedCount == 0) return false;
  std::lock_guard<std::mutex> hold(lock);
  for (unsigned i = 0; i < refusedCount; i++) {
    if (offset < refused[i].to && offset + length > refused[i].from) {
      calls.refusedReads++;
      return true;
    }
  }
  return false;
}

// What the system says of a write to a full disk.
void SayDiskFull() {
#ifdef _WIN32
  SetLastError(ERROR_DISK_FULL);
#else
  errno = ENOSPC;
#endif
}

}  // namespace

extern "C" {

PlatformFile SEAM_WRAP(PlatformFileOpenRead)(const char* path, bool sequential) {
  calls.opens++;
  return Opened(SEAM_REAL(PlatformFileOpenRead)(path, sequential));
}

PlatformFile SEAM_WRAP(PlatformFileOpenReadBelow)(PlatformFolder folder, const char* name) {
  calls.opens++;
  return Opened(SEAM_REAL(PlatformFileOpenReadBelow)(folder, name));
}

PlatformFile SEAM_WRAP(PlatformFileCreate)(const char* path) {
  calls.creates++;
  return Opened(SEAM_REAL(PlatformFileCreate)(path));
}

PlatformFile SEAM_WRAP(PlatformFileCreateNew)(const char* path) {
  calls.creates++;
  return Opened(SEAM_REAL(PlatformFileCreateNew)(path));
}

PlatformFile SEAM_WRAP(PlatformFileCreateNewBelow)(PlatformFolder folder, const char* name) {
  calls.creates++;
  PlatformFile file = Opened(SEAM_REAL(PlatformFileCreateNewBelow)(folder, name));
  if (void (*hook)() = afterCreate.load(); hook != nullptr && file != PLATFORM_FILE_INVALID) hook();
  return file;
}

PlatformFile SEAM_WRAP(PlatformFileCreateUnnamed)() {
  return Opened(SEAM_REAL(PlatformFileCreateUnnamed)());
}

bool SEAM_WRAP(PlatformFileRead)(PlatformFile file, void* destination, uint32_t length, uint32_t* done) {
  calls.reads++;
  if (refusedCount != 0 && Refused(Position(file), length, done)) return false;
  bool read = SEAM_REAL(PlatformFileRead)(file, destination, length, done);
  calls.bytesRead += *done;
  Moved(file, *done);
  return read;
}

bool SEAM_WRAP(PlatformFileReadAt)(PlatformFile file, uint64_t offset, void* destination, uint32_t length,
                                   uint32_t* done) {
  calls.positionedReads++;
  if (Refused(offset, length, done)) return false;
  bool read = SEAM_REAL(PlatformFileReadAt)(file, offset, destination, length, done);
  calls.bytesRead += *done;
  return read;
}

bool SEAM_WRAP(PlatformFileWrite)(PlatformFile file, const void* source, uint32_t length, uint32_t* done) {
  calls.writes++;
  calls.lastWriteSource = source;
  calls.lastWriteLength = length;
  uint64_t room = writeRoom;
  uint32_t allowed = length <= room ? length : uint32_t(room);
  *done = 0;
  bool written = allowed == 0 || SEAM_REAL(PlatformFileWrite)(file, source, allowed, done);
  if (room != UINT64_MAX) writeRoom -= *done;
  Moved(file, *done);
  if (written && allowed < length) {
    SayDiskFull();
    return false;
  }
  return written;
}

bool SEAM_WRAP(PlatformFileSize)(PlatformFile file, uint64_t* size) {
  calls.sizeQueries++;
  return SEAM_REAL(PlatformFileSize)(file, size);
}

bool SEAM_WRAP(PlatformFileSeekRelative)(PlatformFile file, int64_t delta) {
  calls.seeks++;
  bool moved = SEAM_REAL(PlatformFileSeekRelative)(file, delta);
  if (moved) Moved(file, delta);
  return moved;
}

void SEAM_WRAP(PlatformFileClose)(PlatformFile file) {
  calls.closes++;
  {
    std::lock_guard<std::mutex> hold(lock);
    positions.erase(file);
  }
  SEAM_REAL(PlatformFileClose)(file);
}

int SEAM_WRAP(PlatformFileDelete)(const char* path) {
  calls.deletes++;
  return SEAM_REAL(PlatformFileDelete)(path);
}

int SEAM_WRAP(PlatformFileDeleteBelow)(PlatformFolder folder, const char* name) {
  calls.deletes++;
  return SEAM_REAL(PlatformFileDeleteBelow)(folder, name);
}

}  // extern "C"

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
  std::lock_guard<std::mutex> hold(lock);
  refusedCount = 0;
  writeRoom = UINT64_MAX;
  afterCreate = nullptr;
}

void PlatformFileRefuseReadsOf(uint64_t from, uint64_t to) {
  std::lock_guard<std::mutex> hold(lock);
  if (refusedCount < sizeof refused / sizeof refused[0]) {
    refused[refusedCount] = RefusedRange{from, to};
    refusedCount++;
  }
}

void PlatformFileLimitWrites(uint64_t room) {
  writeRoom = room;
}

void PlatformFileAfterCreateBelow(void (*hook)()) {
  afterCreate = hook;
}
