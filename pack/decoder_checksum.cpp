#include "pack/decoder_checksum.h"

#include "pack/work_ahead.h"

using decoder_parts::ChecksumBeside;
using decoder_parts::ChecksumRun;

uint32_t StreamChecksum(const uint8_t* data, uint32_t size) {
  return ChecksumRun{}.Finish(data, size);
}

void DecodeProgress::Advance(uint32_t upTo) {
  final.store(upTo, std::memory_order_seq_cst);
  // Read after the count is stored, as a reader stores what it waits for
  // before it reads the count again: one of the two sees the other.
  if (upTo < wakeAt_.load(std::memory_order_seq_cst)) return;
  {
    std::lock_guard<PlatformMutex> lock(mutex_);
    wakeAt_.store(UINT32_MAX, std::memory_order_relaxed);
  }
  moved_.notify_all();
}

void DecodeProgress::End() {
  {
    std::lock_guard<PlatformMutex> lock(mutex_);
    ended_.store(true, std::memory_order_release);
  }
  moved_.notify_all();
}

uint32_t DecodeProgress::WaitFor(uint32_t end) {
  uint32_t now = final.load(std::memory_order_acquire);
  if (now >= end || Ended()) return now;
  std::unique_lock<PlatformMutex> lock(mutex_);
  for (;;) {
    if (end < wakeAt_.load(std::memory_order_relaxed)) wakeAt_.store(end, std::memory_order_seq_cst);
    now = final.load(std::memory_order_seq_cst);
    if (now >= end || Ended()) return now;
    moved_.wait(lock);
  }
}

bool ChecksumBeside::Start(WorkAhead* engine, const uint8_t* data, uint32_t size) {
  if (engine == nullptr) return false;
  data_ = data;
  size_ = size;
  if (!engine->Beside(this, [this] { Run(); })) return false;
  engine_ = engine;
  return true;
}

void ChecksumBeside::Run() {
  for (;;) {
    uint32_t upTo = final_.WaitFor(size_ - run_.at > CHUNK ? run_.at + CHUNK : size_);
    run_.Advance(data_, upTo, size_);
    if (final_.Ended()) break;
  }
  run_.Advance(data_, final_.final.load(std::memory_order_acquire), size_);
}

// Ends the worker's part: once it returns, the worker no longer reads the
// output, and run_ says how far it came (nowhere when it never began).
void ChecksumBeside::Stop() {
  if (engine_ == nullptr) return;
  final_.End();
  engine_->Withdraw(this);
  engine_ = nullptr;
}

uint32_t ChecksumBeside::Finish() {
  final_.Advance(size_);
  Stop();
  return run_.Finish(data_, size_);
}
