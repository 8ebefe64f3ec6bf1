// packtool mount as a user meets it: a real FUSE mount of archives made by
// the test encoder, its files and their bytes held against what extract
// writes of the same archives, and what a program that writes, or reads a
// damaged entry, gets back. Natively only; a machine without /dev/fuse or
// fusermount3 fails these tests rather than skip them.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <thread>

#include "tests/support/mount_point.h"
#include "tests/tools/packtool_fixture.h"

extern char** environ;

namespace {

// A file read as a program reads it: its bytes, and the error that ended
// the reading (0 at its end).
struct FileRead {
  Bytes bytes;
  int error = 0;
  bool operator==(const FileRead&) const = default;
};

FileRead ReadThrough(const fs::path& path) {
  FileRead read;
  int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return FileRead{{}, errno};
  char buffer[65536];
  for (;;) {
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0) read.error = errno;
    if (got <= 0) break;
    read.bytes.insert(read.bytes.end(), buffer, buffer + got);
  }
  close(fd);
  return read;
}

// Every file below folder by its relative path.
std::map<std::string, FileRead> FilesBelow(const fs::path& folder) {
  std::map<std::string, FileRead> files;
  for (const auto& item : fs::recursive_directory_iterator(folder)) {
    if (item.is_regular_file()) files[fs::relative(item.path(), folder).string()] = ReadThrough(item.path());
  }
  return files;
}

class PackToolMount : public PackToolCli {
 protected:
  void SetUp() override {
    PackToolCli::SetUp();
    mountPoint_ = base_ / "work" / "mnt";
    fs::create_directories(mountPoint_);
    ASSERT_EQ(access("/dev/fuse", R_OK | W_OK), 0) << "/dev/fuse is missing or not usable: packtool mount needs FUSE 3";
    ASSERT_EQ(system("command -v fusermount3 >/dev/null"), 0) << "fusermount3 is missing (Debian package fuse3)";
  }
  void TearDown() override {
    if (child_ > 0) Stop();
    if (IsMountPoint(mountPoint_)) system(("fusermount3 -u '" + mountPoint_.string() + "'").c_str());
    PackToolCli::TearDown();
  }

