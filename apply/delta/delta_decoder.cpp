#include "apply/delta/delta_decoder.h"

#include <cstring>
#include <vector>

#include "apply/delta/delta_format.h"
#include "engine/patch_log.h"
#include "streams/file_map_stream.h"
#include "streams/virtual_memory_file_stream.h"
#include "streams/virtual_memory_stream.h"

namespace {

using jojodiff::kEsc;
using jojodiff::kOpBkt;
using jojodiff::kOpDel;
using jojodiff::kOpEql;
using jojodiff::kOpIns;
using jojodiff::kOpMod;

// What data bytes do: replace original bytes (MOD) or go in between (INS).
enum class Mode { kMod, kIns };

// Why a decode stopped: the result and a short reason for the log.
struct Stop {
  uint32_t result = kDeltaOk;
  const char* reason = "";
};

Stop Fail(uint32_t result, const char* reason) { return Stop{result, reason}; }

// ---------------------------------------------------------------- inputs
// An input hands out delta bytes one at a time (Next) and, where it can,
// whole runs of bytes that hold no escape (Run), which the loop passes on
// as data in one piece.

class MemoryInput {
 public:
  static constexpr bool kHasRuns = true;

  MemoryInput(const uint8_t* data, uint32_t size) : begin_(data), next_(data), end_(data + size) {}

  bool Next(uint8_t* byte) {
    if (next_ == end_) return false;
    *byte = *next_++;
    return true;
  }

  uint32_t Run(const uint8_t** run) {
    *run = next_;
    if (next_ == end_) return 0;
    const void* escape = memchr(next_, kEsc, static_cast<size_t>(end_ - next_));
    const uint8_t* stop = escape != nullptr ? static_cast<const uint8_t*>(escape) : end_;
    const uint32_t length = static_cast<uint32_t>(stop - next_);
    next_ = stop;
    return length;
  }

  bool Failed() const { return false; }
  uint64_t Offset() const { return static_cast<uint64_t>(next_ - begin_); }

 private:
  const uint8_t* begin_;
  const uint8_t* next_;
  const uint8_t* end_;
};

class FileInput {
 public:
  static constexpr bool kHasRuns = false;

  explicit FileInput(FILE* file) : file_(file) {}

  bool Next(uint8_t* byte) {
    const int c = getc(file_);
    if (c == EOF) return false;
    *byte = static_cast<uint8_t>(c);
    ++offset_;
    return true;
  }

  uint32_t Run(const uint8_t** /*run*/) { return 0; }
  bool Failed() const { return ferror(file_) != 0; }
  uint64_t Offset() const { return offset_; }

 private:
  FILE* file_;
  uint64_t offset_ = 0;
};

// ---------------------------------------------------------------- format

// Reads a length operand. The 8-byte form is taken only when the target
// accepts it, and then only with a value that fits in 32 bits: cutting it
// to its low half would rebuild a wrong file without a word.
template <class Input>
Stop ReadLength(Input& in, bool eightByteForm, uint32_t* length) {
  uint8_t first = 0;
  if (!in.Next(&first)) return Fail(kDeltaMalformed, "the delta ends inside a length");
  if (first < jojodiff::kLenForm2) {
    *length = first + 1u;
    return Stop{};
  }
  int count = 0;
  switch (first) {
    case jojodiff::kLenForm2: count = 1; break;
    case jojodiff::kLenForm3: count = 2; break;
    case jojodiff::kLenForm5: count = 4; break;
    default:
      if (!eightByteForm) return Fail(kDeltaMalformed, "8-byte length form");
      count = 8;
      break;
  }
  uint64_t value = 0;
  for (int i = 0; i < count; ++i) {
    uint8_t byte = 0;
    if (!in.Next(&byte)) return Fail(kDeltaMalformed, "the delta ends inside a length");
    value = (value << 8) | byte;
  }
  if (first == jojodiff::kLenForm2) value += jojodiff::kLenMax1 + 1;
  if (value > 0xFFFFFFFFull) return Fail(kDeltaMalformed, "length beyond 32 bits");
  *length = static_cast<uint32_t>(value);
  return Stop{};
}

// The decoding loop shared by every decoder. A target applies the
// operations: Equal, Delete and Back with their lengths, Insert when INS
// is met, and Data for data bytes under the current mode.
template <class Input, class Target>
Stop Decode(Input& in, Target& target) {
  static constexpr uint8_t kEscByte[1] = {kEsc};
  Mode mode = Mode::kMod;
  uint8_t pair[2] = {kEsc, 0};
  for (;;) {
    if constexpr (Input::kHasRuns) {
      const uint8_t* run = nullptr;
      const uint32_t length = in.Run(&run);
      if (length > 0) {
        Stop stop = target.Data(run, length, mode);
        if (stop.result != kDeltaOk) return stop;
      }
    }
    uint8_t byte = 0;
    if (!in.Next(&byte)) {
      if (in.Failed()) return Fail(kDeltaMalformed, "the delta could not be read");
      return Stop{};
    }
    Stop stop;
    if (byte != kEsc) {
      stop = target.Data(&byte, 1, mode);
      if (stop.result != kDeltaOk) return stop;
      continue;
    }
    uint8_t op = 0;
    if (!in.Next(&op)) {
      // The encoder doubles an escape that ends the delta, so a lone one
      // means the delta was cut short.
      return in.Failed() ? Fail(kDeltaMalformed, "the delta could not be read")
                         : Fail(kDeltaMalformed, "the delta ends inside an opcode");
    }
    switch (op) {
      case kOpBkt:
      case kOpEql:
      case kOpDel: {
        uint32_t length = 0;
        stop = ReadLength(in, Target::kEightByteLengths, &length);
        if (stop.result != kDeltaOk) return stop;
        if (op == kOpEql) {
          stop = target.Equal(length);
        } else if (op == kOpDel) {
          stop = target.Delete(length);
        } else {
          stop = target.Back(length);
        }
        mode = Mode::kMod;
        break;
      }
      case kOpIns:
        stop = target.Insert();
        mode = Mode::kIns;
        break;
      case kOpMod:
        mode = Mode::kMod;
        break;
      case kEsc:
        stop = target.Data(kEscByte, 1, mode);
        break;
      default:
        pair[1] = op;
        stop = target.Data(pair, 2, mode);
        break;
    }
    if (stop.result != kDeltaOk) return stop;
  }
}

// The original position after n MOD bytes: it stops at the end.
uint32_t AdvanceWithin(uint32_t position, uint64_t n, uint32_t size) {
  return n > size - position ? size : position + static_cast<uint32_t>(n);
}

// ---------------------------------------------------------------- memory

// Follows the original position only, to check a whole delta before any
// output is made.
class MemoryCheck {
 public:
  static constexpr bool kEightByteLengths = false;

