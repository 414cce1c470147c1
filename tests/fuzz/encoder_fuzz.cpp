// libFuzzer target of the delta encoder. The first byte picks the layout
// rule and a small or a default index; the next two give the original's
// length; the original and the new file follow. Every delta must be
// accepted and must rebuild the new file with the memory decoder, and with
// the in-place decoder when the encoder calls it in-place capable and the
// sizes agree. Any failure aborts.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "apply/delta/delta_decoder.h"
#include "publish/delta_encoder.h"
#include "streams/virtual_memory_file_stream.h"
#include "tests/fuzz/fuzz_file.h"
#include "tests/fuzz/fuzz_target.h"

PATCHER_FUZZ_TARGET(encoder) {
  if (size < 3) return 0;
  DeltaEncodeOptions options;
  options.inPlace = static_cast<DeltaInPlace>(data[0] % 3);
  if (data[0] & 0x80) options.indexBytes = 0;  // the least index: sampled even for small files
  size_t origSize = (data[1] | (static_cast<size_t>(data[2]) << 8));
  if (origSize > size - 3) origSize = size - 3;
  const std::vector<uint8_t> orig(data + 3, data + 3 + origSize);
  const std::vector<uint8_t> next(data + 3 + origSize, data + size);

  std::vector<uint8_t> delta;
  const DeltaEncodeResult result = CDeltaEncoder(options).EncodeBytes(orig, next, &delta);
  if (options.inPlace == DeltaInPlace::kRequire && orig.size() != next.size()) {
    FUZZ_CHECK(result.status == DeltaEncodeStatus::kNotSameSize && delta.empty());
    return 0;
  }
  FUZZ_CHECK(result.status == DeltaEncodeStatus::kOk && result.deltaSize == delta.size());
  const CDeltaDecoder decoder;
  FUZZ_CHECK(result.inPlace == (decoder.CanPatchInPlace(delta.data(), static_cast<uint32_t>(delta.size())) == 1));

  // Long equal runs go to the output file without passing the write
  // buffer, so the new file is checked where it lands.
  static vestrel::CVirtualMemoryFileStream output;
  static FuzzFile outputFile("encoder.out");
  if (output.GetMemory() == nullptr) output.SetBufferSize(1u << 20);
  output.SetFileName(outputFile.Path());
  uint64_t written = 0;
  FUZZ_CHECK(decoder.DecodeMemory(orig.data(), static_cast<uint32_t>(orig.size()), delta.data(),
                                  static_cast<uint32_t>(delta.size()), output, &written) == kDeltaOk &&
             written == next.size() && outputFile.Contents() == next);
  if (result.inPlace && orig.size() == next.size()) {
    std::vector<uint8_t> target = orig;
    FUZZ_CHECK(decoder.DecodeInPlace(target.data(), static_cast<uint32_t>(target.size()), delta.data(),
                                     static_cast<uint32_t>(delta.size())) == kDeltaOk &&
               target == next);
  }
  return 0;
}
