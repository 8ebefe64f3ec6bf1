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

// Fits a path below a folder into room bytes (the folder's own path
// subtracted from what the system takes; 0: no limit), "\\" between its parts,
// the name taking at least nameAtLeast (what is staged beside it first):
// the longest part is shortened as a long name is, and then the next, until
// it fits. Returns why it cannot, or null.
const char* FitTargetPath(TargetPath* path, size_t room, size_t nameAtLeast, bool windowsNames);

// The room a path below folder has on this system (for FitTargetPath): on
// Windows what MAX_PATH leaves after the folder's whole path; 0 elsewhere,
// where the files are reached one folder below the other, so that no path
// is too long as a whole. reserved: what goes in front of every path (a
// folder of its own and its separator).
size_t TargetPathRoomBelow(const std::string& folder, size_t reserved = 0);
