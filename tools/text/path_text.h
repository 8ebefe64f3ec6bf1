// Paths of this machine as text: how names join, where the folders a path
// names begin, and what bytes a row text gives a file name. The naming rules
// of the two systems, and nothing that asks the system.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

bool IsPathSeparator(char c);
// folder + separator + name; name alone when folder is empty.
std::string JoinPath(const std::string& folder, const std::string& name);
// Where the folders a path names begin: behind "/", and on Windows behind
// "C:\", "\\server\share\" or a leading backslash, which are never made.
size_t FirstFolderStart(const std::string& path);
// A row text (Windows-1252) as a file name on this machine, control and
// undefined bytes made '_': UTF-8 on POSIX whatever the locale, the 1252
// bytes on Windows.
std::string FileNameText(std::string_view text);
