// packtool on damaged backups of thousands of files: every file written is
// compared with its original. A file under a row's path holds that row's
// bytes, or its record says that it is damaged; a name that is a guess is
// said so and kept apart; every file outside the damage comes back whole
// under its own name.
#include <map>

#include "tests/tools/packtool_fixture.h"

namespace {

class PackToolLargeDamage : public PackToolCli {};

// What the files written below a folder are, against the originals.
struct Tally {
  size_t right = 0;          // under its own row's path, its original bytes
  size_t markedDamaged = 0;  // under its row's path, other bytes, its record says not sound
  size_t otherFiles = 0;     // under a row's path, another row's bytes
  size_t wrong = 0;          // under a row's path, other bytes, its record says sound
  size_t guessed = 0;        // below the folder of names that are guesses
  std::vector<bool> rightRows;
};

std::string RowFile(size_t row) {
  return "Fotos/bild-" + std::to_string(row) + ".txt";
}

// damagedRows: the rows whose record says their bytes are not proven
// (damaged, partial, or unchecked: a stored entry with zeros in it is its
// own file, but nothing can prove its bytes).
Tally Count(const RowArchive& backup, const std::string& folder, const std::vector<bool>& damagedRows,
            const std::function<Bytes(const std::string&)>& read,
            const std::function<bool(const std::string&)>& exists) {
  Tally tally;
  tally.rightRows.assign(backup.rows.size(), false);
  std::map<std::string, size_t> rowOf;  // by the bytes of its file
  for (size_t row = 1; row < backup.rows.size(); row++) {
    if (!backup.data[row].empty()) rowOf[std::string(backup.data[row].begin(), backup.data[row].end())] = row;
  }
  for (size_t row = 1; row < backup.rows.size(); row++) {
    if (exists(folder + "/names-unproven/" + RowFile(row))) tally.guessed++;
    if (!exists(folder + "/" + RowFile(row))) continue;
    Bytes bytes = read(folder + "/" + RowFile(row));
    if (bytes == backup.data[row]) {
      tally.right++;
      tally.rightRows[row] = true;
    } else if (rowOf.count(std::string(bytes.begin(), bytes.end())) != 0) {
      tally.otherFiles++;
    } else if (damagedRows[row]) {
      tally.markedDamaged++;
    } else {
      tally.wrong++;
    }
  }
  return tally;
}

TEST_F(PackToolLargeDamage, NoFileTakesAnotherFilesNameAndNoneOutsideTheDamageIsLost) {
  for (size_t size : {3000, 8000}) {
    RowArchive backup = LargeBackup(size);
    for (const LargeDamage& damage : LargeDamages(backup)) {
      SCOPED_TRACE(std::to_string(size) + " files, " + damage.what);
      Write("damaged.zip", damage.bytes);
      std::error_code ignored;
      fs::remove_all(base_ / "work" / "x", ignored);
      fs::remove_all(base_ / "work" / "out", ignored);
      std::vector<bool> touched = backup.Touched(damage.spans);
      // The files that must come back: all but the touched ones, and with
      // two regions those before the first and after the last.
      size_t firstTouched = size, lastTouched = 0;
      for (size_t row = 0; row < size; row++) {
        if (!touched[row]) continue;
        firstTouched = std::min(firstTouched, row);
        lastTouched = row;
      }
      auto mustComeBack = [&](size_t row) {
        if (touched[row] || backup.data[row].empty()) return false;
        return damage.spans.size() == 1 || row < firstTouched || row > lastTouched;
      };
      auto read = [&](const std::string& name) { return Read(name); };
      auto exists = [&](const std::string& name) { return Exists(name); };

      ToolRun run = Run({"extract", "damaged.zip", "--all", "-d", "x", "--json"});
      EXPECT_EQ(run.exitCode, 4) << run.err;
      JsonDocument extracted = Document(run.out);
      std::vector<bool> damagedRows(size, false);
      for (const JsonDocument& item : extracted["damaged"]) damagedRows[item["row"].get<size_t>()] = true;
      // A stored entry carries no checksum: extract never claims it proven.
      for (size_t row = 3; row < size; row += 3) damagedRows[row] = true;
      size_t guessedSaid = 0;
      for (const JsonDocument& item : extracted["written"]) guessedSaid += item["nameFrom"] == "guess" ? 1 : 0;
      Tally tally = Count(backup, "x", damagedRows, read, exists);
      EXPECT_EQ(tally.otherFiles, 0u);
      EXPECT_EQ(tally.wrong, 0u);
      EXPECT_EQ(tally.guessed, guessedSaid) << "every file below names-unproven is said to be a guess";
      for (size_t row = 1; row < size; row++) {
        if (mustComeBack(row)) {
          EXPECT_TRUE(tally.rightRows[row]) << "extract, row " << row;
        }
      }

      run = Run({"rescue", "damaged.zip", "-d", "out", "--json"});
      EXPECT_EQ(run.exitCode, 4) << run.err;
      JsonDocument rescued = Document(run.out);
      std::fill(damagedRows.begin(), damagedRows.end(), false);
      guessedSaid = 0;
      for (const JsonDocument& entry : rescued["entries"]) {
        if (entry["row"].is_null()) continue;
        size_t row = entry["row"].get<size_t>();
        damagedRows[row] = entry["state"] != "sound";
        guessedSaid += entry["nameFrom"] == "guess" && !entry["path"].is_null() ? 1 : 0;
      }
      tally = Count(backup, "out", damagedRows, read, exists);
      EXPECT_EQ(tally.otherFiles, 0u);
      EXPECT_EQ(tally.wrong, 0u);
      EXPECT_EQ(tally.guessed, guessedSaid);
      for (size_t row = 1; row < size; row++) {
        if (mustComeBack(row)) {
          EXPECT_TRUE(tally.rightRows[row]) << "rescue, row " << row;
        }
      }
    }
  }
}

}  // namespace

