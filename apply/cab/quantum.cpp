// Quantum folders: an adaptive arithmetic coder over seven models, with
// LZ77 matches into a window of 2^10 to 2^21 bytes (bits 8-12 of the
// folder's compression type). Every data block is one frame: the coder's
// registers start afresh at each block, the models and the window carry
// over from block to block and are reset at the start of the folder.
//
// Modes, per data block:
//   kFrameStart -> kSelector      H = 0xFFFF, L = 0, C = next 16 bits
//   kSelector   -> kLiteral | kMatch    the selector model (0-6)
//   kLiteral    -> kSelector      one byte from literal model 0-3
//   kMatch      -> kSelector      length and position slots with their
//                                 extra bits, then the copy
//   kSelector   -> kFrameEnd      once the block's size is produced; a
//                                 match may not cross it
// The whole block is in memory, so one call runs a frame to its end.
#include <cstring>

#include "apply/cab/bit_reader.h"
#include "apply/cab/codec.h"
#include "apply/cab/match_copy.h"

namespace cab {

namespace {

constexpr uint32_t kQuantumTag = 0x4D544E51;  // "QNTM"
constexpr unsigned kMinWindowBits = 10;
constexpr unsigned kMaxWindowBits = 21;
// Bits the coder may read past the end of a frame's data: its 16-bit code
// register looks ahead of the symbols it has decoded.
constexpr unsigned kOverrunAllowance = 32;

// Position slots: base and extra bits (base[i + 1] = base[i] + 2^extra[i]).
constexpr uint32_t kPositionBase[42] = {
    0,     1,     2,     3,     4,      6,      8,      12,     16,     24,      32,      48,      64,     96,
    128,   192,   256,   384,   512,    768,    1024,   1536,   2048,   3072,    4096,    6144,    8192,   12288,
    16384, 24576, 32768, 49152, 65536, 98304, 131072, 196608, 262144, 393216, 524288, 786432, 1048576, 1572864};
constexpr uint8_t kPositionExtra[42] = {0, 0, 0,  0,  1,  1,  2,  2,  3,  3,  4,  4,  5,  5,  6,  6,  7,  7,  8,  8,  9,
                                        9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14, 15, 15, 16, 16, 17, 17, 18, 18, 19, 19};
// Length slots of selector 6 (lengths 5 and up).
constexpr uint8_t kLengthBase[27] = {0,  1,  2,  3,  4,  5,  6,  8,  10,  12,  14,  18,  22, 26,
                                     30, 38, 46, 54, 62, 78, 94, 110, 126, 158, 190, 222, 254};
constexpr uint8_t kLengthExtra[27] = {0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};

// One adaptive model: symbols ordered by falling frequency, each with the
// cumulative frequency of itself and everything after it; one more entry
// with frequency 0 closes the list.
struct ModelSymbol {
  uint16_t symbol;
  uint16_t cumFreq;
};

template <unsigned kMaxEntries>
struct Model {
  unsigned shiftsLeft;
  unsigned entries;
  ModelSymbol syms[kMaxEntries + 1];

  void Init(unsigned first, unsigned count) {
    shiftsLeft = 4;
    entries = count;
    for (unsigned i = 0; i <= count; ++i) {
      syms[i].symbol = static_cast<uint16_t>(first + i);
      syms[i].cumFreq = static_cast<uint16_t>(count - i);
    }
  }

