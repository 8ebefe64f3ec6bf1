// packtool mount as people use it, against packtool's own commands on the
// same archives in the same run. Each figure is one summary line:
//   - mounting an archive of 20,000 small entries: time to the first
//     listing of its root, and the mount's resident memory after listing
//     every folder;
//   - cat of every file through a fresh mount against extract --all to
//     tmpfs (on every core, and with -j 1);
//   - one 200 MB compressed entry read with dd bs=4k through a fresh mount
//     against packtool cat of it; a stored one against dd of its bytes in
//     the archive, and 4 KiB reads at random offsets of the stored one;
//   - the mount's resident memory after reading everything, against its
//     cache size;
//   - the peers on the same files: a zip of them under fuse-zip and a tar
//     under archivemount, reading every file and dd of the 200 MB one.
//
//   mount_bench [FOLDER [TMPFS_FOLDER]]   (defaults: packtool_bench_data, /dev/shm)
//
// Needs /dev/fuse and fusermount3 (it runs the mount as its user does), and
// for the peers zip, tar, fuse-zip and archivemount.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/packtool/child_run.h"
#include "tests/support/damaged_archives.h"
#include "tests/support/mount_point.h"
#include "tests/support/pack_writer.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr uint32_t SMALL_ENTRIES = 20000;
constexpr size_t SMALL_SIZE = 16 << 10;
constexpr int DISTINCT = 64;              // distinct small contents, encoded once
constexpr size_t LARGE_SIZE = 200000000;  // the large entries
constexpr size_t LARGE_PIECE = 4 << 20;   // encoded in pieces of this, repeated
constexpr int CACHE_MIB = 256;
constexpr int RANDOM_READS = 4000;
constexpr int RUNS = 3;
constexpr int PAIR_RUNS = 5;  // rounds of the sides compared in pairs

double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Runs a program to its end, output to /dev/null (or stdoutPath); its wall
// time, or negative when it did not end with code 0.
double RunSeconds(std::vector<std::string> words, const char* stdoutPath = "/dev/null") {
  return RunChild(std::move(words), 0, stdoutPath).seconds;
}

