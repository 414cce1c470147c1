// MSZIP folders: every data block is the signature bytes 'C' 'K' followed by
// a complete deflate stream (RFC 1951) whose output is the block's data. The
// 32 KB history carries over from block to block within the folder, so a
// block may copy from the end of the previous ones.
//
// Modes, per data block:
//   kSignature  -> kBlockHeader          'C' 'K' checked
//   kBlockHeader-> kStored | kFixed | kDynamic   BFINAL and BTYPE read
//   kStored     -> kBlockHeader | kDone  LEN/NLEN checked, raw bytes copied
//   kDynamic    -> kCodes                code length code, then the two codes
//   kFixed      -> kCodes                the fixed codes of RFC 1951
//   kCodes      -> kBlockHeader | kDone  literals and matches until end-of-block
//   kDone                                exactly the block's size produced
// The whole block is in memory, so one call runs the modes to the end; the
// decompressor state between calls is the history and its length.
#include <cstring>

#include "apply/cab/bit_reader.h"
#include "apply/cab/codec.h"
#include "apply/cab/huffman.h"
#include "apply/cab/match_copy.h"

namespace cab {

namespace {

constexpr uint32_t kMszipTag = 0x50495A4D;  // "MZIP"
constexpr uint32_t kHistorySize = 32768;
constexpr uint32_t kWindowBytes = kHistorySize + kMaxBlockSize + 2 * kMatchOvercopy;

constexpr unsigned kLitLenSymbols = 288;
constexpr unsigned kDistSymbols = 32;
constexpr unsigned kCodeLenSymbols = 19;
constexpr unsigned kLitLenRoot = 10;
constexpr unsigned kDistRoot = 8;
constexpr unsigned kCodeLenRoot = 7;
constexpr uint32_t kLitLenCapacity = HuffTableCapacity(kLitLenSymbols, kLitLenRoot, 15);
constexpr uint32_t kDistCapacity = HuffTableCapacity(kDistSymbols, kDistRoot, 15);
constexpr uint32_t kCodeLenCapacity = HuffTableCapacity(kCodeLenSymbols, kCodeLenRoot, 7);

// Payload bits of the deflate tables (see huffman.h for the layout): the
// base value in bits 16-31, the count of extra bits in bits 8-12.
constexpr uint32_t kLiteral = 0x2000;
constexpr uint32_t kEndOfBlock = 0x4000;

constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,    65,    97,    129,
                                    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6,
                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr uint8_t kCodeLenOrder[kCodeLenSymbols] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

struct Payloads {
  uint32_t litLen[kLitLenSymbols];
  uint32_t dist[kDistSymbols];
};

constexpr Payloads MakePayloads() {
  Payloads p{};
  for (unsigned s = 0; s < kLitLenSymbols; ++s) {
    if (s < 256) {
      p.litLen[s] = (s << 16) | kLiteral;
    } else if (s == 256) {
      p.litLen[s] = kEndOfBlock;
    } else if (s < 286) {
      p.litLen[s] = (uint32_t{kLengthBase[s - 257]} << 16) | (uint32_t{kLengthExtra[s - 257]} << 8);
    } else {
      p.litLen[s] = kHuffInvalidEntry & ~kHuffBitsMask;
    }
  }
  for (unsigned s = 0; s < kDistSymbols; ++s) {
    p.dist[s] = s < 30 ? (uint32_t{kDistBase[s]} << 16) | (uint32_t{kDistExtra[s]} << 8)
                       : kHuffInvalidEntry & ~kHuffBitsMask;
  }
  return p;
}

constexpr Payloads kPayloads = MakePayloads();

using Reader = BitReader<BitOrder::kLsbFirst>;

inline uint32_t Lookup(const uint32_t* table, unsigned rootBits, Reader& br) {
  uint32_t e = table[br.Buffer() & ((1u << rootBits) - 1)];
  if (e & kHuffLink) {
    br.Consume(rootBits);
    e = table[(e >> 16) + (br.Buffer() & ((1u << ((e >> 8) & 0xF)) - 1))];
  }
  br.Consume(e & kHuffBitsMask);
  return e;
}

class MszipDecompressor final : public Decompressor {
 public:
  MszipDecompressor(uint16_t type, const Allocator& allocator) : Decompressor(type), allocator_(allocator) {}
  ~MszipDecompressor() override {
    tag_ = 0;
    if (window_) allocator_.free(window_);
  }

