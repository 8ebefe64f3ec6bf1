// The pack archive writer.
#include <cstdio>

#include "tests/support/pack_writer.h"

PackEntry StoredEntry(std::vector<uint8_t> data) {
  PackEntry entry;
  entry.data = std::move(data);
  return entry;
}

PackEntry CompressedEntry(std::vector<uint8_t> data, EncoderMode mode, bool withChecksum) {
  PackEntry entry;
  entry.data = std::move(data);
  entry.compressed = true;
  entry.mode = mode;
  entry.withChecksum = withChecksum;
  return entry;
}

std::vector<uint8_t> EntryBytes(const PackEntry& entry) {
  if (!entry.compressed) return entry.data;
  std::vector<uint8_t> stream =
      EncodeCompressedStream(entry.data.data(), entry.data.size(), entry.mode, entry.withChecksum);
  if (stream.size() == entry.data.size()) stream.push_back(0);
  return stream;
}

void AppendRawEntry(std::vector<uint8_t>& archive, uint32_t unpackedSize, uint32_t packedSize,
                    const std::vector<uint8_t>& data) {
  for (uint32_t field : {unpackedSize, packedSize}) {
    for (int i = 0; i < 4; i++) archive.push_back(uint8_t(field >> (8 * i)));
  }
  archive.insert(archive.end(), data.begin(), data.end());
}

std::vector<uint8_t> BuildArchive(const std::vector<PackEntry>& entries) {
  std::vector<uint8_t> archive;
  for (const PackEntry& entry : entries) {
    std::vector<uint8_t> bytes = EntryBytes(entry);
    AppendRawEntry(archive, uint32_t(entry.data.size()), uint32_t(bytes.size()), bytes);
  }
  return archive;
}

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* file = fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  bool ok = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return fclose(file) == 0 && ok;
}

bool WriteArchive(const std::string& path, const std::vector<PackEntry>& entries) {
  return WriteFileBytes(path, BuildArchive(entries));
}
