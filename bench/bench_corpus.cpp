#include "bench/bench_corpus.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#ifdef RESTORE_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

#include "pack/decoder.h"
#include "pack/decoder_internal.h"
#include "pack/work_ahead.h"
#include "tests/support/pack_writer.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t MB = 1000 * 1000;
constexpr size_t DOC_BUDGET = 12 * MB;
constexpr size_t MAN_BUDGET = 13 * MB;
constexpr size_t BINARY_BUDGET = 20 * MB;
constexpr size_t RUNS_SIZE = 5 * MB;
constexpr size_t FILE_MAX = 4 * MB;  // no single file dominates a part
constexpr int ZLIB_LEVEL = 6;

// Under Wine the Unix root is drive Z:.
std::string HostPath(const std::string& path) {
#ifdef _WIN32
  if (!path.empty() && path[0] == '/') return "Z:" + path;
#endif
  return path;
}

std::vector<fs::path> SortedFiles(const std::string& root) {
  std::vector<fs::path> files;
  std::error_code error;
  auto options = fs::directory_options::skip_permission_denied;
  for (fs::recursive_directory_iterator it(root, options, error), end; it != end; it.increment(error)) {
    if (error) break;
    std::error_code statError;
    if (it->is_symlink(statError)) continue;
    if (it->is_regular_file(statError)) files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

Bytes ReadFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

Bytes Gunzip(const Bytes& packed) {
  Bytes out;
  z_stream z{};
  if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) return out;
  z.next_in = const_cast<Bytef*>(packed.data());
  z.avail_in = uInt(packed.size());
  uint8_t chunk[65536];
  int status = Z_OK;
  while (status == Z_OK) {
    z.next_out = chunk;
    z.avail_out = sizeof chunk;
    status = inflate(&z, Z_NO_FLUSH);
    out.insert(out.end(), chunk, chunk + (sizeof chunk - z.avail_out));
  }
  inflateEnd(&z);
  return status == Z_STREAM_END ? out : Bytes{};
}

uint64_t Fingerprint(const Bytes& bytes) {
  uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (uint8_t b : bytes) hash = (hash ^ b) * 1099511628211ull;
  return hash;
}

// Each file's content once: links (which Wine shows as plain files) and
// copies would otherwise favour a codec with a larger window.
void AppendFiles(Bytes& part, const std::string& root, size_t budget, bool gzipped, std::set<uint64_t>& seen) {
  for (const fs::path& path : SortedFiles(root)) {
    if (part.size() >= budget) break;
    bool isGz = path.extension() == ".gz";
    if (isGz != gzipped) continue;
    Bytes bytes = ReadFile(path);
    if (gzipped) bytes = Gunzip(bytes);
    if (bytes.empty() || !seen.insert(Fingerprint(bytes)).second) continue;
    if (bytes.size() > FILE_MAX) bytes.resize(FILE_MAX);
    size_t room = budget - part.size();
    part.insert(part.end(), bytes.begin(), bytes.begin() + ptrdiff_t(std::min(room, bytes.size())));
  }
}

// Long runs of one byte and of two alternating bytes, with short stretches
// of other bytes between them.
Bytes Runs() {
  Bytes runs;
  uint32_t state = 2463534242u;
  auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  };
  while (runs.size() < RUNS_SIZE) {
    size_t length = 1000 + next() % 60000;
    uint8_t a = uint8_t(next());
    uint8_t b = uint8_t(next());
    bool pairs = next() % 2 == 0;
    for (size_t i = 0; i < length; i++) runs.push_back(pairs && i % 2 ? b : a);
    for (uint32_t i = 0, n = next() % 64; i < n; i++) runs.push_back(uint8_t(next()));
  }
  runs.resize(RUNS_SIZE);
  return runs;
}

