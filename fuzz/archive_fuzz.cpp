// The archive reader on an archive made from the input: the first byte picks,
// bit by bit, whether each step reads or skips an entry; the rest is the
// archive file. Every delivered byte is touched so that a sanitizer sees
// reads of memory that was never written.
#include <cstdlib>
#include <string>

#include "core/memory.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/fuzz_target.h"
#include "pack/archive.h"

namespace {

constexpr int STEPS_MAX = 64;
// Entries may claim any size; the heap refuses what a test machine should not give.
constexpr size_t HEAP_LIMIT = 1u << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  uint8_t plan = data[0];
  const std::string& archive = InputFile("archive", data + 1, size - 1);

  ProgramHeapCreate(HEAP_LIMIT);
  Require(ArchiveOpen(archive.c_str()) == 1);
  Require(ArchiveEntrySize() == -1);
  volatile uint32_t sink = 0;
  for (int step = 0; step < STEPS_MAX; step++) {
    if ((plan >> (step % 8)) & 1) {
      if (ArchiveSkipEntry() == 0) break;
      Require(ArchiveEntrySize() == -1);
      continue;
    }
    const unsigned char* entry = ArchiveNextEntry();
    int32_t entrySize = ArchiveEntrySize();
    ArchiveEntryInfo info{};
    bool known = ArchiveLastEntryInfo(&info) == 1;
    if (entry == nullptr) {  // the end, or an entry passed over
      Require(entrySize == -1);
      continue;
    }
    Require(entrySize >= 0 && known && info.unpackedSize == uint32_t(entrySize));
    uint32_t sum = 0;
    for (int32_t i = 0; i < entrySize; i++) sum += entry[i];
    sink = sink + sum;
  }
  ArchiveClose();
  Require(ArchiveEntrySize() == -1);
  ProgramHeapDestroy();
  return 0;
}