// With the backup of the month before given, the files between two damaged
// regions are named too, and of a spoilt index nearly every file: every file
// written is compared with its original, and none stands under another's name.
TEST_F(PackToolLargeDamage, TheMonthBeforeProvesTheNamesBetweenTheDamage) {
  RowArchive backup = LargeBackup(3000, true);
  Write("2024-05.zip", MonthBefore(backup));
  std::vector<LargeDamage> damages;
  for (LargeDamage& damage : LargeDamages(backup)) {
    if (damage.spans.size() > 1) damages.push_back(std::move(damage));
  }
  damages.push_back(SpoiltIndex(backup));
  auto read = [&](const std::string& name) { return Read(name); };
  auto exists = [&](const std::string& name) { return Exists(name); };
  for (const LargeDamage& damage : damages) {
    SCOPED_TRACE(damage.what);
    bool spoiltIndex = std::string(damage.what) == "a spoilt index";
    Write("damaged.zip", damage.bytes);
    std::vector<bool> touched = backup.Touched(damage.spans);
    if (spoiltIndex) touched.assign(touched.size(), false);
    for (const char* command : {"extract", "rescue"}) {
      SCOPED_TRACE(command);
      std::error_code ignored;
      fs::remove_all(base_ / "work" / "x", ignored);
      std::vector<std::string> words{command, "damaged.zip", "-d", "x", "--json", "--names-from", "2024-05.zip"};
      if (std::string(command) == "extract") words.push_back("--all");
      if (std::string(command) == "rescue") words.insert(words.end(), {"--repair-time", "0"});
      ToolRun run = Run(words);
      EXPECT_EQ(run.exitCode, 4) << run.err;
      JsonDocument said = Document(run.out);
      std::vector<bool> damagedRows(backup.rows.size(), false);
      size_t namedByOthers = 0;
      for (const JsonDocument& item : said[std::string(command) == "extract" ? "written" : "entries"]) {
        namedByOthers += item["nameFrom"] == "other backup" ? 1 : 0;
        if (item.contains("namedFrom")) {
          EXPECT_NE(item["namedFrom"].get<std::string>().find("named "), std::string::npos);
        }
      }
      // By the row's text: rows other backups added have numbers of their own.
      auto rowOf = [&](const JsonDocument& item) {
        size_t row = SIZE_MAX;
        if (!item["text"].is_string()) return row;
        std::string text = item["text"].get<std::string>();
        size_t at = text.find("bild-");
        return at == std::string::npos ? row : size_t(std::stoul(text.substr(at + 5)));
      };
      if (std::string(command) == "extract") {
        for (const JsonDocument& item : said["damaged"]) {
          if (rowOf(item) < backup.rows.size()) damagedRows[rowOf(item)] = true;
        }
      } else {
        for (const JsonDocument& entry : said["entries"]) {
          if (rowOf(entry) >= backup.rows.size()) continue;
          damagedRows[rowOf(entry)] = entry["state"] != "sound" && entry["state"] != "unchecked";
        }
      }
      EXPECT_GT(namedByOthers, 0u);
      Tally tally = Count(backup, "x", damagedRows, read, exists);
      EXPECT_EQ(tally.otherFiles, 0u);
      EXPECT_EQ(tally.wrong, 0u);
      size_t wanted = 0, back = 0;
      for (size_t row = 1; row < backup.rows.size(); row++) {
        if (touched[row] || backup.data[row].empty()) continue;
        wanted++;
        back += tally.rightRows[row] ? 1 : 0;
        if (!spoiltIndex) {
          EXPECT_TRUE(tally.rightRows[row]) << "row " << row;
        }
      }
      EXPECT_GE(back * 100, wanted * 95) << back << " of " << wanted;
    }
  }
}
