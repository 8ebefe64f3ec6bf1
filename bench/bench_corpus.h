// What the decode benchmarks share: the data, gathered deterministically from
// files of the machine, and each codec's compress and decompress.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

struct BenchEntry {
  std::string name;
  Bytes original;
  Bytes ours;  // a stream from the test encoder (Balanced, with checksum)
  Bytes oursUnchecked;  // the same stream with its checksum field 0 (decoded without the test)
  Bytes zlib;  // raw deflate, level 6
  Bytes libdeflate;
};

// About 50 MB: text (documentation files and inflated manual pages), binary
// (executables), and a run-heavy entry (long runs at distances 1 and 2).
// Files are taken in sorted path order until each part's budget is met.
// With a data folder: the entries saved there are used when present, and
// saved there otherwise, so that both builds can measure the same bytes
// (the file listing under Wine differs a little from the native one).
std::vector<BenchEntry> GatherBenchEntries(const std::string& dataFolder);
// The value of a --data=FOLDER argument, or "".
std::string DataFolderArgument(int argc, char** argv);
// The restore path: ENTRY_COUNT entries of 4 to 64 KiB, decoded one by one.
// They are cut in order from the entries' data (about 1,500 distinct slices,
// compressed once) and taken round again, which costs no more compression
// than the big streams; 1,500 slices are more than the caches hold.
constexpr size_t ENTRY_COUNT = 10000;
struct EntrySet {
  std::vector<BenchEntry> slices;
  std::vector<const BenchEntry*> entries;  // ENTRY_COUNT, into slices
  size_t totalBytes = 0;                   // of the entries' originals
};
EntrySet CutIntoEntries(const std::vector<BenchEntry>& streams);

// Compresses every entry with every codec this build has.
void CompressBenchEntries(std::vector<BenchEntry>& entries);
bool HaveLibdeflate();
// Which fast loop our decoder runs on this processor, for the figures' record.
const char* OursFastLoop();

// Each returns the number of bytes produced; the checks compare them.
size_t DecodeOurs(const Bytes& packed, uint8_t* out, size_t capacity);
// Ours with the checksum of a big stream on a second core beside the decoding.
size_t DecodeOursBeside(const Bytes& packed, uint8_t* out, size_t capacity);
size_t DecodeZlib(const Bytes& packed, uint8_t* out, size_t capacity);
size_t DecodeLibdeflate(const Bytes& packed, uint8_t* out, size_t capacity);
// Raw deflate carries no checksum, and our streams do (the decoder checks
// it): this adds the Adler-32 that libdeflate's zlib container checks, for a
// comparison of like with like beside the plain one.
size_t DecodeLibdeflateAdler32(const Bytes& packed, uint8_t* out, size_t capacity);

// False (with a message on stderr) when a codec does not give the original back.
bool CheckBenchEntries(const std::vector<BenchEntry>& entries);
void PrintRatios(const std::vector<BenchEntry>& entries);
size_t TotalOriginalBytes(const std::vector<BenchEntry>& entries);
size_t LargestEntry(const std::vector<BenchEntry>& entries);
