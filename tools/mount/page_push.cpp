#define FUSE_USE_VERSION 31
#include "tools/mount/page_push.h"

#include <fuse_lowlevel.h>

#include <cerrno>

namespace {

// More than a reader runs ahead of is not queued: the files would be pushed
// long before they are read, if at all.
constexpr size_t QUEUE_LIMIT = 8 * PagePush::AHEAD;

}  // namespace

PagePush::PagePush(const MountTree& tree, WorkAhead& engine, Source source)
    : tree_(tree), engine_(engine), source_(std::move(source)), state_(new std::atomic<uint8_t>[tree.NodeCount()]) {
  for (size_t node = 0; node < tree.NodeCount(); node++) state_[node].store(NOT_YET, std::memory_order_relaxed);
}

void PagePush::Start(struct fuse_session* session) {
  session_ = session;
}

void PagePush::Stop() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    stopping_ = true;
    queue_.clear();
  }
  engine_.Withdraw(this);
}

bool PagePush::Small(uint32_t node) const {
  const MountNode& file = tree_.Node(node);
  return !file.folder && file.size > 0 && file.size < MAX_SIZE;
}

void PagePush::Push(uint32_t node) {
  uint8_t state = state_[node].load();
  if (session_ == nullptr || !Small(node) || (state != NOT_YET && state != QUEUED) ||
      !state_[node].compare_exchange_strong(state, PUSHING)) {
    return;
  }
  uint8_t after = DONE;
  PushBytes bytes = source_(node);
  if (bytes.bytes != nullptr) {  // else damaged, or unreadable: its reads say so
    struct fuse_bufvec pages = FUSE_BUFVEC_INIT(bytes.size);
    pages.buf[0].mem = const_cast<unsigned char*>(bytes.bytes);
    // A file the kernel does not know yet (never looked up) takes no
    // pages: it may be offered again.
    if (fuse_lowlevel_notify_store(session_, MountInode(node), 0, &pages, fuse_buf_copy_flags(0)) == -ENOENT) {
      after = NOT_YET;
    }
  }
  {
    std::lock_guard<std::mutex> hold(lock_);
    state_[node].store(after);
  }
  pushed_.notify_all();
}

void PagePush::Opened(uint32_t node) {
  Push(node);
  // Pushed beside already, or about to be: waiting for it costs less than
  // the read it saves.
  if (state_[node].load() == PUSHING) {
    std::unique_lock<std::mutex> hold(lock_);
    pushed_.wait(hold, [&] { return state_[node].load() != PUSHING; });
  }
  const MountNode& file = tree_.Node(node);
  const std::map<std::string, uint32_t>& siblings = tree_.Node(file.parent).children;
  auto next = siblings.upper_bound(file.name);
  bool due = false;
  auto at = next;
  for (int seen = 0; at != siblings.end() && seen < AHEAD && !due; ++at, seen++) {
    due = Small(at->second) && state_[at->second].load() == NOT_YET;
  }
  if (!due || engine_.Workers() == 0) return;
  bool post = false;
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (stopping_) return;
    for (int seen = 0; next != siblings.end() && seen < 2 * AHEAD && queue_.size() < QUEUE_LIMIT; ++next, seen++) {
      uint8_t state = NOT_YET;
      if (Small(next->second) && state_[next->second].compare_exchange_strong(state, QUEUED)) {
        queue_.push_back(next->second);
      }
    }
    post = !posted_ && !queue_.empty();
    posted_ = posted_ || post;
  }
  if (post && !engine_.Post(this, [this] { PushQueued(); })) {
    std::lock_guard<std::mutex> hold(lock_);
    posted_ = false;
    for (uint32_t node : queue_) state_[node].store(NOT_YET);
    queue_.clear();
  }
}

// One task on the engine at a time pushes what is queued, until nothing is.
void PagePush::PushQueued() {
  std::unique_lock<std::mutex> hold(lock_);
  while (!stopping_ && !queue_.empty()) {
    uint32_t node = queue_.front();
    queue_.pop_front();
    hold.unlock();
    Push(node);
    hold.lock();
  }
  posted_ = false;
}
