#include "tools/rows/entry_repair.h"

#include <utility>

namespace {

const char* FieldSaid(RepairField field) {
  switch (field) {
    case RepairField::Magic:
      return " (in the stream's first two bytes)";
    case RepairField::DecodedSize:
      return " (in the stream's decoded-size field)";
    case RepairField::Checksum:
      return " (in the stream's checksum field)";
    default:
      return "";
  }
}

const char* FieldName(RepairField field) {
  switch (field) {
    case RepairField::Magic:
      return "magic";
    case RepairField::DecodedSize:
      return "size";
    case RepairField::Checksum:
      return "checksum";
    default:
      return "data";
  }
}

std::string PlaceSaid(const RepairedEntry& entry, const RepairPlace& place) {
  return "archive byte " + std::to_string(entry.ArchiveByte(place)) + ", bit " + std::to_string(place.bit) +
         FieldSaid(place.field);
}

}  // namespace

EntryRepairs::EntryRepairs(std::string path, double seconds, unsigned threads, WorkAhead* engine)
    : path_(std::move(path)), on_(seconds > 0), budget_(seconds), options_{threads, &budget_} {
  options_.engine = engine;
}

bool EntryRepairs::Try(uint64_t headerOffset, uint32_t unpackedSize, uint32_t packedSize, RepairedEntry* result) {
  if (!on_ || unpackedSize == packedSize) return false;
  return RepairArchiveEntry(path_.c_str(), headerOffset, unpackedSize, packedSize, options_, result);
}

bool EntryRepairs::Try(const SalvagedEntry& entry, RepairedEntry* result) {
  bool streamWhole = !entry.stored && !entry.cutShort && !entry.rangeTaken && !entry.unreadable && !entry.tooLarge &&
                     !entry.sizeUnknown && !entry.zeroed;
  bool failed = entry.state == SalvageState::Damaged || entry.state == SalvageState::Partial;
  return streamWhole && failed && Try(entry.offset, entry.unpackedSize, entry.packedSize, result);
}

std::string RepairSaid(const RepairedEntry& entry) {
  const StreamRepair& repair = entry.repair;
  std::string first = PlaceSaid(entry, repair.places[0]);
  std::string chance = "a chance of a false match below 1 in " + std::to_string(repair.falseMatchOneIn);
  switch (repair.outcome) {
    case RepairOutcome::Repaired:
      return "one flipped bit at " + first + "; proven by the checksum, " + chance;
    case RepairOutcome::Unproven:
      return "one flipped bit at " + first +
             " would explain it, but the checksum proves too little there to repair it (" +
             (repair.falseMatchOneIn > 0 ? "a chance of a false match of 1 in " + std::to_string(repair.falseMatchOneIn)
                                         : std::string("a false match is likely")) +
             ")";
    case RepairOutcome::Ambiguous:
      return "a flipped bit at " + first + " or at " + PlaceSaid(entry, repair.places[1]) +
             " would each explain it: nothing repaired";
    case RepairOutcome::Unprovable:
      return "its stream carries no checksum (or is too large to try): it cannot be repaired";
    case RepairOutcome::OutOfTime:
      return "repair not tried: the time for repairs (--repair-time) was spent";
    default:
      return "no single flipped bit explains it";
  }
}

JsonDocument RepairJson(const RepairedEntry& entry) {
  const StreamRepair& repair = entry.repair;
  JsonDocument json = {{"outcome", RepairOutcomeName(repair.outcome)}};
  if (repair.outcome == RepairOutcome::Repaired || repair.outcome == RepairOutcome::Unproven ||
      repair.outcome == RepairOutcome::Ambiguous) {
    JsonDocument places = JsonDocument::array();
    int count = repair.outcome == RepairOutcome::Ambiguous ? 2 : 1;
    for (int i = 0; i < count; i++) {
      places.push_back({{"archiveByte", entry.ArchiveByte(repair.places[i])},
                        {"bit", repair.places[i].bit},
                        {"field", FieldName(repair.places[i].field)}});
    }
    json["places"] = places;
    json["falseMatchOneIn"] = repair.falseMatchOneIn;
  }
  json["candidates"] = repair.candidates;
  return json;
}
