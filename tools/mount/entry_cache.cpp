#include "tools/mount/entry_cache.h"

#include <algorithm>
#include <cstring>

DecodedEntry::~DecodedEntry() {
  ArchiveCursorFree(cursor_);
  if (inMemory_ != nullptr) *inMemory_ -= size_;
  if (spill_ != PLATFORM_FILE_INVALID) PlatformFileClose(spill_);
}

bool DecodedEntry::Read(uint64_t offset, void* destination, uint32_t length, uint32_t* done) const {
  *done = 0;
  if (offset >= decoded_) return true;
  uint32_t count = uint32_t(std::min<uint64_t>(length, decoded_ - offset));
  if (bytes_ != nullptr) {
    memcpy(destination, bytes_ + offset, count);
    *done = count;
    return true;
  }
  return PlatformFileReadAt(spill_, offset, destination, count, done) && *done == count;
}

// In pieces a 32-bit count can say.
bool SpillBytes(PlatformFile file, const unsigned char* bytes, uint32_t size) {
  constexpr uint32_t PIECE = 1u << 24;
  for (uint32_t at = 0; at < size;) {
    uint32_t length = std::min(PIECE, size - at), done = 0;
    if (!PlatformFileWrite(file, bytes + at, length, &done) || done != length) return false;
    at += length;
  }
  return true;
}

std::shared_ptr<DecodedEntry> EntryCache::Decode(const ArchiveFile* archive, uint32_t entry, bool inMemory) const {
  ArchiveCursor* cursor = ArchiveCursorCreate(archive);
  const unsigned char* bytes = nullptr;
  ArchiveEntryInfo info{};
  if (cursor == nullptr || ArchiveCursorSeek(cursor, entry) == 0 ||
      (bytes = ArchiveCursorNextEntry(cursor)) == nullptr || ArchiveCursorLastEntryInfo(cursor, &info) == 0) {
    ArchiveCursorFree(cursor);
    return nullptr;
  }
  std::shared_ptr<DecodedEntry> decoded(new DecodedEntry);
  decoded->size_ = info.unpackedSize;
  decoded->decoded_ = info.decoded;
  decoded->damaged_ = info.damaged != 0;
  if (inMemory) {
    decoded->cursor_ = cursor;
    decoded->bytes_ = bytes;
    return decoded;
  }
  // Only what the stream decoded goes to the file: a size claim larger than
  // the stream costs no more than the stream.
  decoded->spill_ = PlatformFileCreateUnnamed();
  bool spilt = decoded->spill_ != PLATFORM_FILE_INVALID && SpillBytes(decoded->spill_, bytes, info.decoded);
  ArchiveCursorFree(cursor);
  return spilt ? decoded : nullptr;
}

void EntryCache::Keep(Slot& slot, const std::shared_ptr<DecodedEntry>& entry) {
  if (slot.inKept) {
    kept_.splice(kept_.begin(), kept_, slot.kept);
    return;
  }
  if (entry->bytes_ == nullptr) return;  // in a temporary file: kept by its readers alone
  kept_.push_front(entry);
  slot.kept = kept_.begin();
  slot.inKept = true;
  held_ += entry->size_;
  // An entry that goes stays in memory until its last reader is done.
  while (held_ > budget_ && kept_.size() > 1) DropOldest();
}

void EntryCache::DropOldest() {
  const std::shared_ptr<DecodedEntry>& oldest = kept_.back();
  held_ -= oldest->size_;
  slots_[oldest->key_].inKept = false;
  kept_.pop_back();
}

bool EntryCache::MakeRoom(uint64_t size) {
  if (size > budget_) return false;
  // Oldest first; one that readers hold would stay in memory anyway.
  for (auto it = kept_.end(); *inMemory_ + size > budget_ && it != kept_.begin();) {
    --it;
    if (it->use_count() > 1) continue;
    held_ -= (*it)->size_;
    slots_[(*it)->key_].inKept = false;
    it = kept_.erase(it);
  }
  return *inMemory_ + size <= budget_;
}

std::shared_ptr<DecodedEntry> EntryCache::Get(const ArchiveFile* archive, uint32_t archiveNumber, uint32_t entry) {
  uint64_t key = uint64_t(archiveNumber) << 32 | entry;
  std::unique_lock<std::mutex> hold(lock_);
  decoded_.wait(hold, [&] { return !slots_[key].decoding; });
  Slot& slot = slots_[key];
  if (std::shared_ptr<DecodedEntry> found = slot.entry.lock()) {
    Keep(slot, found);
    return found;
  }
  slot.decoding = true;
  // Room in memory is taken before the decode, so that readers decoding at
  // once cannot pass the budget together. The size is the header's, which
  // the cursor's buffer is made for.
  ArchiveEntryPlace place{};
  uint64_t size = ArchiveFileEntryPlace(archive, entry, &place) != 0 ? place.unpackedSize : budget_ + 1;
  bool inMemory = MakeRoom(size);
  if (inMemory) *inMemory_ += size;
  hold.unlock();
  std::shared_ptr<DecodedEntry> made = Decode(archive, entry, inMemory);
  hold.lock();
  Slot& after = slots_[key];  // the map's nodes stay where they are
  after.decoding = false;
  if (inMemory && (made == nullptr || made->size_ != size)) *inMemory_ -= size;
  if (made != nullptr && made->bytes_ != nullptr) {
    if (made->size_ != size) *inMemory_ += made->size_;
    made->inMemory_ = inMemory_;
  }
  if (made != nullptr) {
    made->key_ = key;
    after.entry = made;
    Keep(after, made);
  }
  decoded_.notify_all();
  return made;
}

uint64_t EntryCache::HeldBytes() const {
  std::lock_guard<std::mutex> hold(lock_);
  return held_;
}
