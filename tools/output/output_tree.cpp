#include "tools/output/output_tree.h"

#include <algorithm>
#include <cstring>

#include "platform/staged_file.h"
#include "tools/cli/cli.h"
#include "tools/output/leftovers.h"
#include "tools/text/text.h"

namespace {

// Names tried for a file being written beside its target; each one left
// behind by an ended run costs one more try.
constexpr int STAGED_TRIES = 1000;

// A batch is placed when it holds this many files, bytes or open folders,
// whichever comes first: the files stay below what an interrupt can remove,
// the bytes bound what waits in the system's cache, and the folders what
// the process holds open.
constexpr size_t BATCH_FILES = 4000;
constexpr uint64_t BATCH_BYTES = uint64_t(64) << 20;
constexpr size_t BATCH_FOLDERS = 256;
static_assert(BATCH_FILES <= size_t(PLATFORM_INTERRUPT_FILES));

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

  std::vector<std::string> names;  // of the folders below the user's
  uint64_t volume = UINT64_MAX;    // of the deepest folder; UINT64_MAX for the user's folder

  ~Way() { Close(names, false); }
  // Closes them, deepest first; removeMade: removes those made (when empty).
  // Those made leave the interrupt's list before the folder they are in
  // closes.
  void Close(const std::vector<std::string>& names, bool removeMade) {
    for (size_t i = open.size(); i-- > 0;) {
      PlatformFolderClose(open[i]);
      if (i == 0 || !made[i]) continue;
      PlatformKeepFolderOnInterrupt(open[i - 1], names[i - 1].c_str());
      if (removeMade) PlatformFolderRemoveBelow(open[i - 1], names[i - 1].c_str());
    }
    open.clear();
    made.clear();
  }
};

// A file staged and waiting for its batch's move.
struct OutputTree::StagedTarget {
  PlatformStagedFile file;
  Way* way;
  std::vector<std::string> names;  // folders and the file's name
  bool replace;
  uint32_t owner;
  PlatformFileIdentity identity{};
};

OutputTree::OutputTree(const std::string& folder) : folder_(folder.empty() ? "." : folder), shown_(folder) {}

OutputTree::~OutputTree() {
  staged_.clear();
  CloseOpenWays();
  moved_.clear();
}

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
    PlatformFolder above = way->open.back();
    const char* name = folders[i].c_str();
    PlatformFolder below = PlatformFolderOpenBelow(above, name, false, &made, &kind);
    if (below == nullptr && make && kind == PlatformNameKind::Missing) {
      // A folder this run makes is on the interrupt's list before it is
      // made, so that an interrupt leaves it only when it holds files.
      bool listed = PlatformRemoveFolderOnInterrupt(above, name);
      below = PlatformFolderOpenBelow(above, name, true, &made, &kind);
      if (listed && !made) PlatformKeepFolderOnInterrupt(above, name);
    }
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
  std::vector<std::string> target = folders;
  target.push_back(name);
  // Folders a batch holds open are there as they were opened.
  auto open = openWayOf_.find(folders);
  if (open != openWayOf_.end()) return AtTarget(open->second->open.back(), target, replace);
  Way way;
  TreeResult result = Open(folders, false, &way);
  if (result.outcome != TreeOutcome::Written || way.open.size() != folders.size() + 1) return result;
  return AtTarget(way.open.back(), target, replace);
}

bool OutputTree::Holds(const std::vector<std::string>& folders, const std::string& name, const void* bytes,
                       size_t size) const {
  Way way;
  if (Open(folders, false, &way).outcome != TreeOutcome::Written || way.open.size() != folders.size() + 1) {
    return false;
  }
  PlatformFile file = PlatformFileOpenReadBelow(way.open.back(), name.c_str());
  if (file == PLATFORM_FILE_INVALID) return false;
  uint64_t length = 0;
  bool same = PlatformFileSize(file, &length) && length == size;
  std::vector<unsigned char> piece(std::min<size_t>(size, size_t(1) << 20));
  for (size_t at = 0; same && at < size;) {
    uint32_t wanted = uint32_t(std::min(piece.size(), size - at)), done = 0;
    same = PlatformFileReadAt(file, at, piece.data(), wanted, &done) && done == wanted &&
           memcmp(piece.data(), static_cast<const unsigned char*>(bytes) + at, wanted) == 0;
    at += wanted;
  }
  PlatformFileClose(file);
  return same;
}

