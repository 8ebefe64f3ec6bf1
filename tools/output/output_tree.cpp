#include "tools/output/output_tree.h"

#include "tools/cli/report.h"
#include "tools/host.h"

namespace {

// PlatformFileWrite takes a 32-bit count; large files go out in pieces.
constexpr size_t WRITE_PIECE = size_t(1) << 30;

std::string Joined(const std::string& base, const std::vector<std::string>& names, size_t count) {
  std::string path = base;
  for (size_t i = 0; i < count; i++) path = HostJoinPath(path, names[i]);
  return path;
}

// A new file of its own below folder, under a name no other file has.
PlatformFile CreateTemporary(PlatformFolder folder, std::string* name, std::string* error) {
  for (int attempt = 0; attempt < 1000; attempt++) {
    *name = ".packtool-" + std::to_string(PlatformProcessId()) + "-" + std::to_string(attempt) + ".tmp";
    PlatformFile file = PlatformFileCreateNewBelow(folder, name->c_str());
    if (file != PLATFORM_FILE_INVALID) return file;
    *error = HostErrorText();
    PlatformFileIdentity ignored;
    if (PlatformNameBelow(folder, name->c_str(), &ignored) == PlatformNameKind::Missing) return PLATFORM_FILE_INVALID;
  }
  *error = "no free temporary name beside it";
  return PLATFORM_FILE_INVALID;
}

bool WriteAll(PlatformFile file, const void* bytes, size_t size, std::string* error) {
  const char* at = static_cast<const char*>(bytes);
  while (size > 0) {
    uint32_t piece = uint32_t(size < WRITE_PIECE ? size : WRITE_PIECE);
    uint32_t done = 0;
    if (!PlatformFileWrite(file, at, piece, &done) || done == 0) {
      *error = HostErrorText();
      return false;
    }
    at += done;
    size -= done;
  }
  return true;
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
    result.error = QuotedPath(folder_) + ": " + HostErrorText();
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
      result.error = QuotedPath(PathOf(folders, i + 1)) + (noFolder ? " is not a folder" : ": " + HostErrorText());
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
  std::string temporary;
  PlatformFile file = CreateTemporary(folder, &temporary, &result.error);
  if (file == PLATFORM_FILE_INVALID) {
    result.outcome = TreeOutcome::Failed;
    return result;
  }
  std::vector<std::string> temporaryNames = names;
  temporaryNames.back() = temporary;
  HostPendingTemporary(Joined(folder_, temporaryNames, temporaryNames.size()));
  PlatformFileIdentity identity{};
  bool complete = WriteAll(file, bytes, size, &result.error);
  if (complete && !PlatformFileSync(file)) {
    result.error = HostErrorText();
    complete = false;
  }
  if (complete && !PlatformFileIdentityOf(file, &identity)) {
    result.error = HostErrorText();
    complete = false;
  }
  PlatformFileClose(file);
  bool existed = false;
  if (complete && !PlatformFileMoveBelow(folder, temporary.c_str(), names.back().c_str(), replace, &existed)) {
    result.error = HostErrorText();
    complete = false;
  }
  if (!complete) PlatformFileDeleteBelow(folder, temporary.c_str());
  HostPendingTemporary("");
  if (complete) {
    written_[{identity.volume, identity.file}] = owner;
    return result;
  }
  result.outcome = TreeOutcome::Failed;
  if (!existed) return result;
  // Made meanwhile: say what it is.
  result = AtTarget(folder, names, false);
  if (result.outcome == TreeOutcome::Written) result.outcome = TreeOutcome::Exists;
  return result;
}