  // Halves the frequencies; every 50th time also re-sorts the symbols by
  // frequency with a stable-in-the-same-way selection sort.
  void Rescale() {
    if (--shiftsLeft) {
      for (int i = static_cast<int>(entries) - 1; i >= 0; --i) {
        syms[i].cumFreq >>= 1;
        if (syms[i].cumFreq <= syms[i + 1].cumFreq) syms[i].cumFreq = static_cast<uint16_t>(syms[i + 1].cumFreq + 1);
      }
      return;
    }
    shiftsLeft = 50;
    for (unsigned i = 0; i < entries; ++i) {
      // To frequencies, rounded up, halved.
      syms[i].cumFreq = static_cast<uint16_t>(((syms[i].cumFreq - syms[i + 1].cumFreq) + 1) >> 1);
    }
    for (unsigned i = 0; i + 1 < entries; ++i) {
      for (unsigned j = i + 1; j < entries; ++j) {
        if (syms[i].cumFreq < syms[j].cumFreq) {
          const ModelSymbol t = syms[i];
          syms[i] = syms[j];
          syms[j] = t;
        }
      }
    }
    for (int i = static_cast<int>(entries) - 1; i >= 0; --i) {
      syms[i].cumFreq = static_cast<uint16_t>(syms[i].cumFreq + syms[i + 1].cumFreq);
    }
  }
};

using Reader = BitReader<BitOrder::kMsbFirst8>;

// The arithmetic decoder's registers (16 bits each).
struct Coder {
  uint32_t high;
  uint32_t low;
  uint32_t code;

  template <unsigned kMaxEntries>
  unsigned Decode(Model<kMaxEntries>& model, Reader& br) {
    ModelSymbol* const syms = model.syms;
    const uint32_t total = syms[0].cumFreq;
    uint32_t range = ((high - low) & 0xFFFF) + 1;
    const int32_t scaled = (static_cast<int32_t>(code) - static_cast<int32_t>(low) + 1) * static_cast<int32_t>(total) - 1;
    const uint32_t target = (static_cast<uint32_t>(scaled) / range) & 0xFFFF;
    unsigned i = 1;
    while (i < model.entries && syms[i].cumFreq > target) ++i;
    const unsigned symbol = syms[i - 1].symbol;

    range = high - low + 1;
    high = (low + (syms[i - 1].cumFreq * range) / total - 1) & 0xFFFF;
    low = (low + (syms[i].cumFreq * range) / total) & 0xFFFF;
    do {
      --i;
      syms[i].cumFreq = static_cast<uint16_t>(syms[i].cumFreq + 8);
    } while (i > 0);
    if (syms[0].cumFreq > 3800) model.Rescale();

    // Shift out settled bits; at most 16 rounds, as low reaches 0 and high
    // 0xFFFF within 16 shifts. The caller refilled before the call.
    for (;;) {
      if ((low & 0x8000) != (high & 0x8000)) {
        if ((low & 0x4000) && !(high & 0x4000)) {
          code ^= 0x4000;
          low &= 0x3FFF;
          high |= 0x4000;
        } else {
          break;
        }
      }
      low = (low << 1) & 0xFFFF;
      high = ((high << 1) | 1) & 0xFFFF;
      code = ((code << 1) | br.Read(1)) & 0xFFFF;
    }
    return symbol;
  }
};

class QuantumDecompressor final : public Decompressor {
 public:
  QuantumDecompressor(uint16_t type, const Allocator& allocator) : Decompressor(type), allocator_(allocator) {}
  ~QuantumDecompressor() override {
    tag_ = 0;
    if (window_) allocator_.free(window_);
  }

  CodecStatus Init() {
    windowBits_ = (Type() >> 8) & 0x1F;
    if (windowBits_ < kMinWindowBits || windowBits_ > kMaxWindowBits) return CodecStatus::kBadParameter;
    windowSize_ = 1u << windowBits_;
    // The ring holds whole 32 KB frames (even for smaller windows) and one
    // frame more than the window, so the bytes just ahead of the write
    // position are never history and a match copy may overrun into them.
    ringSize_ = (windowSize_ < kMaxBlockSize ? kMaxBlockSize : windowSize_) + kMaxBlockSize;
    window_ = static_cast<uint8_t*>(allocator_.Allocate(size_t{ringSize_} + 2 * kMatchOvercopy));
    if (!window_) return CodecStatus::kNoMemory;
    memset(window_, 0, size_t{ringSize_} + 2 * kMatchOvercopy);
    tag_ = kQuantumTag;
    Reset();
    return CodecStatus::kOk;
  }

