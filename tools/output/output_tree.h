// Files written below the folder the user chose, as extract and rescue
// write them. Below that folder, every folder and file is reached one name at
// a time without following a symbolic link, a junction or any other reparse
// point: a row whose way holds one is refused, so nothing outside the folder
// is written or replaced. (The folder itself may be a link: the user named
// it.) A file written in this run is known by its identity on the disk, so
// that no name the file system takes for it (case folded, trailing dots or
// spaces dropped, a short alias) can replace it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "platform/staged_file.h"

enum class TreeOutcome {
  Written,    // written (Check: may be written)
  Exists,     // a file that was there before the run is in the way and replace was not given
  OfThisRun,  // the name leads to a file this run wrote (owner says for whom)
  Link,       // a link or reparse point on the way (path names it)
  NotAFile,   // a folder or something else that is no file is in the target's place
  Failed,     // the system failed the call (error says why)
};

// What a message says after the quoted path of a link met on the way.
constexpr const char* LINK_REFUSED =
    " is a symbolic link, junction or other reparse point; nothing is written through it";

struct TreeResult {
  TreeOutcome outcome = TreeOutcome::Written;
  std::string path;  // the target, or the link met on the way
  uint32_t owner = 0;
  std::string error;
  bool making = false;  // Failed on making a folder
};

class OutputTree {
 public:
  // folder: the user's folder, "" for the working folder.
  explicit OutputTree(const std::string& folder);
  // Staged files not flushed are removed.
  ~OutputTree();

  // What writing name below folders would meet, without making or changing
  // anything: Written when nothing stands in the way (also when the folders
  // are missing, or cannot be made: Write says so).
  TreeResult Check(const std::vector<std::string>& folders, const std::string& name, bool replace) const;
  // Whether the file name below folders (reached as writes reach it) holds
  // exactly size bytes and they are these: a file a run before wrote.
  bool Holds(const std::vector<std::string>& folders, const std::string& name, const void* bytes, size_t size) const;
  // Makes the missing folders and writes the file, complete or not at all:
  // it is written under a temporary name beside the target, through to the
  // disk, then moved into place. replace: a file that was there before the
  // run is replaced. Folders made for a write that failed are removed again.
  // owner: said of the file when a later write is led to it. Places what
  // was staged before it too.
  TreeResult Write(const std::vector<std::string>& folders, const std::string& name, const void* bytes, size_t size,
                   bool replace, uint32_t owner);

  // Write in two steps, so that the disk is paid once per batch and not
  // once per file. Stage makes the missing folders and writes the file under
  // a temporary name beside its target (fill writes its size bytes into the
  // open file, or says why not in *error); Written means staged. Flush makes
  // every staged file durable at once, moves each onto its target in the
  // order staged (what stands there is checked again first) and gives each
  // one's result in that order. A crash before the sync leaves the targets
  // as they were and staged files named .packtool-*; after it, each target
  // either as it was or complete; after Finish, all of them complete.
  // lookFirst false: the caller looked at the target just before (Check),
  // and staging does not look again; the move still does what it must.
  using Fill = std::function<bool(PlatformStagedFile& file, std::string* error)>;
  TreeResult Stage(const std::vector<std::string>& folders, const std::string& name, const Fill& fill, uint64_t size,
                   bool replace, uint32_t owner, bool lookFirst = true);
  std::vector<TreeResult> Flush();
  // Makes the moves of every batch placed durable (each batch's sync makes
  // the moves of the batches before it durable too); false with *error when
  // the system could not. The files are complete where they stand either
  // way: only a crash before it may lose their names.
  bool Finish(std::string* error);
  // Stage in steps, for bytes that come as they are read: Begin stages as
  // Stage does and gives the staged file, open and empty, in *file; End
  // then closes and keeps it (keep) or removes it. One at a time.
  TreeResult Begin(const std::vector<std::string>& folders, const std::string& name, bool replace, uint32_t owner,
                   PlatformStagedFile** file, bool lookFirst = true);
  TreeResult End(bool keep, uint64_t size);
  // Lets the folders held for files to come go, when no file is staged in
  // them: after the caller removed the folder the tree writes below (it
  // was empty), the next write opens it again instead of writing into the
  // removed one.
  void LetFoldersGo();
  // The staged files of ended runs removed from the folders written into
  // (see leftovers.h), as paths.
  const std::vector<std::string>& LeftoversRemoved() const { return leftovers_; }
  // How many files are staged; Full says that they are to be placed now, so
  // that a long run does not hold them all.
  size_t Staged() const { return staged_.size(); }
  bool Full() const;

  // The path of folders/name (the first `count` names of them) for messages.
  std::string PathOf(const std::vector<std::string>& names, size_t count) const;

 private:
  using Identity = std::pair<uint64_t, uint64_t>;
  struct Way;
  struct StagedTarget;

  // Opens the folder and the folders below it, making the missing ones with
  // make; without, it stops at the first that is missing.
  TreeResult Open(const std::vector<std::string>& folders, bool make, Way* way) const;
  // What is in the place of the last of names, below folder.
  TreeResult AtTarget(PlatformFolder folder, const std::vector<std::string>& names, bool replace) const;
  // The folders to a target, held open from its staging to its move.
  Way* OpenWay(const std::vector<std::string>& folders, TreeResult* result);
  // Moves one staged file onto its target.
  TreeResult Move(StagedTarget& file);
  // Syncs the file systems the folders held open are on; false with *error.
  bool SyncOpenFolders(std::string* error);
  void CloseOpenWays();

  std::string folder_;
  std::string shown_;
  std::map<Identity, uint32_t> written_;
  std::vector<std::unique_ptr<Way>> openWays_;  // in the order opened
  std::map<std::vector<std::string>, Way*> openWayOf_;
  std::vector<std::unique_ptr<StagedTarget>> staged_;
  std::unique_ptr<StagedTarget> begun_;
  std::vector<std::unique_ptr<Way>> moved_;  // one per file system whose moves are not yet durable
  uint64_t stagedBytes_ = 0;
  size_t openFolders_ = 0;
  uint32_t nextStaged_ = 0;
  std::set<std::vector<std::string>> swept_;  // the folders whose leftovers were removed
  std::vector<std::string> leftovers_;        // the number the next staged name starts from
};

// Makes the folder path and the folders above it that are missing, following
// links (the user named it); adds those it made to *made (outermost first),
// also when it fails part way. *error says why it failed, for a message.
bool MakeFolders(const std::string& path, std::string* error, std::vector<std::string>* made = nullptr);
