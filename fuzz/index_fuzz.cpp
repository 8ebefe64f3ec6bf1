// The index path: the input is an archive; entry 0 comes through the reader
// and is cut into rows by the line rules, both ways the tools do it. packtool
// cuts the text in memory: [0, decoded) of a sound index, the whole lines of
// it for a damaged one. The restore tool writes the same text to a file and
// reads it back line by line. Both must give the same rows, each inside the
// text, and the whole path may touch what the stream decoded, never what the
// header merely claims.
#include <cstring>
#include <vector>

#include "core/memory.h"
#include "file/file.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/fuzz_target.h"
#include "pack/archive.h"
#include "tests/support/pack_writer.h"

namespace {

constexpr intptr_t INDEX_FILE = 1;
// Decoding is quick; writing a text to a file and reading it back is not. A
// 144-byte input can decode to 16 MB, which took the file way 1.5 s and ran
// into the time limit on a busy machine: past this size the two ways are
// compared on the whole lines of its first part.
constexpr size_t BOTH_WAYS_LIMIT = size_t(1) << 20;

bool IsLineEnd(unsigned char c) {
  return c == '\n' || c == '\r' || c == 0;
}

// The zeros the reader promises past what was decoded: every byte near the
// cut, then one per page (reading a page never written costs no memory).
void RequireZeroTail(const unsigned char* entry, uint32_t decoded, uint32_t size) {
  uint32_t near = size - decoded < 65536 ? size : decoded + 65536;
  for (uint32_t i = decoded; i < near; i++) Require(entry[i] == 0);
  for (uint32_t i = near; i < size; i += 4096) Require(entry[i] == 0);
  if (size > decoded) Require(entry[size - 1] == 0);
}

// packtool's cut in memory and the restore tool's through a file, row by
// row in step: each row lies inside the text, holds no line end, and both
// ways give the same rows. Returns the count.
size_t CutBothWays(const unsigned char* text, size_t size) {
  const char* path = ScratchPath("index_text").c_str();
  Require(FileCreate(INDEX_FILE, path) != 0);
  Require(size == 0 || FileWriteData(INDEX_FILE, text, int32_t(size)) == int32_t(size));
  FileClose(INDEX_FILE);
  Require(FileOpenRead(INDEX_FILE, path) != 0);
  size_t rows = 0;
  size_t length = 0;
  for (size_t at = 0; at < size; rows++) {
    size_t next = LineTextNext(text, size, at, &length);
    Require(next > at && next <= size && length <= next - at);
    for (size_t i = 0; i < length; i++) Require(!IsLineEnd(text[at + i]));
    Require(FileAtEnd(INDEX_FILE) == 0);
    String line = FileReadLine(INDEX_FILE);
    Require(line.Length() == length && memcmp(line.Text(), text + at, length) == 0);
    at = next;
  }
  Require(FileAtEnd(INDEX_FILE) != 0);
  FileClose(INDEX_FILE);
  FileDelete(path);
  return rows;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool started = [] {
    MemoryLibraryInit();
    return true;
  }();
  (void)started;
  const std::string& input = InputFile("index", data, size);

  ProgramHeapCreate(FUZZ_HEAP_LIMIT);
  FileLibraryInit();
  uint64_t before = ResidentBytes();
  Require(ArchiveOpen(input.c_str()) == 1);
  const unsigned char* entry = ArchiveNextEntry();
  if (entry != nullptr) {
    ArchiveEntryInfo info{};
    Require(ArchiveLastEntryInfo(&info) == 1);
    uint32_t entrySize = uint32_t(ArchiveEntrySize());
    Require(entrySize == info.unpackedSize && info.decoded <= entrySize);
    Require(info.damaged != 0 || info.decoded == entrySize);
    RequireZeroTail(entry, info.decoded, entrySize);
    // The reader holds the stream and touched the bytes it decoded: what the
    // stream gave, never what the header claimed. (The rows cost what they
    // hold, under the fuzzer's own limits.)
    RequireResidentGrowth(before, uint64_t(info.packedSize) + 2ull * info.decoded + info.unpackedSize / 8);

    size_t trusted = info.damaged ? LineTextWholeLines(entry, info.decoded) : info.decoded;
    Require(trusted <= info.decoded);
    if (trusted > BOTH_WAYS_LIMIT) trusted = LineTextWholeLines(entry, BOTH_WAYS_LIMIT);
    CutBothWays(entry, trusted);
  }
  ArchiveClose();
  FileLibraryEnd();
  ProgramHeapDestroy();
  return 0;
}