  explicit MemoryCheck(uint32_t size) : size_(size) {}

  Stop Equal(uint32_t n) {
    if (n > size_ - position_) return Fail(kDeltaOutOfRange, "EQL past the end of the original");
    position_ += n;
    return Stop{};
  }
  Stop Delete(uint32_t n) {
    if (n > size_ - position_) return Fail(kDeltaOutOfRange, "DEL past the end of the original");
    position_ += n;
    return Stop{};
  }
  Stop Back(uint32_t n) {
    if (n > position_) return Fail(kDeltaOutOfRange, "BKT before the start of the original");
    position_ -= n;
    return Stop{};
  }
  Stop Insert() { return Stop{}; }
  Stop Data(const uint8_t* /*bytes*/, uint32_t n, Mode mode) {
    if (mode == Mode::kMod) position_ = AdvanceWithin(position_, n, size_);
    return Stop{};
  }

  uint32_t Position() const { return position_; }

 private:
  uint32_t size_;
  uint32_t position_ = 0;
};

class MemoryWriter {
 public:
  // Shorter runs cost less to copy than a piece of a gathered write.
  static constexpr uint32_t kReferencedRunMin = 2048;

  static constexpr bool kEightByteLengths = false;

  MemoryWriter(const uint8_t* original, uint32_t size, vestrel::CVirtualMemoryFileStream& output)
      : check_(size), original_(original), output_(output) {}

  Stop Equal(uint32_t n) {
    const uint32_t from = check_.Position();
    Stop stop = check_.Equal(n);
    if (stop.result != kDeltaOk) return stop;
    // Long runs go to the file straight from the original, which stays in
    // place until the final flush: copying them through the buffer first
    // would double the memory traffic of the common, mostly-equal delta.
    const int done = n >= kReferencedRunMin ? output_.WriteReferenced(original_ + from, n)
                                            : output_.Write(original_ + from, n);
    if (!done) return Fail(kDeltaOutputFailed, "the output could not be written");
    return Stop{};
  }
  Stop Delete(uint32_t n) { return check_.Delete(n); }
  Stop Back(uint32_t n) { return check_.Back(n); }
  Stop Insert() { return Stop{}; }
  Stop Data(const uint8_t* bytes, uint32_t n, Mode mode) {
    check_.Data(bytes, n, mode);
    if (!output_.Put(bytes, n)) return Fail(kDeltaOutputFailed, "the output could not be written");
    return Stop{};
  }

 private:
  MemoryCheck check_;  // the original position and its bounds
  const uint8_t* original_;
  vestrel::CVirtualMemoryFileStream& output_;
};

// ---------------------------------------------------------------- in place

// The in-place decoder's view of a delta: output position and original
// position are one, so only EQL and MOD make sense. With a size it also
// checks bounds; with a target block it stores the MOD bytes.
class InPlaceTarget {
 public:
  static constexpr bool kEightByteLengths = false;

