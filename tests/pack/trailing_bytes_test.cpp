// What bytes after the last entry of a whole backup are: a table of bytes
// and the kind and words each must get.
#include "pack/trailing_bytes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes Of(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

TEST(TrailingBytes, ZerosArePaddingAndTheRestIsSaid) {
  Bytes header{4, 0, 0, 0, 4, 0, 0, 0, 'a', 'b', 'c', 'd'};            // a stored entry of 4 bytes
  Bytes stream{9, 0, 0, 0, 4, 0, 0, 0, 'J', 'C', 1, 2};                // a compressed one's start
  Bytes claims{0, 0, 1, 0, 0, 0, 1, 0, 'J', 'C', 1, 2};                // claims more than is there
  Bytes binary{0x00, 0x01, 0x02, 0xFF, 0x80, 0x00, 0x00, 0x00, 0x07};  // none of them
  struct Case {
    const char* what;
    Bytes bytes;
    TrailingKind kind;
    const char* says;
  } cases[] = {
      {"zeros", Bytes(512, 0), TrailingKind::Zeros, "zeros (padding to a block)"},
      {"one zero", Bytes(1, 0), TrailingKind::Zeros, "zeros"},
      {"a stored entry", header, TrailingKind::Archive, "another pack archive"},
      {"a stream's start", stream, TrailingKind::Archive, "another pack archive"},
      {"a header claiming more", claims, TrailingKind::Other, "no known kind"},
      {"text", Of("Hallo Welt\r\n"), TrailingKind::Text, "text, appended (\"Hallo Welt  \")"},
      {"bytes", binary, TrailingKind::Other, "(00 01 02 FF 80 00 00 00 ...)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(TrailingBytesKind(c.bytes.data(), c.bytes.size()), c.kind);
    EXPECT_NE(TrailingBytesSaid(c.bytes.data(), c.bytes.size()).find(c.says), std::string::npos)
        << TrailingBytesSaid(c.bytes.data(), c.bytes.size());
  }
}

}  // namespace
