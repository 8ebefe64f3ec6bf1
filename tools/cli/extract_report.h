// What extract tells its user: a line per file written or kept (on a
// terminal), a one-line summary, or one JSON document of everything written,
// kept, refused and damaged.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

class ExtractReport {
 public:
  // lines: a line per file on standard error; summary: the closing line;
  // json: the document on standard output instead of both.
  ExtractReport(bool lines, bool summary, bool json);
  ~ExtractReport();

  // The run will take files that hold bytes in all (0: not known): where
  // they are many, a progress line of files, bytes, rate and time left
  // stands in for the line per file.
  void Expect(size_t files, uint64_t bytes);

  void Written(uint32_t row, const std::string& rowText, uint64_t size, const std::string& target);
  // A target that was there before the run, kept (--skip-existing).
  void Skipped(uint32_t row, const std::string& rowText, const std::string& target);
  void Refused(uint32_t row, const std::string& rowText, const std::string& reason);
  // target: where the damaged bytes were written, or "" when nothing was.
  void Damaged(uint32_t row, const std::string& rowText, const std::string& reason, const std::string& target,
               uint64_t size);
  void Failed(uint32_t row, const std::string& rowText, const std::string& reason);
  // Where the row's name for its entry came from, when not from a sound
  // index's count ("index"): said beside each of its items.
  void NamedFrom(uint32_t row, const char* word) { nameFrom_[row] = word; }
  // Of a row named from another backup: which, and by which row there
  // ("named from 2024-05.zip, row 17"), said as "namedFrom".
  void NamedBy(uint32_t row, const std::string& said) { namedBy_[row] = said; }

  // Prints the summary or the document; the exit code goes into the document.
  void Finish(int code);

 private:
  struct Item {
    uint32_t row;
    std::string rowText;
    std::string target;  // "" for none
    uint64_t size;
    std::string reason;
    bool sized = true;  // size says what was written to target
  };
  const char* NameFromOf(uint32_t row) const;
  // One more file of the run taken (written, kept, refused, damaged or failed).
  void Advance(uint64_t size);

  bool lines_;
  bool summary_;
  bool json_;
  std::vector<Item> written_;
  std::vector<Item> skipped_;
  std::vector<Item> refused_;
  std::vector<Item> damaged_;
  std::vector<Item> failed_;
  uint64_t bytes_ = 0;
  size_t writtenDamaged_ = 0;
  std::map<uint32_t, const char*> nameFrom_;
  std::map<uint32_t, std::string> namedBy_;
  std::unique_ptr<class Progress> progress_;  // when Expect found many files
  size_t expectedFiles_ = 0;
  uint64_t expectedBytes_ = 0;
  size_t filesDone_ = 0;
  uint64_t bytesDone_ = 0;
  uint64_t started_ = 0;  // milliseconds
};
