// A JojoDiff delta encoder for test fixtures. It does not search for the
// smallest delta; it writes deltas that every decoder of the format must
// rebuild exactly, with an opcode in front of every run of data bytes (no
// reliance on data bytes being taken as MOD by default), 0xA7 data bytes
// written as A7 A7, and each length in the shortest of its four forms.
//
// Three encoders:
//   SameSize     only EQL and MOD, for files whose size does not change: the
//                result can be applied in place.
//   PrefixSuffix EQL of the common prefix, DEL of the old middle, INS of the
//                new middle, EQL of the common suffix.
//   BlockMatch   copies runs found anywhere in the old file (DEL to skip
//                forward, BKT to go back, EQL to copy), INS for the rest.
// Encode picks SameSize for equal sizes and BlockMatch otherwise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace testsupport {

// Builds a delta opcode by opcode. Lengths must be at least 1.
class DeltaWriter {
 public:
  static constexpr uint8_t kEscape = 0xA7;
  static constexpr uint8_t kBkt = 0xA2;
  static constexpr uint8_t kEql = 0xA3;
  static constexpr uint8_t kDel = 0xA4;
  static constexpr uint8_t kIns = 0xA5;
  static constexpr uint8_t kMod = 0xA6;

  void Eql(uint32_t length);
  void Del(uint32_t length);
  void Bkt(uint32_t length);
  // The opcode is written only when the previous operation was not the
  // same kind, so consecutive calls make one run.
  void Ins(const uint8_t* data, size_t size);
  void Mod(const uint8_t* data, size_t size);
  void Ins(const std::vector<uint8_t>& data) { Ins(data.data(), data.size()); }
  void Mod(const std::vector<uint8_t>& data) { Mod(data.data(), data.size()); }

  const std::vector<uint8_t>& Delta() const { return out_; }
  std::vector<uint8_t> Take() { return std::move(out_); }

  // The encoded length operand alone (1, 2, 3 or 5 bytes).
  static std::vector<uint8_t> EncodeLength(uint32_t length);

  static std::vector<uint8_t> SameSize(const std::vector<uint8_t>& oldBytes, const std::vector<uint8_t>& newBytes);
  static std::vector<uint8_t> PrefixSuffix(const std::vector<uint8_t>& oldBytes,
                                           const std::vector<uint8_t>& newBytes);
  static std::vector<uint8_t> BlockMatch(const std::vector<uint8_t>& oldBytes, const std::vector<uint8_t>& newBytes);
  static std::vector<uint8_t> Encode(const std::vector<uint8_t>& oldBytes, const std::vector<uint8_t>& newBytes);

 private:
  void Opcode(uint8_t opcode);
  void Data(const uint8_t* data, size_t size);

  std::vector<uint8_t> out_;
  uint8_t mode_ = 0;  // the last opcode written; 0 before the first
};

}  // namespace testsupport
