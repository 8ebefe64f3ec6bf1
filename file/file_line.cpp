// FileReadLine: 8-bit lines ended by LF, CR, CR LF or NUL, taken over byte
// for byte. On a buffered file the bytes come from the file's buffer, so one
// system read serves 4,096 bytes; runs between line ends are copied whole.
#include <cstdint>
#include <cstring>
#include <utility>

#include "file/file.h"
#include "file/file_internal.h"

namespace {

constexpr size_t LINE_ROOM_STEP = 4096;

bool IsLineEnd(unsigned char byte) {
  // NUL, LF and CR as one test: bits 0, 10 and 13.
  return byte <= '\r' && ((1u << byte) & ((1u << 0) | (1u << '\n') | (1u << '\r'))) != 0;
}

// The first line end in [at, end), or end. Text bytes are mostly above CR, so
// eight bytes at a time are skipped while none of them is below 0x0E.
const unsigned char* FindLineEnd(const unsigned char* at, const unsigned char* end) {
  constexpr uint64_t ONES = 0x0101010101010101u;
  constexpr uint64_t HIGHS = 0x8080808080808080u;
  for (;;) {
    while (end - at >= 8) {
      uint64_t word;
      memcpy(&word, at, 8);
      // Non-zero exactly when some byte of the word is below 0x0E.
      if (((word - ONES * 0x0E) & ~word & HIGHS) != 0) break;
      at += 8;
    }
    // A low byte is near (or the end is): look at the next eight one by one,
    // as a tab is low but no line end.
    const unsigned char* stop = end - at >= 8 ? at + 8 : end;
    for (; at < stop; at++) {
      if (IsLineEnd(*at)) return at;
    }
    if (at == end) return end;
  }
}

// How many bytes the line end at lineEnd takes: 2 for CR LF, else 1; 0 when
// it is a CR that is the last byte before end, so that whether an LF follows
// is for the next bytes to say. The one place that says CR LF is one end.
size_t LineEndLength(const unsigned char* lineEnd, const unsigned char* end) {
  if (*lineEnd != '\r') return 1;
  if (lineEnd + 1 == end) return 0;
  return lineEnd[1] == '\n' ? 2 : 1;
}

// After a CR that ended the bytes at hand: whether the next byte completes
// a CR LF (and is then taken with it).
bool LineEndTakesLf(unsigned char next) {
  return next == '\n';
}

// A line that outgrows one look at the buffer: its room starts at 4,096 bytes
// and doubles, since an enlargement may copy the whole line: growing by a
// fixed step made a line of n bytes cost about n * n / 8,192 copied bytes
// (tens of seconds for a 16 MB line of a damaged index). When the string heap refuses the
// doubled room, the line asks for just what it needs; when that is refused
// too, the line keeps what it has and the rest of it is skipped, so the next
// line still starts where it should.
class LineText {
 public:
  void Append(const unsigned char* bytes, size_t count) {
    if (count == 0 || full_) return;
    if (count > room_ - length_) {
      size_t wanted = (length_ + count + LINE_ROOM_STEP - 1) / LINE_ROOM_STEP * LINE_ROOM_STEP;
      char* grown = room_ * 2 > wanted ? text_.Reserve(room_ * 2) : nullptr;
      if (grown != nullptr) {
        wanted = room_ * 2;
      } else {
        grown = text_.Reserve(wanted);
      }
      if (grown == nullptr) {
        full_ = true;
        count = room_ - length_;
        if (count == 0) return;
      } else {
        block_ = grown;
        room_ = wanted;
      }
    }
    memcpy(block_ + length_, bytes, count);
    length_ += count;
  }

  // Nothing of the line seen yet (a line that ran out of room is not fresh).
  bool Fresh() const { return length_ == 0 && !full_; }

  String Finish() {
    if (length_ == 0) return String("");
    // Give back the unused room; should even that fail, hand out a copy.
    if (text_.Reserve(length_) == nullptr) return String(block_, length_);
    return std::move(text_);
  }

 private:
  String text_;
  char* block_ = nullptr;
  size_t length_ = 0;
  size_t room_ = 0;
  bool full_ = false;
};

String ReadLineBuffered(FileRecord* record) {
  LineText line;
  for (;;) {
    if (record->reading == 0 || record->left == 0) {
      // Refill (writing the pending bytes first in writing state), then put
      // the byte back to scan it with the rest of the buffer.
      unsigned char first;
      if (FileBufferedRead(record, &first, 1) == 0) break;
      record->left += 1;
    }
    const unsigned char* start = record->buffer + (record->filled - record->left);
    const unsigned char* end = start + record->left;
    const unsigned char* at = FindLineEnd(start, end);
    size_t count = size_t(at - start);
    record->left -= int32_t(count);
    if (at == end) {
      line.Append(start, count);
      continue;
    }
    // The line end is consumed and not part of the line.
    size_t ending = LineEndLength(at, end);
    record->left -= ending == 0 ? 1 : int32_t(ending);
    String result;
    if (line.Fresh()) {
      // A line that lies whole in the buffer is made at its final size at once.
      result = String(reinterpret_cast<const char*>(start), count);
    } else {
      line.Append(start, count);
      result = line.Finish();
    }
    if (ending == 0) {
      // CR LF is one line end, also when the LF begins the next refill.
      unsigned char next;
      if (FileBufferedRead(record, &next, 1) == 1 && !LineEndTakesLf(next)) record->left += 1;
    }
    return result;
  }
  return line.Finish();
}

// Without a buffer every byte is one system read, as the file asked for.
String ReadLineUnbuffered(FileRecord* record) {
  LineText line;
  unsigned char byte;
  uint32_t done = 0;
  while (PlatformFileRead(record->handle, &byte, 1, &done) && done == 1) {
    if (!IsLineEnd(byte)) {
      line.Append(&byte, 1);
      continue;
    }
    if (byte == '\r' && PlatformFileRead(record->handle, &byte, 1, &done) && done == 1 && !LineEndTakesLf(byte)) {
      PlatformFileSeekRelative(record->handle, -1);
    }
    break;
  }
  return line.Finish();
}

}  // namespace

size_t LineTextWholeLines(const unsigned char* text, size_t size) {
  while (size > 0 && !IsLineEnd(text[size - 1])) size--;
  return size;
}

size_t LineTextTrusted(const unsigned char* text, size_t decoded, size_t size) {
  return decoded >= size ? size : LineTextWholeLines(text, decoded);
}

size_t LineTextNext(const unsigned char* text, size_t size, size_t at, size_t* length) {
  const unsigned char* end = text + size;
  const unsigned char* lineEnd = FindLineEnd(text + at, end);
  *length = size_t(lineEnd - (text + at));
  if (lineEnd == end) return size;
  // A CR at the very end of the text has nothing after it: one byte.
  size_t ending = LineEndLength(lineEnd, end);
  return size_t(lineEnd + (ending == 0 ? 1 : ending) - text);
}

String FileReadLine(intptr_t number) {
  auto* record = static_cast<FileRecord*>(ObjectTableGet(FileTable(), number));
  if (record == nullptr) return String("");
  if (record->buffer == nullptr) return ReadLineUnbuffered(record);
  return ReadLineBuffered(record);
}
