// The bytes of small files handed to the kernel's page cache before they
// are read. Every read through FUSE is a round trip to this process, and
// on a machine of several cores each one wakes a thread on another core;
// a file read from start to end in one go costs its opening and one read,
// and the read is the part that can go: when its pages are in the cache,
// the kernel serves the read itself. A file's bytes are pushed when it is
// opened, and those of the files after it in its folder on a worker of the
// mount's engine (pack/work_ahead.h), decoded there, so that a folder read
// through in order finds them ready (without workers, only the file opened).
//
// Only sound bytes are pushed: a damaged entry is read past the page cache,
// so that its reader gets exactly its decoded bytes and then the error.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "pack/work_ahead.h"
#include "tools/mount/mount_tree.h"

struct fuse_session;

// A file's bytes as they may be pushed, and what keeps them while they are.
struct PushBytes {
  const unsigned char* bytes = nullptr;  // null: not to be pushed
  uint32_t size = 0;
  std::shared_ptr<const void> holder;
  std::vector<unsigned char> own;
};

class PagePush {
 public:
  // Below this size a file's bytes are pushed whole (larger compressed
  // ones are read while they decode).
  static constexpr uint32_t MAX_SIZE = 1u << 20;
  // How many files after an opened one are made ready: when one of the
  // next AHEAD is not, the next 2 * AHEAD are, so that a folder read in
  // order wakes a worker once every AHEAD files, not for each.
  static constexpr int AHEAD = 8;

  using Source = std::function<PushBytes(uint32_t node)>;
  PagePush(const MountTree& tree, WorkAhead& engine, Source source);
  ~PagePush() { Stop(); }
  PagePush(const PagePush&) = delete;
  PagePush& operator=(const PagePush&) = delete;

  // Before any other call: the session the pages go to.
  void Start(struct fuse_session* session);
  // Nothing more is pushed; returns once no push runs.
  void Stop();

  // At the opening of a file: pushes its bytes unless that was done, and
  // has those of the files after it in its folder pushed beside.
  void Opened(uint32_t node);

 private:
  enum : uint8_t { NOT_YET, QUEUED, PUSHING, DONE };

  bool Small(uint32_t node) const;
  void Push(uint32_t node);
  void PushQueued();

  const MountTree& tree_;
  WorkAhead& engine_;
  const Source source_;
  struct fuse_session* session_ = nullptr;
  std::unique_ptr<std::atomic<uint8_t>[]> state_;  // by node

  std::mutex lock_;
  std::condition_variable pushed_;  // a push has ended
  std::deque<uint32_t> queue_;
  bool posted_ = false;  // a task that pushes the queue is on the engine
  bool stopping_ = false;
};
