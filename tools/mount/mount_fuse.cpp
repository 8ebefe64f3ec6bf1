// The file-system layer of packtool mount: each FUSE call is one look-up in
// the tree and, for reads, one call on the archive object or the cache.
#define FUSE_USE_VERSION 31
#include <fuse.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "pack/archive_file.h"
#include "platform/platform.h"
#include "tools/cli/cli.h"
#include "tools/mount/entry_cache.h"
#include "tools/mount/mount.h"
#include "tools/mount/mount_tree.h"
#include "tools/rows/rows.h"

namespace {

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
  explicit Mount(uint64_t cacheBytes) : cache(cacheBytes) {}
  ~Mount() {
    cache.Stop();
    for (MountedArchive& archive : archives) {
      ArchiveFileClose(archive.file);
      if (archive.walked != PLATFORM_FILE_INVALID) PlatformFileClose(archive.walked);
    }
  }
  MountTree tree;
  std::vector<MountedArchive> archives;
  EntryCache cache;
  struct timespec mounted = {};  // the root's date: the newest archive's
};

// What an open file holds: the decoded entry of a compressed one, or where
// the walk past the damage put its bytes.
struct OpenFile {
  const MountNode* node;
  std::shared_ptr<DecodedEntry> decoded;
  const WalkedBytes* walked = nullptr;
  PlatformFile walkedFile = PLATFORM_FILE_INVALID;
  bool direct = false;  // read past the page cache: a short read is no end of file
};

Mount& Mounted() {
  return *static_cast<Mount*>(fuse_get_context()->private_data);
}

void Describe(const Mount& mount, const MountNode& node, struct stat* facts) {
  memset(facts, 0, sizeof *facts);
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

int GetAttributes(const char* path, struct stat* facts, struct fuse_file_info*) {
  Mount& mount = Mounted();
  const MountNode* node = mount.tree.Find(path);
  if (node == nullptr) return -ENOENT;
  Describe(mount, *node, facts);
  return 0;
}

// With each name go its facts, so that the kernel need not look up every
// file of a folder that is read through.
int ReadFolder(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, struct fuse_file_info*,
               enum fuse_readdir_flags) {
  Mount& mount = Mounted();
  const MountNode* node = mount.tree.Find(path);
  if (node == nullptr) return -ENOENT;
  if (!node->folder) return -ENOTDIR;
  struct stat facts;
  Describe(mount, *node, &facts);
  fill(buffer, ".", &facts, 0, FUSE_FILL_DIR_PLUS);
  fill(buffer, "..", nullptr, 0, fuse_fill_dir_flags(0));
  for (const auto& [name, child] : node->children) {
    Describe(mount, mount.tree.Node(child), &facts);
    fill(buffer, name.c_str(), &facts, 0, FUSE_FILL_DIR_PLUS);
  }
  return 0;
}

// A compressed entry is decoded here, so that a damaged one is known before
// the first read: its reads then go past the page cache (direct I/O), so
// that the reader gets exactly the decoded bytes and then the error, never a
// short read the kernel would take for the end of the file. A large one is
// decoded while it is read: then its damage shows only as it is found, and
// a read that reaches it fails as a whole, so that the reader gets the
// decoded bytes before the page that holds the damage, then the error. The
// next opening knows and gives every decoded byte.
int Open(const char* path, struct fuse_file_info* info) {
  Mount& mount = Mounted();
  const MountNode* node = mount.tree.Find(path);
  if (node == nullptr) return -ENOENT;
  if (node->folder) return -EISDIR;
  if ((info->flags & O_ACCMODE) != O_RDONLY || (info->flags & O_TRUNC) != 0) return -EROFS;
  const MountedArchive& mounted = mount.archives[node->archive];
  const ArchiveFile* archive = mounted.file;
  if (ArchiveFileChanged(archive)) return -EIO;
  auto* file = new (std::nothrow) OpenFile{node, nullptr};
  if (file == nullptr) return -ENOMEM;
  if (mounted.walked != PLATFORM_FILE_INVALID) {
    file->walked = &mounted.walkedEntries[node->entry];
    file->walkedFile = mounted.walked;
  } else if (!node->stored) {
    file->decoded = mount.cache.Get(archive, node->archive, node->entry);
    if (file->decoded == nullptr) {
      delete file;
      return -EIO;
    }
  }
  bool damaged = (file->decoded != nullptr && file->decoded->Finished() && file->decoded->Damaged()) ||
                 (file->walked != nullptr && file->walked->damaged);
  file->direct = damaged;
  info->direct_io = damaged ? 1 : 0;
  info->keep_cache = damaged ? 0 : 1;
  info->fh = reinterpret_cast<uint64_t>(file);
  return 0;
}

int Read(const char*, char* buffer, size_t size, off_t offset, struct fuse_file_info* info) {
  const OpenFile& file = *reinterpret_cast<const OpenFile*>(info->fh);
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
    const ArchiveFile* archive = Mounted().archives[node.archive].file;
    return ArchiveFileReadEntryData(archive, node.entry, uint64_t(offset), buffer, length, &done) != 0 && done == length
               ? int(done)
               : -EIO;
  }
  return file.decoded->Read(uint64_t(offset), buffer, length, &done) ? int(done) : -EIO;
}

