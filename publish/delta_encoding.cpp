#include "publish/delta_encoding.h"

#include "publish/delta_encoder.h"

namespace publish {

DeltaEncoder OurDeltaEncoder() {
  return [](const std::string& original, const std::string& updated, const std::string& delta) {
    const DeltaEncodeResult result = CDeltaEncoder().EncodeFiles(original, updated, delta);
    DeltaOutcome outcome;
    switch (result.status) {
      case DeltaEncodeStatus::kOk:
        outcome.kind = DeltaOutcome::kWritten;
        outcome.inPlace = result.inPlace;
        break;
      case DeltaEncodeStatus::kTooLarge:
        outcome.kind = DeltaOutcome::kTooLarge;
        break;
      default:
        outcome.error = "encoder status " + std::to_string(static_cast<uint32_t>(result.status)) + ", system error " +
                        std::to_string(result.systemError);
        break;
    }
    return outcome;
  };
}

}  // namespace publish
