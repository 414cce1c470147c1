// LZX folders: LZ77 over a window of 2^15 to 2^21 bytes (bits 8-12 of the
// folder's compression type) with Huffman-coded literals, lengths and
// position slots, as in the published LZX format (the cabinet variant of
// [MS-PATCH] LZXD, without its chunk-size prefixes and delta extensions).
//
// Every data block is one frame of output (32 KB except the folder's last):
// the bit stream starts afresh, 16-bit aligned, at each block, while the
// window, the LZX block in progress, its trees, the previous tree lengths
// and the three repeated offsets carry over. Everything resets at the start
// of the folder.
//
// Modes:
//   kStreamHeader -> kBlockHeader     first frame only: E8 translation size
//   kBlockHeader  -> kVerbatim | kAligned | kUncompressed
//                                     type (3 bits) and size (24 bits); the
//                                     trees, or the aligned R0-R2 bytes
//   kVerbatim/kAligned -> kBlockHeader | kFrameEnd
//                                     literals and matches; a match may not
//                                     cross the end of the block or frame
//   kUncompressed -> kBlockHeader | kFrameEnd
//                                     raw bytes, then a pad byte after an
//                                     odd-sized block
//   kFrameEnd     -> kBlockHeader     E8 call translation of the frame's copy
// A frame's input is in memory, so one call runs the modes to the frame end;
// the block in progress is kept across calls.
#include <cstring>

#include "apply/cab/bit_reader.h"
#include "apply/cab/codec.h"
#include "apply/cab/huffman.h"
#include "apply/cab/match_copy.h"

