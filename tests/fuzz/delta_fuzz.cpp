// libFuzzer target of the delta decoder. The input is split into an
// original (its length in the first two bytes, at most 4 KiB) and a delta.
// The memory decoder's result, output length and output file are compared with
// a model of the format written for clarity, byte by byte; so are the
// in-place decoder's and CanPatchInPlace's on the same input. Any
// difference aborts.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "apply/delta/delta_decoder.h"
#include "streams/virtual_memory_file_stream.h"
#include "tests/fuzz/fuzz_file.h"
#include "tests/fuzz/fuzz_target.h"

namespace {

constexpr uint32_t kOutputBuffer = 1u << 20;

struct Model {
  uint32_t result = kDeltaOk;
  std::vector<uint8_t> output;  // memory: the new file; in place: the changed original
  uint64_t described = 0;       // in place: the length the delta describes
};

// inPlace: only EQL and MOD, stores into a copy of the original.
Model RunModel(const uint8_t* orig, size_t origSize, const uint8_t* delta, size_t deltaSize, bool inPlace) {
  Model m;
  if (inPlace) m.output.assign(orig, orig + origSize);
  uint64_t pos = 0;
  bool insert = false;
  size_t i = 0;
  auto emit = [&](uint8_t byte) -> bool {
    if (inPlace) {
      if (pos >= origSize) return false;
      m.output[pos++] = byte;
      return true;
    }
    m.output.push_back(byte);
    if (!insert && pos < origSize) ++pos;
    return true;
  };
  auto fail = [&](uint32_t result) {
    m.result = result;
    if (inPlace) m.output.assign(orig, orig + origSize);
    return m;
  };
  while (i < deltaSize) {
    const uint8_t byte = delta[i++];
    if (byte != 0xA7) {
      if (!emit(byte)) return fail(kDeltaOutOfRange);
      continue;
    }
    if (i >= deltaSize) return fail(kDeltaMalformed);
    const uint8_t op = delta[i++];
    if (op == 0xA2 || op == 0xA3 || op == 0xA4) {
      if (i >= deltaSize) return fail(kDeltaMalformed);
      const uint8_t first = delta[i++];
      uint64_t length = 0;
      size_t more = 0;
      if (first < 252) {
        length = first + 1u;
      } else if (first == 255) {
        return fail(kDeltaMalformed);
      } else {
        more = first == 252 ? 1 : first == 253 ? 2 : 4;
        if (deltaSize - i < more) return fail(kDeltaMalformed);
        for (size_t k = 0; k < more; ++k) length = length * 256 + delta[i++];
        if (first == 252) length += 253;
      }
      if (op == 0xA3) {
        if (pos + length > origSize) return fail(kDeltaOutOfRange);
        if (!inPlace) m.output.insert(m.output.end(), orig + pos, orig + pos + length);
        pos += length;
      } else if (inPlace) {
        return fail(kDeltaMalformed);
      } else if (op == 0xA4) {
        if (pos + length > origSize) return fail(kDeltaOutOfRange);
        pos += length;
      } else {
        if (length > pos) return fail(kDeltaOutOfRange);
        pos -= length;
      }
      insert = false;
    } else if (op == 0xA5) {
      if (inPlace) return fail(kDeltaMalformed);
      insert = true;
    } else if (op == 0xA6) {
      insert = false;
    } else if (op == 0xA7) {
      if (!emit(0xA7)) return fail(kDeltaOutOfRange);
    } else {
      if (!emit(0xA7) || !emit(op)) return fail(kDeltaOutOfRange);
    }
  }
  m.described = pos;
  return m;
}

vestrel::CVirtualMemoryFileStream& Output() {
  static vestrel::CVirtualMemoryFileStream* output = [] {
    static vestrel::CVirtualMemoryFileStream stream;
    stream.SetBufferSize(kOutputBuffer);
    return &stream;
  }();
  return *output;
}

// Long equal runs go to the file without passing the block: the output is
// checked where it lands.
FuzzFile& OutputFile() {
  static FuzzFile file("delta.out");
  return file;
}

}  // namespace

PATCHER_FUZZ_TARGET(delta) {
  if (size < 2) return 0;
  size_t origSize = (data[0] | (static_cast<size_t>(data[1]) << 8)) % 4097;
  if (origSize > size - 2) origSize = size - 2;
  const uint8_t* orig = data + 2;
  const uint8_t* delta = orig + origSize;
  const size_t deltaSize = size - 2 - origSize;
  const CDeltaDecoder decoder;

  const Model expected = RunModel(orig, origSize, delta, deltaSize, false);
  vestrel::CVirtualMemoryFileStream& output = Output();
  output.SetFileName(OutputFile().Path());
  uint64_t written = 0;
  const uint32_t result = decoder.DecodeMemory(orig, static_cast<uint32_t>(origSize), delta,
                                               static_cast<uint32_t>(deltaSize), output, &written);
  FUZZ_CHECK(result == expected.result);
  if (result == kDeltaOk) {
    FUZZ_CHECK(written == expected.output.size());
    FUZZ_CHECK(OutputFile().Contents() == expected.output);
  } else {
    FUZZ_CHECK(written == 0);  // a refused delta writes nothing
  }

  const Model inPlace = RunModel(orig, origSize, delta, deltaSize, true);
  std::vector<uint8_t> target(orig, orig + origSize);
  uint32_t described = 0;
  const uint32_t inPlaceResult = decoder.DecodeInPlace(target.data(), static_cast<uint32_t>(origSize), delta,
                                                       static_cast<uint32_t>(deltaSize), &described);
  FUZZ_CHECK(inPlaceResult == inPlace.result && target == inPlace.output);
  FUZZ_CHECK(inPlaceResult != kDeltaOk || described == inPlace.described);

  // CanPatchInPlace looks at the shape only: it must accept whatever the
  // in-place decoder can apply to some file.
  const int can = decoder.CanPatchInPlace(delta, static_cast<uint32_t>(deltaSize));
  FUZZ_CHECK(inPlaceResult != kDeltaOk || can == 1);
  FUZZ_CHECK(can != 1 || inPlaceResult != kDeltaMalformed);
  return 0;
}
