// Figures for the restore tool's two commands, measured on the real window:
//  - listing: from the command's start to the painted list, for indexes of
//    100,000 and 1,000,000 rows;
//  - export: the first entry against the last entry of a large archive.
// The two requesters are replaced by a stand-in that answers with a path.
//
//   app_bench [ROWS...]          (default 100000 1000000)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/commands.h"
#include "core/startup.h"
#include "file/file.h"
#include "gadget/gadget.h"
#include "pack/archive.h"
#include "requester/requester.h"
#include "tests/support/pack_writer.h"
#include "window/window.h"

namespace {

std::string answer;

double Now() {
  LARGE_INTEGER count, frequency;
  QueryPerformanceCounter(&count);
  QueryPerformanceFrequency(&frequency);
  return double(count.QuadPart) / double(frequency.QuadPart);
}

// Lets the window handle what is waiting, painting included.
void Pump() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

void ListRows(long rows) {
  std::string index;
  index.reserve(size_t(rows) * 40);
  for (long row = 0; row < rows; row++) {
    index += "C:\\Daten\\Ordner " + std::to_string(row % 977) + "\\Datei " + std::to_string(row) + ".txt\r\n";
  }
  // A name of its own per size: the reader keeps the last archive open.
  std::string path = "list_bench_" + std::to_string(rows) + ".zip";
  WriteArchive(path, {StoredEntry(std::vector<uint8_t>(index.begin(), index.end()))});
  answer = path;
  Pump();
  double start = Now();
  SelectBackup();
  HWND window = WindowGet(MAIN_WINDOW)->window;
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  Pump();
  double seconds = Now() - start;
  long listed = long(SendMessageA(GetDlgItem(window, int(LIST_ENTRIES)), LB_GETCOUNT, 0, 0));
  printf("list: %ld rows (%.1f MB index) listed and painted in %.3f s (%.2f us per row)\n", listed,
         double(index.size()) / 1e6, seconds, seconds * 1e6 / double(rows));
  ArchiveClose();
  DeleteFileA(path.c_str());
}

double ExportRow(long row) {
  SendMessageA(GetDlgItem(WindowGet(MAIN_WINDOW)->window, int(LIST_ENTRIES)), LB_SETCURSEL, WPARAM(row), 0);
  answer = "export_bench.bin";
  double start = Now();
  ExportEntry();
  double seconds = Now() - start;
  DeleteFileA("export_bench.bin");
  return seconds;
}

void WriteEntry(FILE* f, const PackEntry& entry) {
  std::vector<uint8_t> bytes;
  AppendRawEntry(bytes, uint32_t(entry.data.size()), uint32_t(EntryBytes(entry).size()), EntryBytes(entry));
  fwrite(bytes.data(), 1, bytes.size(), f);
}

void ExportFirstAndLast(long entries, size_t entrySize) {
  // Entries written straight to the file: the archive is bigger than we want to hold.
  FILE* f = fopen("export_bench.zip", "wb");
  std::string index;
  for (long row = 0; row < entries; row++) index += "C:\\Daten\\Datei " + std::to_string(row) + ".bin\r\n";
  WriteEntry(f, StoredEntry(std::vector<uint8_t>(index.begin(), index.end())));
  std::vector<uint8_t> data(entrySize);
  for (size_t i = 0; i < entrySize; i++) data[i] = uint8_t(i * 31 / 7);
  PackEntry stored = StoredEntry(data);
  PackEntry packed = CompressedEntry(data);
  for (long row = 1; row < entries; row++) WriteEntry(f, row % 2 ? packed : stored);
  long long size = _ftelli64(f);
  fclose(f);
  answer = "export_bench.zip";
  SelectBackup();
  long listed = long(SendMessageA(GetDlgItem(WindowGet(MAIN_WINDOW)->window, int(LIST_ENTRIES)), LB_GETCOUNT, 0, 0));
  if (listed != entries) printf("export: only %ld of %ld rows listed\n", listed, entries);
  double first = 1e9, last = 1e9;
  for (int round = 0; round < 3; round++) {
    first = std::min(first, ExportRow(1));
    last = std::min(last, ExportRow(entries - 1));
  }
  printf("export: archive of %ld entries, %.0f MB: first entry %.2f ms, last entry %.2f ms (ratio %.1f)\n",
         entries, double(size) / 1e6, first * 1e3, last * 1e3, last / first);
  ArchiveClose();
  DeleteFileA("export_bench.zip");
}

}  // namespace

String RequestOpenFile(const String&, const String&, const String&, int32_t) {
  return String(answer.c_str());
}

String RequestSaveFile(const String&, const String&, const String&, int32_t) {
  return String(answer.c_str());
}

int main(int argc, char** argv) {
  LibrarySteps steps = CommandLibraries();
  RuntimeStartUp(steps);
  if (!OpenMainWindow()) return 1;
  std::vector<long> sizes;
  for (int i = 1; i < argc; i++) sizes.push_back(atol(argv[i]));
  if (sizes.empty()) sizes = {100000, 1000000};
  for (long rows : sizes) ListRows(rows);
  ExportFirstAndLast(20000, 16384);
  RuntimeShutDown(steps);
  return 0;
}