// A mount in the foreground, for one measurement: fresh, so that nothing is
// decoded or in the page cache yet.
class Mounted {
 public:
  Mounted(const std::string& archive, const fs::path& point) : point_(point) {
    std::vector<std::string> words{
        PACKTOOL_PATH, "mount", "--foreground", "--cache-size", std::to_string(CACHE_MIB), archive, point.string()};
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    started_ = Clock::now();
    if (posix_spawn(&child_, argv[0], nullptr, nullptr, argv.data(), environ) != 0) child_ = 0;
  }
  ~Mounted() {
    if (child_ == 0) return;
    kill(child_, SIGINT);
    waitpid(child_, nullptr, 0);
  }
  // Seconds from the start to the first listing of the root (negative on
  // failure).
  double FirstListing() {
    for (int tries = 0; child_ != 0 && tries < 100000; tries++) {
      if (IsMountPoint(point_) && fs::directory_iterator(point_) != fs::directory_iterator()) return Since(started_);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return -1;
  }
  double ResidentMegabytes() const {
    std::ifstream status("/proc/" + std::to_string(child_) + "/status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("VmRSS:", 0) == 0) return strtod(line.c_str() + 6, nullptr) / 1024;
    }
    return -1;
  }

 private:
  fs::path point_;
  pid_t child_ = 0;
  Clock::time_point started_;
};

// Reads every file below folder as cat does; the bytes read, or 0 when a
// file gave fewer bytes than its size.
uint64_t ReadEverything(const fs::path& folder) {
  static std::vector<char> buffer(128 << 10);
  uint64_t total = 0;
  std::error_code error;
  for (auto at = fs::recursive_directory_iterator(folder, error); !error && at != fs::recursive_directory_iterator();
       at.increment(error)) {
    const fs::directory_entry& item = *at;
    if (!item.is_regular_file(error)) continue;
    int fd = open(item.path().c_str(), O_RDONLY);
    uint64_t bytes = 0;
    ssize_t got;
    while (fd >= 0 && (got = read(fd, buffer.data(), buffer.size())) > 0) bytes += uint64_t(got);
    if (fd >= 0) close(fd);
    if (bytes != item.file_size(error) || error) return 0;
    total += bytes;
  }
  return total;
}

void AppendEntry(Bytes& archive, size_t unpacked, const Bytes& data) {
  AppendRawEntry(archive, uint32_t(unpacked), uint32_t(data.size()), data);
}

bool WriteIndexedArchive(const std::string& path, const std::vector<std::string>& rows,
                         const std::vector<std::pair<size_t, const Bytes*>>& entries) {
  std::string index;
  for (const std::string& row : rows) index += row + "\r\n";
  Bytes archive;
  AppendEntry(archive, index.size(), Bytes(index.begin(), index.end()));
  FILE* out = fopen(path.c_str(), "wb");
  if (out == nullptr) return false;
  bool written = fwrite(archive.data(), 1, archive.size(), out) == archive.size();
  for (const auto& [unpacked, data] : entries) {
    Bytes header;
    AppendRawEntry(header, uint32_t(unpacked), uint32_t(data->size()), {});
    written = written && fwrite(header.data(), 1, header.size(), out) == header.size() &&
              fwrite(data->data(), 1, data->size(), out) == data->size();
  }
  return fclose(out) == 0 && written;
}

// 20,000 entries of 16 KiB, one in eight stored, in folders of a hundred.
bool MakeSmallArchive(const std::string& path) {
  std::vector<Bytes> originals, streams;
  for (int i = 0; i < DISTINCT; i++) {
    originals.push_back(SampleProse(SMALL_SIZE, uint32_t(i)));
    streams.push_back(EncodeCompressedStream(originals[i].data(), SMALL_SIZE, EncoderMode::Balanced, true));
  }
  std::vector<std::string> rows{"C:\\Sicherung\\Index.txt"};
  std::vector<std::pair<size_t, const Bytes*>> entries;
  for (uint32_t entry = 1; entry <= SMALL_ENTRIES; entry++) {
    rows.push_back("C:\\Daten\\Ordner" + std::to_string(entry / 100) + "\\Datei" + std::to_string(entry) + ".txt");
    int kind = int(entry % DISTINCT);
    entries.emplace_back(SMALL_SIZE, kind % 8 == 0 ? &originals[kind] : &streams[kind]);
  }
  return WriteIndexedArchive(path, rows, entries);
}

// One compressed and one stored entry of 200 MB. The stream is one stream
// over text whose 4 MiB pieces repeat (the test encoder is slow; a repeat
// costs it a long match, the decoder the same copy work as any match).
bool MakeLargeArchive(const std::string& path) {
  Bytes piece = SampleProse(LARGE_PIECE, 7);
  Bytes data;
  data.reserve(LARGE_SIZE);
  while (data.size() < LARGE_SIZE) {
    data.insert(data.end(), piece.begin(), piece.begin() + std::min(piece.size(), LARGE_SIZE - data.size()));
  }
  Bytes stream = EncodeCompressedStream(data.data(), data.size(), EncoderMode::Balanced, true);
  return WriteIndexedArchive(path, {"C:\\Index.txt", "C:\\gross.txt", "C:\\gross-gespeichert.txt"},
                             {{LARGE_SIZE, &stream}, {LARGE_SIZE, &data}});
}

void SmallEntries(const fs::path& folder, const fs::path& tmpfs, const fs::path& point) {
  std::string path = (folder / "mount-small.zip").string();
  if (!MakeSmallArchive(path)) return;
  printf("archive of %u entries of %zu KiB (1 in 8 stored): %.1f MB\n", SMALL_ENTRIES, SMALL_SIZE >> 10,
         double(fs::file_size(path)) / 1e6);

  std::vector<double> firsts, mounts, extracts, singles, ratios;
  double listedResident = 0, readResident = 0;
  // The mount and extract take turns at going first; each round's pair
  // gives a ratio, steadier than the times on a machine shared with others.
  auto readThroughMount = [&] {
    Mounted mount(path, point);
    firsts.push_back(mount.FirstListing());
    uint64_t names = 0;
    for (auto at = fs::recursive_directory_iterator(point); at != fs::recursive_directory_iterator(); ++at) names++;
    listedResident = mount.ResidentMegabytes();
    auto start = Clock::now();
    uint64_t bytes = ReadEverything(point);
    mounts.push_back(bytes >= uint64_t(SMALL_ENTRIES) * SMALL_SIZE ? Since(start) : -1);
    readResident = mount.ResidentMegabytes();
    if (names < SMALL_ENTRIES) firsts.back() = -1;
  };
  fs::path out = tmpfs / "mount-bench-extract";
  auto extractAll = [&] {
    fs::remove_all(out);
    extracts.push_back(RunSeconds({PACKTOOL_PATH, "extract", "--all", "-q", "-d", out.string(), path}));
    fs::remove_all(out);
  };
  for (int run = 0; run < PAIR_RUNS; run++) {
    if (run % 2 == 0) {
      readThroughMount();
      extractAll();
    } else {
      extractAll();
      readThroughMount();
    }
    ratios.push_back(mounts.back() / extracts.back());
    singles.push_back(RunSeconds({PACKTOOL_PATH, "extract", "--all", "-q", "-j", "1", "-d", out.string(), path}));
    fs::remove_all(out);
  }
  double first = Median(firsts), mount = Median(mounts), extract = Median(extracts);
  printf("mount, 20,000 entries: first ls after %.0f ms; resident %.1f MiB after listing every folder%s\n", first * 1e3,
         listedResident, first < 0 ? " (FAILED)" : "");
  double single = Median(singles);
  bool failed =
      *std::min_element(mounts.begin(), mounts.end()) < 0 || *std::min_element(extracts.begin(), extracts.end()) < 0;
  printf(
      "cat of every file through the mount: %.2f s; extract --all to tmpfs: %.2f s; mount/extract %.2f (%.2f to "
      "%.2f; goal <= 1.5) (median of %d rounds' pairs, order turning)%s\n",
      mount, extract, Median(ratios), *std::min_element(ratios.begin(), ratios.end()),
      *std::max_element(ratios.begin(), ratios.end()), PAIR_RUNS, failed ? " (a run FAILED)" : "");
  printf("the same on one core: extract --all -j 1 to tmpfs: %.2f s; mount/extract %.2f\n", single, mount / single);
  printf("resident after reading all %.0f MB: %.1f MiB (cache %d MiB; goal <= cache + 32 MB)\n",
         double(SMALL_ENTRIES) * SMALL_SIZE / 1e6, readResident, CACHE_MIB);
}

void LargeEntries(const fs::path& folder, const fs::path& point) {
  std::string path = (folder / "mount-large.zip").string();
  auto made = Clock::now();
  if (!MakeLargeArchive(path)) return;
  printf("archive of a 200 MB compressed and a 200 MB stored entry: %.1f MB, made in %.1f s\n",
         double(fs::file_size(path)) / 1e6, Since(made));
  const char* names[] = {"gross.txt", "gross-gespeichert.txt"};
  double resident = 0;
  for (int entry = 1; entry <= 2; entry++) {
    std::vector<double> dds, cats;
    for (int run = 0; run < RUNS; run++) {
      {
        Mounted mount(path, point);
        if (mount.FirstListing() < 0) return;
        std::string input = "if=" + (point / names[entry - 1]).string();
        dds.push_back(RunSeconds({"dd", input, "of=/dev/null", "bs=4k"}));
        resident = std::max(resident, mount.ResidentMegabytes());
      }
      if (entry == 1) {
        cats.push_back(RunSeconds({PACKTOOL_PATH, "cat", path, std::to_string(entry)}));
      } else {
        // The stored entry is the archive's last bytes: read in place, as
        // dd reads them from the archive itself.
        std::string skip = "skip=" + std::to_string(fs::file_size(path) - LARGE_SIZE);
        cats.push_back(RunSeconds({"dd", "if=" + path, "of=/dev/null", "bs=4k", "iflag=skip_bytes,count_bytes", skip,
                                   "count=" + std::to_string(LARGE_SIZE)}));
      }
    }
    double dd = Median(dds), cat = Median(cats);
    if (entry == 1) {
      printf(
          "compressed 200 MB entry: dd bs=4k through the mount %.2f s; packtool cat %.2f s; mount/cat %.2f (goal <= "
          "1.2)%s\n",
          dd, cat, dd / cat, dd < 0 || cat < 0 ? " (a run FAILED)" : "");
    } else {
      printf(
          "stored 200 MB entry: dd bs=4k through the mount %.2f s; dd bs=4k of its bytes in the archive %.2f s; "
          "mount/archive %.2f%s\n",
          dd, cat, dd / cat, dd < 0 || cat < 0 ? " (a run FAILED)" : "");
    }
  }
  Mounted mount(path, point);
  if (mount.FirstListing() < 0) return;
  std::mt19937_64 random(5);
  std::vector<char> buffer(4096);
  int fd = open((point / names[1]).c_str(), O_RDONLY);
  auto start = Clock::now();
  int good = 0;
  for (int read = 0; fd >= 0 && read < RANDOM_READS; read++) {
    off_t at = off_t(random() % (LARGE_SIZE - buffer.size()));
    good += pread(fd, buffer.data(), buffer.size(), at) == ssize_t(buffer.size()) ? 1 : 0;
  }
  double seconds = Since(start);
  if (fd >= 0) close(fd);
  printf("stored 200 MB entry, %d reads of 4 KiB at random offsets: %.3f s (%.1f us each); mount resident %.1f MiB%s\n",
         RANDOM_READS, seconds, seconds * 1e6 / RANDOM_READS, mount.ResidentMegabytes(),
         good == RANDOM_READS ? "" : " (a read FAILED)");
  printf("resident after the 200 MB entries: %.1f MiB at most (cache %d MiB; goal <= cache + 32 MB)\n", resident,
         CACHE_MIB);
}

// A peer's mount of a zip or tar file, run as its user runs it: the
// program puts itself in the background once the folder is mounted.
class PeerMounted {
 public:
  PeerMounted(std::vector<std::string> words, const fs::path& point) : point_(point) {
    mounted_ = RunSeconds(std::move(words)) >= 0 && IsMountPoint(point);
  }
  ~PeerMounted() {
    if (mounted_) RunSeconds({"fusermount3", "-u", point_.string()});
  }
  bool Mounted() const { return mounted_; }

