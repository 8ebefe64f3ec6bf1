// What packtool mount serves: the archives it opened, the tree of their
// names, the cache of decoded entries and the pages handed to the kernel.
// Built from the archives before the mount is up (mounted_archives.cpp), then
// read by the file-system calls (mount_fuse.cpp). Internal to tools/mount.
#pragma once

#include <time.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "pack/archive_file.h"
#include "pack/work_ahead.h"
#include "platform/platform.h"
#include "tools/mount/entry_cache.h"
#include "tools/mount/mount_tree.h"
#include "tools/mount/page_push.h"

// An entry the walk past the damage found: its recovered bytes in the
// archive's temporary file.
struct WalkedBytes {
  uint64_t offset = 0;
  uint32_t decoded = 0;
  bool damaged = false;
};

struct MountedArchive {
  ArchiveFile* file = nullptr;
  struct timespec modified = {};
  // Of an archive the plain reading cannot pass: every entry by the walk's
  // number, its bytes in `walked`.
  std::vector<WalkedBytes> walkedEntries;
  PlatformFile walked = PLATFORM_FILE_INVALID;
};

// Everything the calls share; built before the mount is up, then read only
// (the cache guards itself).
struct Mount {
  Mount(uint64_t cacheBytes, unsigned jobs) : engine(jobs), cache(cacheBytes, engine) {}
  ~Mount();
  WorkAhead engine;  // the decodings beside the readers, and the pages pushed ahead
  MountTree tree;
  std::vector<MountedArchive> archives;
  EntryCache cache;
  std::unique_ptr<PagePush> pages;  // made once the tree is complete
  struct timespec mounted = {};     // the root's date: the newest archive's
};

// Reads the archive's rows and entry headers into the mount's tree, below a
// folder named after its file when ownFolder. EXIT_OK, or the code after
// saying why it cannot be mounted.
// namesFrom: other backups of the same files, read when names past damage
// (or past a damaged index's rows) need them.
int MountAddArchive(Mount& mount, const std::string& path, bool ownFolder,
                    const std::vector<std::string>& namesFrom);
