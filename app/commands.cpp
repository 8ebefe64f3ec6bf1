#include "app/commands.h"

#include "file/file.h"
#include "gadget/gadget.h"
#include "pack/archive.h"
#include "requester/requester.h"
#include "window/window.h"

namespace {

const char* const INDEX_FILE = "Index.tmp";

// Writes the index entry to the temporary file. True only when this command
// created the file and every byte was accepted; a partial file it made is
// removed again.
bool WriteIndexFile(const unsigned char* entry, int32_t size) {
  if (FileCreate(FILE_WORK, INDEX_FILE) == 0) return false;
  int32_t written = FileWriteData(FILE_WORK, entry, size);
  FileClose(FILE_WORK);
  if (written == size) return true;
  FileDelete(INDEX_FILE);
  return false;
}

// Reads the temporary file back, one row per line, then deletes it.
void ListIndexFile() {
  if (FileOpenRead(FILE_WORK, INDEX_FILE) != 0) {
    // One redraw at the end instead of one per row: a big index would
    // otherwise take minutes to appear.
    GadgetSetRedraw(LIST_ENTRIES, false);
    while (FileAtEnd(FILE_WORK) == 0) GadgetAddItem(LIST_ENTRIES, -1, FileReadLine(FILE_WORK).Text(), 0, 0);
    GadgetSetRedraw(LIST_ENTRIES, true);
    FileClose(FILE_WORK);
  }
  FileDelete(INDEX_FILE);
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
  constexpr uint32_t MAIN_WINDOW_FLAGS = 0xCA0001;  // centred; caption, system menu, minimize box
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
  // Only an index file this command wrote is listed and deleted: a file of
  // that name that was there before belongs to the user.
  // A damaged index lists what its stream decoded, up to its last whole
  // line, as packtool does: the zeros after the cut are no rows, and a header
  // claiming far more than its stream gives must cost what the stream gives.
  ArchiveEntryInfo info{};
  ArchiveLastEntryInfo(&info);
  size_t listed = info.damaged ? LineTextWholeLines(state.entry, info.decoded) : info.decoded;
  if (!WriteIndexFile(state.entry, int32_t(listed))) return 0;
  ListIndexFile();
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
  FileCreate(FILE_WORK, state.exportPath.Text());
  FileWriteData(FILE_WORK, state.entry, ArchiveEntrySize());
  FileClose(FILE_WORK);
  return 0;
}
