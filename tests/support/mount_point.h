// Whether a folder is a mount point now, as the kernel lists this process's
// mounts (Linux). For the mount's tests and its benchmark.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

inline bool IsMountPoint(const std::filesystem::path& path) {
  std::ifstream mounts("/proc/self/mountinfo");
  std::string line;
  while (std::getline(mounts, line)) {
    if (line.find(" " + path.string() + " ") != std::string::npos) return true;
  }
  return false;
}
