#include "core/string.h"

#include <cstring>
#include <utility>

#include "platform/platform.h"

namespace {
PlatformHeap stringHeap;

PlatformHeap StringHeap() {
  // Strings may be made before the start-up step (static texts in tests).
  if (stringHeap == nullptr) StringLibraryInit();
  return stringHeap;
}
}  // namespace

void StringLibraryInit() {
  // Lives until the process ends; used from one thread only.
  if (stringHeap == nullptr) stringHeap = PlatformHeapCreate(false, 4096);
}

String::String(const char* text) {
  if (text != nullptr) Assign(text, strlen(text));
}

String::String(const char* text, size_t length) {
  Assign(text != nullptr ? text : "", text != nullptr ? length : 0);
}

String::String(const String& other) {
  if (!other.IsNull()) Assign(other.block_, other.length_);
}

String::String(String&& other) noexcept
    : block_(std::exchange(other.block_, nullptr)), length_(std::exchange(other.length_, 0)) {}

String& String::operator=(const String& other) {
  if (this != &other) Assign(other.Text(), other.length_);
  return *this;
}

String& String::operator=(String&& other) noexcept {
  if (this != &other) {
    Release();
    block_ = std::exchange(other.block_, nullptr);
    length_ = std::exchange(other.length_, 0);
  }
  return *this;
}

String& String::operator=(const char* text) {
  StringAssign(*this, text);
  return *this;
}

String::~String() {
  Release();
}

char* String::Reserve(size_t length) {
  void* grown = PlatformHeapReAlloc(StringHeap(), block_, length + 1, false);
  if (grown == nullptr) return nullptr;
  block_ = static_cast<char*>(grown);
  block_[length] = '\0';
  length_ = length;
  return block_;
}

void String::Assign(const char* text, size_t length) {
  // text may lie inside our own block: copy it out of the way first.
  if (block_ != nullptr && text >= block_ && text <= block_ + length_) {
    String copy(text, length);
    *this = std::move(copy);
    return;
  }
  char* room = Reserve(length);
  if (room == nullptr) {
    // Out of string memory: the variable reads as "" rather than stale text.
    Release();
    return;
  }
  memcpy(room, text, length);
}

void String::Release() {
  if (block_ != nullptr) PlatformHeapFree(StringHeap(), block_);
  block_ = nullptr;
  length_ = 0;
}

void StringAssign(String& variable, const char* value) {
  const char* text = value != nullptr ? value : "";
  size_t length = strlen(text);
  if (variable.IsNull() || text < variable.Text() || text > variable.Text() + variable.Length()) {
    char* room = variable.Reserve(length);
    if (room == nullptr) {
      variable = String();
      return;
    }
    memcpy(room, text, length);
    return;
  }
  variable = String(text, length);
}

bool StringEqual(const char* a, const char* b) {
  return strcmp(a != nullptr ? a : "", b != nullptr ? b : "") == 0;
}
