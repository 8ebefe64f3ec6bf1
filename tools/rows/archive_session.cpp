#include "tools/rows/archive_session.h"

#include "file/file.h"
#include "pack/archive.h"
#include "pack/other_kinds.h"
#include "tools/host.h"

ArchiveSession::~ArchiveSession() {
  ArchiveClose();
}

bool ArchiveSession::Open(const std::string& path, std::string* error) {
  uint64_t size = 0;
  switch (HostPathKindOf(path, &size)) {
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
  path_ = path;
  if (const char* kind = ArchiveOtherKind(path.c_str())) {
    *error = std::string("is ") + kind + ", not a pack archive";
    return false;
  }
  if (ArchiveOpen(path.c_str()) == 0) {
    *error = "cannot be opened: " + HostErrorText();
    return false;
  }
  if (FileSize() == 0) {
    *error = "is empty: not a pack archive";
    return false;
  }
  // Where the plain reading would take a stray header for a damaged entry,
  // the commands go on past it with the salvage walk instead.
  ArchiveStopAtImplausible();
  return true;
}

bool ArchiveSession::Rewind() {
  if (ArchiveOpen(path_.c_str()) == 0) return false;
  ArchiveStopAtImplausible();
  nextEntry_ = 0;
  EntryFacts facts;
  const unsigned char* bytes = nullptr;
  EntryOutcome outcome = Next(&facts, &bytes);
  if (outcome == EntryOutcome::TooLarge) return index_.empty();
  return outcome == EntryOutcome::Read && facts.decoded == index_.size();
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
  if (*bytes == nullptr) return Missed(facts);
  ArchiveEntryInfo info;
  ArchiveLastEntryInfo(&info);
  *facts = EntryFacts{info.unpackedSize, info.packedSize, info.stored != 0,
                      info.damaged != 0, info.decoded,    info.checked != 0};
  nextEntry_++;
  return EntryOutcome::Read;
}

EntryOutcome ArchiveSession::Skip(EntryFacts* facts) {
  if (ArchiveSkipEntry() == 0) return Missed(facts);
  ArchiveEntryInfo info;
  ArchiveLastEntryInfo(&info);
  *facts = EntryFacts{info.unpackedSize, info.packedSize, info.stored != 0, false};
  nextEntry_++;
  return EntryOutcome::Skipped;
}

// The reader said why it gave no entry; an entry it passed over counts.
EntryOutcome ArchiveSession::Missed(EntryFacts* facts) {
  *facts = EntryFacts{};
  ArchivePlace place = Place();
  switch (place.miss) {
    case ARCHIVE_MISS_END:
      return EntryOutcome::End;
    case ARCHIVE_MISS_STRAY:
      return EntryOutcome::StrayBytes;
    case ARCHIVE_MISS_TOO_LARGE: {
      ArchiveEntryInfo info;
      ArchiveLastEntryInfo(&info);
      *facts = EntryFacts{info.unpackedSize, info.packedSize, info.stored != 0, false};
      nextEntry_++;
      return EntryOutcome::TooLarge;
    }
    default:  // cut short, implausible, or a read the system refused: the archive ends there, at the header it names
      *facts = EntryFacts{place.cutUnpackedSize, place.cutPackedSize, place.cutUnpackedSize == place.cutPackedSize};
      if (place.miss == ARCHIVE_MISS_IMPLAUSIBLE) return EntryOutcome::Implausible;
      return place.miss == ARCHIVE_MISS_UNREADABLE ? EntryOutcome::Unreadable : EntryOutcome::Truncated;
  }
}

// Where the reader stands; all zero when no archive is open.
ArchivePlace ArchiveSession::Place() {
  ArchivePlace place{};
  ArchiveWhere(&place);
  return place;
}