TreeResult OutputTree::Write(const std::vector<std::string>& folders, const std::string& name, const void* bytes,
                             size_t size, bool replace, uint32_t owner) {
  Fill fill = [&](PlatformStagedFile& file, std::string*) { return file.Write(bytes, size); };
  TreeResult result = Stage(folders, name, fill, size, replace, owner);
  std::vector<TreeResult> placed = Flush();
  if (result.outcome == TreeOutcome::Written && !placed.empty()) result = placed.back();
  std::string error;
  if (!Finish(&error) && result.outcome == TreeOutcome::Written) {
    result.outcome = TreeOutcome::Failed;
    result.error = "the system could not write its folder to the disk: " + error;
  }
  return result;
}

OutputTree::Way* OutputTree::OpenWay(const std::vector<std::string>& folders, TreeResult* result) {
  auto open = openWayOf_.find(folders);
  if (open != openWayOf_.end()) return open->second;
  auto way = std::make_unique<Way>();
  *result = Open(folders, true, way.get());
  if (result->outcome != TreeOutcome::Written) {
    way->Close(folders, true);
    return nullptr;
  }
  way->names = folders;
  PlatformFileIdentity identity{};
  if (!folders.empty() && PlatformNameBelow(way->open[way->open.size() - 2], folders.back().c_str(), &identity) ==
                              PlatformNameKind::Folder) {
    way->volume = identity.volume;
  }
  // Once a run, each folder it writes into loses what killed runs left there.
  if (swept_.insert(folders).second)
    RemoveLeftovers(way->open.back(), Joined(folder_, folders, folders.size()), &leftovers_);
  openFolders_ += way->open.size();
  openWayOf_[folders] = way.get();
  openWays_.push_back(std::move(way));
  return openWays_.back().get();
}

TreeResult OutputTree::Stage(const std::vector<std::string>& folders, const std::string& name, const Fill& fill,
                             uint64_t size, bool replace, uint32_t owner, bool lookFirst) {
  PlatformStagedFile* file = nullptr;
  TreeResult result = Begin(folders, name, replace, owner, &file, lookFirst);
  if (result.outcome != TreeOutcome::Written) return result;
  std::string error;
  bool filled = fill(*file, &error);
  if (!filled && error.empty()) error = file->Error();
  result = End(filled, size);
  if (!filled) result.error = error;
  return result;
}

TreeResult OutputTree::Begin(const std::vector<std::string>& folders, const std::string& name, bool replace,
                             uint32_t owner, PlatformStagedFile** file, bool lookFirst) {
  std::vector<std::string> names = folders;
  names.push_back(name);
  TreeResult result;
  Way* way = OpenWay(folders, &result);
  if (way == nullptr) {
    if (result.path.empty()) result.path = PathOf(names, names.size());
    return result;
  }
  if (lookFirst) {
    result = AtTarget(way->open.back(), names, replace);
    if (result.outcome != TreeOutcome::Written) return result;
  } else {
    result.path = PathOf(names, names.size());
  }
  begun_ = std::make_unique<StagedTarget>();
  begun_->way = way;
  begun_->names = names;
  begun_->replace = replace;
  begun_->owner = owner;
  if (!begun_->file.Create(way->open.back(), StagedPrefix().c_str(), STAGED_TRIES, nextStaged_++)) {
    result.outcome = TreeOutcome::Failed;
    result.error = begun_->file.NoFreeName() ? "no free temporary name beside it" : begun_->file.Error();
    begun_.reset();
    return result;
  }
  *file = &begun_->file;
  return result;
}

TreeResult OutputTree::End(bool keep, uint64_t size) {
  TreeResult result;
  std::unique_ptr<StagedTarget> staged = std::move(begun_);
  result.path = PathOf(staged->names, staged->names.size());
  if (keep && staged->file.Close(&staged->identity)) {
    staged_.push_back(std::move(staged));
    stagedBytes_ += size;
    return result;
  }
  result.outcome = TreeOutcome::Failed;
  result.error = staged->file.Error();
  staged->file.Discard();
  return result;
}

