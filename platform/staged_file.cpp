#include "platform/staged_file.h"

namespace {

// PlatformFileWrite takes a 32-bit count; large files go out in pieces.
constexpr size_t WRITE_PIECE = size_t(1) << 30;

std::string SystemError() {
  char text[512];
  size_t length = PlatformErrorText(text, sizeof text);
  return std::string(text, length);
}

}  // namespace

bool PlatformStagedFile::Create(PlatformFolder folder, const char* prefix, int tries, uint32_t first) {
  Discard();
  return Make(folder, prefix, tries, first);
}

bool PlatformStagedFile::Make(PlatformFolder folder, const char* prefix, int tries, uint32_t first) {
  noFreeName_ = false;
  error_.clear();
  static const auto process = PlatformProcessId();  // asked once: a run stages thousands of files
  for (uint32_t attempt = first; attempt - first < uint32_t(tries); attempt++) {
    std::string name = std::string(prefix) + std::to_string(process) + "-" + std::to_string(attempt) + ".tmp";
    // On the interrupt's list before the file is made: an interrupt between
    // the two would leave it behind. A name of this process's that an
    // interrupt removes before it is made costs nothing.
    bool listed = PlatformDeleteOnInterrupt(folder, name.c_str());
    PlatformFile file = PlatformFileCreateNewBelow(folder, name.c_str());
    if (file != PLATFORM_FILE_INVALID) {
      folder_ = folder;
      file_ = file;
      name_ = name;
      interruptRemoves_ = listed;
      return true;
    }
    error_ = SystemError();
    if (listed) PlatformKeepOnInterrupt(folder, name.c_str());
    // Only a name that is taken is worth another try.
    PlatformFileIdentity ignored;
    if (PlatformNameBelow(folder, name.c_str(), &ignored) == PlatformNameKind::Missing) return false;
  }
  error_.clear();
  noFreeName_ = true;
  return false;
}

bool PlatformStagedFile::CreateBeside(const char* target, const char* prefix, int tries) {
  Discard();
  size_t start = PlatformPathNameStart(target);
  std::string folder = start == 0 ? "." : std::string(target, start);
  // "C:name" is in the current folder of drive C.
  if (folder.back() == ':') folder += '.';
  owned_ = PlatformFolderOpen(folder.c_str());
  if (owned_ == nullptr) {
    error_ = SystemError();
    return false;
  }
  target_ = target + start;
  if (Make(owned_, prefix, tries, 0)) return true;
  PlatformFolderClose(owned_);
  owned_ = nullptr;
  return false;
}

bool PlatformStagedFile::Write(const void* data, size_t size) {
  const char* at = static_cast<const char*>(data);
  while (size > 0) {
    uint32_t piece = uint32_t(size < WRITE_PIECE ? size : WRITE_PIECE);
    uint32_t done = 0;
    if (!PlatformFileWrite(file_, at, piece, &done) || done == 0) {
      error_ = SystemError();
      return false;
    }
    at += done;
    size -= done;
  }
  return true;
}

bool PlatformStagedFile::Place(const char* target, bool replace, bool* existed, PlatformFileIdentity* identity) {
  *existed = false;
  if (!PlatformFileSync(file_)) {
    error_ = SystemError();
    Discard();
    return false;
  }
  return Close(identity) && MoveTo(target, replace, existed);
}

bool PlatformStagedFile::Close(PlatformFileIdentity* identity) {
  bool known = identity == nullptr || PlatformFileIdentityBelow(folder_, file_, identity);
  if (!known) {
    error_ = SystemError();
    Discard();
    return false;
  }
  PlatformFileClose(file_);
  file_ = PLATFORM_FILE_INVALID;
  return true;
}

bool PlatformStagedFile::MoveTo(const char* target, bool replace, bool* existed) {
  *existed = false;
  if (!PlatformFileMoveBelow(folder_, name_.c_str(), target, replace, existed)) {
    error_ = SystemError();
    Discard();
    return false;
  }
  Forget();
  name_.clear();
  Discard();
  return true;
}

void PlatformStagedFile::Forget() {
  if (interruptRemoves_) PlatformKeepOnInterrupt(folder_, name_.c_str());
  interruptRemoves_ = false;
}

void PlatformStagedFile::Discard() {
  if (file_ != PLATFORM_FILE_INVALID) PlatformFileClose(file_);
  file_ = PLATFORM_FILE_INVALID;
  if (!name_.empty()) PlatformFileDeleteBelow(folder_, name_.c_str());
  if (!name_.empty()) Forget();
  name_.clear();
  folder_ = nullptr;
  if (owned_ != nullptr) PlatformFolderClose(owned_);
  owned_ = nullptr;
}