Bytes CompressZlib(const Bytes& data) {
  z_stream z{};
  deflateInit2(&z, ZLIB_LEVEL, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  Bytes out(deflateBound(&z, uLong(data.size())));
  z.next_in = const_cast<Bytef*>(data.data());
  z.avail_in = uInt(data.size());
  z.next_out = out.data();
  z.avail_out = uInt(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

Bytes CompressLibdeflate(const Bytes& data) {
#ifdef RESTORE_HAVE_LIBDEFLATE
  libdeflate_compressor* c = libdeflate_alloc_compressor(ZLIB_LEVEL);
  Bytes out(libdeflate_deflate_compress_bound(c, data.size()));
  out.resize(libdeflate_deflate_compress(c, data.data(), data.size(), out.data(), out.size()));
  libdeflate_free_compressor(c);
  return out;
#else
  (void)data;
  return {};
#endif
}

std::vector<BenchEntry> GatherFromMachine() {
  std::vector<BenchEntry> entries(3);
  std::set<uint64_t> seen;
  entries[0].name = "text";
  AppendFiles(entries[0].original, HostPath("/usr/share/doc"), DOC_BUDGET, false, seen);
  AppendFiles(entries[0].original, HostPath("/usr/share/man"), DOC_BUDGET + MAN_BUDGET, true, seen);
  entries[1].name = "binary";
  AppendFiles(entries[1].original, HostPath("/usr/bin"), BINARY_BUDGET, false, seen);
  entries[2].name = "runs";
  entries[2].original = Runs();
  return entries;
}

}  // namespace

bool HaveLibdeflate() {
#ifdef RESTORE_HAVE_LIBDEFLATE
  return true;
#else
  return false;
#endif
}

std::string DataFolderArgument(int argc, char** argv) {
  const std::string prefix = "--data=";
  for (int i = 1; i < argc; i++) {
    std::string argument = argv[i];
    if (argument.rfind(prefix, 0) == 0) return argument.substr(prefix.size());
  }
  return "";
}

std::vector<BenchEntry> GatherBenchEntries(const std::string& dataFolder) {
  static const char* const names[] = {"text", "binary", "runs"};
  if (!dataFolder.empty()) {
    std::vector<BenchEntry> saved(3);
    bool complete = true;
    for (int i = 0; i < 3; i++) {
      saved[i].name = names[i];
      saved[i].original = ReadFile(fs::path(HostPath(dataFolder)) / (std::string(names[i]) + ".bin"));
      complete = complete && !saved[i].original.empty();
    }
    if (complete) {
      printf("data read from %s\n", dataFolder.c_str());
      return saved;
    }
  }
  std::vector<BenchEntry> entries = GatherFromMachine();
  if (!dataFolder.empty()) {
    std::error_code error;
    fs::create_directories(HostPath(dataFolder), error);
    for (int i = 0; i < 3; i++) {
      std::ofstream file(fs::path(HostPath(dataFolder)) / (std::string(names[i]) + ".bin"), std::ios::binary);
      file.write(reinterpret_cast<const char*>(entries[i].original.data()),
                 std::streamsize(entries[i].original.size()));
    }
    printf("data saved to %s\n", dataFolder.c_str());
  }
  return entries;
}

EntrySet CutIntoEntries(const std::vector<BenchEntry>& streams) {
  constexpr size_t SMALLEST = 4 * 1024;
  constexpr size_t LARGEST = 64 * 1024;
  EntrySet set;
  uint32_t state = 88172645u;
  for (const BenchEntry& stream : streams) {
    for (size_t at = 0; at < stream.original.size();) {
      state ^= state << 13;
      state ^= state >> 17;
      state ^= state << 5;
      size_t size = std::min(SMALLEST + state % (LARGEST - SMALLEST + 1), stream.original.size() - at);
      BenchEntry slice;
      slice.name = stream.name + " slice";
      slice.original.assign(stream.original.begin() + ptrdiff_t(at), stream.original.begin() + ptrdiff_t(at + size));
      set.slices.push_back(std::move(slice));
      at += size;
    }
  }
  CompressBenchEntries(set.slices);
  for (size_t i = 0; i < ENTRY_COUNT; i++) {
    set.entries.push_back(&set.slices[i % set.slices.size()]);
    set.totalBytes += set.entries.back()->original.size();
  }
  return set;
}

void CompressBenchEntries(std::vector<BenchEntry>& entries) {
  for (BenchEntry& e : entries) {
    e.ours = EncodeCompressedStream(e.original.data(), e.original.size(), EncoderMode::Balanced, true);
    e.oursUnchecked = e.ours;
    memset(e.oursUnchecked.data() + 6, 0, 4);  // the header's checksum field
    e.zlib = CompressZlib(e.original);
    e.libdeflate = CompressLibdeflate(e.original);
  }
}

const char* OursFastLoop() {
  return decoder_parts::BitOpsAvailable() ? "with bit operations (BMI1, BMI2, LZCNT)" : "portable";
}

size_t DecodeOurs(const Bytes& packed, uint8_t* out, size_t capacity) {
  return DecodeCompressedStream(packed.data(), uint32_t(packed.size()), out, uint32_t(capacity));
}

size_t DecodeOursBeside(const Bytes& packed, uint8_t* out, size_t capacity) {
  static WorkAhead engine(2);
  uint32_t written = 0;
  return DecodeCompressedStreamChecked(packed.data(), uint32_t(packed.size()), out, uint32_t(capacity), &written,
                                       &engine)
             ? written
             : 0;
}

size_t DecodeZlib(const Bytes& packed, uint8_t* out, size_t capacity) {
  // One stream state for the whole run, reset per entry, as a reader would.
  static z_stream z = [] {
    z_stream s{};
    inflateInit2(&s, -MAX_WBITS);
    return s;
  }();
  inflateReset(&z);
  z.next_in = const_cast<Bytef*>(packed.data());
  z.avail_in = uInt(packed.size());
  z.next_out = out;
  z.avail_out = uInt(capacity);
  if (inflate(&z, Z_FINISH) != Z_STREAM_END) return 0;
  return capacity - z.avail_out;
}

size_t DecodeLibdeflate(const Bytes& packed, uint8_t* out, size_t capacity) {
#ifdef RESTORE_HAVE_LIBDEFLATE
  static libdeflate_decompressor* d = libdeflate_alloc_decompressor();
  size_t produced = 0;
  if (libdeflate_deflate_decompress(d, packed.data(), packed.size(), out, capacity, &produced) != LIBDEFLATE_SUCCESS) {
    return 0;
  }
  return produced;
#else
  (void)packed;
  (void)out;
  (void)capacity;
  return 0;
#endif
}

// Where the Adler-32 goes, so that it is computed.
volatile uint32_t adler32Sink;

size_t DecodeLibdeflateAdler32(const Bytes& packed, uint8_t* out, size_t capacity) {
  size_t produced = DecodeLibdeflate(packed, out, capacity);
#ifdef RESTORE_HAVE_LIBDEFLATE
  adler32Sink = libdeflate_adler32(1, out, produced);
#endif
  return produced;
}

bool CheckBenchEntries(const std::vector<BenchEntry>& entries) {
  Bytes out(LargestEntry(entries));
  for (const BenchEntry& e : entries) {
    struct {
      const char* codec;
      size_t (*decode)(const Bytes&, uint8_t*, size_t);
      const Bytes* packed;
    } codecs[] = {
        {"ours", DecodeOurs, &e.ours}, {"zlib", DecodeZlib, &e.zlib}, {"libdeflate", DecodeLibdeflate, &e.libdeflate}};
    for (const auto& c : codecs) {
      if (c.packed->empty() && std::string(c.codec) == "libdeflate") continue;
      size_t produced = c.decode(*c.packed, out.data(), e.original.size());
      if (produced != e.original.size() || memcmp(out.data(), e.original.data(), produced) != 0) {
        fprintf(stderr, "%s does not give back %s\n", c.codec, e.name.c_str());
        return false;
      }
    }
  }
  return true;
}

void PrintRatios(const std::vector<BenchEntry>& entries) {
  size_t original = 0, ours = 0, zlib = 0, libdeflate = 0;
  for (const BenchEntry& e : entries) {
    printf("%-7s %10zu bytes  fingerprint %016llx  ratio: ours %.3f, zlib %.3f", e.name.c_str(), e.original.size(),
           (unsigned long long)Fingerprint(e.original), double(e.ours.size()) / double(e.original.size()),
           double(e.zlib.size()) / double(e.original.size()));
    if (HaveLibdeflate()) printf(", libdeflate %.3f", double(e.libdeflate.size()) / double(e.original.size()));
    printf("\n");
    original += e.original.size();
    ours += e.ours.size();
    zlib += e.zlib.size();
    libdeflate += e.libdeflate.size();
  }
  printf("all     %10zu bytes                               ratio: ours %.3f, zlib %.3f", original,
         double(ours) / double(original), double(zlib) / double(original));
  if (HaveLibdeflate()) printf(", libdeflate %.3f", double(libdeflate) / double(original));
  printf("  (compressed / original)\n");
}

size_t TotalOriginalBytes(const std::vector<BenchEntry>& entries) {
  size_t total = 0;
  for (const BenchEntry& e : entries) total += e.original.size();
  return total;
}

size_t LargestEntry(const std::vector<BenchEntry>& entries) {
  size_t largest = 0;
  for (const BenchEntry& e : entries) largest = std::max(largest, e.original.size());
  return largest;
}