void OutputTree::LetFoldersGo() {
  if (staged_.empty() && begun_ == nullptr) CloseOpenWays();
}

bool OutputTree::Full() const {
  return staged_.size() >= BATCH_FILES || stagedBytes_ >= BATCH_BYTES || openFolders_ >= BATCH_FOLDERS;
}

bool OutputTree::SyncOpenFolders(std::string* error) {
  std::vector<uint64_t> done;
  for (const auto& way : openWays_) {
    if (std::find(done.begin(), done.end(), way->volume) != done.end()) continue;
    done.push_back(way->volume);
    if (!PlatformFileSystemSync(way->open.back())) {
      *error = SystemErrorText();
      return false;
    }
  }
  return true;
}

TreeResult OutputTree::Move(StagedTarget& staged) {
  PlatformFolder folder = staged.way->open.back();
  TreeResult result;
  // What may be replaced is looked at first; without replacing, the move
  // itself leaves anything there as it is, and what it was is asked after.
  if (staged.replace) result = AtTarget(folder, staged.names, true);
  if (result.outcome != TreeOutcome::Written) {
    staged.file.Discard();
    return result;
  }
  bool existed = false;
  if (staged.file.MoveTo(staged.names.back().c_str(), staged.replace, &existed)) {
    written_[{staged.identity.volume, staged.identity.file}] = staged.owner;
    return result;
  }
  result.error = staged.file.Error();
  result.outcome = TreeOutcome::Failed;
  if (!existed) return result;
  // Made meanwhile: say what it is.
  result = AtTarget(folder, staged.names, false);
  if (result.outcome == TreeOutcome::Written) result.outcome = TreeOutcome::Exists;
  return result;
}

std::vector<TreeResult> OutputTree::Flush() {
  std::vector<TreeResult> results;
  std::string error;
  bool durable = staged_.empty() || SyncOpenFolders(&error);
  for (auto& staged : staged_) {
    TreeResult result;
    if (durable) {
      result = Move(*staged);
    } else {
      staged->file.Discard();
      result.outcome = TreeOutcome::Failed;
      result.error = "the system could not write it to the disk: " + error;
    }
    result.path = result.outcome == TreeOutcome::Link ? result.path : PathOf(staged->names, staged->names.size());
    results.push_back(result);
  }
  // The moves are made durable by the next batch's sync or by Finish: a
  // folder on each file system stays open for that.
  for (auto& way : openWays_) {
    bool kept =
        std::any_of(moved_.begin(), moved_.end(), [&](const auto& other) { return other->volume == way->volume; });
    if (durable && !kept) moved_.push_back(std::move(way));
  }
  staged_.clear();
  stagedBytes_ = 0;
  CloseOpenWays();
  return results;
}

bool OutputTree::Finish(std::string* error) {
  bool durable = true;
  for (auto& way : moved_) {
    if (durable && !PlatformFileSystemSync(way->open.back())) {
      *error = SystemErrorText();
      durable = false;
    }
  }
  moved_.clear();
  return durable;
}

// Closes the folders held open, the last opened first, removing those made for
// files that none of them holds now.
void OutputTree::CloseOpenWays() {
  for (size_t i = openWays_.size(); i-- > 0;) {
    if (openWays_[i] != nullptr) openWays_[i]->Close(openWays_[i]->names, true);
  }
  openWays_.clear();
  openWayOf_.clear();
  openFolders_ = 0;
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
    // On the interrupt's list before it is made, to be removed when an
    // interrupt leaves it empty; made meanwhile by another is as good.
    bool listed = PlatformRemoveFolderOnInterrupt(nullptr, folder.c_str());
    if (!PlatformFolderMake(folder.c_str())) {
      std::string why = SystemErrorText();
      if (listed) PlatformKeepFolderOnInterrupt(nullptr, folder.c_str());
      if (PlatformPathKind(folder.c_str(), &size) != PlatformNameKind::Folder) {
        *error = QuotedPath(folder) + ": " + why;
        return false;
      }
    }
    if (made != nullptr) made->push_back(folder);
  }
  return true;
}
