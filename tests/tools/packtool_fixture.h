// The fixture of the packtool process tests: a work folder of the test's
// own, archives written into it, packtool run in it as a separate process.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/damaged_archives.h"
#include "tests/support/pack_writer.h"
#include "tests/tools/tool_runner.h"
#include "tools/cli/json_document.h"

namespace fs = std::filesystem;

using Bytes = std::vector<uint8_t>;

inline Bytes B(const std::string& text) {
  return Bytes(text.begin(), text.end());
}
inline std::string S(const Bytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

// Text-like data with repeats near and far, so that every token kind has
// something to do; seeded so that each entry differs.
inline Bytes SampleData(size_t size, uint32_t seed) {
  return SampleProse(size, seed);
}

// A compressed entry whose stream is spoilt after encoding.
inline void AppendSpoiltEntry(Bytes& archive, const Bytes& data, size_t spoilAt, uint8_t flip) {
  Bytes stream = EncodeCompressedStream(data.data(), data.size(), EncoderMode::Balanced, true);
  stream[spoilAt] ^= flip;
  AppendRawEntry(archive, uint32_t(data.size()), uint32_t(stream.size()), stream);
}

inline std::string Index(const std::vector<std::string>& rows) {
  std::string text;
  for (const std::string& row : rows) text += row + "\r\n";
  return text;
}

class PackToolCli : public testing::Test {
 protected:
  void SetUp() override {
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    // One folder per build tree (tests run from it), so that two trees' tests
    // running at once do not share files.
    std::string tree = std::to_string(std::hash<std::string>{}(fs::current_path().string()) % 1000000);
    base_ = fs::temp_directory_path() / ("packtool-cli-tests-" + tree) / test->name();
    std::error_code ignored;
    fs::remove_all(base_, ignored);
    fs::create_directories(base_ / "work");
  }
  void TearDown() override {
    std::error_code ignored;
    if (HasFailure()) return;
    fs::remove_all(base_, ignored);
    fs::remove(base_.parent_path(), ignored);  // once the last test has left it empty
  }

  std::string Path(const std::string& name) const { return (base_ / "work" / fs::path(name)).string(); }

  ToolRun Run(const std::vector<std::string>& arguments, const std::string& locale = "", uint64_t sizeLimit = 0) {
    ToolRunOptions options;
    options.folder = (base_ / "work").string();
    options.locale = locale;
    options.fileSizeLimit = sizeLimit;
    return RunPackTool(arguments, options);
  }

  void Write(const std::string& name, const Bytes& bytes) { ASSERT_TRUE(WriteFileBytes(Path(name), bytes)) << name; }
  void WriteEntries(const std::string& name, const std::vector<PackEntry>& entries) {
    ASSERT_TRUE(WriteArchive(Path(name), entries)) << name;
  }
  Bytes Read(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return B(bytes.str());
  }
  bool Exists(const std::string& name) const { return fs::exists(base_ / "work" / fs::path(name)); }

  // Every file below the work folder, as relative paths with "/".
  std::set<std::string> Files() const {
    std::set<std::string> files;
    for (const auto& item : fs::recursive_directory_iterator(base_ / "work")) {
      if (item.is_regular_file()) files.insert(fs::relative(item.path(), base_ / "work").generic_string());
    }
    return files;
  }

  fs::path base_;
};

// packtool's --json output: one document ending with a newline. Parsed with
// its fields in their order, so that comparing with an expected object checks
// names, values and order; null (after a failure) when it is not JSON.
inline JsonDocument Document(const std::string& out) {
  EXPECT_TRUE(!out.empty() && out.back() == '\n') << out;
  JsonDocument document = JsonDocument::parse(out, nullptr, false);
  EXPECT_FALSE(document.is_discarded()) << out;
  return document.is_discarded() ? JsonDocument() : document;
}
inline std::vector<std::string> Keys(const JsonDocument& object) {
  std::vector<std::string> keys;
  for (const auto& field : object.items()) keys.push_back(field.key());
  return keys;
}

#define EXPECT_CONTAINS(haystack, needle) \
  EXPECT_NE(std::string(haystack).find(needle), std::string::npos) << "in: " << (haystack)
