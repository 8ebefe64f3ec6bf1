// The file-system layer of packtool mount: each FUSE call is one look-up in
// the tree and, for reads, one call on the archive object or the cache.
#define FUSE_USE_VERSION 31
#include <fuse_lowlevel.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "pack/archive_file.h"
#include "platform/platform.h"
#include "tools/cli/cli.h"
#include "tools/mount/mount.h"
#include "tools/mount/mounted_archives.h"
#include "tools/rows/rows.h"

namespace {

// What an open file holds: the decoded entry of a compressed one, or where
// the walk past the damage put its bytes.
struct OpenFile {
  const MountNode* node;
  std::shared_ptr<DecodedEntry> decoded;
  const WalkedBytes* walked = nullptr;
  PlatformFile walkedFile = PLATFORM_FILE_INVALID;
  bool direct = false;  // read past the page cache: a short read is no end of file
};

Mount& MountOf(fuse_req_t request) {
  return *static_cast<Mount*>(fuse_req_userdata(request));
}

const MountNode* NodeOf(const Mount& mount, fuse_ino_t inode) {
  return inode >= 1 && inode <= mount.tree.NodeCount() ? &mount.tree.Node(MountNodeOf(inode)) : nullptr;
}

// Nothing in the tree ever changes: the kernel may keep names and facts as
// long as it likes.
constexpr double FOREVER = 24 * 3600;

void Describe(const Mount& mount, uint32_t number, struct stat* facts) {
  const MountNode& node = mount.tree.Node(number);
  memset(facts, 0, sizeof *facts);
  facts->st_ino = MountInode(number);
  if (node.folder) {
    facts->st_mode = S_IFDIR | 0555;
    facts->st_nlink = 2;
    facts->st_mtim = mount.mounted;
  } else {
    facts->st_mode = S_IFREG | 0444;
    facts->st_nlink = 1;
    facts->st_size = node.size;
    facts->st_blocks = (off_t(node.size) + 511) / 512;
    facts->st_mtim = mount.archives[node.archive].modified;
  }
  facts->st_atim = facts->st_ctim = facts->st_mtim;
}

struct fuse_entry_param EntryOf(const Mount& mount, uint32_t number) {
  struct fuse_entry_param entry = {};
  entry.ino = MountInode(number);
  entry.attr_timeout = entry.entry_timeout = FOREVER;
  Describe(mount, number, &entry.attr);
  return entry;
}

void LookUp(fuse_req_t request, fuse_ino_t parent, const char* name) {
  const Mount& mount = MountOf(request);
  const MountNode* folder = NodeOf(mount, parent);
  if (folder == nullptr) return (void)fuse_reply_err(request, ENOENT);
  if (!folder->folder) return (void)fuse_reply_err(request, ENOTDIR);
  uint32_t found = mount.tree.Child(MountNodeOf(parent), name);
  if (found == MountTree::NONE) {
    struct fuse_entry_param none = {};  // no such name, for as long as the tree stays
    none.entry_timeout = FOREVER;
    return (void)fuse_reply_entry(request, &none);
  }
  struct fuse_entry_param entry = EntryOf(mount, found);
  fuse_reply_entry(request, &entry);
}

void GetAttributes(fuse_req_t request, fuse_ino_t inode, struct fuse_file_info*) {
  const Mount& mount = MountOf(request);
  if (NodeOf(mount, inode) == nullptr) return (void)fuse_reply_err(request, ENOENT);
  struct stat facts;
  Describe(mount, MountNodeOf(inode), &facts);
  fuse_reply_attr(request, &facts, FOREVER);
}

// A folder's names from place `offset` on (".", "..", then its children in
// name order), as many as fit in `size`. With `plus`, each name goes with
// its facts, so that the kernel need not look up every file of a folder
// that is read through.
void ListFolder(fuse_req_t request, fuse_ino_t inode, size_t size, off_t offset, bool plus) {
  const Mount& mount = MountOf(request);
  const MountNode* folder = NodeOf(mount, inode);
  if (folder == nullptr) return (void)fuse_reply_err(request, ENOENT);
  if (!folder->folder) return (void)fuse_reply_err(request, ENOTDIR);
  std::vector<char> buffer(size);
  size_t used = 0;
  // Each name with the place after it, where a next call goes on.
  auto add = [&](const char* name, uint32_t number, off_t next) {
    size_t length;
    if (plus) {
      struct fuse_entry_param entry = EntryOf(mount, number);
      length = fuse_add_direntry_plus(request, buffer.data() + used, size - used, name, &entry, next);
    } else {
      struct stat facts;
      Describe(mount, number, &facts);
      length = fuse_add_direntry(request, buffer.data() + used, size - used, name, &facts, next);
    }
    if (length > size - used) return false;
    used += length;
    return true;
  };
  uint32_t self = MountNodeOf(inode);
  off_t place = offset;
  if (place == 0 && add(".", self, 1)) place = 1;
  if (place == 1 && add("..", folder->parent, 2)) place = 2;
  if (place >= 2) {
    auto child = folder->children.begin();
    std::advance(child, std::min<off_t>(place - 2, off_t(folder->children.size())));
    for (; child != folder->children.end() && add(child->first.c_str(), child->second, place + 1); ++child) place++;
  }
  fuse_reply_buf(request, buffer.data(), used);
}

// A compressed entry is decoded here, so that a damaged one is known before
// the first read: its reads then go past the page cache (direct I/O), so
// that the reader gets exactly the decoded bytes and then the error, never a
// short read the kernel would take for the end of the file. A large one is
// decoded while it is read: then its damage shows only as it is found, and
// a read that reaches it fails as a whole, so that the reader gets the
// decoded bytes before the page that holds the damage, then the error. The
// next opening knows and gives every decoded byte.
void Open(fuse_req_t request, fuse_ino_t inode, struct fuse_file_info* info) {
  Mount& mount = MountOf(request);
  const MountNode* node = NodeOf(mount, inode);
  if (node == nullptr) return (void)fuse_reply_err(request, ENOENT);
  if (node->folder) return (void)fuse_reply_err(request, EISDIR);
  if ((info->flags & O_ACCMODE) != O_RDONLY || (info->flags & O_TRUNC) != 0) {
    return (void)fuse_reply_err(request, EROFS);
  }
  const MountedArchive& mounted = mount.archives[node->archive];
  const ArchiveFile* archive = mounted.file;
  if (ArchiveFileChanged(archive)) return (void)fuse_reply_err(request, EIO);
  auto* file = new (std::nothrow) OpenFile{node, nullptr};
  if (file == nullptr) return (void)fuse_reply_err(request, ENOMEM);
  if (mounted.walked != PLATFORM_FILE_INVALID) {
    file->walked = &mounted.walkedEntries[node->entry];
    file->walkedFile = mounted.walked;
  } else if (!node->stored) {
    file->decoded = mount.cache.Get(archive, node->archive, node->entry);
    if (file->decoded == nullptr) {
      delete file;
      return (void)fuse_reply_err(request, EIO);
    }
  }
  bool damaged = (file->decoded != nullptr && file->decoded->Finished() && file->decoded->Damaged()) ||
                 (file->walked != nullptr && file->walked->damaged);
  file->direct = damaged;
  info->direct_io = damaged ? 1 : 0;
  info->keep_cache = damaged ? 0 : 1;
  info->fh = reinterpret_cast<uint64_t>(file);
  uint32_t number = MountNodeOf(inode);
  mount.pages->Opened(number);
  if (fuse_reply_open(request, info) != 0) delete file;  // the opener is gone
}

// What a read of the open file gives: a count of bytes in buffer, or -errno.
int ReadOpen(const Mount& mount, const OpenFile& file, char* buffer, size_t size, off_t offset) {
  const MountNode& node = *file.node;
  if (offset < 0) return -EINVAL;
  uint64_t end = std::min<uint64_t>(uint64_t(offset) + size, node.size);
  if (file.decoded != nullptr && !file.decoded->WaitFor(end) && file.decoded->Damaged()) {
    // Past the bytes a damaged entry's stream decoded there is only the
    // error, also at its end when only its checksum failed. Through the page
    // cache a short read would be taken for the end of the file: a read that
    // reaches the damage fails as a whole.
    uint64_t decoded = file.decoded->Decoded();
    if (file.direct ? uint64_t(offset) >= decoded : end >= decoded) return -EIO;
  }
  if (file.walked != nullptr && file.walked->damaged && uint64_t(offset) >= file.walked->decoded) return -EIO;
  if (uint64_t(offset) >= node.size) return 0;
  uint32_t length = uint32_t(std::min<uint64_t>(size, node.size - uint64_t(offset)));
  uint32_t done = 0;
  if (file.walked != nullptr) {
    // A damaged one's read stops at its decoded bytes; the next one fails.
    if (uint64_t(offset) >= file.walked->decoded) return 0;
    length = uint32_t(std::min<uint64_t>(length, file.walked->decoded - uint64_t(offset)));
    return PlatformFileReadAt(file.walkedFile, file.walked->offset + uint64_t(offset), buffer, length, &done) &&
                   done == length
               ? int(done)
               : -EIO;
  }
  if (node.stored) {
    // Read from the archive's file at each read: asked after the read, so
    // that bytes written over the entry meanwhile are never handed out.
    const ArchiveFile* archive = mount.archives[node.archive].file;
    return ArchiveFileReadEntryData(archive, node.entry, uint64_t(offset), buffer, length, &done) != 0 &&
                   done == length && !ArchiveFileChanged(archive)
               ? int(done)
               : -EIO;
  }
  return file.decoded->Read(uint64_t(offset), buffer, length, &done) ? int(done) : -EIO;
}

void Read(fuse_req_t request, fuse_ino_t, size_t size, off_t offset, struct fuse_file_info* info) {
  const OpenFile& file = *reinterpret_cast<const OpenFile*>(info->fh);
  // A buffer for no more than the file holds from offset.
  uint64_t from = offset > 0 ? uint64_t(offset) : 0;
  size = from < file.node->size ? size_t(std::min<uint64_t>(size, file.node->size - from)) : 0;
  // Each of FUSE's threads reads into a buffer of its own, kept for its
  // next read (the kernel asks for 128 KiB at most).
  thread_local std::vector<char> buffer;
  if (buffer.size() < std::max<size_t>(size, 1)) {
    try {
      buffer.resize(std::max<size_t>(size, 1));
    } catch (const std::bad_alloc&) {
      return (void)fuse_reply_err(request, ENOMEM);
    }
  }
  int got = ReadOpen(MountOf(request), file, buffer.data(), size, offset);
  if (got < 0) return (void)fuse_reply_err(request, -got);
  fuse_reply_buf(request, buffer.data(), size_t(got));
}

void Release(fuse_req_t request, fuse_ino_t, struct fuse_file_info* info) {
  delete reinterpret_cast<OpenFile*>(info->fh);
  fuse_reply_err(request, 0);
}

// A small file's bytes, when they are sound and may go to the page cache:
// a compressed entry's from the cache (decoded here when it is not there),
// a stored one's read from the archive. Those of an archive read past its
// damage are not pushed.
PushBytes BytesToPush(Mount& mount, uint32_t number) {
  PushBytes push;
  const MountNode& node = mount.tree.Node(number);
  const MountedArchive& mounted = mount.archives[node.archive];
  if (mounted.walked != PLATFORM_FILE_INVALID || ArchiveFileChanged(mounted.file)) return push;
  if (node.stored) {
    push.own.resize(node.size);
    uint32_t done = 0;
    if (ArchiveFileReadEntryData(mounted.file, node.entry, 0, push.own.data(), node.size, &done) != 0 &&
        done == node.size) {
      push.bytes = push.own.data();
      push.size = node.size;
    }
    return push;
  }
  std::shared_ptr<DecodedEntry> decoded = mount.cache.Get(mounted.file, node.archive, node.entry);
  if (decoded == nullptr || decoded->Bytes() == nullptr || decoded->Damaged() || decoded->Size() != node.size) {
    return push;
  }
  push.bytes = decoded->Bytes();
  push.size = decoded->Size();
  push.holder = std::move(decoded);
  return push;
}

void ReadOnly(fuse_req_t request) {
  fuse_reply_err(request, EROFS);
}

struct fuse_lowlevel_ops Operations() {
  struct fuse_lowlevel_ops operations = {};
  operations.lookup = LookUp;
  operations.getattr = GetAttributes;
  operations.readdir = [](fuse_req_t request, fuse_ino_t inode, size_t size, off_t offset, struct fuse_file_info*) {
    ListFolder(request, inode, size, offset, false);
  };
  operations.readdirplus = [](fuse_req_t request, fuse_ino_t inode, size_t size, off_t offset, struct fuse_file_info*) {
    ListFolder(request, inode, size, offset, true);
  };
  operations.open = Open;
  operations.read = Read;
  operations.release = Release;
  // The mount is read-only to the kernel as well; these answer anyone who
  // asks the file system itself.
  operations.setattr = [](fuse_req_t request, fuse_ino_t, struct stat*, int, struct fuse_file_info*) {
    ReadOnly(request);
  };
  operations.mknod = [](fuse_req_t request, fuse_ino_t, const char*, mode_t, dev_t) { ReadOnly(request); };
  operations.mkdir = [](fuse_req_t request, fuse_ino_t, const char*, mode_t) { ReadOnly(request); };
  operations.unlink = [](fuse_req_t request, fuse_ino_t, const char*) { ReadOnly(request); };
  operations.rmdir = [](fuse_req_t request, fuse_ino_t, const char*) { ReadOnly(request); };
  operations.rename = [](fuse_req_t request, fuse_ino_t, const char*, fuse_ino_t, const char*, unsigned int) {
    ReadOnly(request);
  };
  operations.write = [](fuse_req_t request, fuse_ino_t, const char*, size_t, off_t, struct fuse_file_info*) {
    ReadOnly(request);
  };
  operations.create = [](fuse_req_t request, fuse_ino_t, const char*, mode_t, struct fuse_file_info*) {
    ReadOnly(request);
  };
  return operations;
}

// Mounts and serves until unmounted or told to stop; the mount is gone when
// it returns.
int Serve(Mount& mount, const PackToolRequest& request) {
  // Absolute: the background process leaves the current folder, and the
  // unmount at its end names the mount point again.
  std::error_code error;
  std::string mountPoint = std::filesystem::absolute(request.mountPoint, error).lexically_normal().string();
  if (error) mountPoint = request.mountPoint;
  const char* words[] = {"packtool", "-o", "ro,fsname=packtool,subtype=packtool,default_permissions"};
  struct fuse_args args = FUSE_ARGS_INIT(3, const_cast<char**>(words));
  struct fuse_lowlevel_ops operations = Operations();
  struct fuse_session* session = fuse_session_new(&args, &operations, sizeof operations, &mount);
  fuse_opt_free_args(&args);
  if (session == nullptr) {
    Complain("cannot start FUSE (is fuse3 installed?)");
    return EXIT_ARCHIVE;
  }
  if (fuse_session_mount(session, mountPoint.c_str()) != 0) {
    Complain(QuotedPath(request.mountPoint) + ": cannot mount on it (FUSE 3 needs /dev/fuse and fusermount3)");
    fuse_session_destroy(session);
    return EXIT_TARGET_REFUSED;
  }
  // FUSE takes only signals left at their default: packtool's own handler
  // (it removes a half-written file) would end the process with the mount
  // still there, where FUSE's ends the loop and unmounts.
  for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) std::signal(signalNumber, SIG_DFL);
  // The loop ends with the number of the signal that stopped it, which is
  // a clean end; below 0 it failed.
  int code = EXIT_OK;
  if (fuse_set_signal_handlers(session) != 0 || fuse_daemonize(request.foreground ? 1 : 0) != 0) {
    code = EXIT_WRITE;
  } else {
    mount.pages->Start(session);
    if (fuse_session_loop_mt(session, 0) < 0) code = EXIT_WRITE;
    mount.pages->Stop();
  }
  if (code != EXIT_OK) Complain("the mount on " + QuotedPath(mountPoint) + " failed while it served");
  fuse_remove_signal_handlers(session);
  fuse_session_unmount(session);
  fuse_session_destroy(session);
  return code;
}

}  // namespace

