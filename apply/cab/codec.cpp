#include "apply/cab/codec.h"

namespace cab {

namespace {

// Type 15: a folder that sets up no decompressor. Files of length zero come
// out of it; any data block fails.
class NothingDecompressor final : public Decompressor {
 public:
  explicit NothingDecompressor(uint16_t type) : Decompressor(type) {}
  CodecStatus DecodeBlock(const uint8_t*, uint32_t, uint32_t, const uint8_t**) override {
    return CodecStatus::kBadData;
  }
  void Reset() override {}
};

}  // namespace

CodecStatus CreateDecompressor(uint16_t typeCompress, const Allocator& allocator, Decompressor** out) {
  *out = nullptr;
  switch (typeCompress & kCompressTypeMask) {
    case kCompressNone:
      return CreateStoredDecompressor(typeCompress, allocator, out);
    case kCompressMszip:
      return CreateMszipDecompressor(typeCompress, allocator, out);
    case kCompressQuantum:
      return CreateQuantumDecompressor(typeCompress, allocator, out);
    case kCompressLzx:
      return CreateLzxDecompressor(typeCompress, allocator, out);
    case kCompressNothing: {
      NothingDecompressor* nothing = allocator.New<NothingDecompressor>(typeCompress);
      if (!nothing) return CodecStatus::kNoMemory;
      *out = nothing;
      return CodecStatus::kOk;
    }
    default:
      return CodecStatus::kBadType;
  }
}

CodecStatus CheckCompressionType(uint16_t typeCompress) {
  const unsigned windowBits = (typeCompress >> 8) & 0x1F;
  switch (typeCompress & kCompressTypeMask) {
    case kCompressNone:
    case kCompressMszip:
    case kCompressNothing:
      return CodecStatus::kOk;
    case kCompressQuantum:
      return windowBits >= 10 && windowBits <= 21 ? CodecStatus::kOk : CodecStatus::kBadParameter;
    case kCompressLzx:
      return windowBits >= 15 && windowBits <= 21 ? CodecStatus::kOk : CodecStatus::kBadParameter;
    default:
      return CodecStatus::kBadType;
  }
}

void DestroyDecompressor(const Allocator& allocator, Decompressor* decompressor) {
  if (!decompressor) return;
  decompressor->~Decompressor();
  allocator.free(decompressor);
}

}  // namespace cab