  void Reset() override {
    const unsigned slots = windowBits_ * 2;
    for (unsigned m = 0; m < 4; ++m) literals_[m].Init(64 * m, 64);
    position4_.Init(0, slots < 24 ? slots : 24);
    position5_.Init(0, slots < 36 ? slots : 36);
    position6_.Init(0, slots);
    length6_.Init(0, 27);
    selector_.Init(0, 7);
    pos_ = 0;
    produced_ = 0;
    broken_ = false;
  }

  CodecStatus DecodeBlock(const uint8_t* in, uint32_t inSize, uint32_t outSize, const uint8_t** out) override {
    if (tag_ != kQuantumTag || broken_) return CodecStatus::kBadData;
    if (!DecodeFrame(in, inSize, outSize)) {
      broken_ = true;
      return CodecStatus::kBadData;
    }
    *out = window_ + pos_;
    produced_ += outSize;
    pos_ += outSize;
    if (pos_ == ringSize_) pos_ = 0;
    return CodecStatus::kOk;
  }

 private:
  bool DecodeFrame(const uint8_t* in, uint32_t inSize, uint32_t outSize) {
    if (outSize == 0 || outSize > kMaxBlockSize || pos_ + outSize > ringSize_) return false;
    Reader br;
    br.Init(in, inSize);
    br.Refill();
    Coder coder{0xFFFF, 0, br.Read(16)};
    uint8_t* const window = window_;
    const uint32_t start = pos_;
    const uint32_t end = pos_ + outSize;
    uint32_t pos = start;
    while (pos < end) {
      br.Refill();
      const unsigned selector = coder.Decode(selector_, br);
      if (selector < 4) {
        br.Refill();
        window[pos++] = static_cast<uint8_t>(coder.Decode(literals_[selector], br));
        continue;
      }
      uint32_t length;
      unsigned slot;
      br.Refill();
      if (selector == 4) {
        slot = coder.Decode(position4_, br);
        length = 3;
      } else if (selector == 5) {
        slot = coder.Decode(position5_, br);
        length = 4;
      } else {
        const unsigned lengthSlot = coder.Decode(length6_, br);
        br.Refill();
        length = kLengthBase[lengthSlot] + br.Read(kLengthExtra[lengthSlot]) + 5;
        br.Refill();
        slot = coder.Decode(position6_, br);
      }
      br.Refill();
      const uint32_t offset = kPositionBase[slot] + br.Read(kPositionExtra[slot]) + 1;
      if (length > end - pos) return false;  // a match may not cross the frame end
      if (offset > windowSize_ || offset > produced_ + (pos - start)) return false;
      if (offset <= pos) {
        CopyMatchFast(window + pos, offset, length);
      } else {
        // The source wraps around the end of the ring.
        uint32_t from = pos + ringSize_ - offset;
        for (uint32_t i = 0; i < length; ++i) {
          window[pos + i] = window[from];
          if (++from == ringSize_) from = 0;
        }
      }
      pos += length;
      if (br.Overrun(kOverrunAllowance + 64)) return false;
    }
    return !br.Overrun(kOverrunAllowance);
  }

  uint32_t tag_ = 0;
  Allocator allocator_;
  unsigned windowBits_ = 0;
  uint32_t windowSize_ = 0;
  uint32_t ringSize_ = 0;     // max(window, 32 KB) + 32 KB: whole frames
  uint8_t* window_ = nullptr;
  uint32_t pos_ = 0;          // where the next frame starts in the ring
  uint64_t produced_ = 0;     // bytes of the folder decoded so far
  bool broken_ = false;
  Model<64> literals_[4];
  Model<24> position4_;
  Model<36> position5_;
  Model<42> position6_;
  Model<27> length6_;
  Model<7> selector_;
};

}  // namespace

CodecStatus CreateQuantumDecompressor(uint16_t type, const Allocator& allocator, Decompressor** out) {
  return CreateInitialised<QuantumDecompressor>(type, allocator, out);
}

}  // namespace cab