  // packtool mount --foreground ARCHIVES mnt, as a process of its own; true
  // once the mount is up.
  bool Start(const std::vector<std::string>& archives, const std::vector<std::string>& options = {}) {
    std::vector<std::string> words{PACKTOOL_PATH, "mount", "--foreground"};
    words.insert(words.end(), options.begin(), options.end());
    for (const std::string& archive : archives) words.push_back(Path(archive));
    words.push_back(mountPoint_.string());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    // libfuse leaves the state of a folder listing the kernel had not yet
    // closed when the loop ended: its leak, not packtool's.
    std::string suppressions = (base_ / "leaks.txt").string();
    std::ofstream(suppressions) << "leak:libfuse3.so\n";
    std::vector<std::string> variables{"LSAN_OPTIONS=suppressions=" + suppressions};
    for (char** variable = environ; *variable != nullptr; variable++) {
      if (strncmp(*variable, "LSAN_OPTIONS=", 13) != 0) variables.push_back(*variable);
    }
    std::vector<char*> environment;
    for (std::string& variable : variables) environment.push_back(variable.data());
    environment.push_back(nullptr);
    if (posix_spawn(&child_, argv[0], nullptr, nullptr, argv.data(), environment.data()) != 0) return false;
    // A bound for a machine that hangs, not a measurement.
    for (int tries = 0; tries < 2000; tries++) {
      if (IsMountPoint(mountPoint_)) return true;
      int status = 0;
      if (waitpid(child_, &status, WNOHANG) == child_) {
        child_ = 0;
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  // Ctrl-C: the exit code (-1 for a signal's death).
  int Stop() {
    kill(child_, SIGINT);
    int status = 0;
    waitpid(child_, &status, 0);
    child_ = 0;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  fs::path mountPoint_;
  pid_t child_ = 0;
};

// Each archive (or set of archives) mounted shows exactly the files extract
// --all --force writes of it, with the same bytes; a damaged entry's file
// gives those bytes and then EIO.
TEST_F(PackToolMount, ShowsWhatExtractWritesAndFailsAfterADamagedEntrysBytes) {
  // big: decoded while it is read (over a mebibyte)
  Bytes big = SampleData(1200000, 1), text = SampleData(3000, 2);
  std::vector<std::string> rows{"C:\\Index.txt",    "C:\\Daten\\gro\xDF.txt", "D:\\Daten\\brief.txt",
                                "..\\..\\evil.txt", "C:\\Daten\\gro\xDF.txt", "C:\\Daten\\brief.txt\\x",
                                "C:\\leer.txt",     "C:\\fehlt.txt"};
  WriteEntries("sound.zip", {StoredEntry(B(Index(rows))), CompressedEntry(big), StoredEntry(text), StoredEntry(B("x")),
                             CompressedEntry(B("twice")), CompressedEntry(text), StoredEntry({})});
  // klein.txt: small, whole, its checksum wrong (never handed to the page
  // cache, so that its reading ends in the error too)
  Bytes damaged =
      BuildArchive({StoredEntry(B(Index({"C:\\i", "C:\\a\\kaputt.txt", "C:\\a\\gut.txt", "C:\\a\\klein.txt"})))});
  AppendSpoiltEntry(damaged, big, 30000, 0x5A);
  AppendRawEntry(damaged, 1, 1, B("g"));
  AppendSpoiltEntry(damaged, text, 6, 0x10);
  Write("damaged-entry.zip", damaged);
  Write("damaged-index.zip", RescueSample().BuildWithIndexCut());
  fs::create_directories(Path("other"));
  WriteEntries("other/sound.zip", {StoredEntry(B(Index({"C:\\eins.txt"}))), StoredEntry(B("1"))});

  struct Case {
    std::vector<std::string> archives;
    std::vector<std::string> failing;  // files whose reading ends in EIO
  } cases[] = {
      {{"sound.zip"}, {}},
      {{"damaged-entry.zip"}, {"a/kaputt.txt", "a/klein.txt"}},
      {{"damaged-index.zip"}, {"Index.txt"}},
      {{"sound.zip", "other/sound.zip", "damaged-index.zip"}, {"damaged-index.zip/Index.txt"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.archives.back());
    fs::remove_all(Path("out"));
    std::vector<std::string> folders{""};
    if (c.archives.size() > 1) folders = {"sound.zip", "sound.zip-2", "damaged-index.zip"};
    for (size_t i = 0; i < c.archives.size(); i++) {
      ToolRun run = Run({"extract", "--all", "--force", "-q", "-d", "out/" + folders[i], c.archives[i]});
      ASSERT_TRUE(run.exitCode != 1 && run.exitCode != 2) << run.err;  // the archive opened; rows may fail
    }
    std::map<std::string, FileRead> expected = FilesBelow(Path("out"));
    for (const std::string& failing : c.failing) {
      ASSERT_EQ(expected.count(failing), 1u) << failing;
      expected[failing].error = EIO;
    }
    ASSERT_TRUE(Start(c.archives));
    // The first reading of a large damaged entry, decoded as it is read,
    // may stop up to a page before the damage; the next one knows it.
    std::map<std::string, FileRead> first = FilesBelow(mountPoint_), shown = FilesBelow(mountPoint_);
    EXPECT_EQ(shown.size(), expected.size());
    for (const auto& [path, read] : expected) {
      EXPECT_TRUE(shown.count(path) == 1 && shown[path] == read) << path;
      const FileRead& early = first[path];
      EXPECT_TRUE(early.error == read.error && early.bytes.size() + 4096 > read.bytes.size() &&
                  std::equal(early.bytes.begin(), early.bytes.end(), read.bytes.begin()))
          << path;
    }
    EXPECT_EQ(Stop(), 0);
  }
  // Past damage the plain reading cannot pass (a zeroed block, which it
  // would take for empty entries; one bad header in the middle), every file
  // extract writes, each with its bytes: those of a row whose bytes are not
  // the ones packed (cut by the damage) end in EIO.
  RowArchive rowArchive(12);
  const std::pair<const char*, Bytes> pastDamage[] = {{"zeroed.zip", rowArchive.ZeroedBlock(6)},
                                                      {"bad-header.zip", rowArchive.BadPackedSize(8)}};
  for (const auto& [name, bytes] : pastDamage) {
    SCOPED_TRACE(name);
    Write(name, bytes);
    fs::remove_all(Path("out"));
    Run({"extract", "--all", "--force", "-q", "-d", "out", name});
    std::map<std::string, FileRead> expected = FilesBelow(Path("out"));
    EXPECT_GE(expected.size(), 10u);
    for (size_t row = 1; row < rowArchive.rows.size(); row++) {
      auto found = expected.find("Fotos/bild-" + std::to_string(row) + ".txt");
      if (found != expected.end() && found->second.bytes != rowArchive.data[row]) found->second.error = EIO;
    }
    ASSERT_TRUE(Start({name}));
    std::map<std::string, FileRead> shown = FilesBelow(mountPoint_);
    EXPECT_EQ(shown.size(), expected.size());
    for (const auto& [path, read] : expected) EXPECT_TRUE(shown.count(path) == 1 && shown[path] == read) << path;
    EXPECT_EQ(Stop(), 0);
  }

  // The damaged entry is sized as its header says; the bytes before the
  // error are what its stream decoded (compared above), fewer than that.
  ASSERT_TRUE(Start({"damaged-entry.zip"}));
  FileRead read = ReadThrough(mountPoint_ / "a" / "kaputt.txt");
  EXPECT_EQ(read.error, EIO);
  EXPECT_GT(read.bytes.size(), 0u);
  EXPECT_LT(read.bytes.size(), big.size());
  EXPECT_EQ(fs::file_size(mountPoint_ / "a" / "kaputt.txt"), big.size());
  EXPECT_EQ(Stop(), 0);

  // A folder of more names than one listing holds: each once, with its
  // bytes, read through pages handed to the kernel ahead of the reads, also
  // with a cache far smaller than the files (entries decoded ahead go again
  // before they are read).
  std::vector<std::string> manyRows{"C:\\Index.txt"};
  std::vector<PackEntry> many{StoredEntry({})};
  auto bytesOf = [](int i) { return SampleData(size_t(300 + i * 29), uint32_t(i)); };
  for (int i = 0; i < 400; i++) {
    manyRows.push_back("C:\\Viele\\eine-recht-lange-datei-mit-der-nummer-" + std::to_string(i) + ".txt");
    many.push_back(i % 3 == 0 ? StoredEntry(bytesOf(i)) : CompressedEntry(bytesOf(i)));
  }
  many[0] = StoredEntry(B(Index(manyRows)));
  WriteEntries("many.zip", many);
  for (const char* cache : {"256", "1"}) {
    SCOPED_TRACE(cache);
    ASSERT_TRUE(Start({"many.zip"}, {"--cache-size", cache}));
    std::map<std::string, FileRead> listed = FilesBelow(mountPoint_ / "Viele");
    EXPECT_EQ(listed.size(), 400u);
    for (int i = 0; i < 400; i++) {
      const FileRead& read = listed["eine-recht-lange-datei-mit-der-nummer-" + std::to_string(i) + ".txt"];
      EXPECT_TRUE(read.error == 0 && read.bytes == bytesOf(i)) << i;
    }
    // A name the folder does not hold, and one below a file.
    struct stat facts {};
    EXPECT_EQ(stat((mountPoint_ / "Viele" / "fehlt.txt").c_str(), &facts), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(stat((mountPoint_ / "Index.txt" / "x").c_str(), &facts), -1);
    EXPECT_EQ(errno, ENOTDIR);
    EXPECT_EQ(Stop(), 0);
  }
}

// Readers of one large damaged entry at once, while it decodes: each gets
// the bytes its stream decoded (the first readings may stop up to a page
// before the damage) and then the error, and no byte handed out changes
// under them while the decoding counts what it may keep (a build with the
// race detector ends the mount with an error if one would).
TEST_F(PackToolMount, ParallelReadersOfADamagedLargeEntryGetItsDecodedBytes) {
  Bytes cut = SampleData(3u << 19, 11), unchecked = SampleData(3u << 19, 12);  // decoded as they are read
  Bytes archive = BuildArchive({StoredEntry(B(Index({"C:\\i", "C:\\kaputt.bin", "C:\\falsch.bin"})))});
  // Zeros three quarters in read as an end code: the stream stops there.
  Bytes stream = EncodeCompressedStream(cut.data(), cut.size(), EncoderMode::Balanced, true);
  std::fill_n(stream.begin() + ptrdiff_t(stream.size() * 3 / 4), 64, 0);
  AppendRawEntry(archive, uint32_t(cut.size()), uint32_t(stream.size()), stream);
  AppendSpoiltEntry(archive, unchecked, 6, 0x10);  // its checksum field
  Write("large-damaged.zip", archive);
  Run({"extract", "--all", "--force", "-q", "-d", "out", "large-damaged.zip"});
  std::map<std::string, FileRead> expected = FilesBelow(Path("out"));
  ASSERT_EQ(expected.size(), 3u);

  ASSERT_TRUE(Start({"large-damaged.zip"}));
  const std::string names[] = {"kaputt.bin", "falsch.bin"};
  std::vector<FileRead> reads(6);
  std::vector<std::thread> readers;
  for (size_t i = 0; i < reads.size(); i++) {
    readers.emplace_back([&, i] { reads[i] = ReadThrough(mountPoint_ / names[i % 2]); });
  }
  for (std::thread& reader : readers) reader.join();
  for (size_t i = 0; i < reads.size(); i++) {
    const FileRead& whole = expected[names[i % 2]];
    EXPECT_EQ(reads[i].error, EIO) << i;
    EXPECT_TRUE(reads[i].bytes.size() <= whole.bytes.size() && reads[i].bytes.size() + 4096 >= whole.bytes.size() &&
                std::equal(reads[i].bytes.begin(), reads[i].bytes.end(), whole.bytes.begin()))
        << i;
  }
  EXPECT_EQ(Stop(), 0);
}

// An open file of a stored entry reads the archive's file at each read: once
// that file is written over, the open file gives the error, never the new
// bytes. (Past the first reading's read-ahead, so that the kernel asks.)
TEST_F(PackToolMount, AnOpenStoredFileFailsOnceItsArchiveIsWrittenOver) {
  Bytes data = SampleData(2u << 20, 13);
  WriteEntries("stored.zip", {StoredEntry(B(Index({"C:\\i", "C:\\gross.bin"}))), StoredEntry(data)});
  ASSERT_TRUE(Start({"stored.zip"}));
  int fd = open((mountPoint_ / "gross.bin").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  unsigned char bytes[4096];
  ASSERT_EQ(pread(fd, bytes, sizeof bytes, 0), ssize_t(sizeof bytes));
  EXPECT_TRUE(std::equal(bytes, bytes + sizeof bytes, data.begin()));

  // The archive is written over in place: the same size, other bytes.
  const off_t inEntry = off_t(3u << 19);
  size_t entryStart = fs::file_size(Path("stored.zip")) - data.size();
  int archive = open(Path("stored.zip").c_str(), O_WRONLY);
  ASSERT_GE(archive, 0);
  std::vector<char> other(sizeof bytes, 'X');
  ASSERT_EQ(pwrite(archive, other.data(), other.size(), off_t(entryStart) + inEntry), ssize_t(other.size()));
  close(archive);

  errno = 0;
  EXPECT_EQ(pread(fd, bytes, sizeof bytes, inEntry), -1);
  EXPECT_EQ(errno, EIO);
  close(fd);
  EXPECT_EQ(Stop(), 0);
}

// Nothing changes through the mount; an archive that changes under it is an
// I/O error; Ctrl-C leaves nothing mounted, as does the unmount of a mount
// in the background; a mount that cannot be made says why.
TEST_F(PackToolMount, RefusesWritesEndsCleanlyAndSaysWhyItCannotStart) {
  WriteEntries("a.zip", {StoredEntry(B(Index({"C:\\i.txt", "C:\\d\\f.txt"}))), CompressedEntry(SampleData(9000, 3))});
  ASSERT_TRUE(Start({"a.zip"}));
  const fs::path file = mountPoint_ / "d" / "f.txt";
  const std::string target = (mountPoint_ / "g.txt").string();
  struct Refusal {
    const char* what;
    int result;
  } refusals[] = {
      {"open for writing", open(file.c_str(), O_WRONLY)},
      {"create", open(target.c_str(), O_WRONLY | O_CREAT, 0644)},
      {"truncate", truncate(file.c_str(), 0)},
      {"rename", rename(file.c_str(), target.c_str())},
      {"unlink", unlink(file.c_str())},
      {"mkdir", mkdir((mountPoint_ / "n").c_str(), 0755)},
      {"rmdir", rmdir((mountPoint_ / "d").c_str())},
  };
  for (const Refusal& r : refusals) {
    EXPECT_EQ(r.result, -1) << r.what;
  }
  errno = 0;
  EXPECT_EQ(open(file.c_str(), O_RDWR), -1);
  EXPECT_EQ(errno, EROFS);
  struct stat facts {};
  ASSERT_EQ(stat(file.c_str(), &facts), 0);
  EXPECT_EQ(facts.st_mode & 07777, 0444u);
  EXPECT_EQ(facts.st_size, 9000);
  struct stat archive {};
  ASSERT_EQ(stat(Path("a.zip").c_str(), &archive), 0);
  EXPECT_EQ(facts.st_mtim.tv_sec, archive.st_mtim.tv_sec);
  EXPECT_EQ(facts.st_mtim.tv_nsec, archive.st_mtim.tv_nsec);
  EXPECT_EQ(ReadThrough(file).bytes, SampleData(9000, 3));

  WriteEntries("a.zip", {StoredEntry(B(Index({"C:\\i.txt"})))});
  EXPECT_EQ(ReadThrough(mountPoint_ / "i.txt").error, EIO);
  EXPECT_EQ(Stop(), 0);
  EXPECT_FALSE(IsMountPoint(mountPoint_));

  // In the background: back once mounted, gone after fusermount3 -u.
  ToolRun run = Run({"mount", "a.zip", mountPoint_.string()});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(IsMountPoint(mountPoint_));
  EXPECT_EQ(system(("fusermount3 -u '" + mountPoint_.string() + "'").c_str()), 0);
  EXPECT_FALSE(IsMountPoint(mountPoint_));

  Write("plain.txt", B("hello"));
  struct Failure {
    std::vector<std::string> arguments;
    int code;
    const char* says;
  } failures[] = {
      {{"mount", "missing.zip", "mnt"}, 2, "missing.zip"},
      {{"mount", "plain.txt", "mnt"}, 2, "not a pack archive"},
      {{"mount", "a.zip", "missing-folder"}, 5, "no such folder"},
  };
  for (const Failure& f : failures) {
    run = Run(f.arguments);
    EXPECT_EQ(run.exitCode, f.code) << f.arguments[1];
    EXPECT_CONTAINS(run.err, f.says);
    EXPECT_FALSE(IsMountPoint(mountPoint_));
  }
}

// A folder of backups mounts as list takes it, each archive a folder; a
// mount point that holds anything, or that is mounted on, is refused.
TEST_F(PackToolMount, TakesAFolderOfBackupsAndOnlyAnEmptyUnmountedPoint) {
  fs::create_directories(base_ / "work" / "Sicherungen");
  WriteEntries("Sicherungen/jan.zip", {StoredEntry(B(Index({"C:\\i.txt", "C:\\d\\f.txt"}))), StoredEntry(B("jan"))});
  WriteEntries("Sicherungen/feb.zip", {StoredEntry(B(Index({"C:\\i.txt", "C:\\d\\f.txt"}))), StoredEntry(B("feb"))});
  Write("Sicherungen/notiz.txt", B("keine Sicherung"));
  Write("mnt/schon da.txt", B("x"));
  ToolRun full = Run({"mount", "Sicherungen", mountPoint_.string()});
  EXPECT_EQ(full.exitCode, 5);
  EXPECT_CONTAINS(full.err, "not empty");
  EXPECT_FALSE(IsMountPoint(mountPoint_));
  fs::remove(mountPoint_ / "schon da.txt");

  ASSERT_TRUE(Start({"Sicherungen"}));
  EXPECT_EQ(ReadThrough(mountPoint_ / "jan.zip" / "d" / "f.txt").bytes, B("jan"));
  EXPECT_EQ(ReadThrough(mountPoint_ / "feb.zip" / "d" / "f.txt").bytes, B("feb"));
  EXPECT_FALSE(fs::exists(mountPoint_ / "notiz.txt"));
  ToolRun again = Run({"mount", "Sicherungen", mountPoint_.string()});
  EXPECT_EQ(again.exitCode, 5);
  EXPECT_CONTAINS(again.err, "mounted on it already");
  EXPECT_EQ(Stop(), 0);
}

}  // namespace