int RunMount(const PackToolRequest& request) {
  uint64_t size = 0;
  const char* point = request.mountPoint.c_str();
  if (PlatformPathKind(point, &size) != PlatformNameKind::Folder) {
    Complain(QuotedPath(request.mountPoint) + ": no such folder to mount on");
    return EXIT_TARGET_REFUSED;
  }
  // A mount would hide what is there, and a second one the first.
  if (PlatformFolderIsMountPoint(point)) {
    Complain(QuotedPath(request.mountPoint) + ": something is mounted on it already (\"fusermount3 -u " +
             ShownPath(request.mountPoint) + "\" unmounts it)");
    return EXIT_TARGET_REFUSED;
  }
  if (!PlatformFolderIsEmpty(point)) {
    Complain(QuotedPath(request.mountPoint) + ": not empty; mount on an empty folder, so that nothing in it is hidden");
    return EXIT_TARGET_REFUSED;
  }
  // Folders of archives as list, verify and find take them.
  ArchivePlaces places = GatherArchives(request.archives, false);
  Mount mount(request.cacheMegabytes << 20, request.jobs);
  for (const PlacedArchive& placed : places.archives) {
    std::string why = placed.inFolder ? NotPackArchive(placed.path) : "";
    if (!why.empty()) {
      NotePassedOver(placed.path, why);
      continue;
    }
    int code = MountAddArchive(mount, placed.path, places.several, request.namesFrom);
    if (code != EXIT_OK) return code;
  }
  if (places.code != EXIT_OK) return places.code;
  mount.pages = std::make_unique<PagePush>(mount.tree, mount.engine,
                                           [&mount](uint32_t node) { return BytesToPush(mount, node); });
  return Serve(mount, request);
}
