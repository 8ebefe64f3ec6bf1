#include "tools/mount/entry_cache.h"

#include <algorithm>
#include <cstring>

#include "core/memory.h"

DecodedEntry::~DecodedEntry() {
  ArchiveCursorFree(cursor_);
  ProgramFree(owned_);
  if (inMemory_ != nullptr) *inMemory_ -= size_;
  if (spill_ != PLATFORM_FILE_INVALID) PlatformFileClose(spill_);
}

bool DecodedEntry::WaitFor(uint64_t end) const {
  if (Finished()) return false;  // also one never decoded beside: its progress never moves
  // Woken when the decoding passes end, or when it is finished (Finish).
  progress_.WaitFor(uint32_t(std::min<uint64_t>(end, UINT32_MAX)));
  return !Finished() && progress_.final.load(std::memory_order_acquire) >= end;
}

void DecodedEntry::Finish() {
  finished_.store(true, std::memory_order_release);
  progress_.End();
}

bool DecodedEntry::Read(uint64_t offset, void* destination, uint32_t length, uint32_t* done) const {
  *done = 0;
  uint32_t end = Finished() ? decoded_ : progress_.final.load(std::memory_order_acquire);
  if (offset >= end) return true;
  uint32_t count = uint32_t(std::min<uint64_t>(length, end - offset));
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

std::shared_ptr<DecodedEntry> EntryCache::Decode(const ArchiveFile* archive, uint32_t entry) const {
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
  // Kept in the cache with the entry: not the stream it came from.
  ArchiveCursorKeepOnlyTheEntry(cursor);
  decoded->cursor_ = cursor;
  decoded->bytes_ = bytes;
  return decoded;
}

std::shared_ptr<DecodedEntry> EntryCache::DecodeToFile(const ArchiveFile* archive, uint32_t entry) const {
  ArchiveEntryPlace place{};
  if (ArchiveFileEntryPlace(archive, entry, &place) == 0) return nullptr;
  std::shared_ptr<DecodedEntry> decoded(new DecodedEntry);
  decoded->size_ = place.unpackedSize;
  decoded->spill_ = PlatformFileCreateUnnamed();
  const uint32_t size = place.unpackedSize;
  PlatformMapping view;
  ArchiveEntryInfo info{};
  bool made =
      decoded->spill_ != PLATFORM_FILE_INVALID && PlatformFileResize(decoded->spill_, size) &&
      (size == 0 || PlatformFileMap(decoded->spill_, 0, size, true, &view)) &&
      ArchiveFileDecodeEntry(archive, entry, size == 0 ? nullptr : view.data, size, nullptr, &info, &engine_) != 0;
  PlatformFileUnmap(&view, false);
  if (!made) return nullptr;
  decoded->decoded_ = info.decoded;
  decoded->damaged_ = info.damaged != 0;
  // Only what the stream decoded stays on the disk: a size claim larger than
  // the stream costs its room only while it decodes.
  return PlatformFileResize(decoded->spill_, info.decoded) ? decoded : nullptr;
}

void EntryCache::Stop() {
  std::deque<Job> left;
  {
    std::lock_guard<std::mutex> hold(lock_);
    stopping_ = true;
    left.swap(jobs_);
  }
  engine_.Withdraw(this);
  for (Job& job : left) job.decoded->Finish();  // decoded_ 0: damaged
}

std::shared_ptr<DecodedEntry> EntryCache::DecodeBeside(const ArchiveFile* archive, uint32_t entry, uint32_t size) {
  auto* bytes = static_cast<unsigned char*>(ProgramAlloc(size, true));
  if (bytes == nullptr) return nullptr;
  std::shared_ptr<DecodedEntry> decoded(new DecodedEntry);
  decoded->size_ = size;
  decoded->owned_ = bytes;
  decoded->bytes_ = bytes;
  decoded->finished_.store(false, std::memory_order_relaxed);
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (stopping_) {
      decoded->Finish();
      return decoded;
    }
    jobs_.push_back(Job{archive, entry, decoded});
  }
  // Without a worker, this reader decodes it (or one queued before it)
  // before it goes on.
  if (!engine_.Post(this, [this] { DecodeQueued(); })) DecodeQueued();
  return decoded;
}

void EntryCache::DecodeQueued() {
  Job job{};
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (stopping_ || jobs_.empty()) return;
    job = std::move(jobs_.front());
    jobs_.pop_front();
  }
  DecodedEntry& decoded = *job.decoded;
  ArchiveEntryInfo info{};
  // A read the system refused: nothing of it counts, every read fails.
  if (ArchiveFileDecodeEntry(job.archive, job.entry, decoded.owned_, decoded.size_, &decoded.progress_, &info,
                             &engine_) != 0) {
    decoded.decoded_ = info.decoded;
    decoded.damaged_ = info.damaged != 0;
  } else {
    decoded.decoded_ = 0;
    decoded.damaged_ = true;
  }
  decoded.Finish();
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
  slotDecoded_.wait(hold, [&] { return !slots_[key].decoding; });
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
  std::shared_ptr<DecodedEntry> made;
  if (inMemory && size >= DECODE_BESIDE_MIN) {
    // Taken by its readers while it decodes: the slot has it at once.
    hold.unlock();
    made = DecodeBeside(archive, entry, uint32_t(size));
  } else {
    hold.unlock();
    made = inMemory ? Decode(archive, entry) : DecodeToFile(archive, entry);
  }
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
  slotDecoded_.notify_all();
  return made;
}

uint64_t EntryCache::HeldBytes() const {
  std::lock_guard<std::mutex> hold(lock_);
  return held_;
}
