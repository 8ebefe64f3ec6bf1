#include "tests/support/damaged_archives.h"

#include <algorithm>

#include "tests/support/pack_writer.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Text(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

}  // namespace

Bytes SampleProse(size_t size, uint32_t seed) {
  static const char* WORDS[] = {"Sicherung ", "Datei ", "exportieren ", "\xE4nderung ", "Index ", "\r\n", "0123 "};
  Bytes data;
  uint32_t state = seed * 2654435761u + 1;
  while (data.size() < size) {
    state = state * 1103515245u + 12345u;
    uint32_t pick = (state >> 16) % 9;
    if (pick < 7) {
      for (const char* at = WORDS[pick]; *at != 0 && data.size() < size; at++) data.push_back(uint8_t(*at));
    } else {
      data.push_back(uint8_t(state >> 8));
    }
  }
  return data;
}

Bytes HostileClaimArchive(uint32_t claim) {
  StreamBitWriter bits;
  bits.LiteralWidth(8, 0);
  for (char c : std::string("a\nb\n")) bits.Literal(uint8_t(c), 8);
  bits.EndCode();
  Bytes stream = MakeStream(claim, 0, bits);
  stream.resize(18, 0);
  Bytes archive;
  AppendRawEntry(archive, claim, uint32_t(stream.size()), stream);
  return archive;
}

RescueSample::RescueSample()
    : rows{"C:\\Index.txt", "C:\\Daten\\brief.txt", "C:\\Daten\\tabelle.csv", "C:\\Bilder\\bild.bmp", "C:\\notiz.txt"},
      data{Text("Lieber Herr M\xFCller,\r\n"), SampleProse(3000, 1), SampleProse(5000, 2), Text("eine Notiz")} {
  for (const std::string& row : rows) {
    index.insert(index.end(), row.begin(), row.end());
    index.push_back('\r');
    index.push_back('\n');
  }
}

Bytes RescueSample::Build(bool compressIndex, bool lastCompressed) {
  Bytes archive;
  offsets.clear();
  auto add = [&](const Bytes& bytes, bool compressed) {
    offsets.push_back(archive.size());
    Bytes entry = EntryBytes(compressed ? CompressedEntry(bytes) : StoredEntry(bytes));
    AppendRawEntry(archive, uint32_t(bytes.size()), uint32_t(entry.size()), entry);
  };
  add(index, compressIndex);
  add(data[0], false);
  add(data[1], true);
  add(data[2], true);
  add(data[3], lastCompressed);
  return archive;
}

Bytes RescueSample::BuildWithIndexCut() {
  Bytes stream = EncodeCompressedStream(index.data(), index.size(), EncoderMode::Literals8, true);
  stream.resize(10 + 40);  // the stream header, then 35 literals of 9 bits: rows 0 and 1 and their line ends
  Bytes cut;
  AppendRawEntry(cut, uint32_t(index.size()), uint32_t(stream.size()), stream);
  Bytes rest = Build(true, false);
  cut.insert(cut.end(), rest.begin() + long(offsets[1]), rest.end());
  return cut;
}

RowArchive::RowArchive(size_t rowCount, std::vector<size_t> empty, size_t size, bool compressedIndex) {
  std::string index;
  for (size_t row = 0; row < rowCount; row++) {
    rows.push_back(row == 0 ? "C:\\Index.txt" : "C:\\Fotos\\bild-" + std::to_string(row) + ".txt");
    index += rows.back() + "\r\n";
  }
  data.emplace_back(index.begin(), index.end());
  std::vector<PackEntry> entries{compressedIndex ? CompressedEntry(data[0]) : StoredEntry(data[0])};
  for (size_t entry = 1; entry < rowCount; entry++) {
    bool isEmpty = std::find(empty.begin(), empty.end(), entry) != empty.end();
    data.push_back(isEmpty ? Bytes() : SampleProse(size + entry * 997 % (size / 2), uint32_t(100 + entry)));
    entries.push_back(isEmpty || entry % 3 == 0 ? StoredEntry(data.back()) : CompressedEntry(data.back()));
  }
  for (const PackEntry& entry : entries) {
    offsets.push_back(bytes.size());
    Bytes one = BuildArchive({entry});
    bytes.insert(bytes.end(), one.begin(), one.end());
  }
}

Bytes RowArchive::ZeroedFrom(size_t entry) const {
  Bytes damaged = bytes;
  std::fill(damaged.begin() + long(offsets[entry]), damaged.end(), 0);
  return damaged;
}

Bytes RowArchive::ZeroedBlock(size_t entry) const {
  Bytes damaged = bytes;
  size_t from = offsets[entry] / 4096 * 4096;
  std::fill(damaged.begin() + long(from), damaged.begin() + long(std::min(damaged.size(), from + 4096)), 0);
  return damaged;
}

Bytes RowArchive::ZeroedInside(size_t entry, size_t at, size_t length) const {
  Bytes damaged = bytes;
  size_t from = offsets[entry] + 8 + at;
  std::fill(damaged.begin() + long(from), damaged.begin() + long(from + length), 0);
  return damaged;
}