  InPlaceTarget(uint8_t* data, uint64_t size) : data_(data), size_(size) {}

  Stop Equal(uint32_t n) {
    if (n > size_ - position_) return Fail(kDeltaOutOfRange, "EQL past the end of the file");
    position_ += n;
    return Stop{};
  }
  Stop Delete(uint32_t /*n*/) { return Fail(kDeltaMalformed, "DEL cannot be applied in place"); }
  Stop Back(uint32_t /*n*/) { return Fail(kDeltaMalformed, "BKT cannot be applied in place"); }
  Stop Insert() { return Fail(kDeltaMalformed, "INS cannot be applied in place"); }
  Stop Data(const uint8_t* bytes, uint32_t n, Mode /*mode*/) {
    if (n > size_ - position_) return Fail(kDeltaOutOfRange, "MOD data past the end of the file");
    if (data_ != nullptr) memcpy(data_ + position_, bytes, n);
    position_ += n;
    return Stop{};
  }

  uint64_t Position() const { return position_; }

 private:
  uint8_t* data_;
  uint64_t size_;
  uint64_t position_ = 0;
};

// ---------------------------------------------------------------- files

// Moves a C-runtime file by a signed distance. The runtime's offset is a
// long, 32 bits on Windows, so long distances go in steps.
bool SeekRelative(FILE* file, int64_t distance) {
  constexpr int64_t kStep = 0x40000000;  // 1 GiB
  while (distance != 0) {
    const int64_t step = distance > kStep ? kStep : (distance < -kStep ? -kStep : distance);
    if (fseek(file, static_cast<long>(step), SEEK_CUR) != 0) return false;
    distance -= step;
  }
  return true;
}

class FileTarget {
 public:
  static constexpr bool kEightByteLengths = true;

  FileTarget(FILE* original, FILE* output) : original_(original), output_(output), buffer_(64 * 1024) {}

  Stop Equal(uint32_t n) {
    uint32_t remaining = n;
    while (remaining > 0) {
      const size_t chunk = remaining < buffer_.size() ? remaining : buffer_.size();
      const size_t got = fread(buffer_.data(), 1, chunk, original_);
      if (got > 0 && fwrite(buffer_.data(), 1, got, output_) != got) {
        return Fail(kDeltaOutputFailed, "the output could not be written");
      }
      position_ += got;
      remaining -= static_cast<uint32_t>(got);
      if (got < chunk) {
        return ferror(original_) ? Fail(kDeltaSeekFailed, "the original could not be read")
                                 : Fail(kDeltaOutOfRange, "EQL past the end of the original");
      }
    }
    return Stop{};
  }

  Stop Delete(uint32_t n) {
    if (n == 0) return Stop{};
    if (!SeekRelative(original_, n)) return Fail(kDeltaSeekFailed, "a seek on the original failed");
    // A C-runtime seek past the end succeeds, so the last skipped byte is
    // read back to prove that it exists.
    if (fseek(original_, -1, SEEK_CUR) != 0) return Fail(kDeltaSeekFailed, "a seek on the original failed");
    if (getc(original_) == EOF) {
      return ferror(original_) ? Fail(kDeltaSeekFailed, "the original could not be read")
                               : Fail(kDeltaOutOfRange, "DEL past the end of the original");
    }
    position_ += n;
    return Stop{};
  }

  Stop Back(uint32_t n) {
    if (n > position_) return Fail(kDeltaOutOfRange, "BKT before the start of the original");
    if (!SeekRelative(original_, -static_cast<int64_t>(n))) {
      return Fail(kDeltaSeekFailed, "a seek on the original failed");
    }
    position_ -= n;
    return Stop{};
  }

  Stop Insert() { return Stop{}; }

  Stop Data(const uint8_t* bytes, uint32_t n, Mode mode) {
    for (uint32_t i = 0; i < n; ++i) {
      if (putc(bytes[i], output_) == EOF) return Fail(kDeltaOutputFailed, "the output could not be written");
      if (mode == Mode::kMod) {
        // The replaced byte is read and dropped; at the end of the original
        // there is none and the position stays.
        if (getc(original_) != EOF) {
          ++position_;
        } else if (ferror(original_)) {
          return Fail(kDeltaSeekFailed, "the original could not be read");
        }
      }
    }
    return Stop{};
  }

 private:
  FILE* original_;
  FILE* output_;
  std::vector<uint8_t> buffer_;
  uint64_t position_ = 0;
};

uint32_t Report(const char* decoder, const Stop& stop, uint64_t offset) {
  LogWrite(kLogError, "JPatch failed : Decoder [%s] Result [%u] DeltaOffset [%u] : %s", decoder, stop.result,
           static_cast<unsigned>(offset), stop.reason);
  return stop.result;
}

}  // namespace

