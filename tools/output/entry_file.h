// A file that an entry too large for the process's memory goes into as it
// is read: a stored entry's bytes written in pieces, a compressed one
// decoded into the file mapped in memory (its pages are the file's, not the
// process's own), its stream read in behind the decoded bytes and cut off
// afterwards.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "pack/archive_file.h"
#include "platform/platform.h"

class EntryFile : public ArchiveEntrySink {
 public:
  // open gives the file at the entry's first bytes (open for writing and
  // empty), or PLATFORM_FILE_INVALID to refuse the entry. durable: the file
  // is to be made durable with its batch (see PlatformFileUnmap).
  EntryFile(std::function<PlatformFile()> open, bool durable) : open_(std::move(open)), durable_(durable) {}
  EntryFile(const EntryFile&) = delete;
  EntryFile& operator=(const EntryFile&) = delete;
  ~EntryFile() { PlatformFileUnmap(&view_, false); }

  bool Take(const unsigned char* bytes, uint32_t size) override;
  unsigned char* Room(uint32_t size, uint32_t packedSize) override;
  // After the entry: unmaps the view and cuts the file to its first keep
  // bytes (those decoded). False, with Error, when the system refused.
  bool Finish(uint32_t keep);

  // Whether open was asked (and gave a file).
  bool Asked() const { return asked_; }
  bool Opened() const { return file_ != PLATFORM_FILE_INVALID; }
  // Why a call failed: the system's text; "" when open refused.
  const std::string& Error() const { return error_; }

 private:
  bool Open();
  bool Failed();

  std::function<PlatformFile()> open_;
  bool durable_;
  bool asked_ = false;
  PlatformFile file_ = PLATFORM_FILE_INVALID;
  PlatformMapping view_;
  std::string error_;
};
