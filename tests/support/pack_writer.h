// Test-only writers for what the product only reads: compressed streams and
// pack archives. The tests, the fuzz corpus, the benchmarks and the
// command-line tool's tests make their input with these.
//
//   auto packed = EncodeCompressedStream(data, size, EncoderMode::Balanced, true);
//   WriteArchive("backup.zip", {StoredEntry(index), CompressedEntry(file)});
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Writes bits the way the decoder takes them: 32-bit little-endian words,
// each filled from bit 31 down. The token methods write one token each, with
// its prefix, so that hand-built streams read like the format.
class StreamBitWriter {
 public:
  // The low `bits` bits of value, highest first (bits 0 to 32).
  void Put(uint32_t value, unsigned bits);
  // Start 1, then per data bit: the bit and a continuation bit. value >= 2.
  void PutGamma(uint64_t value);

  void Literal(uint32_t value, unsigned width);  // 1, value in `width` bits
  // 0 1, gamma(high + 3), low in indexBits bits, gamma(lengthField). The
  // length field is the match length less the bonus for the offset.
  void NormalMatch(uint32_t high, uint32_t low, unsigned indexBits, uint64_t lengthField);
  void RepeatMatch(uint64_t length);                    // 0 1, gamma(2), gamma(length)
  void ShortMatch(uint32_t offset, uint32_t n);         // 0 0 0, offset in 7 bits, n in 2 (length n + 2)
  void OneByteCode(uint32_t code);                      // 0 0 1, code in 4 bits (>= 2: distance code - 1; 1: 0x00)
  void LiteralWidth(unsigned width, uint32_t base);     // 0 0 1 0000 0, w, and for width 7 the base
  void RawBlocks(const uint8_t* bytes, size_t blocks);  // 0 0 1 0000 1, 256 bytes per block, each followed by "more"
  void IndexBits(uint32_t n, uint32_t value);           // 0 0 0 0000000 n, value in n + 3 bits (n 1 to 3)
  void EndCode();                                       // 0 0 0 0000000 00

  size_t BitCount() const { return bitCount_; }
  // The bit stream, the last word padded with zero bits. trimLastWord drops
  // the last word's high bytes while they are zero (at most 3): the decoder
  // reads missing bytes of the last word as zero.
  std::vector<uint8_t> Bytes(bool trimLastWord) const;

 private:
  std::vector<uint32_t> words_;
  size_t bitCount_ = 0;
};

// "JC", decoded size and checksum, little-endian: the 10-byte stream header.
std::vector<uint8_t> StreamHeader(uint32_t decodedSize, uint32_t checksum);
// Header followed by the writer's bits.
std::vector<uint8_t> MakeStream(uint32_t decodedSize, uint32_t checksum, const StreamBitWriter& bits,
                                bool trimLastWord = false);
// The checksum a stream header carries, computed on its own (not with the
// decoder's code) so that tests compare two implementations.
uint32_t ReferenceChecksum(const uint8_t* data, size_t size);

// Balanced picks, per position, whichever token saves the most bits, with a
// hash-chain match finder (1 MiB window). The forced modes lean on one token
// kind so that round trips exercise it heavily:
enum class EncoderMode {
  Balanced,
  Literals8,      // single literals of width 8 only
  Literals7,      // single literals of width 7, with a new base wherever the bytes need one
  RawBlocks,      // raw blocks of 256 bytes, runs of 1 to 4 blocks, literals between and after
  ShortMatches,   // short matches (offset 1-127, length 2-5) and literals
  OneByteCodes,   // one-byte codes (0x00, copies from distance 1-14) and literals
  RepeatMatches,  // matches cut into a normal match and repeat matches of 2 or 3 bytes
  NormalMatches,  // normal matches with new offsets only, and literals
  IndexBits,      // normal matches, each after an index-bits code (cycling 0 to 31)
};

// A stream that decodes to data[0, size). Its decoded-size field is size; its
// checksum field is the checksum when withChecksum (0, "no checksum",
// otherwise). The last word is trimmed as far as the format allows.
std::vector<uint8_t> EncodeCompressedStream(const uint8_t* data, size_t size, EncoderMode mode, bool withChecksum);

// Pack archives: entries of unpacked size, packed size (32-bit little-endian)
// and data, back to back.
struct PackEntry {
  std::vector<uint8_t> data;
  bool compressed = false;
  EncoderMode mode = EncoderMode::Balanced;
  bool withChecksum = true;
};
PackEntry StoredEntry(std::vector<uint8_t> data);
PackEntry CompressedEntry(std::vector<uint8_t> data, EncoderMode mode = EncoderMode::Balanced,
                          bool withChecksum = true);

// The entry as the archive holds it. A compressed entry whose stream comes out
// exactly as long as its data gets one zero byte appended (ignored by the
// decoder), since equal sizes would mark it as stored.
std::vector<uint8_t> EntryBytes(const PackEntry& entry);
// Header fields and data exactly as given: for damaged entries.
void AppendRawEntry(std::vector<uint8_t>& archive, uint32_t unpackedSize, uint32_t packedSize,
                    const std::vector<uint8_t>& data);
std::vector<uint8_t> BuildArchive(const std::vector<PackEntry>& entries);
bool WriteArchive(const std::string& path, const std::vector<PackEntry>& entries);
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
