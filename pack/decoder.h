// The compressed stream decoder: one "JC" stream into a caller's buffer.
//
// Stream layout: a 10-byte header (magic 0x4A 0x43, decoded size, checksum,
// both 32-bit little-endian), then a bit stream of 32-bit little-endian words
// whose bits are taken from bit 31 down. The decoder allocates nothing and
// never reads or writes outside the two buffers, whatever the input.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/sync.h"

constexpr uint32_t STREAM_HEADER_SIZE = 10;
constexpr uint16_t STREAM_MAGIC = 0x434A;  // the bytes "JC" read little-endian

// Decodes the stream in source[0, sourceSize) into destination[0,
// destinationSize). Returns the number of bytes written when the stream
// reached its end code and its checksum field is 0 or matches; 0 when a
// pointer is null, the magic is wrong, the checksum does not match, or the
// stream is malformed (it would write past the destination, copy from before
// its start or from distance 0, read past its input beyond the zero-filled up
// to 3 bytes of its last word, set index bits above 31, hold a gamma number
// wider than 32 bits, or use a single literal before any literal-width code).
// Bytes past the returned count are unspecified: wide copies may run ahead.
uint32_t DecodeCompressedStream(const void* source, uint32_t sourceSize, void* destination, uint32_t destinationSize);

// Where a stream's checksum is computed. The restore tool decodes on one
// thread; packtool lets a big stream's checksum run on a free worker of its
// engine (pack/work_ahead.h), over the words the decoding has made final,
// while the decoding goes on: the same verdict and the same bytes, in less
// wall time. From CHECKSUM_BESIDE_MIN decoded bytes on (below it a hand-over
// costs more than it saves); when no worker is free, or with no engine, on
// the decoding's own thread.
class WorkAhead;
constexpr uint32_t CHECKSUM_BESIDE_MIN = uint32_t(4) << 20;

// The same decoding, with a verdict that does not depend on the output size:
// true when the stream reached its end code within both buffers and its
// checksum field is 0 or matches (DecodeCompressedStream's result 0 cannot
// tell an empty stream from a bad one). *written receives how many bytes from
// the start of the destination the stream wrote, also on false, so that a
// caller can clear what the stream left.
bool DecodeCompressedStreamChecked(const void* source, uint32_t sourceSize, void* destination, uint32_t destinationSize,
                                   uint32_t* written, WorkAhead* beside = nullptr);

// What another thread may take of a decoding while it runs: `final` rises,
// as the decoding goes on, to a count of bytes from the start of the
// destination that no later token changes and that count as decoded
// whatever the rest of the stream holds. The stream's verdict (its end code,
// its checksum) comes only with the end of the call; the bytes near the
// source's end are final only then.
//
// Readers that are ahead of the decoding wait (WaitFor) instead of looking
// again and again: the decoding raises the count after every step (a few
// KiB) and takes a lock to wake them only when it passes the lowest count
// one waits for, so that a reader far ahead costs it one wake, not one a
// step.
class DecodeProgress {
 public:
  std::atomic<uint32_t> final{0};

  // The decoding's: the bytes below upTo are final.
  void Advance(uint32_t upTo);
  // The decoding's, or its owner's: nothing more will be final; wakes every
  // reader for good.
  void End();
  bool Ended() const { return ended_.load(std::memory_order_acquire); }
  // Waits until the bytes below end are final or the decoding ended; the
  // count then final.
  uint32_t WaitFor(uint32_t end);

 private:
  std::atomic<uint32_t> wakeAt_{UINT32_MAX};  // the lowest count a reader waits for
  std::atomic<bool> ended_{false};
  PlatformMutex mutex_;  // orders a wake after a reader's test
  PlatformCondition moved_;
};

// What a salvaging decoder got out of a stream.
struct StreamSalvage {
  bool sound;        // as DecodeCompressedStreamChecked's verdict
  uint32_t written;  // bytes from the start of the destination the stream wrote
  // Of those, how many count as decoded: all of them when the stream reached
  // its end code within its source (its checksum may still fail); otherwise
  // the bytes before the first token that was bad or that needed a bit the
  // source does not hold (the zero bits standing in for a missing end
  // produce nothing that counts).
  uint32_t decoded;
};

// DecodeCompressedStreamChecked with an account of the bytes that came from
// the source. cutShort says that the source is known to stop before the
// stream does (data cut off by the end of a file): then the missing bytes of
// its partial last word are missing bits too, not the format's zero fill. Every byte of the destination past
// result->decoded that the call wrote is 0 again on return; the bytes it did not touch are as they were, so a
// zero-filled destination holds exactly the decoded bytes and zeros. The cost is that of the decoding: nothing past
// what the stream wrote is touched.
// progress, when given, follows the decoding for another thread.
bool DecodeCompressedStreamSalvage(const void* source, uint32_t sourceSize, void* destination, uint32_t destinationSize,
                                   bool cutShort, StreamSalvage* result, WorkAhead* beside = nullptr,
                                   DecodeProgress* progress = nullptr);

// Where the stream at the start of source[0, sourceSize) ends by its own end
// code: its header and the words up to the one that holds the end code's last
// bit (clipped to sourceSize, so a partial last word ends the source), decoded
// into destination[0, destinationSize) on the careful path. 0 when it reaches
// no end code within both buffers or is malformed. The checksum is not
// tested: a caller that needs the verdict decodes source[0, end) again. For a
// reader that must know whether an entry's header says where its stream ends.
uint32_t CompressedStreamEnd(const void* source, uint32_t sourceSize, void* destination, uint32_t destinationSize);

// The checksum over data[0, size): 32-bit little-endian words, the last one
// overlapping the one before when size is not a multiple of 4; sizes 0 to 3
// give 0. A stream's checksum field holds this value of its decoded bytes.
uint32_t StreamChecksum(const uint8_t* data, uint32_t size);
