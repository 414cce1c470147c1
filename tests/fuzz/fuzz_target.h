// A fuzz target's body is written once, as PATCHER_FUZZ_TARGET(name) { ... }.
// In the libFuzzer build (PATCHER_FUZZ) it is the binary's
// LLVMFuzzerTestOneInput and a failed FUZZ_CHECK aborts, which libFuzzer
// reports with the input. Everywhere else it is a plain function that the
// replay test (fuzz_replay_tests, in all three builds) runs on the target's
// seeds and on every crasher kept in regressions/<name>/; there a failed
// FUZZ_CHECK is a test failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#ifdef PATCHER_FUZZ_REPLAY

namespace fuzzreplay {
using Target = int (*)(const uint8_t* data, size_t size);
bool Register(const char* name, Target target);
void Fail(const char* file, int line, const char* condition);
}  // namespace fuzzreplay

#define PATCHER_FUZZ_TARGET(name)                                                                   \
  static int FuzzOne_##name(const uint8_t* data, size_t size);                                      \
  [[maybe_unused]] static const bool kRegistered_##name = fuzzreplay::Register(#name, FuzzOne_##name); \
  static int FuzzOne_##name(const uint8_t* data, size_t size)
#define FUZZ_CHECK(condition) \
  ((condition) ? static_cast<void>(0) : fuzzreplay::Fail(__FILE__, __LINE__, #condition))

#else

#define PATCHER_FUZZ_TARGET(name) extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
#define FUZZ_CHECK(condition) ((condition) ? static_cast<void>(0) : abort())

#endif
