// What the decoder's tests share: a decode that runs every way the decoder
// can run and checks them against one another, and the data they decode
// (the salvage tests take their data from here too).
// Every decode runs with the stream at the very end of a buffer followed by
// a no-access page, and into an output buffer that ends at one too, so an
// over-read or over-write faults at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

struct Decoded {
  bool sound;  // the checked entry point's verdict
  uint32_t result;
  uint32_t written;
  Bytes output;  // the first `written` bytes
};

// The stream decoded into `capacity` bytes by the plain and the checked entry
// point and by every fast-loop variant this processor runs; all must agree.
Decoded Decode(const Bytes& stream, uint32_t capacity);

Bytes Text(const std::string& s);
// Bytes no match finder can shorten much: a fixed pseudo-random sequence.
Bytes Noise(size_t size, uint32_t seed);
// German words and line ends in a fixed pseudo-random order.
Bytes SampleText(size_t size);
