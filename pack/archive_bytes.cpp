#include "pack/archive_bytes.h"

#include <algorithm>
#include <cstring>

#include "core/memory.h"
#include "pack/archive_file.h"

namespace {

// The file is read through a window this large: a byte-by-byte scan costs
// one read per window, not one per position.
constexpr uint32_t WINDOW_SIZE = 1u << 20;

}  // namespace

ArchiveBytes::~ArchiveBytes() = default;

bool ArchiveBytes::Open(const ArchiveFile* archive) {
  file_.handle = ArchiveFileHandle(archive);
  size_ = ArchiveFileSize(archive);
  return window_.Allocate(WINDOW_SIZE, false) && badAreas_.Open(size_);
}

bool ArchiveBytes::File::Read(uint64_t at, unsigned char* destination, uint32_t n) {
  uint32_t done = 0;
  return PlatformFileReadAt(handle, at, destination, n, &done) && done == n;
}

const unsigned char* ArchiveBytes::At(uint64_t offset, uint32_t n) {
  if (offset > size_ || size_ - offset < n) return nullptr;
  if (offset < start_ || offset + n > start_ + length_) {
    uint32_t want = uint32_t(std::min<uint64_t>(WINDOW_SIZE, size_ - offset));
    start_ = offset;
    length_ = Read(offset, window_.Data(), want);
    if (length_ < n) return nullptr;
  }
  return window_.Data() + (offset - start_);
}

const unsigned char* ArchiveBytes::Peek(uint64_t offset, uint32_t n) {
  if (offset > size_ || size_ - offset < n) return nullptr;
  if (offset >= start_ && offset + n <= start_ + length_) return window_.Data() + (offset - start_);
  if (offset < peekStart_ || offset + n > peekStart_ + peekLength_) {
    peekStart_ = offset;
    peekLength_ = Read(offset, peek_, uint32_t(std::min<uint64_t>(PEEK_SIZE, size_ - offset)));
    if (peekLength_ < n) return nullptr;
  }
  return peek_ + (offset - peekStart_);
}

uint32_t ArchiveBytes::ReadAround(uint64_t offset, unsigned char* destination, uint32_t n,
                                  GrowingTable<SalvageHole>& holes) {
  holes.Clear();
  uint32_t done = 0;
  uint32_t filled = 0;  // up to the last byte read
  while (done < n) {
    uint32_t got = Read(offset + done, destination + done, n - done);
    done += got;
    if (got > 0) filled = done;
    if (done == n) break;
    uint32_t resume = uint32_t(std::min<uint64_t>(n, ReadableFrom(offset + done) - offset));
    if (resume <= done) break;  // cannot be: what a read stopped at is noted
    SalvageHole* last = holes.Count() > 0 ? holes.end() - 1 : nullptr;
    if (last != nullptr && last->offset + last->length == done) {
      last->length += resume - done;  // the run before grew into it
    } else if (!holes.Insert(holes.end(), SalvageHole{done, resume - done})) {
      break;  // not noted, so not passed over
    }
    done = resume;
  }
  // A hole that reaches the end is where the bytes end, not a hole; the
  // memory there is left untouched.
  while (holes.Count() > 0 && holes.end()[-1].offset >= filled) holes.Pop();
  for (const SalvageHole& hole : holes) memset(destination + hole.offset, 0, hole.length);
  return filled;
}