int Release(const char*, struct fuse_file_info* info) {
  delete reinterpret_cast<OpenFile*>(info->fh);
  return 0;
}

int ReadOnly() {
  return -EROFS;
}

struct fuse_operations Operations() {
  struct fuse_operations operations = {};
  // Nothing in the tree ever changes: the kernel may keep names, facts and
  // pages as long as it likes.
  operations.init = [](struct fuse_conn_info*, struct fuse_config* config) {
    config->entry_timeout = config->attr_timeout = config->negative_timeout = 24 * 3600;
    config->kernel_cache = 1;
    return fuse_get_context()->private_data;
  };
  operations.getattr = GetAttributes;
  operations.readdir = ReadFolder;
  operations.open = Open;
  operations.read = Read;
  operations.release = Release;
  // The mount is read-only to the kernel as well; these answer anyone who
  // asks the file system itself.
  operations.mknod = [](const char*, mode_t, dev_t) { return ReadOnly(); };
  operations.mkdir = [](const char*, mode_t) { return ReadOnly(); };
  operations.unlink = [](const char*) { return ReadOnly(); };
  operations.rmdir = [](const char*) { return ReadOnly(); };
  operations.rename = [](const char*, const char*, unsigned int) { return ReadOnly(); };
  operations.truncate = [](const char*, off_t, struct fuse_file_info*) { return ReadOnly(); };
  operations.write = [](const char*, const char*, size_t, off_t, struct fuse_file_info*) { return ReadOnly(); };
  operations.create = [](const char*, mode_t, struct fuse_file_info*) { return ReadOnly(); };
  return operations;
}

std::string FileNameOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return name.empty() ? "archive" : name;
}

