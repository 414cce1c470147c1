// Decoding tables for canonical prefix codes (deflate and LZX trees).
//
// A table is a root level indexed by the next `rootBits` bits of the stream,
// plus second-level tables for codes longer than that. Each entry is 32 bits:
//   bits 0-4   bits this level consumes (leaf: code length within the level;
//              link: rootBits)
//   bit  5     link: bits 16-31 hold the offset of the second-level table,
//              bits 8-11 its index width
//   bit  6     invalid: no code leads here (incomplete or empty code)
//   bits 7-31  the symbol's payload (default: the symbol in bits 16-31);
//              an invalid entry has 0xFFFF in bits 16-31
// Codes come either least-significant bit first (deflate, table indexed
// with the low bits of an LSB bit buffer) or most-significant bit first (LZX,
// indexed with the top bits of an MSB bit buffer).
#pragma once

#include <cstddef>
#include <cstdint>

namespace cab {

constexpr unsigned kHuffMaxCodeBits = 16;
constexpr uint32_t kHuffBitsMask = 0x1F;
constexpr uint32_t kHuffLink = 0x20;
constexpr uint32_t kHuffInvalid = 0x40;
constexpr uint32_t kHuffInvalidEntry = 0xFFFF0000u | kHuffInvalid | 1;

// Entries needed at most for a code of `symbols` symbols no longer than
// `maxBits`, decoded with a root level of `rootBits`.
constexpr uint32_t HuffTableCapacity(unsigned symbols, unsigned rootBits, unsigned maxBits) {
  return (1u << rootBits) + (maxBits > rootBits ? symbols * (1u << (maxBits - rootBits)) : 0u);
}

// Which codes are acceptable besides complete ones.
enum class HuffRule {
  kComplete,         // only a complete code
  kCompleteOrEmpty,  // also all lengths zero (every entry invalid)
  kDeflate,          // also empty, or a single code of length 1 (RFC 1951 usage)
};

struct HuffTable {
  uint32_t* entries;   // capacity entries
  uint32_t capacity;
  unsigned rootBits;   // 1..kHuffMaxCodeBits
  bool lsbFirst;
};

// Builds `table` for the code given by `lengths` (0 = symbol unused, else at
// most kHuffMaxCodeBits). `payloads`, when not null, gives bits 7-31 of each
// symbol's entries. Returns false for an over-subscribed code, a code the
// rule does not accept, or a length over the limit; *empty tells whether all
// lengths were zero.
bool BuildHuffTable(const HuffTable& table, const uint8_t* lengths, unsigned symbols, const uint32_t* payloads,
                    HuffRule rule, bool* empty);

}  // namespace cab