namespace cab {

namespace {

constexpr uint32_t kLzxTag = 0x44585A4C;  // "LZXD"
constexpr unsigned kMinWindowBits = 15;
constexpr unsigned kMaxWindowBits = 21;
constexpr unsigned kOverrunAllowance = 16;

constexpr unsigned kNumChars = 256;
constexpr unsigned kMaxPositionSlots = 50;
constexpr unsigned kMaxMainSymbols = kNumChars + kMaxPositionSlots * 8;
constexpr unsigned kLengthSymbols = 249;
constexpr unsigned kAlignedSymbols = 8;
constexpr unsigned kPretreeSymbols = 20;

constexpr unsigned kMainRoot = 12;
constexpr unsigned kLengthRoot = 12;
constexpr unsigned kAlignedRoot = 7;
constexpr unsigned kPretreeRoot = 8;
constexpr uint32_t kMainCapacity = HuffTableCapacity(kMaxMainSymbols, kMainRoot, 16);
constexpr uint32_t kLengthCapacity = HuffTableCapacity(kLengthSymbols, kLengthRoot, 16);
constexpr uint32_t kAlignedCapacity = HuffTableCapacity(kAlignedSymbols, kAlignedRoot, 7);
constexpr uint32_t kPretreeCapacity = HuffTableCapacity(kPretreeSymbols, kPretreeRoot, 15);

constexpr unsigned kBlockVerbatim = 1;
constexpr unsigned kBlockAligned = 2;
constexpr unsigned kBlockUncompressed = 3;

// E8 translation covers the first 32768 frames of a folder.
constexpr uint32_t kE8FrameLimit = 32768;

struct PositionTables {
  uint32_t base[kMaxPositionSlots];
  uint8_t extra[kMaxPositionSlots];
};

constexpr PositionTables MakePositionTables() {
  PositionTables t{};
  uint32_t base = 0;
  for (unsigned slot = 0; slot < kMaxPositionSlots; ++slot) {
    const unsigned extra = slot < 4 ? 0 : (slot < 36 ? slot / 2 - 1 : 17);
    t.base[slot] = base;
    t.extra[slot] = static_cast<uint8_t>(extra);
    base += 1u << extra;
  }
  return t;
}

constexpr PositionTables kPosition = MakePositionTables();

using Reader = BitReader<BitOrder::kMsbFirst16>;

inline uint32_t Lookup(const uint32_t* table, unsigned rootBits, Reader& br) {
  uint32_t e = table[br.Buffer() >> (64 - rootBits)];
  if (e & kHuffLink) {
    br.Consume(rootBits);
    e = table[(e >> 16) + (br.Buffer() >> (64 - ((e >> 8) & 0xF)))];
  }
  br.Consume(e & kHuffBitsMask);
  return e;
}

inline uint32_t LoadLe32(const uint8_t* p) {
  return p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

class LzxDecompressor final : public Decompressor {
 public:
  LzxDecompressor(uint16_t type, const Allocator& allocator) : Decompressor(type), allocator_(allocator) {}
  ~LzxDecompressor() override {
    tag_ = 0;
    if (window_) allocator_.free(window_);
    if (e8_) allocator_.free(e8_);
  }

  CodecStatus Init() {
    windowBits_ = (Type() >> 8) & 0x1F;
    if (windowBits_ < kMinWindowBits || windowBits_ > kMaxWindowBits) return CodecStatus::kBadParameter;
    windowSize_ = 1u << windowBits_;
    // One frame more than the window: the bytes just ahead of the write
    // position are never history, so a match copy may overrun into them.
    ringSize_ = windowSize_ + kMaxBlockSize;
    const unsigned slots = windowBits_ == 21 ? 50 : (windowBits_ == 20 ? 42 : windowBits_ * 2);
    mainSymbols_ = kNumChars + slots * 8;
    window_ = static_cast<uint8_t*>(allocator_.Allocate(size_t{ringSize_} + 2 * kMatchOvercopy));
    e8_ = static_cast<uint8_t*>(allocator_.Allocate(kMaxBlockSize + 16));
    if (!window_ || !e8_) return CodecStatus::kNoMemory;
    memset(window_, 0, size_t{ringSize_} + 2 * kMatchOvercopy);
    tag_ = kLzxTag;
    Reset();
    return CodecStatus::kOk;
  }

  void Reset() override {
    pos_ = 0;
    produced_ = 0;
    frames_ = 0;
    headerRead_ = false;
    e8FileSize_ = 0;
    e8Seen_ = false;
    blockType_ = 0;
    blockLength_ = 0;
    blockRemaining_ = 0;
    padPending_ = false;
    r0_ = r1_ = r2_ = 1;
    memset(mainLens_, 0, sizeof(mainLens_));
    memset(lengthLens_, 0, sizeof(lengthLens_));
    lengthEmpty_ = true;
    broken_ = false;
  }

  CodecStatus DecodeBlock(const uint8_t* in, uint32_t inSize, uint32_t outSize, const uint8_t** out) override {
    if (tag_ != kLzxTag || broken_) return CodecStatus::kBadData;
    if (!DecodeFrame(in, inSize, outSize)) {
      broken_ = true;
      return CodecStatus::kBadData;
    }
    *out = TranslateE8(outSize);
    produced_ += outSize;
    ++frames_;
    pos_ += outSize;
    if (pos_ == ringSize_) pos_ = 0;
    return CodecStatus::kOk;
  }

 private:
  bool DecodeFrame(const uint8_t* in, uint32_t inSize, uint32_t outSize) {
    if (outSize == 0 || outSize > kMaxBlockSize || pos_ + outSize > ringSize_) return false;
    Reader br;
    br.Init(in, inSize);
    if (padPending_) {
      // The pad byte of an odd uncompressed block that ended the last frame.
      br.SetBytePosition(1);
      padPending_ = false;
    }
    if (!headerRead_) {
      br.Refill();
      int32_t size = 0;
      if (br.Read(1)) {
        const uint32_t high = br.Read(16);
        const uint32_t low = br.Read(16);
        size = static_cast<int32_t>((high << 16) | low);
      }
      e8FileSize_ = size;
      headerRead_ = true;
    }
    const uint32_t start = pos_;
    const uint32_t end = pos_ + outSize;
    uint32_t pos = start;
    while (pos < end) {
      if (blockRemaining_ == 0) {
        if (!ReadBlockHeader(br)) return false;
        continue;
      }
      const uint32_t run = blockRemaining_ < end - pos ? blockRemaining_ : end - pos;
      if (blockType_ == kBlockUncompressed) {
        if (!CopyUncompressed(br, window_ + pos, run)) return false;
      } else if (!DecodeRun(br, pos, pos + run, start)) {
        return false;
      }
      pos += run;
      blockRemaining_ -= run;
      if (blockRemaining_ == 0 && blockType_ == kBlockUncompressed && (blockLength_ & 1)) {
        const size_t at = br.BytePosition();
        if (at < br.Size()) {
          br.SetBytePosition(at + 1);
        } else {
          padPending_ = true;
        }
      }
    }
    return !br.Overrun(kOverrunAllowance);
  }

  bool ReadBlockHeader(Reader& br) {
    br.Refill();
    if (br.Overrun(kOverrunAllowance)) return false;
    const unsigned type = br.Read(3);
    const uint32_t high = br.Read(16);
    const uint32_t low = br.Read(8);
    const uint32_t length = (high << 8) | low;
    bool empty = false;
    switch (type) {
      case kBlockAligned: {
        br.Refill();
        uint8_t alignedLens[kAlignedSymbols];
        for (unsigned i = 0; i < kAlignedSymbols; ++i) alignedLens[i] = static_cast<uint8_t>(br.Read(3));
        if (!BuildHuffTable(HuffTable{aligned_, kAlignedCapacity, kAlignedRoot, false}, alignedLens, kAlignedSymbols,
                            nullptr, HuffRule::kComplete, &empty)) {
          return false;
        }
      }
        [[fallthrough]];
      case kBlockVerbatim:
        if (!ReadLengths(br, mainLens_, 0, kNumChars) || !ReadLengths(br, mainLens_, kNumChars, mainSymbols_)) {
          return false;
        }
        if (!BuildHuffTable(HuffTable{main_, kMainCapacity, kMainRoot, false}, mainLens_, mainSymbols_, nullptr,
                            HuffRule::kComplete, &empty)) {
          return false;
        }
        // Without a literal 0xE8 code no call instruction can appear.
        if (mainLens_[0xE8] != 0) e8Seen_ = true;
        if (!ReadLengths(br, lengthLens_, 0, kLengthSymbols)) return false;
        if (!BuildHuffTable(HuffTable{length_, kLengthCapacity, kLengthRoot, false}, lengthLens_, kLengthSymbols,
                            nullptr, HuffRule::kCompleteOrEmpty, &lengthEmpty_)) {
          return false;
        }
        break;
      case kBlockUncompressed: {
        e8Seen_ = true;
        // Realign to the next 16-bit word boundary, always moving 1 to 16
        // bits; words count from where bit reading last restarted.
        const size_t at = br.RestartPosition() + static_cast<size_t>((br.BitsSinceRestart() / 16 + 1) * 2);
        if (at > br.Size() || br.Size() - at < 12) return false;
        const uint8_t* data = br.Data() + at;
        r0_ = LoadLe32(data);
        r1_ = LoadLe32(data + 4);
        r2_ = LoadLe32(data + 8);
        br.SetBytePosition(at + 12);
        break;
      }
      default:
        return false;
    }
    blockType_ = type;
    blockLength_ = length;
    blockRemaining_ = length;
    return true;
  }

  // Tree lengths [first, last) as deltas from the previous lengths, coded
  // with a pretree of 20 symbols: 0-16 delta, 17/18 runs of zeros, 19 a
  // short run of one delta.
  bool ReadLengths(Reader& br, uint8_t* lens, unsigned first, unsigned last) {
    uint8_t pretreeLens[kPretreeSymbols];
    br.Refill();
    for (unsigned i = 0; i < kPretreeSymbols; ++i) {
      if (i == 10) br.Refill();
      pretreeLens[i] = static_cast<uint8_t>(br.Read(4));
    }
    bool empty = false;
    if (!BuildHuffTable(HuffTable{pretree_, kPretreeCapacity, kPretreeRoot, false}, pretreeLens, kPretreeSymbols,
                        nullptr, HuffRule::kComplete, &empty)) {
      return false;
    }
    unsigned x = first;
    while (x < last) {
      br.Refill();
      if (br.Overrun(kOverrunAllowance)) return false;
      const unsigned code = Lookup(pretree_, kPretreeRoot, br) >> 16;
      if (code < 17) {
        lens[x] = static_cast<uint8_t>((lens[x] + 17 - code) % 17);
        ++x;
        continue;
      }
      unsigned run;
      uint8_t value = 0;
      if (code == 17) {
        run = 4 + br.Read(4);
      } else if (code == 18) {
        run = 20 + br.Read(5);
      } else if (code == 19) {
        run = 4 + br.Read(1);
        const unsigned delta = Lookup(pretree_, kPretreeRoot, br) >> 16;
        if (delta > 16) return false;
        value = static_cast<uint8_t>((lens[x] + 17 - delta) % 17);
      } else {
        return false;
      }
      if (run > last - x) return false;
      memset(lens + x, value, run);
      x += run;
    }
    return true;
  }

  bool CopyUncompressed(Reader& br, uint8_t* dst, uint32_t count) {
    const size_t at = br.BytePosition();
    if (at > br.Size() || br.Size() - at < count) return false;
    memcpy(dst, br.Data() + at, count);
    br.SetBytePosition(at + count);
    return true;
  }

  // Literals and matches of a verbatim or aligned block until runEnd.
  bool DecodeRun(Reader& reader, uint32_t posAtStart, uint32_t runEnd, uint32_t frameStart) {
    Reader br = reader;
    uint32_t pos = posAtStart;
    uint32_t r0 = r0_, r1 = r1_, r2 = r2_;
    uint8_t* const window = window_;
    const bool aligned = blockType_ == kBlockAligned;
    const uint32_t matchSymbols = mainSymbols_ - kNumChars;
    // History before the frame: the folder's output so far, at most a window.
    const uint64_t before = produced_ - frameStart;
    while (pos < runEnd) {
      br.Refill();
      uint32_t symbol = Lookup(main_, kMainRoot, br) >> 16;
      if (symbol < kNumChars) {
        window[pos++] = static_cast<uint8_t>(symbol);
        continue;
      }
      symbol -= kNumChars;
      if (symbol >= matchSymbols) return false;  // includes invalid entries
      uint32_t length = symbol & 7;
      const unsigned slot = symbol >> 3;
      if (length == 7) {
        if (lengthEmpty_) return false;
        const uint32_t footer = Lookup(length_, kLengthRoot, br) >> 16;
        if (footer >= kLengthSymbols) return false;
        length += footer;
      }
      length += 2;

      uint32_t offset;
      if (slot == 0) {
        offset = r0;
      } else if (slot == 1) {
        offset = r1;
        r1 = r0;
        r0 = offset;
      } else if (slot == 2) {
        offset = r2;
        r2 = r0;
        r0 = offset;
      } else {
        const unsigned extra = kPosition.extra[slot];
        offset = kPosition.base[slot] - 2;
        br.Refill();
        if (aligned && extra >= 3) {
          if (extra > 3) offset += br.Read(extra - 3) << 3;
          offset += Lookup(aligned_, kAlignedRoot, br) >> 16;
        } else if (extra) {
          offset += br.Read(extra);
        }
        r2 = r1;
        r1 = r0;
        r0 = offset;
      }

      if (length > runEnd - pos) return false;
      if (offset == 0 || offset > windowSize_ || offset > before + pos) return false;
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
    }
    reader = br;
    r0_ = r0;
    r1_ = r1;
    r2_ = r2;
    return true;
  }

  // The frame as the caller sees it: E8 call instructions of the first
  // 32768 frames turned back from absolute into relative addresses, in a
  // copy, as the window keeps the untranslated bytes.
  const uint8_t* TranslateE8(uint32_t outSize) {
    const uint8_t* frame = window_ + pos_;
    if (!e8Seen_ || e8FileSize_ == 0 || frames_ >= kE8FrameLimit || outSize <= 10) return frame;
    memcpy(e8_, frame, outSize);
    const int64_t fileSize = e8FileSize_;
    int64_t current = static_cast<int32_t>(static_cast<uint32_t>(produced_));
    uint8_t* data = e8_;
    uint8_t* const stop = e8_ + outSize - 10;
    while (data < stop) {
      if (*data++ != 0xE8) {
        ++current;
        continue;
      }
      const int64_t absolute = static_cast<int32_t>(LoadLe32(data));
      if (absolute >= -current && absolute < fileSize) {
        const int64_t relative = absolute >= 0 ? absolute - current : absolute + fileSize;
        const uint32_t value = static_cast<uint32_t>(relative);
        data[0] = static_cast<uint8_t>(value);
        data[1] = static_cast<uint8_t>(value >> 8);
        data[2] = static_cast<uint8_t>(value >> 16);
        data[3] = static_cast<uint8_t>(value >> 24);
      }
      data += 4;
      current += 5;
    }
    return e8_;
  }

  uint32_t tag_ = 0;
  Allocator allocator_;
  unsigned windowBits_ = 0;
  uint32_t windowSize_ = 0;
  uint32_t ringSize_ = 0;          // window + 32 KB: whole frames, and slack ahead
  unsigned mainSymbols_ = 0;
  uint8_t* window_ = nullptr;
  uint8_t* e8_ = nullptr;          // translated copy of the last frame
  uint32_t pos_ = 0;               // where the next frame starts in the window
  uint64_t produced_ = 0;          // bytes of the folder decoded so far
  uint32_t frames_ = 0;            // frames decoded so far
  bool headerRead_ = false;        // E8 translation size read
  int32_t e8FileSize_ = 0;         // E8 translation size (0: off)
  bool e8Seen_ = false;            // an E8 byte may have been produced
  unsigned blockType_ = 0;         // LZX block in progress
  uint32_t blockLength_ = 0;
  uint32_t blockRemaining_ = 0;    // its bytes still to decode
  bool padPending_ = false;        // skip one byte at the next frame
  uint32_t r0_ = 1, r1_ = 1, r2_ = 1;
  bool lengthEmpty_ = true;
  bool broken_ = false;
  uint8_t mainLens_[kMaxMainSymbols];
  uint8_t lengthLens_[kLengthSymbols];
  uint32_t pretree_[kPretreeCapacity];
  uint32_t aligned_[kAlignedCapacity];
  uint32_t main_[kMainCapacity];
  uint32_t length_[kLengthCapacity];
};

}  // namespace

CodecStatus CreateLzxDecompressor(uint16_t type, const Allocator& allocator, Decompressor** out) {
  return CreateInitialised<LzxDecompressor>(type, allocator, out);
}

}  // namespace cab