Bytes RowArchive::BadPackedSize(size_t entry) const {
  Bytes damaged = bytes;
  damaged[offsets[entry] + 6] ^= 0x5A;
  return damaged;
}

Bytes RowArchive::Spoilt(size_t entry) const {
  Bytes damaged = bytes;
  damaged[offsets[entry] + 8 + 30] ^= 0x20;
  return damaged;
}

Bytes RowArchive::CutInside(size_t entry, size_t length) const {
  return Bytes(bytes.begin(), bytes.begin() + long(offsets[entry] + length));
}

Bytes ThrashArchive(size_t size) {
  const uint8_t block[16] = {0x01, 0x00, 0x00, 0x00, 0x01, 0x01, 0x10, 0x00, 'J', 'C', 0, 0, 0, 0, 0, 0};
  Bytes archive(size);
  for (size_t i = 0; i < size; i++) archive[i] = block[i % 16];
  return archive;
}

Bytes RowArchive::ZeroedSector(size_t entry) const {
  size_t from = offsets[entry] / 512 * 512;
  return Zeroed({{from, 512}});
}

Bytes RowArchive::Zeroed(const std::vector<std::pair<size_t, size_t>>& spans) const {
  Bytes damaged = bytes;
  for (const auto& [from, length] : spans) {
    std::fill(damaged.begin() + long(from), damaged.begin() + long(std::min(damaged.size(), from + length)), 0);
  }
  return damaged;
}

std::vector<bool> RowArchive::Touched(const std::vector<std::pair<size_t, size_t>>& spans) const {
  std::vector<bool> touched(offsets.size(), false);
  for (size_t entry = 0; entry < offsets.size(); entry++) {
    size_t end = entry + 1 < offsets.size() ? offsets[entry + 1] : bytes.size();
    for (const auto& [from, length] : spans) {
      if (from < end && offsets[entry] < from + length) touched[entry] = true;
    }
  }
  return touched;
}

RowArchive LargeBackup(size_t rowCount, bool compressedIndex) {
  std::vector<size_t> empty;
  for (size_t at : {rowCount / 7, rowCount / 3, rowCount * 5 / 6}) {
    size_t run = at % 2 == 0 ? 2 : 3;
    for (size_t k = 0; k < run; k++) empty.push_back(at + k);
  }
  return RowArchive(rowCount, empty, 1000, compressedIndex);
}

Bytes MonthBefore(const RowArchive& backup) {
  std::string index = backup.rows[0] + "\r\n";
  std::vector<PackEntry> entries;
  auto add = [&](const std::string& row, const Bytes& bytes, bool stored) {
    index += row + "\r\n";
    entries.push_back(stored ? StoredEntry(bytes) : CompressedEntry(bytes));
  };
  for (size_t row = 1; row < backup.rows.size(); row++) {
    bool stored = backup.data[row].empty() || row % 3 == 0;
    if (row % 700 != 11) {
      add(backup.rows[row], row % 500 == 7 ? SampleProse(1000, uint32_t(50000 + row)) : backup.data[row], stored);
    }
    if (row % 900 == 0) add("C:\\Fotos\\alt-" + std::to_string(row) + ".txt", SampleProse(1200, uint32_t(row)), stored);
  }
  entries.insert(entries.begin(), StoredEntry(Bytes(index.begin(), index.end())));
  return BuildArchive(entries);
}

LargeDamage SpoiltIndex(const RowArchive& backup) {
  Bytes damaged = backup.bytes;
  size_t stream = backup.offsets[1] - backup.offsets[0] - 8;
  std::vector<std::pair<size_t, size_t>> spans;
  for (size_t share : {40, 70}) {
    size_t at = backup.offsets[0] + 8 + 10 + (stream - 10) * share / 100;
    damaged[at] ^= 0x5A;
    spans.push_back({at, 1});
  }
  return LargeDamage{"a spoilt index", damaged, spans};
}

std::vector<LargeDamage> LargeDamages(const RowArchive& backup) {
  size_t n = backup.offsets.size();
  auto sector = [&](size_t entry) { return std::pair<size_t, size_t>{backup.offsets[entry] / 512 * 512, 512}; };
  auto block = [&](size_t entry) { return std::pair<size_t, size_t>{backup.offsets[entry] / 4096 * 4096, 4096}; };
  std::vector<LargeDamage> damages;
  auto add = [&](const char* what, std::vector<std::pair<size_t, size_t>> spans) {
    damages.push_back({what, backup.Zeroed(spans), spans});
  };
  add("one zeroed sector", {sector(n * 3 / 4)});
  add("a zeroed 4 KiB block", {block(n * 9 / 10)});
  size_t bad = n / 2;
  damages.push_back({"one bad header", backup.BadPackedSize(bad), {{backup.offsets[bad], 8}}});
  add("two damaged regions", {sector(n / 4), block(n * 2 / 3)});
  return damages;
}
