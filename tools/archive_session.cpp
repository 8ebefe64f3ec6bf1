#include "tools/archive_session.h"

#include "file/file.h"
#include "pack/archive.h"
#include "platform/platform.h"
#include "tools/host.h"

namespace {

constexpr uint32_t ENTRY_HEADER_SIZE = 8;

uint32_t LittleEndian32(const unsigned char* at) {
  return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

}  // namespace

ArchiveSession::~ArchiveSession() {
  ArchiveClose();
}

bool ArchiveSession::Open(const std::string& path, std::string* error) {
  path_ = path;
  switch (HostPathKindOf(path, &fileSize_)) {
    case HostPathKind::Missing:
      *error = "no such file";
      return false;
    case HostPathKind::Folder:
      *error = "is a folder, not a pack archive";
      return false;
    case HostPathKind::Other:
      *error = "is not a regular file";
      return false;
    case HostPathKind::Unreadable:
      *error = "cannot be read: " + HostErrorText();
      return false;
    case HostPathKind::File:
      break;
  }
  if (ArchiveOpen(path.c_str()) == 0) {
    *error = "cannot be opened: " + HostErrorText();
    return false;
  }
  if (fileSize_ == 0) {
    *error = "is empty: not a pack archive";
    return false;
  }
  return true;
}

void ArchiveSession::ReadIndex(EntryOutcome* outcome, EntryFacts* facts) {
  const unsigned char* bytes = nullptr;
  *outcome = Next(facts, &bytes);
  if (*outcome != EntryOutcome::Read) return;
  index_.assign(bytes, bytes + facts->decoded);
  size_t trusted = LineTextTrusted(index_.data(), index_.size(), facts->unpackedSize);
  CutRows(index_.data(), trusted);
}

void ArchiveSession::CutRows(const unsigned char* bytes, size_t size) {
  rows_.clear();
  size_t length = 0;
  for (size_t at = 0; at < size;) {
    size_t next = LineTextNext(bytes, size, at, &length);
    rows_.emplace_back(reinterpret_cast<const char*>(bytes) + at, length);
    at = next;
  }
}

EntryOutcome ArchiveSession::Next(EntryFacts* facts, const unsigned char** bytes) {
  *bytes = ArchiveNextEntry();
  if (*bytes == nullptr) return Diagnose(true, facts);
  ArchiveEntryInfo info;
  ArchiveLastEntryInfo(&info);
  *facts = EntryFacts{info.unpackedSize, info.packedSize, info.stored != 0, info.damaged != 0, info.decoded};
  Advance(*facts);
  return EntryOutcome::Read;
}

EntryOutcome ArchiveSession::Skip(EntryFacts* facts) {
  if (ArchiveSkipEntry() == 0) return Diagnose(false, facts);
  ArchiveEntryInfo info;
  ArchiveLastEntryInfo(&info);
  *facts = EntryFacts{info.unpackedSize, info.packedSize, info.stored != 0, false};
  Advance(*facts);
  return EntryOutcome::Skipped;
}

void ArchiveSession::Advance(const EntryFacts& facts) {
  offset_ += ENTRY_HEADER_SIZE + uint64_t(facts.packedSize);
  nextEntry_++;
}

// The reader answers null both at the end and for an entry it could not
// hold; the file's size and the header at the current offset tell which.
EntryOutcome ArchiveSession::Diagnose(bool passedOverWhenWhole, EntryFacts* facts) {
  *facts = EntryFacts{};
  uint64_t remaining = offset_ <= fileSize_ ? fileSize_ - offset_ : 0;
  if (remaining == 0) return EntryOutcome::End;
  if (remaining < ENTRY_HEADER_SIZE) return EntryOutcome::StrayBytes;
  if (!PeekHeader(&facts->unpackedSize, &facts->packedSize)) return EntryOutcome::Truncated;
  facts->stored = facts->unpackedSize == facts->packedSize;
  if (ENTRY_HEADER_SIZE + uint64_t(facts->packedSize) > remaining) return EntryOutcome::Truncated;
  // A whole entry that the reader still refused: it could not hold it and
  // has moved past it. (A skip never refuses a whole entry, except on a
  // failing read, which counts as the archive ending there.)
  if (!passedOverWhenWhole) return EntryOutcome::Truncated;
  Advance(*facts);
  return EntryOutcome::TooLarge;
}

bool ArchiveSession::PeekHeader(uint32_t* unpackedSize, uint32_t* packedSize) const {
  PlatformFile file = PlatformFileOpenRead(path_.c_str(), false);
  if (file == PLATFORM_FILE_INVALID) return false;
  unsigned char header[ENTRY_HEADER_SIZE];
  uint32_t done = 0;
  bool read = PlatformFileSeekRelative(file, int64_t(offset_)) &&
              PlatformFileRead(file, header, ENTRY_HEADER_SIZE, &done) && done == ENTRY_HEADER_SIZE;
  PlatformFileClose(file);
  if (!read) return false;
  *unpackedSize = LittleEndian32(header);
  *packedSize = LittleEndian32(header + 4);
  return true;
}
