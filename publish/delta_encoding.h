// How the repository builder asks for a delta: one call that encodes the
// original and the new file into a delta file and says whether the delta
// holds only EQL and MOD (so the patcher can apply it in place), or that
// the pair is past what the encoder handles, so the whole file is shipped.
// Tests put other encoders behind it (one that fails, for instance).
#pragma once

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

// Our encoder (publish/delta_encoder.h) with its default options: the
// in-place layout where the sizes are equal and it is not markedly larger.
DeltaEncoder OurDeltaEncoder();

}  // namespace publish