uint32_t CDeltaDecoder::DecodeMemory(const vestrel::CVirtualMemoryStream& original,
                                     const vestrel::CVirtualMemoryStream& delta,
                                     vestrel::CVirtualMemoryFileStream& output, uint64_t* written) const {
  return DecodeMemory(original.GetMemory(), original.GetDataSize(), delta.GetMemory(), delta.GetDataSize(), output,
                      written);
}

uint32_t CDeltaDecoder::DecodeMemory(const uint8_t* original, uint32_t originalSize, const uint8_t* delta,
                                     uint32_t deltaSize, vestrel::CVirtualMemoryFileStream& output,
                                     uint64_t* written) const {
  if (original == nullptr) originalSize = 0;
  if (delta == nullptr) deltaSize = 0;
  if (written != nullptr) *written = 0;

  // A refused delta must not get as far as the first flush: that truncates
  // the output, which is usually the client file itself.
  {
    MemoryInput in(delta, deltaSize);
    MemoryCheck check(originalSize);
    const Stop stop = Decode(in, check);
    if (stop.result != kDeltaOk) {
      output.Close();
      return Report("memory", stop, in.Offset());
    }
  }

  MemoryInput in(delta, deltaSize);
  MemoryWriter writer(original, originalSize, output);
  Stop stop = Decode(in, writer);
  if (stop.result == kDeltaOk && !output.Flush()) {
    stop = Fail(kDeltaOutputFailed, "the output could not be opened or written");
  }
  if (!output.Close() && stop.result == kDeltaOk) stop = Fail(kDeltaOutputFailed, "the output could not be closed");
  if (written != nullptr) *written = output.GetTotalWritten();
  if (stop.result != kDeltaOk) return Report("memory", stop, in.Offset());
  return kDeltaOk;
}

uint32_t CDeltaDecoder::DecodeInPlace(vestrel::TFileMapStream& target, const vestrel::CVirtualMemoryStream& delta,
                                      uint32_t* outputSize) const {
  if (!target.IsOpen()) return DecodeInPlace(nullptr, 0, delta.GetMemory(), delta.GetDataSize(), outputSize);
  return DecodeInPlace(target.GetMemory(), target.GetSize(), delta.GetMemory(), delta.GetDataSize(), outputSize);
}

uint32_t CDeltaDecoder::DecodeInPlace(uint8_t* data, uint32_t size, const uint8_t* delta, uint32_t deltaSize,
                                      uint32_t* outputSize) const {
  if (data == nullptr) size = 0;
  if (delta == nullptr) deltaSize = 0;
  if (outputSize != nullptr) *outputSize = 0;

  // Stores go straight into the client file, so the whole delta is checked
  // first: a refused delta leaves the file as it was.
  {
    MemoryInput in(delta, deltaSize);
    InPlaceTarget check(nullptr, size);
    const Stop stop = Decode(in, check);
    if (stop.result != kDeltaOk) return Report("inplace", stop, in.Offset());
  }
  MemoryInput in(delta, deltaSize);
  InPlaceTarget writer(data, size);
  const Stop stop = Decode(in, writer);
  if (stop.result != kDeltaOk) return Report("inplace", stop, in.Offset());
  if (outputSize != nullptr) *outputSize = static_cast<uint32_t>(writer.Position());
  return kDeltaOk;
}

uint32_t CDeltaDecoder::DecodeFile(FILE* original, FILE* delta, FILE* output) const {
  LogWrite(kLogTrace, "JPATCH START");
  if (original == nullptr) return Report("file", Fail(kDeltaSeekFailed, "no original"), 0);
  if (delta == nullptr) return Report("file", Fail(kDeltaMalformed, "no delta"), 0);
  if (output == nullptr) return Report("file", Fail(kDeltaOutputFailed, "no output"), 0);

  FileInput in(delta);
  FileTarget target(original, output);
  Stop stop = Decode(in, target);
  if (fflush(output) != 0 && stop.result == kDeltaOk) {
    stop = Fail(kDeltaOutputFailed, "the output could not be written");
  }
  if (stop.result != kDeltaOk) return Report("file", stop, in.Offset());
  return kDeltaOk;
}

int CDeltaDecoder::CanPatchInPlace(const vestrel::CVirtualMemoryStream& delta) const {
  return CanPatchInPlace(delta.GetMemory(), delta.GetDataSize());
}

int CDeltaDecoder::CanPatchInPlace(const uint8_t* delta, uint32_t deltaSize) const {
  if (delta == nullptr) deltaSize = 0;
  MemoryInput in(delta, deltaSize);
  // No size: only the shape of the delta counts here.
  InPlaceTarget shape(nullptr, UINT64_MAX);
  return Decode(in, shape).result == kDeltaOk ? 1 : 0;
}
