// LZX streams built by hand for tests, with window 2^16 (32 position slots,
// a main tree of 512 symbols, each coded in 9 bits; no length tree, so
// matches are 2 to 8 bytes). Verbatim and uncompressed blocks; the output is
// cut into frames of 32 KB of uncompressed data, one cabinet data block
// each, padded to 16 bits as the format asks.
#pragma once

#include <cstdint>
#include <vector>

#include "tests/cab/cab_test_support.h"

namespace cabtest {

class LzxWriter {
 public:
  static constexpr uint16_t kTypeCompress = 0x1003;  // LZX, window 2^16
  static constexpr uint32_t kWindow = 1u << 16;

  // e8FileSize 0: no E8 translation.
  explicit LzxWriter(int32_t e8FileSize = 0);

  void VerbatimBlock(uint32_t size);  // header and trees; then `size` bytes of symbols
  void Literal(uint8_t byte);
  void Match(unsigned length, uint32_t offset);        // offset 1 .. window - 3
  void RepeatMatch(unsigned length, unsigned which);   // R0, R1 or R2
  void UncompressedBlock(const std::vector<uint8_t>& data, uint32_t r0 = 1, uint32_t r1 = 1, uint32_t r2 = 1);

  // Bits written since the frame's last 16-bit boundary.
  unsigned PendingBits() const { return bitCount_; }

  // The folder: frames with their uncompressed sizes; and what a decoder
  // must produce (before E8 translation).
  CabFolder Folder();
  const std::vector<uint8_t>& Plain() const { return plain_; }

 private:
  void Bits(uint32_t value, unsigned count);
  void Pretree();
  void Produced(size_t count);
  void Copy(unsigned length, uint32_t offset);
  void FlushFrame();
  void AlignWord();

  std::vector<std::vector<uint8_t>> frames_;
  std::vector<uint16_t> frameSizes_;
  std::vector<uint8_t> current_;
  uint32_t bitBuffer_ = 0;
  unsigned bitCount_ = 0;
  uint32_t frameOutput_ = 0;
  std::vector<uint8_t> plain_;
  uint32_t r_[3] = {1, 1, 1};
  bool mainLensSet_ = false;
};

}  // namespace cabtest
