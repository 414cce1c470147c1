// How the repository builder asks for a delta: one call that encodes the
// original and the new file into a delta file and says whether the delta
// holds only EQL and MOD (so the patcher can apply it in place), or that
// the pair is past what the encoder handles, so the whole file is shipped.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace publish {

struct DeltaOutcome {
  enum Kind { kWritten, kTooLarge, kFailed };
  Kind kind = kFailed;
  bool inPlace = false;  // only EQL and MOD: the in-place decoder can apply it
  std::string error;     // kFailed: why
};

// Paths on the publisher's disk. The delta file is written only for
// kWritten; for anything else the caller ships the whole new file.
using DeltaEncoder =
    std::function<DeltaOutcome(const std::string& original, const std::string& updated, const std::string& delta)>;

// A delta pays when it is under three quarters of the whole new file:
// beyond that the download saving no longer makes up for the slower
// apply, which also needs the original to be exactly right.
inline bool DeltaPays(uint64_t deltaSize, uint64_t newSize) { return deltaSize < newSize - newSize / 4; }

}  // namespace publish
