// The folders and files a mount shows: each archive's rows as paths, named
// as extract --all names them, and the entries a damaged index gives no row
// as entry-N.bin, as list and extract show them. Built once before the
// mount is up and only read afterwards, by any number of threads. It holds
// the names and an entry's facts, never its bytes: its size grows with the
// number of rows.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "pack/entry_names.h"

struct MountNode {
  std::string name;  // as the file system shows it
  bool folder = false;
  uint32_t parent = 0;  // the folder that holds it (the root its own)
  // A file: which archive and entry, and what its header says.
  uint32_t archive = 0;
  uint32_t entry = 0;
  uint32_t size = 0;
  bool stored = false;
  std::map<std::string, uint32_t> children;  // a folder's, by name
};

// An entry as the archive's walk found it.
struct MountEntry {
  uint32_t unpackedSize;
  bool stored;
  bool shown = true;  // false: nothing of it was recovered, no file for it
};

// Which row names each entry, where damage broke the archive's order (see
// pack/entry_names.h): a proven row puts it in the tree, a guessed one in a
// folder of its own beside it.
struct MountNaming {
  bool given = false;  // false: row r names entry r
  std::vector<EntryNaming> entries;
};

// One archive as the tree takes it: the rows that are trusted (all of them
// of a sound index) and the entries that are whole in the file.
struct MountSource {
  std::vector<std::string> rows;
  size_t trustedRows = SIZE_MAX;  // the rows of the archive's own index; those after came from other backups
  bool indexSound = true;
  std::vector<MountEntry> entries;
  MountNaming naming;
};

// The kernel's number of a node, and back: the node's number + 1, so that
// the root (node 0) is 1, as FUSE has it.
inline uint64_t MountInode(uint32_t node) {
  return uint64_t(node) + 1;
}
inline uint32_t MountNodeOf(uint64_t inode) {
  return uint32_t(inode - 1);
}

class MountTree {
 public:
  MountTree();

  // A folder below the root named after the archive's file, made unique
  // with "-2", "-3", ... when several archives share a name.
  uint32_t AddArchiveFolder(const std::string& fileName);
  // The files of source number `archive` below folder: row r names entry r
  // where the archive holds it whole; of a damaged index the entries past
  // its trusted rows follow as entry-N.bin. A row that gives no safe path,
  // or whose path another row took first (or runs through a file), is not
  // shown: *refused gets its message, as extract would say it.
  void AddArchive(uint32_t folder, uint32_t archive, const MountSource& source, std::vector<std::string>* refused);

  // The number of the node named so in a folder, or NONE.
  uint32_t Child(uint32_t folder, const char* name) const;
  const MountNode& Node(uint32_t number) const { return nodes_[number]; }
  size_t NodeCount() const { return nodes_.size(); }
  size_t FileCount() const { return files_; }

  static constexpr uint32_t ROOT = 0;
  static constexpr uint32_t NONE = UINT32_MAX;

 private:
  // The child folder of that name, made when missing; false when a file has
  // the name.
  bool Folder(uint32_t parent, const std::string& name, uint32_t* folder);
  bool AddFile(uint32_t parent, const std::string& name, const MountNode& file);

  std::vector<MountNode> nodes_;
  size_t files_ = 0;
};
