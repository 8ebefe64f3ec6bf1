#include "tools/output/output_tree.h"

#include "platform/staged_file.h"
#include "tools/cli/cli.h"
#include "tools/text/text.h"

namespace {

// Names tried for a file being written beside its target; each one left
// behind by an ended run costs one more try.
const char* const STAGED_PREFIX = ".packtool-";
constexpr int STAGED_TRIES = 1000;

std::string Joined(const std::string& base, const std::vector<std::string>& names, size_t count) {
  std::string path = base;
  for (size_t i = 0; i < count; i++) path = JoinPath(path, names[i]);
  return path;
}

}  // namespace

// The folders opened on the way to a target: the user's folder, then each
// folder below it. They stay open while the target is written, so that none
// of them can be swapped for a link meanwhile.
struct OutputTree::Way {
  std::vector<PlatformFolder> open;
  std::vector<bool> made;  // made[i]: open[i] was made by this write

  ~Way() { Close({}, false); }
  // Closes them, deepest first; removeMade: removes those made (when empty).
  void Close(const std::vector<std::string>& names, bool removeMade) {
    for (size_t i = open.size(); i-- > 0;) {
      PlatformFolderClose(open[i]);
      if (removeMade && i > 0 && made[i]) PlatformFolderRemoveBelow(open[i - 1], names[i - 1].c_str());
    }
    open.clear();
    made.clear();
  }
};

std::string OutputTree::PathOf(const std::vector<std::string>& names, size_t count) const {
  return Joined(shown_, names, count);
}

TreeResult OutputTree::Open(const std::vector<std::string>& folders, bool make, Way* way) const {
  TreeResult result;
  PlatformFolder top = PlatformFolderOpen(folder_.c_str());
  if (top == nullptr) {
    if (!make) return result;  // not there yet: nothing below it stands in the way
    result.outcome = TreeOutcome::Failed;
    result.error = QuotedPath(folder_) + ": " + SystemErrorText();
    return result;
  }
  way->open.push_back(top);
  way->made.push_back(false);
  for (size_t i = 0; i < folders.size(); i++) {
    bool made = false;
    PlatformNameKind kind = PlatformNameKind::Missing;
    PlatformFolder below = PlatformFolderOpenBelow(way->open.back(), folders[i].c_str(), make, &made, &kind);
    if (below != nullptr) {
      way->open.push_back(below);
      way->made.push_back(made);
      continue;
    }
    if (kind == PlatformNameKind::Link) {
      result.outcome = TreeOutcome::Link;
      result.path = PathOf(folders, i + 1);
    } else if (make) {
      result.outcome = TreeOutcome::Failed;
      result.making = true;
      bool noFolder = kind == PlatformNameKind::File || kind == PlatformNameKind::Other;
      result.error = QuotedPath(PathOf(folders, i + 1)) + (noFolder ? " is not a folder" : ": " + SystemErrorText());
    }
    return result;
  }
  return result;
}

TreeResult OutputTree::AtTarget(PlatformFolder folder, const std::vector<std::string>& names, bool replace) const {
  TreeResult result;
  result.path = PathOf(names, names.size());
  PlatformFileIdentity identity{};
  switch (PlatformNameBelow(folder, names.back().c_str(), &identity)) {
    case PlatformNameKind::Missing:
    case PlatformNameKind::Unreadable:  // the write says why
      return result;
    case PlatformNameKind::Link:
      result.outcome = TreeOutcome::Link;
      return result;
    case PlatformNameKind::Folder:
    case PlatformNameKind::Other:
      result.outcome = TreeOutcome::NotAFile;
      return result;
    case PlatformNameKind::File:
      break;
  }
  auto earlier = written_.find({identity.volume, identity.file});
  if (earlier != written_.end()) {
    result.outcome = TreeOutcome::OfThisRun;
    result.owner = earlier->second;
  } else if (!replace) {
    result.outcome = TreeOutcome::Exists;
  }
  return result;
}

TreeResult OutputTree::Check(const std::vector<std::string>& folders, const std::string& name, bool replace) const {
  Way way;
  TreeResult result = Open(folders, false, &way);
  if (result.outcome != TreeOutcome::Written || way.open.size() != folders.size() + 1) return result;
  std::vector<std::string> names = folders;
  names.push_back(name);
  return AtTarget(way.open.back(), names, replace);
}

TreeResult OutputTree::Write(const std::vector<std::string>& folders, const std::string& name, const void* bytes,
                             size_t size, bool replace, uint32_t owner) {
  std::vector<std::string> names = folders;
  names.push_back(name);
  Way way;
  TreeResult result = Open(folders, true, &way);
  if (result.outcome == TreeOutcome::Written) result = Place(way.open.back(), names, bytes, size, replace, owner);
  way.Close(names, result.outcome != TreeOutcome::Written);
  if (result.path.empty()) result.path = PathOf(names, names.size());
  return result;
}

TreeResult OutputTree::Place(PlatformFolder folder, const std::vector<std::string>& names, const void* bytes,
                             size_t size, bool replace, uint32_t owner) {
  TreeResult result = AtTarget(folder, names, replace);
  if (result.outcome != TreeOutcome::Written) return result;
  PlatformStagedFile staged;
  PlatformFileIdentity identity{};
  bool existed = false;
  if (staged.Create(folder, STAGED_PREFIX, STAGED_TRIES) && staged.Write(bytes, size) &&
      staged.Place(names.back().c_str(), replace, &existed, &identity)) {
    written_[{identity.volume, identity.file}] = owner;
    return result;
  }
  result.error = staged.NoFreeName() ? "no free temporary name beside it" : staged.Error();
  result.outcome = TreeOutcome::Failed;
  if (!existed) return result;
  // Made meanwhile: say what it is.
  result = AtTarget(folder, names, false);
  if (result.outcome == TreeOutcome::Written) result.outcome = TreeOutcome::Exists;
  return result;
}

bool MakeFolders(const std::string& path, std::string* error, std::vector<std::string>* made) {
  for (size_t end = FirstFolderStart(path) + 1; end <= path.size(); end++) {
    if (end < path.size() && !IsPathSeparator(path[end])) continue;
    std::string folder = path.substr(0, end);
    uint64_t size = 0;
    PlatformNameKind kind = PlatformPathKind(folder.c_str(), &size);
    if (kind == PlatformNameKind::Folder) continue;
    if (kind != PlatformNameKind::Missing && kind != PlatformNameKind::Unreadable) {
      *error = QuotedPath(folder) + " is not a folder";
      return false;
    }
    // Made meanwhile by another is as good.
    if (!PlatformFolderMake(folder.c_str())) {
      std::string why = SystemErrorText();
      if (PlatformPathKind(folder.c_str(), &size) != PlatformNameKind::Folder) {
        *error = QuotedPath(folder) + ": " + why;
        return false;
      }
    }
    if (made != nullptr) made->push_back(folder);
  }
  return true;
}
