#include "tools/compare/disk_bytes.h"

#include <algorithm>
#include <cstring>

#include "tools/cli/cli.h"

bool DiskBytes::Open() {
  if (file_ != PLATFORM_FILE_INVALID) return true;
  if (!error_.empty()) return false;
  file_ = PlatformFileOpenRead(path_.c_str(), true);
  if (file_ == PLATFORM_FILE_INVALID) error_ = SystemErrorText();
  return file_ != PLATFORM_FILE_INVALID;
}

// Reads until size bytes or the end.
bool DiskBytes::Read(unsigned char* into, uint32_t size, uint32_t* done) {
  *done = 0;
  while (*done < size) {
    uint32_t got = 0;
    if (!PlatformFileRead(file_, into + *done, size - *done, &got)) {
      error_ = SystemErrorText();
      return false;
    }
    if (got == 0) break;
    *done += got;
  }
  return true;
}

BytesMatch DiskBytes::Next(const unsigned char* bytes, uint64_t size) {
  if (!Open()) return BytesMatch::Unreadable;
  piece_.resize(PIECE);
  for (uint64_t at = 0; at < size;) {
    uint32_t wanted = uint32_t(std::min<uint64_t>(PIECE, size - at));
    uint32_t done = 0;
    if (!Read(piece_.data(), wanted, &done)) return BytesMatch::Unreadable;
    if (done != wanted || memcmp(piece_.data(), bytes + at, done) != 0) return BytesMatch::Differ;
    at += done;
  }
  return BytesMatch::Same;
}

BytesMatch DiskBytes::End() {
  if (!Open()) return BytesMatch::Unreadable;
  unsigned char more = 0;
  uint32_t done = 0;
  if (!Read(&more, 1, &done)) return BytesMatch::Unreadable;
  return done == 0 ? BytesMatch::Same : BytesMatch::Differ;
}

bool DiskBytes::ReadAll(uint64_t size, std::vector<unsigned char>* bytes) {
  if (!Open() || size > UINT32_MAX) return false;
  bytes->resize(size_t(size));
  uint32_t done = 0;
  if (!Read(bytes->data(), uint32_t(size), &done) || done != size) return false;
  return End() == BytesMatch::Same;
}

BytesMatch DiskBytes::WholeAgainst(PlatformFile other, uint64_t size) {
  std::vector<unsigned char> theirs(PIECE);
  for (uint64_t at = 0; at < size;) {
    uint32_t wanted = uint32_t(std::min<uint64_t>(PIECE, size - at));
    uint32_t done = 0;
    if (!PlatformFileReadAt(other, at, theirs.data(), wanted, &done) || done != wanted) {
      error_ = SystemErrorText();
      return BytesMatch::Unreadable;
    }
    BytesMatch match = Next(theirs.data(), done);
    if (match != BytesMatch::Same) return match;
    at += done;
  }
  return End();
}
