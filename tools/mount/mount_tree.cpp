#include "tools/mount/mount_tree.h"

#include <algorithm>

#include "tools/rows/rows.h"
#include "tools/text/text.h"

MountTree::MountTree() {
  nodes_.emplace_back();
  nodes_[ROOT].folder = true;
}

bool MountTree::Folder(uint32_t parent, const std::string& name, uint32_t* folder) {
  auto found = nodes_[parent].children.find(name);
  if (found != nodes_[parent].children.end()) {
    *folder = found->second;
    return nodes_[found->second].folder;
  }
  MountNode node;
  node.name = name;
  node.folder = true;
  node.parent = parent;
  *folder = uint32_t(nodes_.size());
  nodes_.push_back(std::move(node));
  nodes_[parent].children.emplace(name, *folder);
  return true;
}

bool MountTree::AddFile(uint32_t parent, const std::string& name, const MountNode& file) {
  if (nodes_[parent].children.count(name) != 0) return false;
  nodes_[parent].children.emplace(name, uint32_t(nodes_.size()));
  nodes_.push_back(file);
  nodes_.back().name = name;
  nodes_.back().parent = parent;
  files_++;
  return true;
}

uint32_t MountTree::AddArchiveFolder(const std::string& fileName) {
  std::string name = fileName;
  for (int n = 2; nodes_[ROOT].children.count(name) != 0; n++) name = fileName + "-" + std::to_string(n);
  uint32_t folder = ROOT;
  Folder(ROOT, name, &folder);
  return folder;
}

void MountTree::AddArchive(uint32_t folder, uint32_t archive, const MountSource& source,
                           std::vector<std::string>* refused) {
  const std::vector<std::string>& rows = source.rows;
  // Named as extract names them, in its order: the first row to name a path has it.
  RowTargets targets(rows, false, WINDOWS_NAMES);
  RowTargets guessedTargets(rows, false, WINDOWS_NAMES);
  uint32_t unproven = NONE;
  auto add = [&](uint32_t entry, uint32_t row, bool guess) {
    if (!source.entries[entry].shown) return;
    MountNode file;
    file.archive = archive;
    file.entry = entry;
    file.size = source.entries[entry].unpackedSize;
    file.stored = source.entries[entry].stored;
    RowTarget target = (guess ? guessedTargets : targets).Claim(row);
    if (target.clash != TargetClash::None) {
      refused->push_back(RowName(row, rows) + ": not shown: " + TargetClashSaid(target, RowName(target.other, rows)));
      return;
    }
    uint32_t parent = folder;
    if (guess) {
      if (unproven == NONE && !Folder(folder, UNPROVEN_FOLDER, &unproven)) return;
      parent = unproven;
    }
    // The targets' claims keep files and folders apart, so these hold.
    for (const std::string& part : target.folders) {
      if (!Folder(parent, part, &parent)) return;
    }
    AddFile(parent, target.name, file);
  };
  if (source.naming.given) {
    for (uint32_t entry = 0; entry < source.entries.size(); entry++) {
      EntryNaming naming = entry < source.naming.entries.size() ? source.naming.entries[entry] : EntryNaming{};
      if (naming.from != NameFrom::None && naming.row < rows.size()) {
        add(entry, naming.row, naming.from == NameFrom::Guess);
      } else if (!source.indexSound && entry >= rows.size()) {
        // (An entry numbered among the rows other backups added has no
        // entry-N.bin name that stays clear of theirs: not shown.)
        add(entry, entry, false);
      }
    }
    return;
  }
  uint32_t named = uint32_t(std::min(rows.size(), source.entries.size()));
  for (uint32_t entry = 0; entry < named; entry++) add(entry, entry, false);
  if (source.indexSound) return;
  for (uint32_t entry = named; entry < source.entries.size(); entry++) add(entry, entry, false);
}

uint32_t MountTree::Child(uint32_t folder, const char* name) const {
  const MountNode& node = nodes_[folder];
  if (!node.folder) return NONE;
  auto found = node.children.find(name);
  return found != node.children.end() ? found->second : NONE;
}