  CodecStatus Init() {
    window_ = static_cast<uint8_t*>(allocator_.Allocate(kWindowBytes));
    if (!window_) return CodecStatus::kNoMemory;
    memset(window_, 0, kWindowBytes);
    uint8_t lengths[kLitLenSymbols + kDistSymbols];
    for (unsigned s = 0; s < kLitLenSymbols; ++s) lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
    for (unsigned s = 0; s < kDistSymbols; ++s) lengths[kLitLenSymbols + s] = 5;
    bool empty = false;
    if (!BuildHuffTable(HuffTable{fixedLitLen_, kLitLenCapacity, kLitLenRoot, true}, lengths, kLitLenSymbols,
                        kPayloads.litLen, HuffRule::kComplete, &empty) ||
        !BuildHuffTable(HuffTable{fixedDist_, kDistCapacity, kDistRoot, true}, lengths + kLitLenSymbols,
                        kDistSymbols, kPayloads.dist, HuffRule::kComplete, &empty)) {
      return CodecStatus::kBadParameter;
    }
    tag_ = kMszipTag;
    return CodecStatus::kOk;
  }

  void Reset() override {
    produced_ = 0;
    pendingShift_ = 0;
    broken_ = false;
  }

  CodecStatus DecodeBlock(const uint8_t* in, uint32_t inSize, uint32_t outSize, const uint8_t** out) override {
    if (tag_ != kMszipTag || broken_) return CodecStatus::kBadData;
    if (!Decode(in, inSize, outSize)) {
      broken_ = true;
      return CodecStatus::kBadData;
    }
    produced_ += outSize;
    pendingShift_ = outSize;
    *out = window_ + kHistorySize;
    return CodecStatus::kOk;
  }

 private:
  bool Decode(const uint8_t* in, uint32_t inSize, uint32_t outSize) {
    if (outSize == 0 || outSize > kMaxBlockSize) return false;
    // The previous block's output joins the history now that the caller is
    // done with it: keep the last 32 KB of history plus that output.
    if (pendingShift_) {
      memmove(window_, window_ + pendingShift_, kHistorySize);
      pendingShift_ = 0;
    }
    if (inSize < 2 || in[0] != 'C' || in[1] != 'K') return false;

    Reader br;
    br.Init(in + 2, inSize - 2);
    uint8_t* const out = window_ + kHistorySize;
    const uint32_t history = produced_ < kHistorySize ? static_cast<uint32_t>(produced_) : kHistorySize;
    uint32_t pos = 0;
    bool last = false;
    while (!last) {
      br.Refill();
      if (br.Overrun(0)) return false;
      last = br.Read(1) != 0;
      const uint32_t type = br.Read(2);
      if (type == 0) {
        if (!CopyStored(br, out, pos, outSize)) return false;
      } else if (type == 1) {
        if (!DecodeCodes(br, fixedLitLen_, fixedDist_, out, pos, outSize, history)) return false;
      } else if (type == 2) {
        if (!ReadDynamicCodes(br)) return false;
        if (!DecodeCodes(br, litLen_, dist_, out, pos, outSize, history)) return false;
      } else {
        return false;
      }
    }
    return pos == outSize && !br.Overrun(0);
  }

  static bool CopyStored(Reader& br, uint8_t* out, uint32_t& pos, uint32_t outSize) {
    br.AlignTo(8);
    size_t at = br.BytePosition();
    const uint8_t* data = br.Data();
    const size_t size = br.Size();
    if (at > size || size - at < 4) return false;
    const uint32_t len = data[at] | (uint32_t{data[at + 1]} << 8);
    const uint32_t nlen = data[at + 2] | (uint32_t{data[at + 3]} << 8);
    if (len != (~nlen & 0xFFFFu)) return false;
    at += 4;
    if (len > size - at || len > outSize - pos) return false;
    memcpy(out + pos, data + at, len);
    pos += len;
    br.SetBytePosition(at + len);
    return true;
  }

