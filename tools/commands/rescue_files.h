// The files of a rescue, written below its folder in batches: each is
// staged under its target, made durable with its batch, then placed, and
// what became of it is given in the archive's order once its batch is
// placed. A name in the way (a file that was there, or one of this run that
// the file system takes the name for) sends the file to the first free one
// of entry-N.bin, entry-N-2.bin, ...
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/cli/cli.h"
#include "tools/output/output_tree.h"

// What became of an entry's file.
struct RescuedFile {
  bool written = false;
  bool kept = false;     // written: a file there before already held exactly its bytes (a rerun's)
  std::string path;      // where it was written, below the folder, "/" between the parts as given
  std::string inTheWay;  // what stood in its first name's way; "" when nothing did
  bool link = false;     // that was a link
  std::string refused;   // not written: what stood in the last name's way ("" when the system failed it)
  std::string failed;    // not written: the path and why the system failed it
};

class RescueFiles {
 public:
  // Told what became of an entry's file, or null for an entry without one.
  using Said = std::function<void(const RescuedFile*)>;

  explicit RescueFiles(const std::string& folder) : tree_(folder) {}

  // parts: the folders below the folder, then the name (Windows-1252).
  // The bytes are copied while the batch waits (a larger file than
  // COPIES_MAX is placed at once, before Write returns); number names the
  // entry and its fallback names.
  void Write(const std::vector<std::string>& parts, uint32_t number, const unsigned char* bytes, uint32_t size,
             Said said);
  // For an entry without a file: said after those before it.
  void Hold(Said said);
  // Places the batch and gives each waiting entry what became of it, in order.
  void PlaceBatch();

  // Written at once (the rescue's report), after the batch was settled.
  TreeResult WriteNow(const std::string& name, const std::string& text) {
    return tree_.Write({}, name, text.data(), text.size(), false, 0);
  }
  // As OutputTree's.
  bool Finish(std::string* error) { return tree_.Finish(error); }
  const std::vector<std::string>& LeftoversRemoved() const { return tree_.LeftoversRemoved(); }

  static constexpr uint64_t COPIES_MAX = uint64_t(64) << 20;

 private:
  struct WaitingEntry {
    Said said;
    bool write = false;
    bool staged = false;  // otherwise result says why not
    TreeResult result;
    std::vector<std::string> parts;
    uint32_t number = 0;
    std::vector<unsigned char> copy;
    const unsigned char* bytes = nullptr;
    uint32_t size = 0;
  };

  TreeResult WriteAt(const std::vector<std::string>& parts, const WaitingEntry& entry, bool now);
  RescuedFile Placed(WaitingEntry& entry, TreeResult result);

  OutputTree tree_;
  std::vector<WaitingEntry> waiting_;  // in order, for the batch being staged
  uint64_t copied_ = 0;                // bytes of their copies
};

// The folder must be fresh or empty (with --force: any folder), so that a
// rescue never mixes with, or replaces, what is there: made when missing.
// EXIT_OK, or the code after saying why not.
int PrepareRescueFolder(const PackToolRequest& request);
