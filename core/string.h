// Strings: 8-bit, NUL-terminated, in the ANSI code page. A String owns its
// block in the string heap and never shares it; a null String reads as "".
// Operations that produce text return a fresh String, handed over by move.
#pragma once

#include <cstddef>

void StringLibraryInit();

class String {
 public:
  String() = default;
  String(const char* text);  // NOLINT(google-explicit-constructor): texts convert like literals
  String(const char* text, size_t length);
  String(const String& other);
  String(String&& other) noexcept;
  String& operator=(const String& other);
  String& operator=(String&& other) noexcept;
  String& operator=(const char* text);
  ~String();

  // Never null: a String that holds nothing reads as "".
  const char* Text() const { return block_ != nullptr ? block_ : ""; }
  size_t Length() const { return length_; }
  bool IsNull() const { return block_ == nullptr; }

  // Room for length bytes plus the terminator, contents undefined; for
  // operations that fill the text in place. Returns null when the heap is out.
  char* Reserve(size_t length);

 private:
  void Assign(const char* text, size_t length);
  void Release();

  char* block_ = nullptr;
  size_t length_ = 0;
};

// Copies value and its terminator into variable's own block.
void StringAssign(String& variable, const char* value);
// Byte-exact and case-sensitive; null counts as "".
bool StringEqual(const char* a, const char* b);
inline bool StringEqual(const String& a, const String& b) { return StringEqual(a.Text(), b.Text()); }
inline bool StringEqual(const String& a, const char* b) { return StringEqual(a.Text(), b); }
