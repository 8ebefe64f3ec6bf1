// The libFuzzer entry point every target defines. The same source builds into
// a fuzzer (with -fsanitize=fuzzer) and into a plain program that replays a
// corpus through it (replay_main.cpp), so each input once found stays a test.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
