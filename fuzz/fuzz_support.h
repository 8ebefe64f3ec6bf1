// What the fuzz targets share: the failure they report, a scratch file per
// process, and the touched memory (resident bytes) by which a target tells
// that an input cost more than its bytes can give.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Ends the run as a finding (libFuzzer reports the abort with the input).
void Require(bool condition);

// A file of this process's own, named by `role`: in /dev/shm where there is
// one, else in the temporary folder.
const std::string& ScratchPath(const char* role);
// The input as a file to open by the returned path: on Linux a file in
// memory (memfd), so that no disk, however busy, stands between an input
// and its run; elsewhere ScratchPath(role). Aborts when it cannot be had.
const std::string& InputFile(const char* role, const uint8_t* data, size_t size);

// Bytes of memory the process holds resident (0 where the system cannot say:
// the cost checks then pass).
uint64_t ResidentBytes();

// Entries may claim up to 4 GiB; the targets' program heap refuses more than
// this, so that a claim still fits under the fuzzer's malloc limit (64 MB)
// and is exercised, not just refused.
// A Windows heap with a maximum gives no block of 512 KB or more, so the
// replays there use a growable one (a 32-bit process refuses 2 GiB anyway).
#ifdef _WIN32
constexpr size_t FUZZ_HEAP_LIMIT = 0;
#else
constexpr size_t FUZZ_HEAP_LIMIT = 48u << 20;
#endif

// The touched memory an entry may add besides what it really decoded: the
// sanitizer's shadow (an eighth of every allocation) and allocator slack.
constexpr uint64_t RESIDENT_SLACK = 4u << 20;

// Requires that resident memory grew by no more than `allowed` bytes since
// `before` (plus the slack): a claim alone must not be touched.
void RequireResidentGrowth(uint64_t before, uint64_t allowed);
