// A second decoder, written for plainness, not speed: one bit at a time with
// the sentinel register, every copy byte by byte. Tests and the decoder's
// fuzz target compare the product's decoder against it.
#pragma once

#include <cstdint>
#include <vector>

struct ReferenceResult {
  uint32_t result;              // what DecodeCompressedStream should return
  uint32_t written;             // bytes written before the end code or the stop
  std::vector<uint8_t> output;  // capacity bytes; unwritten ones are 0
};

ReferenceResult ReferenceDecode(const uint8_t* source, uint32_t sourceSize, uint32_t capacity);