 private:
  fs::path point_;
  bool mounted_ = false;
};

// Reading every file, as cat does, through a process of its own, with a
// limit: one peer is known to take minutes for 20,000 files.
constexpr int PEER_LIMIT_SECONDS = 120;
double CatEverything(const fs::path& point) {
  return RunSeconds(
      {"timeout", std::to_string(PEER_LIMIT_SECONDS), "find", point.string(), "-type", "f", "-exec", "cat", "{}", "+"});
}

std::string Figure(double seconds) {
  char text[64];
  if (seconds < 0) {
    snprintf(text, sizeof text, "over %d s or failed", PEER_LIMIT_SECONDS);
  } else {
    snprintf(text, sizeof text, "%.2f s", seconds);
  }
  return text;
}

// Our time over a peer's; a peer that did not end within the limit counts
// as the limit, which makes the ratio an upper bound (negative: ours failed).
double Ratio(double ours, double peer) {
  if (ours < 0) return -1;
  return ours / (peer < 0 ? double(PEER_LIMIT_SECONDS) : peer);
}

// The median of a round's ratios and their spread.
std::string RatioText(const std::vector<double>& ratios) {
  char text[64];
  if (*std::min_element(ratios.begin(), ratios.end()) < 0) return "FAILED";
  snprintf(text, sizeof text, "%.2f (%.2f to %.2f)", Median(ratios), *std::min_element(ratios.begin(), ratios.end()),
           *std::max_element(ratios.begin(), ratios.end()));
  return text;
}

// The same files as a zip (made by zip) under fuse-zip and as a tar under
// archivemount, against our mount, each read by the same command.
void Peers(const fs::path& folder, const fs::path& point) {
  fs::path files = folder / "peer-files", zipFile = folder / "peer-small.zip", tarFile = folder / "peer-small.tar";
  fs::remove_all(files);
  fs::remove(zipFile);
  std::string small = (folder / "mount-small.zip").string(), large = (folder / "mount-large.zip").string();
  bool made = RunSeconds({PACKTOOL_PATH, "extract", "--all", "-q", "-d", files.string(), small}) >= 0 &&
              RunSeconds({"sh", "-c",
                          "cd '" + files.string() + "' && zip -q -r '" + zipFile.string() + "' . && tar -cf '" +
                              tarFile.string() + "' ."}) >= 0;
  fs::path largeFiles = folder / "peer-large", largeZip = folder / "peer-large.zip",
           largeTar = folder / "peer-large.tar";
  fs::remove_all(largeFiles);
  fs::remove(largeZip);
  made = made && RunSeconds({PACKTOOL_PATH, "extract", "-q", "-d", largeFiles.string(), large, "gross.txt"}) >= 0 &&
         RunSeconds({"sh", "-c",
                     "cd '" + largeFiles.string() + "' && zip -q -r '" + largeZip.string() + "' . && tar -cf '" +
                         largeTar.string() + "' ."}) >= 0;
  if (!made) {
    printf("peers: could not make their zip and tar files (FAILED)\n");
    return;
  }
  fs::path largeName;
  for (const auto& item : fs::recursive_directory_iterator(largeFiles)) {
    if (item.is_regular_file()) largeName = fs::relative(item.path(), largeFiles);
  }
  std::vector<double> ours, fuseZip, archiveMount, oursDd, fuseZipDd, archiveMountDd;
  auto dd = [&](const fs::path& file) {
    return RunSeconds(
        {"timeout", std::to_string(PEER_LIMIT_SECONDS), "dd", "if=" + file.string(), "of=/dev/null", "bs=4k"});
  };
  // Each round reads with every side, in an order that turns with the
  // round. archivemount reads the small files in the first round only: it
  // takes minutes, and once tells.
  using Side = std::function<double(int run)>;
  std::vector<Side> sides{
      [&](int) {
        Mounted mount(small, point);
        ours.push_back(mount.FirstListing() < 0 ? -1 : CatEverything(point));
        return ours.back();
      },
      [&](int) {
        PeerMounted mount({"fuse-zip", "-r", zipFile.string(), point.string()}, point);
        fuseZip.push_back(mount.Mounted() ? CatEverything(point) : -1);
        return fuseZip.back();
      },
      [&](int run) {
        if (run > 0) return 0.0;
        PeerMounted mount({"archivemount", "-o", "readonly", tarFile.string(), point.string()}, point);
        archiveMount.push_back(mount.Mounted() ? CatEverything(point) : -1);
        return archiveMount.back();
      },
      [&](int) {
        Mounted mount(large, point);
        oursDd.push_back(mount.FirstListing() < 0 ? -1 : dd(point / "gross.txt"));
        return oursDd.back();
      },
      [&](int) {
        PeerMounted mount({"fuse-zip", "-r", largeZip.string(), point.string()}, point);
        fuseZipDd.push_back(mount.Mounted() ? dd(point / largeName) : -1);
        return fuseZipDd.back();
      },
      [&](int) {
        PeerMounted mount({"archivemount", "-o", "readonly", largeTar.string(), point.string()}, point);
        archiveMountDd.push_back(mount.Mounted() ? dd(point / largeName) : -1);
        return archiveMountDd.back();
      },
  };
  std::vector<double> fuseZipRatios, archiveMountRatios, fuseZipDdRatios, archiveMountDdRatios;
  for (int run = 0; run < RUNS; run++) {
    for (size_t turn = 0; turn < 3; turn++) {
      sides[(turn + size_t(run)) % 3](run);
      sides[3 + (turn + size_t(run)) % 3](run);
    }
    fuseZipRatios.push_back(Ratio(ours.back(), fuseZip.back()));
    if (run == 0) archiveMountRatios.push_back(Ratio(ours.back(), archiveMount.back()));
    fuseZipDdRatios.push_back(Ratio(oursDd.back(), fuseZipDd.back()));
    archiveMountDdRatios.push_back(Ratio(oursDd.back(), archiveMountDd.back()));
  }
  printf(
      "every file of 20,000 through a mount (find -exec cat): ours %s; fuse-zip over a zip %s; archivemount over a "
      "tar %s; ours/fuse-zip %s, ours/archivemount %s (goal < 1 each) (median of %d rounds' pairs, archivemount "
      "once)\n",
      Figure(Median(ours)).c_str(), Figure(Median(fuseZip)).c_str(), Figure(archiveMount[0]).c_str(),
      RatioText(fuseZipRatios).c_str(), RatioText(archiveMountRatios).c_str(), RUNS);
  printf(
      "dd bs=4k of the 200 MB file through a mount: ours %s; fuse-zip over a zip %s; archivemount over a tar %s; "
      "ours/fuse-zip %s, ours/archivemount %s (goal < 1 each) (median of %d rounds' pairs)\n",
      Figure(Median(oursDd)).c_str(), Figure(Median(fuseZipDd)).c_str(), Figure(Median(archiveMountDd)).c_str(),
      RatioText(fuseZipDdRatios).c_str(), RatioText(archiveMountDdRatios).c_str(), RUNS);
  fs::remove_all(files);
  fs::remove_all(largeFiles);
}

}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IOLBF, 0);  // each line as it comes, in a file too
  fs::path folder = fs::absolute(argc > 1 ? argv[1] : "packtool_bench_data");
  fs::path tmpfs = argc > 2 ? argv[2] : "/dev/shm";
  fs::create_directories(folder);
  fs::path point = folder / "mnt";
  fs::create_directories(point);
  if (access("/dev/fuse", R_OK | W_OK) != 0) {
    fprintf(stderr, "mount_bench: /dev/fuse is missing or not usable\n");
    return 2;
  }
  SmallEntries(folder, tmpfs, point);
  LargeEntries(folder, point);
  Peers(folder, point);
  return 0;
}
