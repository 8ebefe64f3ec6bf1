#include "app/commands.h"

#include <string>

#include "file/file.h"
#include "gadget/gadget.h"
#include "pack/archive.h"
#include "platform/platform.h"
#include "platform/staged_file.h"
#include "requester/requester.h"
#include "window/window.h"

namespace {

const char* const INDEX_FILE = "Index.tmp";
const char* const OWN_FILE_PREFIX = "Wiederherstellung-";
// Names tried for a file of our own in a folder; each one left behind by an
// ended process costs one more try.
constexpr int OWN_FILE_TRIES = 16;

// Makes a new file "Wiederherstellung-<process>-<n>.tmp" in folder (ending in
// a path separator, or "" for the current folder) as file FILE_WORK and names
// it in path. A file that was there is never opened.
bool CreateOwnFile(const std::string& folder, String& path) {
  for (int attempt = 0; attempt < OWN_FILE_TRIES; attempt++) {
    std::string name =
        folder + OWN_FILE_PREFIX + std::to_string(PlatformProcessId()) + "-" + std::to_string(attempt) + ".tmp";
    if (FileCreateNew(FILE_WORK, name.c_str()) != 0) {
      path = name.c_str();
      return true;
    }
  }
  return false;
}

// Writes size bytes to file FILE_WORK, newly made as path, and closes it: true
// when every byte reached the disk, else the file is removed again.
bool WriteAndClose(const String& path, const unsigned char* data, int32_t size) {
  int32_t written = FileWriteData(FILE_WORK, data, size);
  if (FileCloseSynced(FILE_WORK) != 0 && written == (size > 0 ? size : 0)) return true;
  FileDelete(path.Text());
  return false;
}

// Writes the index entry to a new file and names it in path: "Index.tmp" in
// the current folder when there is none and it takes every byte, else a
// fresh name in the user's temporary folder. Only files made here are ever
// written: a file that was there is never opened, emptied or deleted. False
// when neither place took it (a full disk).
bool WriteIndexFile(const unsigned char* entry, int32_t size, String& path) {
  if (FileCreateNew(FILE_WORK, INDEX_FILE) != 0) {
    path = INDEX_FILE;
    if (WriteAndClose(path, entry, size)) return true;
  }
  char folder[1024];
  if (PlatformTempFolder(folder, sizeof folder) == 0) return false;
  return CreateOwnFile(folder, path) && WriteAndClose(path, entry, size);
}

// How much of the index entry just read becomes rows. A damaged index whose
// stream stopped early is trusted only in the lines that lie wholly inside
// what it decoded: the bytes behind them are zeros, each of which would be an
// empty row, and its last line was cut. One that decoded to its end (only its
// checksum is off) has no cut line and lists whole.
int32_t IndexTextSize(const unsigned char* entry, int32_t size) {
  ArchiveEntryInfo info;
  if (size <= 0 || ArchiveLastEntryInfo(&info) == 0 || info.damaged == 0) return size;
  return int32_t(LineTextTrusted(entry, info.decoded, uint32_t(size)));
}

// Reads the index file back, one row per line, then deletes it.
void ListIndexFile(const String& path) {
  if (FileOpenRead(FILE_WORK, path.Text()) != 0) {
    // One redraw at the end instead of one per row: a big index would
    // otherwise take minutes to appear.
    GadgetSetRedraw(LIST_ENTRIES, false);
    while (FileAtEnd(FILE_WORK) == 0) GadgetAddItem(LIST_ENTRIES, -1, FileReadLine(FILE_WORK).Text(), 0, 0);
    GadgetSetRedraw(LIST_ENTRIES, true);
    FileClose(FILE_WORK);
  }
  FileDelete(path.Text());
}

// The rows straight from the index in memory, by the rules the file's lines
// follow: for when no index file could be written.
void ListIndexText(const unsigned char* text, int32_t size) {
  GadgetSetRedraw(LIST_ENTRIES, false);
  std::string row;
  for (size_t at = 0; at < size_t(size > 0 ? size : 0);) {
    size_t length;
    size_t next = LineTextNext(text, size_t(size), at, &length);
    row.assign(reinterpret_cast<const char*>(text + at), length);
    GadgetAddItem(LIST_ENTRIES, -1, row.c_str(), 0, 0);
    at = next;
  }
  GadgetSetRedraw(LIST_ENTRIES, true);
}

}  // namespace

