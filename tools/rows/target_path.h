// Where extract puts a row's entry. A row's text is a Windows path as the
// backup saw it ("C:\Daten\Brief.txt"); it comes from the archive, so it is
// untrusted: nothing it says may lead outside the folder the user chose.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct TargetPath {
  std::vector<std::string> folders;  // below the extraction folder, outermost first
  std::string name;
};

// The file name alone: the text after its last backslash (or slash).
// Returns why the text gives no safe name, or null when it gives one. Names
// come back with control bytes and the bytes Windows-1252 leaves undefined
// as "_", so that none reaches a file name raw.
// A name longer than the file system takes (255 bytes of UTF-8 on Linux,
// 255 letters on Windows) comes back shortened: its start, "~" and eight
// hex digits of a hash of the whole name, and its extension.
// windowsNames also refuses the device names of Windows (CON, NUL, COM1, ...).
const char* TargetFromRowName(std::string_view rowText, bool windowsNames, std::string* name);

// The whole path, made relative: a drive letter and leading separators are
// dropped, empty and "." parts skipped; a ".." part refuses the row instead of
// being resolved, since it can only be there to climb out.
const char* TargetFromRowPath(std::string_view rowText, bool windowsNames, TargetPath* path);
