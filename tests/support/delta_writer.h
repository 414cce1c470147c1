// Hand-made JojoDiff deltas, for tests that need exact bytes or deltas that
// no encoder writes, and a strict reader that holds a delta to what our
// encoder promises (publish/delta_encoder.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "apply/delta/delta_format.h"

namespace testsupport {

// Builds a delta opcode by opcode, with an opcode in front of every run of
// data bytes, every 0xA7 data byte doubled and each length in its shortest
// form. Lengths must be at least 1.
class DeltaWriter {
 public:
  static constexpr uint8_t kEscape = jojodiff::kEsc;
  static constexpr uint8_t kBkt = jojodiff::kOpBkt;
  static constexpr uint8_t kEql = jojodiff::kOpEql;
  static constexpr uint8_t kDel = jojodiff::kOpDel;
  static constexpr uint8_t kIns = jojodiff::kOpIns;
  static constexpr uint8_t kMod = jojodiff::kOpMod;

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

 private:
  void Opcode(uint8_t opcode);
  void Data(const uint8_t* data, size_t size);

  std::vector<uint8_t> out_;
  uint8_t mode_ = 0;  // the last opcode written; 0 before the first
};

// What ReadStrict found: the first breach of the rules (empty when none),
// the count of each opcode and every length with the first byte of its form.
struct StrictDelta {
  std::string error;
  std::map<uint8_t, int> ops;                          // opcode -> count
  std::vector<std::pair<uint8_t, uint32_t>> lengths;   // (first byte, value) in order
};

// Reads a delta and refuses what our encoder promises never to write: data
// bytes with no INS or MOD in front, an INS or MOD with no data, an escape
// that ends the delta, a length not in its shortest form or in the 8-byte
// form. Given the original's size it also follows the original position
// and refuses EQL or DEL past its end, BKT before its start and MOD data
// past its end.
StrictDelta ReadStrict(const std::vector<uint8_t>& delta, uint64_t origSize = UINT64_MAX);

// The first byte of a length's shortest form.
uint8_t ShortestLengthForm(uint32_t length);

}  // namespace testsupport