LibrarySteps CommandLibraries() {
  LibrarySteps steps{};
  steps.fileInit = FileLibraryInit;
  steps.windowInit = WindowLibraryInit;
  steps.gadgetInit = GadgetLibraryInit;
  steps.archiveClose = ArchiveClose;
  steps.gadgetEnd = GadgetLibraryEnd;
  steps.windowEnd = WindowLibraryEnd;
  steps.fileEnd = FileLibraryEnd;
  return steps;
}

bool OpenMainWindow() {
  constexpr uint32_t MAIN_WINDOW_FLAGS = WINDOW_CENTER_ON_SCREEN | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  if (WindowOpen(MAIN_WINDOW, 0, 0, 430, 500, "Wiederherstellung", MAIN_WINDOW_FLAGS) == 0) return false;
  GadgetCreateButton(BUTTON_SELECT_BACKUP, 10, 10, 200, 20, "Sicherung ausw\xE4hlen", 0);
  GadgetCreateButton(BUTTON_EXPORT, 220, 10, 200, 20, "Datei exportieren", 0);
  GadgetCreateListView(LIST_ENTRIES, 10, 40, 410, 450, 0);
  // Nothing to export until an index has been listed.
  GadgetDisable(BUTTON_EXPORT, 1);
  return true;
}

CommandState& Commands() {
  static CommandState state;
  return state;
}

int SelectBackup() {
  CommandState& state = Commands();
  state.backupPath = RequestOpenFile("Sicherung ausw\xE4hlen", "Sicherungen\\", "Sicherung|*.zip", 0);
  if (StringEqual(state.backupPath, "")) return 0;
  GadgetClearItems(LIST_ENTRIES);
  if (ArchiveOpen(state.backupPath.Text()) == 0) return 0;
  state.entry = ArchiveNextEntry();
  if (state.entry == nullptr) return 0;
  GadgetDisable(BUTTON_EXPORT, 0);
  // Only an index file this command made is listed and deleted: a file of
  // that name that was there before belongs to the user. Where none can be
  // written at all (a full disk), the rows come from the index in memory.
  String indexPath;
  int32_t textSize = IndexTextSize(state.entry, ArchiveEntrySize());
  if (WriteIndexFile(state.entry, textSize, indexPath)) {
    ListIndexFile(indexPath);
  } else {
    ListIndexText(state.entry, textSize);
  }
  return 0;
}

int ExportEntry() {
  CommandState& state = Commands();
  intptr_t row = GadgetGetState(LIST_ENTRIES);
  // Without a selected row there is no entry to write.
  if (row < 0) return 0;
  String proposed = GadgetGetItemText(LIST_ENTRIES, row, 0);
  state.exportPath = RequestSaveFile("Datei speichern", proposed, "", 0);
  if (StringEqual(state.exportPath, "")) return 0;
  if (ArchiveOpen(state.backupPath.Text()) == 0) return 0;
  // Row r names entry r: pass the r entries before it without reading their
  // data, so the cost is that of entry r alone.
  state.entry = nullptr;
  for (state.counter = 1; state.counter <= row; state.counter++) {
    if (ArchiveSkipEntry() == 0) return 0;
  }
  state.entry = ArchiveNextEntry();
  if (state.entry == nullptr) return 0;
  // Of a damaged entry only what its stream really decoded is written: the
  // zeros standing for the rest were never in the backup.
  int32_t size = ArchiveEntrySize();
  ArchiveEntryInfo info;
  if (ArchiveLastEntryInfo(&info) != 0 && info.damaged != 0) size = int32_t(info.decoded);
  // The entry goes to a new file in the target's folder, which takes the
  // target's place only once every byte is on the disk: a full disk or a
  // medium pulled out leaves the user's file as it was, and no cut-short file
  // under the name chosen. The save dialog has asked before replacing.
  PlatformStagedFile staged;
  bool existed = false;
  if (staged.CreateBeside(state.exportPath.Text(), OWN_FILE_PREFIX, OWN_FILE_TRIES) &&
      staged.Write(state.entry, size_t(size > 0 ? size : 0))) {
    staged.PlaceBeside(true, &existed);
  }
  return 0;
}
