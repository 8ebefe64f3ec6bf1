// A file that takes its target's place only once it is complete: it is made
// under a name of its own beside the target, written, written through to the
// disk, and then moved onto the target's name, replacing a file there only
// when asked. A full disk, a refused write or an interrupt leave the target
// as it was and no staged file behind. Written once on the seam's calls, for
// both programs and both systems.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/platform.h"

class PlatformStagedFile {
 public:
  PlatformStagedFile() = default;
  PlatformStagedFile(const PlatformStagedFile&) = delete;
  PlatformStagedFile& operator=(const PlatformStagedFile&) = delete;
  ~PlatformStagedFile() { Discard(); }

  // Makes a new, empty file "<prefix><process>-<n>.tmp" below folder, with
  // the first n below tries that names nothing yet; a file that is there is
  // never opened. The folder must stay open until the file is placed or
  // discarded. An interrupt meanwhile removes the file. False when no name
  // was free (NoFreeName) or the system refused (the system's error stands).
  // first: the n to start from (a batch of files staged at once starts each
  // one past the last, instead of passing every name its others took).
  bool Create(PlatformFolder folder, const char* prefix, int tries, uint32_t first = 0);
  // The same in the folder the path target is in, which it holds open;
  // PlaceBeside then puts it in target's place.
  bool CreateBeside(const char* target, const char* prefix, int tries);
  // Writes every byte, in pieces the system takes; false when it could not.
  bool Write(const void* data, size_t size);
  // Writes the file through to the disk, closes it and moves it onto target
  // (a name below the folder). Without replace anything there stays and
  // *existed is set. On any failure the staged file is removed. identity,
  // when given, receives the placed file's identity.
  bool Place(const char* target, bool replace, bool* existed, PlatformFileIdentity* identity = nullptr);
  bool PlaceBeside(bool replace, bool* existed) { return Place(target_.c_str(), replace, existed); }
  // Place in two steps, for a batch of files made durable together
  // (PlatformFileSystemSync) between them: Close closes the file without
  // writing it through, under its staged name; MoveTo then moves it onto
  // target. On a failure of either the staged file is removed.
  bool Close(PlatformFileIdentity* identity);
  bool MoveTo(const char* target, bool replace, bool* existed);
  // Closes and removes the file, unless it was placed.
  void Discard();

  // Why the last call failed: the system's text ("" when every name tried
  // was taken, or a write was cut short without a reason).
  const std::string& Error() const { return error_; }
  bool NoFreeName() const { return noFreeName_; }
  const std::string& Name() const { return name_; }
  // The open file, to be sized or mapped; invalid once closed.
  PlatformFile File() const { return file_; }

 private:
  bool Make(PlatformFolder folder, const char* prefix, int tries, uint32_t first);
  // Takes the staged name off the interrupt's list.
  void Forget();

  PlatformFolder folder_ = nullptr;
  PlatformFolder owned_ = nullptr;  // the folder CreateBeside opened
  PlatformFile file_ = PLATFORM_FILE_INVALID;
  std::string name_;
  std::string target_;  // the name CreateBeside was given, in its folder
  std::string error_;
  bool noFreeName_ = false;
  bool interruptRemoves_ = false;  // the staged name is on the interrupt's list
};
