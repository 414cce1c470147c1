// The folder decompressors behind the FDI interface: stored, MSZIP, Quantum
// and LZX. One decompressor decodes one folder's data blocks in order; its
// state (history window, adaptive models, trees, repeated offsets) carries
// from block to block and is reset at the start of every folder.
//
// All memory comes from the allocator given at creation (the FDI context's
// alloc and free callbacks). Each decompressor carries a tag word that every
// call checks before it touches any other field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

namespace cab {

// Largest uncompressed data block (one frame of the LZX and Quantum formats).
constexpr uint32_t kMaxBlockSize = 32768;
// Largest compressed data block: a block may grow by up to 6144 bytes.
constexpr uint32_t kMaxCompressedBlockSize = 32768 + 6144;

// Compression types (low four bits of a folder's compression type).
constexpr uint16_t kCompressNone = 0;
constexpr uint16_t kCompressMszip = 1;
constexpr uint16_t kCompressQuantum = 2;
constexpr uint16_t kCompressLzx = 3;
constexpr uint16_t kCompressNothing = 15;  // accepted, no decompressor
constexpr uint16_t kCompressTypeMask = 0x000F;

// Results of the decompressor calls.
enum class CodecStatus {
  kOk,
  kBadData,       // corrupt or hostile input (FDI error 7)
  kNoMemory,      // the allocator failed (FDI error 5)
  kBadType,       // unknown compression type (FDI error 6)
  kBadParameter,  // window size out of range (FDI error 7)
};

// The alloc and free callbacks, as the FDI context holds them.
struct Allocator {
  void* (*alloc)(uint32_t size);
  void (*free)(void* block);

  void* Allocate(size_t size) const {
    if (size > 0xFFFFFFFFu) return nullptr;
    return alloc(static_cast<uint32_t>(size));
  }
  template <typename T, typename... Args>
  T* New(Args&&... args) const {
    void* block = Allocate(sizeof(T));
    return block ? new (block) T(static_cast<Args&&>(args)...) : nullptr;
  }
  template <typename T>
  void Delete(T* object) const {
    if (!object) return;
    object->~T();
    free(object);
  }
};

class Decompressor {
 public:
  virtual ~Decompressor() = default;

  // Decodes one data block. `in` holds `inSize` bytes (at most
  // kMaxCompressedBlockSize) followed by kBitReaderPadding zero bytes;
  // exactly `outSize` (1..kMaxBlockSize) bytes are produced and *out points
  // at them until the next call. Corrupt input gives kBadData and leaves
  // the decompressor unusable until Reset().
  virtual CodecStatus DecodeBlock(const uint8_t* in, uint32_t inSize, uint32_t outSize, const uint8_t** out) = 0;

  // Back to the state at the start of a folder.
  virtual void Reset() = 0;

  // The full 16-bit compression type this decompressor was made for.
  uint16_t Type() const { return type_; }

 protected:
  explicit Decompressor(uint16_t type) : type_(type) {}

 private:
  uint16_t type_;
};

// Makes the decompressor for a folder's compression type. kBadType for an
// unknown method, kBadParameter for a window size out of range, kNoMemory
// when the allocator fails. *out is null unless the result is kOk; type 15
// gives kOk with a decompressor that fails every block.
CodecStatus CreateDecompressor(uint16_t typeCompress, const Allocator& allocator, Decompressor** out);
void DestroyDecompressor(const Allocator& allocator, Decompressor* decompressor);

// What CreateDecompressor would say about the type, short of allocating:
// kOk, kBadType or kBadParameter.
CodecStatus CheckCompressionType(uint16_t typeCompress);

// Allocates a codec (constructed with the type and the allocator) and runs
// its Init; a codec that fails Init is destroyed again. The factories below
// are this for their own codec class.
template <class Codec>
CodecStatus CreateInitialised(uint16_t type, const Allocator& allocator, Decompressor** out) {
  Codec* codec = allocator.New<Codec>(type, allocator);
  if (!codec) return CodecStatus::kNoMemory;
  const CodecStatus status = codec->Init();
  if (status != CodecStatus::kOk) {
    DestroyDecompressor(allocator, codec);
    return status;
  }
  *out = codec;
  return CodecStatus::kOk;
}

// The factories of the individual codecs (one file each).
CodecStatus CreateStoredDecompressor(uint16_t type, const Allocator& allocator, Decompressor** out);
CodecStatus CreateMszipDecompressor(uint16_t type, const Allocator& allocator, Decompressor** out);
CodecStatus CreateQuantumDecompressor(uint16_t type, const Allocator& allocator, Decompressor** out);
CodecStatus CreateLzxDecompressor(uint16_t type, const Allocator& allocator, Decompressor** out);

}  // namespace cab
