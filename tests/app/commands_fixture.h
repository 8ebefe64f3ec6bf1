// What the command tests share: the libraries started as the program starts
// them, the real main window, a folder of its own for each test as the
// current folder (the index file is made there), and the requesters answered
// by a script.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/commands.h"
#include "core/startup.h"
#include "file/file.h"
#include "gadget/gadget.h"
#include "pack/archive.h"
#include "platform/platform.h"
#include "tests/app/scripted_requester.h"
#include "tests/support/counted_seam.h"
#include "tests/support/pack_writer.h"
#include "tests/support/test_files.h"
#include "window/window.h"

inline std::vector<uint8_t> Text(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

// The names in a folder (pattern as FindFirstFileA takes it), without "." and "..".
inline std::vector<std::string> FolderNames(const std::string& folder, const char* pattern = "*") {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\" + pattern).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    std::string name = found.cFileName;
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return names;
}

class CommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    workFolder_ = std::string(folder) + "restore_commands_" + std::to_string(GetCurrentProcessId()) + "_" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name();
    CreateDirectoryA(workFolder_.c_str(), nullptr);
    GetCurrentDirectoryA(MAX_PATH, folder);
    previousFolder_ = folder;
    SetCurrentDirectoryA(workFolder_.c_str());

    steps_ = CommandLibraries();
    RuntimeStartUp(steps_);
    Script() = RequesterScript{};
    Commands() = CommandState{};
    ASSERT_TRUE(OpenMainWindow());
  }

  void TearDown() override {
    PlatformFileCallsReset();  // a write limit a failed test left
    RuntimeShutDown(steps_);
    SetCurrentDirectoryA(previousFolder_.c_str());
    RemoveFolder(workFolder_);
  }

  // The folder with its files and the files of its subfolders.
  static void RemoveFolder(const std::string& folder) {
    for (const std::string& name : FolderNames(folder)) {
      std::string path = folder + "\\" + name;
      if (!DeleteFileA(path.c_str())) RemoveFolder(path);
    }
    RemoveDirectoryA(folder.c_str());
  }

  HWND Control(int id) { return GetDlgItem(WindowGet(MAIN_WINDOW)->window, id); }

  std::vector<std::string> Rows() {
    std::vector<std::string> rows;
    LRESULT count = SendMessageA(Control(LIST_ENTRIES), LB_GETCOUNT, 0, 0);
    for (LRESULT row = 0; row < count; row++) rows.push_back(GadgetGetItemText(LIST_ENTRIES, row, 0).Text());
    return rows;
  }

  void Select(int row) { SendMessageA(Control(LIST_ENTRIES), LB_SETCURSEL, WPARAM(row), 0); }

  // Lists the archive at path through the command, as a click on button 1.
  void List(const std::string& path) {
    Script().answers.push_back(path);
    SelectBackup();
  }

  // Exports row to target through the command, as a click on button 2.
  void Export(int row, const std::string& target) {
    Select(row);
    Script().answers.push_back(target);
    ExportEntry();
  }

  LibrarySteps steps_{};
  std::string workFolder_;
  std::string previousFolder_;
};

