// The bit writer, the stream header and the reference checksum.
#include "tests/support/pack_writer.h"

void StreamBitWriter::Put(uint32_t value, unsigned bits) {
  if (bits == 0) return;
  if (bits < 32) value &= (uint32_t(1) << bits) - 1;
  unsigned used = bitCount_ % 32;
  if (used == 0) words_.push_back(0);
  unsigned room = 32 - used;
  if (bits <= room) {
    words_.back() |= value << (room - bits);
  } else {
    words_.back() |= value >> (bits - room);
    words_.push_back(value << (32 - (bits - room)));
  }
  bitCount_ += bits;
}

void StreamBitWriter::PutGamma(uint64_t value) {
  unsigned dataBits = 0;
  while ((value >> (dataBits + 1)) != 0) dataBits++;
  for (unsigned i = dataBits; i-- > 0;) {
    Put(uint32_t(value >> i) & 1, 1);
    Put(i > 0 ? 1 : 0, 1);
  }
}

void StreamBitWriter::Literal(uint32_t value, unsigned width) {
  Put(1, 1);
  Put(value, width);
}

void StreamBitWriter::NormalMatch(uint32_t high, uint32_t low, unsigned indexBits, uint64_t lengthField) {
  Put(1, 2);
  PutGamma(uint64_t(high) + 3);
  Put(low, indexBits);
  PutGamma(lengthField);
}

void StreamBitWriter::RepeatMatch(uint64_t length) {
  Put(1, 2);
  PutGamma(2);
  PutGamma(length);
}

void StreamBitWriter::ShortMatch(uint32_t offset, uint32_t n) {
  Put(0, 3);
  Put(offset, 7);
  Put(n, 2);
}

void StreamBitWriter::OneByteCode(uint32_t code) {
  Put(1, 3);
  Put(code, 4);
}

void StreamBitWriter::LiteralWidth(unsigned width, uint32_t base) {
  OneByteCode(0);
  Put(0, 1);
  Put(width == 8 ? 1 : 0, 1);
  if (width == 7) Put(base, 8);
}

void StreamBitWriter::RawBlocks(const uint8_t* bytes, size_t blocks) {
  OneByteCode(0);
  Put(1, 1);
  for (size_t b = 0; b < blocks; b++) {
    for (size_t i = 0; i < 256; i++) Put(bytes[b * 256 + i], 8);
    Put(b + 1 < blocks ? 1 : 0, 1);
  }
}

void StreamBitWriter::IndexBits(uint32_t n, uint32_t value) {
  ShortMatch(0, n);
  Put(value, n + 3);
}

void StreamBitWriter::EndCode() {
  ShortMatch(0, 0);
}

std::vector<uint8_t> StreamBitWriter::Bytes(bool trimLastWord) const {
  std::vector<uint8_t> bytes;
  for (uint32_t word : words_) {
    for (int i = 0; i < 4; i++) bytes.push_back(uint8_t(word >> (8 * i)));
  }
  if (trimLastWord) {
    for (int i = 0; i < 3 && !bytes.empty() && bytes.back() == 0; i++) bytes.pop_back();
  }
  return bytes;
}

std::vector<uint8_t> StreamHeader(uint32_t decodedSize, uint32_t checksum) {
  std::vector<uint8_t> header{0x4A, 0x43};
  for (uint32_t field : {decodedSize, checksum}) {
    for (int i = 0; i < 4; i++) header.push_back(uint8_t(field >> (8 * i)));
  }
  return header;
}

std::vector<uint8_t> MakeStream(uint32_t decodedSize, uint32_t checksum, const StreamBitWriter& bits,
                                bool trimLastWord) {
  std::vector<uint8_t> stream = StreamHeader(decodedSize, checksum);
  std::vector<uint8_t> body = bits.Bytes(trimLastWord);
  stream.insert(stream.end(), body.begin(), body.end());
  return stream;
}

uint32_t ReferenceChecksum(const uint8_t* data, size_t size) {
  uint32_t sum = 0;
  if (size < 4) return 0;
  // Word start positions: every 4 bytes, and the last 4 bytes when the size
  // leaves a remainder.
  std::vector<size_t> starts;
  for (size_t at = 0; at + 4 <= size; at += 4) starts.push_back(at);
  if (size % 4 != 0) starts.push_back(size - 4);
  for (size_t at : starts) {
    uint32_t w = 0;
    for (int i = 3; i >= 0; i--) w = (w << 8) | data[at + i];
    sum += w;
    sum ^= ((w << 1) | (w >> 31)) + 1;
  }
  return sum;
}