  bool ReadDynamicCodes(Reader& br) {
    br.Refill();
    const unsigned litLenCount = br.Read(5) + 257;
    const unsigned distCount = br.Read(5) + 1;
    const unsigned codeLenCount = br.Read(4) + 4;
    if (litLenCount > 286 || distCount > 30) return false;

    uint8_t codeLens[kCodeLenSymbols] = {};
    for (unsigned i = 0; i < codeLenCount; ++i) {
      br.Refill();
      codeLens[kCodeLenOrder[i]] = static_cast<uint8_t>(br.Read(3));
    }
    bool empty = false;
    if (!BuildHuffTable(HuffTable{codeLen_, kCodeLenCapacity, kCodeLenRoot, true}, codeLens, kCodeLenSymbols,
                        nullptr, HuffRule::kComplete, &empty)) {
      return false;
    }

    const unsigned total = litLenCount + distCount;
    unsigned n = 0;
    while (n < total) {
      br.Refill();
      if (br.Overrun(0)) return false;
      const uint32_t e = Lookup(codeLen_, kCodeLenRoot, br);
      const unsigned sym = e >> 16;
      if (sym < 16) {
        lengths_[n++] = static_cast<uint8_t>(sym);
        continue;
      }
      unsigned repeat;
      uint8_t value = 0;
      if (sym == 16) {
        if (n == 0) return false;
        value = lengths_[n - 1];
        repeat = 3 + br.Read(2);
      } else if (sym == 17) {
        repeat = 3 + br.Read(3);
      } else if (sym == 18) {
        repeat = 11 + br.Read(7);
      } else {
        return false;
      }
      if (repeat > total - n) return false;
      memset(lengths_ + n, value, repeat);
      n += repeat;
    }
    if (lengths_[256] == 0) return false;  // no end-of-block code
    return BuildHuffTable(HuffTable{litLen_, kLitLenCapacity, kLitLenRoot, true}, lengths_, litLenCount,
                          kPayloads.litLen, HuffRule::kDeflate, &empty) &&
           BuildHuffTable(HuffTable{dist_, kDistCapacity, kDistRoot, true}, lengths_ + litLenCount, distCount,
                          kPayloads.dist, HuffRule::kDeflate, &empty);
  }

  // Literals and matches up to the end-of-block code. One refill covers a
  // whole match: litlen code (15) + length bits (5) + distance code (15) +
  // distance bits (13) = 48 <= 56.
  static bool DecodeCodes(Reader& reader, const uint32_t* litLen, const uint32_t* dist, uint8_t* out,
                          uint32_t& posInOut, uint32_t outSize, uint32_t history) {
    Reader br = reader;
    uint32_t pos = posInOut;
    for (;;) {
      br.Refill();
      uint32_t e = Lookup(litLen, kLitLenRoot, br);
      if (e & kLiteral) {
        if (pos >= outSize) return false;
        out[pos++] = static_cast<uint8_t>(e >> 16);
        // A second literal often fits in the bits still buffered.
        if (br.Buffered() >= 15) {
          e = Lookup(litLen, kLitLenRoot, br);
          if (e & kLiteral) {
            if (pos >= outSize) return false;
            out[pos++] = static_cast<uint8_t>(e >> 16);
            continue;
          }
          br.Refill();
        } else {
          continue;
        }
      }
      if (e & (kEndOfBlock | kHuffInvalid)) {
        if (e & kHuffInvalid) return false;
        break;
      }
      const uint32_t length = (e >> 16) + br.Read((e >> 8) & 0x1F);
      const uint32_t d = Lookup(dist, kDistRoot, br);
      if (d & kHuffInvalid) return false;
      const uint32_t distance = (d >> 16) + br.Read((d >> 8) & 0x1F);
      if (length > outSize - pos || distance > history + pos) return false;
      CopyMatchFast(out + pos, distance, length);
      pos += length;
    }
    reader = br;
    posInOut = pos;
    return true;
  }

  uint32_t tag_ = 0;
  Allocator allocator_;
  uint8_t* window_ = nullptr;  // history (32 KB), then the block's output
  uint64_t produced_ = 0;      // bytes of the folder decoded so far
  uint32_t pendingShift_ = 0;  // size of the last output, still to join the history
  bool broken_ = false;
  uint8_t lengths_[kLitLenSymbols + kDistSymbols] = {};
  uint32_t codeLen_[kCodeLenCapacity];
  uint32_t litLen_[kLitLenCapacity];
  uint32_t dist_[kDistCapacity];
  uint32_t fixedLitLen_[kLitLenCapacity];
  uint32_t fixedDist_[kDistCapacity];
};

}  // namespace

CodecStatus CreateMszipDecompressor(uint16_t type, const Allocator& allocator, Decompressor** out) {
  return CreateInitialised<MszipDecompressor>(type, allocator, out);
}

}  // namespace cab
