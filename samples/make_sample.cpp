// Writes the sample backup Sicherungen/Beispiel.zip: an index and a handful
// of entries, stored and compressed, whose row texts are full Windows paths
// with German file names (Windows-1252). The output is the same on every run.
//
//   make_sample ARCHIVE [ORIGINALS_DIR]
//
// With ORIGINALS_DIR, each entry's bytes are also written there as
// entry_<row>.bin, for tests that compare restored files.
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/pack_writer.h"

namespace {

std::vector<uint8_t> Bytes(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

std::string LetterText() {
  std::string text =
      "Sehr geehrte Frau M\xFCller,\r\n\r\n"
      "anbei die Unterlagen f\xFCr die Pr\xFC" "fung am Montag. Bitte bringen Sie Ihren Ausweis mit.\r\n";
  for (int i = 1; i <= 40; i++) {
    text += "Aufgabe " + std::to_string(i) + ": Erl\xE4utern Sie die Gr\xF6\xDF" "e des Ergebnisses.\r\n";
  }
  text += "\r\nMit freundlichen Gr\xFC\xDF" "en\r\n";
  return text;
}

std::vector<uint8_t> BitmapLikeData() {
  // Long runs and short repeats, as in a simple drawing.
  std::vector<uint8_t> data;
  for (int row = 0; row < 64; row++) {
    for (int x = 0; x < 96; x++) data.push_back(static_cast<uint8_t>((x / 16 + row / 8) % 2 ? 0xFF : 0x20));
    data.push_back(static_cast<uint8_t>(row));
  }
  return data;
}

std::string TableText() {
  std::string text = "Monat;Einnahmen;Ausgaben\r\n";
  const char* months[] = {"Januar", "Februar", "M\xE4rz", "April", "Mai", "Juni"};
  for (int i = 0; i < 6; i++) {
    text += std::string(months[i]) + ";" + std::to_string(1000 + 37 * i) + ";" + std::to_string(800 + 53 * i) + "\r\n";
  }
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: make_sample ARCHIVE [ORIGINALS_DIR]\n");
    return 2;
  }
  const char* rows[] = {
      "C:\\Sicherung\\Inhalt.txt",
      "C:\\Dokumente\\Pr\xFC" "fung.txt",
      "C:\\Dokumente\\Brief an M\xFCller.txt",
      "C:\\Bilder\\Gr\xFC\xDF" "e.bmp",
      "C:\\Dokumente\\Leer.txt",
      "C:\\Tabellen\\\xDC" "bersicht.csv",
  };
  std::string index;
  for (const char* row : rows) index += std::string(row) + "\r\n";

  std::vector<PackEntry> entries = {
      StoredEntry(Bytes(index)),
      CompressedEntry(Bytes(LetterText())),
      StoredEntry(Bytes("Lieber Herr M\xFCller,\r\nvielen Dank f\xFCr Ihre Nachricht.\r\n")),
      CompressedEntry(BitmapLikeData()),
      StoredEntry({}),
      CompressedEntry(Bytes(TableText())),
  };
  if (!WriteArchive(argv[1], entries)) {
    fprintf(stderr, "make_sample: cannot write %s\n", argv[1]);
    return 1;
  }
  if (argc >= 3) {
    for (size_t row = 0; row < entries.size(); row++) {
      std::string path = std::string(argv[2]) + "/entry_" + std::to_string(row) + ".bin";
      if (!WriteFileBytes(path, entries[row].data)) return 1;
    }
  }
  return 0;
}