// Reads the archive's rows and entry headers into the tree. EXIT_OK, or the
// code after saying why it cannot be mounted.
int AddArchive(Mount& mount, const std::string& path, bool ownFolder) {
  MountSource source;
  size_t shownEntries = 0;
  MountedArchive archive;
  {
    OpenedArchive opened;
    int code = OpenArchive(path, ReadOn::Headers, &opened);
    if (code != EXIT_OK) return code;
    source.rows = opened.session.Rows();
    source.indexSound = opened.index.state == IndexState::Sound;
    // The entries are those the plain reading passes. Where it cannot pass
    // the damage, they are those the salvage walk finds, numbered as it
    // numbers them, as extract takes them: the walk decodes them to find
    // them, so their recovered bytes go to a temporary file once, and the
    // mount reads them from there.
    const PlainReading& plain = opened.plain;
    shownEntries = plain.entries.size();
    if (!plain.trouble.empty()) {
      Complain(ShownPath(path) + ": " + PastDamageSaid(plain));
      archive.walked = PlatformFileCreateUnnamed();
      if (archive.walked == PLATFORM_FILE_INVALID) {
        Complain(ShownPath(path) + ": no temporary file for its entries: " + SystemErrorText());
        return EXIT_WRITE;
      }
      uint64_t end = 0;
      bool spilt = true;
      WalkPastDamage(path, source.rows.size(), source.indexSound, [&](const WalkedEntry& entry) {
        const EntryFacts& facts = entry.facts;
        bool damaged = facts.damaged || entry.state != SalvageState::Sound;
        // Sized as its header says, when it says; never below what was decoded.
        uint32_t size = entry.sizeKnown ? std::max(facts.unpackedSize, facts.decoded) : facts.decoded;
        archive.walkedEntries.push_back(WalkedBytes{end, facts.decoded, damaged || facts.decoded < size});
        // Nothing recovered: extract writes nothing for it, so it is no file.
        source.entries.push_back(MountEntry{size, false, !(damaged && facts.decoded == 0)});
        spilt = SpillBytes(archive.walked, entry.bytes, facts.decoded);
        end += facts.decoded;
        return spilt;
      });
      if (!spilt) {
        Complain(ShownPath(path) + ": its entries would not go to a temporary file: " + SystemErrorText());
        PlatformFileClose(archive.walked);
        return EXIT_WRITE;
      }
    }
  }
  archive.file = ArchiveFileOpen(path.c_str(), ARCHIVE_WALK_HEADERS);
  if (archive.file == nullptr) {
    Complain(QuotedPath(path) + ": cannot be read: " + SystemErrorText());
    if (archive.walked != PLATFORM_FILE_INVALID) PlatformFileClose(archive.walked);
    return EXIT_ARCHIVE;
  }
  int64_t seconds = 0;
  uint32_t nanoseconds = 0;
  ArchiveFileModified(archive.file, &seconds, &nanoseconds);
  archive.modified = timespec{time_t(seconds), long(nanoseconds)};
  if (archive.modified.tv_sec > mount.mounted.tv_sec) mount.mounted = archive.modified;
  if (archive.walked == PLATFORM_FILE_INVALID) {
    uint32_t count = uint32_t(std::min<size_t>(ArchiveFileEntryCount(archive.file), shownEntries));
    source.entries.reserve(count);
    for (uint32_t entry = 0; entry < count; entry++) {
      ArchiveEntryPlace place{};
      ArchiveFileEntryPlace(archive.file, entry, &place);
      source.entries.push_back(MountEntry{place.unpackedSize, place.unpackedSize == place.packedSize});
    }
  }
  uint32_t number = uint32_t(mount.archives.size());
  mount.archives.push_back(archive);
  uint32_t folder = ownFolder ? mount.tree.AddArchiveFolder(FileNameOf(path)) : MountTree::ROOT;
  std::vector<std::string> refused;
  mount.tree.AddArchive(folder, number, source, &refused);
  for (const std::string& message : refused) Complain(ShownPath(path) + ": " + message);
  return EXIT_OK;
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
  struct fuse_operations operations = Operations();
  struct fuse* fuse = fuse_new(&args, &operations, sizeof operations, &mount);
  fuse_opt_free_args(&args);
  if (fuse == nullptr) {
    Complain("cannot start FUSE (is fuse3 installed?)");
    return EXIT_ARCHIVE;
  }
  if (fuse_mount(fuse, mountPoint.c_str()) != 0) {
    Complain(QuotedPath(request.mountPoint) + ": cannot mount on it (FUSE 3 needs /dev/fuse and fusermount3)");
    fuse_destroy(fuse);
    return EXIT_TARGET_REFUSED;
  }
  struct fuse_session* session = fuse_get_session(fuse);
  // FUSE takes only signals left at their default: packtool's own handler
  // (it removes a half-written file) would end the process with the mount
  // still there, where FUSE's ends the loop and unmounts.
  for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) std::signal(signalNumber, SIG_DFL);
  // The loop ends with the number of the signal that stopped it, which is
  // a clean end; below 0 it failed.
  int code = EXIT_OK;
  if (fuse_set_signal_handlers(session) != 0 || fuse_daemonize(request.foreground ? 1 : 0) != 0 ||
      fuse_loop_mt(fuse, 0) < 0) {
    Complain("the mount on " + QuotedPath(mountPoint) + " failed while it served");
    code = EXIT_WRITE;
  }
  fuse_remove_signal_handlers(session);
  fuse_unmount(fuse);
  fuse_destroy(fuse);
  return code;
}

}  // namespace

int RunMount(const PackToolRequest& request) {
  uint64_t size = 0;
  if (PlatformPathKind(request.mountPoint.c_str(), &size) != PlatformNameKind::Folder) {
    Complain(QuotedPath(request.mountPoint) + ": no such folder to mount on");
    return EXIT_TARGET_REFUSED;
  }
  Mount mount(request.cacheMegabytes << 20);
  for (const std::string& path : request.archives) {
    int code = AddArchive(mount, path, request.archives.size() > 1);
    if (code != EXIT_OK) return code;
  }
  return Serve(mount, request);
}
