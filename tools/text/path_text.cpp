#include "tools/text/path_text.h"

#include "tools/text/text_encoding.h"

#ifdef _WIN32

bool IsPathSeparator(char c) {
  return c == '\\' || c == '/';
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  char last = folder.back();
  if (IsPathSeparator(last) || (last == ':' && folder.size() == 2)) return folder + name;
  return folder + "\\" + name;
}

size_t FirstFolderStart(const std::string& path) {
  if (path.size() >= 2 && IsPathSeparator(path[0]) && IsPathSeparator(path[1])) {
    size_t at = 2;
    for (int part = 0; part < 2; part++) {
      while (at < path.size() && !IsPathSeparator(path[at])) at++;
      if (at < path.size()) at++;
    }
    return at;
  }
  size_t at = path.size() >= 2 && path[1] == ':' ? 2 : 0;
  if (at < path.size() && IsPathSeparator(path[at])) at++;
  return at;
}

std::string FileNameText(std::string_view text) {
  // File names go to the ANSI functions, as the restore tool's do.
  return FileNameBytes(text);
}

#else

bool IsPathSeparator(char c) {
  return c == '/';
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

size_t FirstFolderStart(const std::string&) {
  return 0;
}

std::string FileNameText(std::string_view text) {
  // Whatever the locale: a name written in raw 1252 under LC_ALL=C would be
  // a different, unreadable name to every UTF-8 program that lists it.
  return Windows1252ToUtf8(FileNameBytes(text));
}

#endif
