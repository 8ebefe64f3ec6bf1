// A file on disk held against bytes of the backup: read in pieces, so that a
// file of any size costs one piece of memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

enum class BytesMatch { Same, Differ, Unreadable };

class DiskBytes {
 public:
  static constexpr uint32_t PIECE = 1u << 20;

  explicit DiskBytes(std::string path) : path_(std::move(path)) {}
  DiskBytes(const DiskBytes&) = delete;
  DiskBytes& operator=(const DiskBytes&) = delete;
  ~DiskBytes() {
    if (file_ != PLATFORM_FILE_INVALID) PlatformFileClose(file_);
  }

  // Whether the next size bytes of the file are bytes (the file is read on
  // from where the last call stopped).
  BytesMatch Next(const unsigned char* bytes, uint64_t size);
  // After the last Next: whether the file ends there.
  BytesMatch End();
  // The whole file compared with bytes.
  BytesMatch Whole(const unsigned char* bytes, uint64_t size) {
    BytesMatch match = Next(bytes, size);
    return match == BytesMatch::Same ? End() : match;
  }
  // The whole file's bytes (size of them, as its size was seen); false when
  // it could not be read or was not that size.
  bool ReadAll(uint64_t size, std::vector<unsigned char>* bytes);
  // The whole file compared with another file's first size bytes.
  BytesMatch WholeAgainst(PlatformFile other, uint64_t size);

  // Why it could not be read: the system's words.
  const std::string& Error() const { return error_; }

 private:
  bool Open();
  bool Read(unsigned char* into, uint32_t size, uint32_t* done);

  std::string path_;
  PlatformFile file_ = PLATFORM_FILE_INVALID;
  std::vector<unsigned char> piece_;
  std::string error_;
};
