#include "tests/support/reference_decoder.h"

namespace {

class SentinelBits {
 public:
  SentinelBits(const uint8_t* data, uint32_t size) : data_(data), size_(size) {}

  // False once a word that starts past the input would be needed.
  bool Bit(uint32_t* bit) {
    uint32_t out = reg_ >> 31;
    reg_ <<= 1;
    if (reg_ != 0) {
      *bit = out;
      return true;
    }
    if (at_ >= size_) return false;
    uint32_t word = 0;
    for (uint32_t i = 0; i < 4; i++) {
      if (at_ + i < size_) word |= uint32_t(data_[at_ + i]) << (8 * i);
    }
    at_ += 4;
    *bit = word >> 31;
    reg_ = (word << 1) + 1;
    return true;
  }

  bool Value(unsigned n, uint32_t* value) {
    uint32_t v = 0;
    for (unsigned i = 0; i < n; i++) {
      uint32_t bit;
      if (!Bit(&bit)) return false;
      v = 2 * v + bit;
    }
    *value = v;
    return true;
  }

  // Wider than 32 bits is bad data.
  bool Gamma(uint32_t* value) {
    uint64_t v = 1;
    for (;;) {
      uint32_t bit, more;
      if (!Bit(&bit) || !Bit(&more)) return false;
      v = 2 * v + bit;
      if (v > 0xFFFFFFFFu) return false;
      if (more == 0) break;
    }
    *value = uint32_t(v);
    return true;
  }

 private:
  const uint8_t* data_;
  uint32_t size_;
  uint32_t at_ = 0;
  uint32_t reg_ = 0x80000000u;
};

uint32_t Bonus(uint32_t offset) {
  if (offset <= 127) return 4;
  if (offset <= 638) return 0;
  if (offset <= 14334) return 1;
  if (offset <= 65535) return 2;
  return 3;
}

uint32_t Checksum(const std::vector<uint8_t>& data, uint32_t size) {
  uint32_t sum = 0;
  uint32_t at = 0;
  while (size >= 4 && at < size) {
    if (size - at < 4) at = size - 4;
    uint32_t w =
        uint32_t(data[at]) | uint32_t(data[at + 1]) << 8 | uint32_t(data[at + 2]) << 16 | uint32_t(data[at + 3]) << 24;
    sum += w;
    sum ^= ((w << 1) | (w >> 31)) + 1;
    at += 4;
  }
  return sum;
}

}  // namespace

ReferenceResult ReferenceDecode(const uint8_t* source, uint32_t sourceSize, uint32_t capacity) {
  ReferenceResult r{0, 0, std::vector<uint8_t>(capacity, 0)};
  if (sourceSize < 10 || source[0] != 0x4A || source[1] != 0x43) return r;
  auto field = [&](int at) {
    return uint32_t(source[at]) | uint32_t(source[at + 1]) << 8 | uint32_t(source[at + 2]) << 16 |
           uint32_t(source[at + 3]) << 24;
  };
  uint32_t decodedSize = field(2);
  uint32_t checksum = field(6);
  SentinelBits in(source + 10, sourceSize - 10);
  uint32_t& pos = r.written;
  uint32_t lastOffset = 1;
  uint32_t indexBits = 8;
  uint32_t width = 0;
  uint32_t base = 0;
  auto put = [&](uint32_t byte) {
    if (pos >= capacity) return false;
    r.output[pos++] = uint8_t(byte);
    return true;
  };
  auto copy = [&](uint32_t distance, uint64_t length) {
    if (distance == 0 || distance > pos || length > capacity - pos) return false;
    for (uint64_t i = 0; i < length; i++) {
      r.output[pos] = r.output[pos - distance];
      pos++;
    }
    return true;
  };

  for (;;) {
    uint32_t b1, b2, b3;
    if (!in.Bit(&b1)) return r;
    if (b1 == 1) {
      uint32_t v;
      if (width == 0 || !in.Value(width, &v) || !put(v + base)) return r;
      continue;
    }
    if (!in.Bit(&b2)) return r;
    if (b2 == 1) {
      uint32_t g, length;
      if (!in.Gamma(&g)) return r;
      if (g == 2) {
        if (!in.Gamma(&length) || !copy(lastOffset, length)) return r;
        continue;
      }
      uint32_t low = 0;
      if (!in.Value(indexBits, &low)) return r;
      uint32_t offset = uint32_t(uint64_t(g - 3) << indexBits) + low;
      lastOffset = offset;
      if (!in.Gamma(&length) || !copy(offset, uint64_t(length) + Bonus(offset))) return r;
      continue;
    }
    if (!in.Bit(&b3)) return r;
    if (b3 == 0) {
      uint32_t offset, n;
      if (!in.Value(7, &offset) || !in.Value(2, &n)) return r;
      if (offset != 0) {
        lastOffset = offset;
        if (!copy(offset, n + 2)) return r;
        continue;
      }
      if (n == 0) break;
      if (!in.Value(n + 3, &indexBits) || indexBits > 31) return r;
      continue;
    }
    uint32_t v;
    if (!in.Value(4, &v)) return r;
    if (v >= 2) {
      if (!copy(v - 1, 1)) return r;
      continue;
    }
    if (v == 1) {
      if (!put(0)) return r;
      continue;
    }
    uint32_t e;
    if (!in.Bit(&e)) return r;
    if (e == 0) {
      uint32_t w;
      if (!in.Bit(&w)) return r;
      width = 7 + w;
      base = 0;
      if (width == 7 && !in.Value(8, &base)) return r;
      continue;
    }
    uint32_t more = 1;
    while (more == 1) {
      if (capacity - pos < 256) return r;
      for (int i = 0; i < 256; i++) {
        uint32_t byte;
        if (!in.Value(8, &byte)) return r;
        put(byte);
      }
      if (!in.Bit(&more)) return r;
    }
  }
  if (checksum == 0) {
    r.result = pos;
  } else if (decodedSize <= pos && Checksum(r.output, decodedSize) == checksum) {
    r.result = pos;
  }
  return r;
}
