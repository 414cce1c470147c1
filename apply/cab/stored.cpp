// Folders without compression: each data block is its own output.
#include <cstring>

#include "apply/cab/codec.h"

namespace cab {

namespace {

constexpr uint32_t kStoredTag = 0x524F5453;  // "STOR"

class StoredDecompressor final : public Decompressor {
 public:
  explicit StoredDecompressor(uint16_t type) : Decompressor(type) {}
  ~StoredDecompressor() override { tag_ = 0; }

  CodecStatus DecodeBlock(const uint8_t* in, uint32_t inSize, uint32_t outSize, const uint8_t** out) override {
    if (tag_ != kStoredTag) return CodecStatus::kBadData;
    if (inSize != outSize || outSize > kMaxBlockSize) return CodecStatus::kBadData;
    *out = in;
    return CodecStatus::kOk;
  }
  void Reset() override {}

 private:
  uint32_t tag_ = kStoredTag;
};

}  // namespace

CodecStatus CreateStoredDecompressor(uint16_t type, const Allocator& allocator, Decompressor** out) {
  StoredDecompressor* stored = allocator.New<StoredDecompressor>(type);
  if (!stored) return CodecStatus::kNoMemory;
  *out = stored;
  return CodecStatus::kOk;
}

}  // namespace cab
