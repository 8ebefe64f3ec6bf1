#include "tools/output/entry_file.h"

#include "tools/cli/cli.h"

bool EntryFile::Open() {
  if (!asked_) {
    asked_ = true;
    file_ = open_();
  }
  return file_ != PLATFORM_FILE_INVALID;
}

bool EntryFile::Failed() {
  error_ = SystemErrorText();
  return false;
}

bool EntryFile::Take(const unsigned char* bytes, uint32_t size) {
  if (!Open()) return false;
  while (size > 0) {
    uint32_t done = 0;
    if (!PlatformFileWrite(file_, bytes, size, &done) || done == 0) return Failed();
    bytes += done;
    size -= done;
  }
  return true;
}

unsigned char* EntryFile::Room(uint32_t size, uint32_t packedSize) {
  if (!Open()) return nullptr;
  uint64_t total = uint64_t(size) + packedSize;
  if (total > SIZE_MAX) {
    error_ = "it does not fit the address space of this program";
    return nullptr;
  }
  if (!PlatformFileResize(file_, total) || !PlatformFileMap(file_, 0, size_t(total), true, &view_)) {
    Failed();
    return nullptr;
  }
  return view_.data;
}

bool EntryFile::Finish(uint32_t keep) {
  if (file_ == PLATFORM_FILE_INVALID) return true;
  bool mapped = view_.base != nullptr;
  if (mapped && !PlatformFileUnmap(&view_, durable_)) return Failed();
  if (!mapped) return true;
  // The stream behind the decoded bytes goes; the cut is made durable here
  // (the batch's sync does not reach it on Windows).
  if (!PlatformFileResize(file_, keep) || (durable_ && !PlatformFileSync(file_))) return Failed();
  return true;
}
