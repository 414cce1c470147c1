#include "apply/cab/huffman.h"

namespace cab {

namespace {

uint32_t Reverse(uint32_t code, unsigned bits) {
  uint32_t r = 0;
  for (unsigned i = 0; i < bits; ++i) {
    r = (r << 1) | (code & 1);
    code >>= 1;
  }
  return r;
}

void Fill(uint32_t* entries, uint32_t count, uint32_t value) {
  for (uint32_t i = 0; i < count; ++i) entries[i] = value;
}

// Writes `entry` for a code of `len` bits whose value is `code` into a level
// of `levelBits` index bits. MSB-first codes occupy a contiguous run of
// indices; LSB-first codes are read reversed, so their indices are strided.
void Place(uint32_t* level, unsigned levelBits, uint32_t code, unsigned len, uint32_t entry, bool lsbFirst) {
  const unsigned spare = levelBits - len;
  if (!lsbFirst) {
    Fill(level + (code << spare), 1u << spare, entry);
  } else {
    const uint32_t first = Reverse(code, len);
    const uint32_t step = 1u << len;
    const uint32_t size = 1u << levelBits;
    for (uint32_t i = first; i < size; i += step) level[i] = entry;
  }
}

}  // namespace

bool BuildHuffTable(const HuffTable& table, const uint8_t* lengths, unsigned symbols, const uint32_t* payloads,
                    HuffRule rule, bool* empty) {
  unsigned count[kHuffMaxCodeBits + 1] = {};
  for (unsigned s = 0; s < symbols; ++s) {
    if (lengths[s] > kHuffMaxCodeBits) return false;
    ++count[lengths[s]];
  }
  count[0] = 0;

  // Kraft sum: `left` codes of the current length are still unassigned.
  int32_t left = 1;
  unsigned maxLen = 0;
  unsigned used = 0;
  for (unsigned len = 1; len <= kHuffMaxCodeBits; ++len) {
    left <<= 1;
    left -= static_cast<int32_t>(count[len]);
    if (left < 0) return false;  // over-subscribed
    if (count[len]) maxLen = len;
    used += count[len];
  }
  *empty = used == 0;
  const uint32_t rootSize = 1u << table.rootBits;
  if (rootSize > table.capacity) return false;
  if (used == 0) {
    if (rule == HuffRule::kComplete) return false;
    Fill(table.entries, rootSize, kHuffInvalidEntry);
    return true;
  }
  if (left > 0) {
    const bool singleOneBit = used == 1 && maxLen == 1;
    if (rule != HuffRule::kDeflate || !singleOneBit) return false;
    Fill(table.entries, rootSize, kHuffInvalidEntry);
  }

  // Symbols sorted by (length, symbol) give the canonical code order.
  uint16_t sorted[1024];
  if (used > sizeof(sorted) / sizeof(sorted[0])) return false;
  unsigned offset[kHuffMaxCodeBits + 2] = {};
  for (unsigned len = 1; len <= kHuffMaxCodeBits; ++len) offset[len + 1] = offset[len] + count[len];
  for (unsigned s = 0; s < symbols; ++s) {
    if (lengths[s]) sorted[offset[lengths[s]]++] = static_cast<uint16_t>(s);
  }

  const unsigned root = table.rootBits;
  unsigned remaining[kHuffMaxCodeBits + 1];
  for (unsigned len = 0; len <= kHuffMaxCodeBits; ++len) remaining[len] = count[len];

  uint32_t code = 0;     // canonical code of the current symbol
  unsigned codeLen = 0;  // its length
  uint32_t nextFree = rootSize;
  uint32_t subPrefix = 0xFFFFFFFFu;
  uint32_t* sub = nullptr;
  unsigned subBits = 0;
  for (unsigned i = 0; i < used; ++i) {
    const unsigned sym = sorted[i];
    const unsigned len = lengths[sym];
    if (i == 0) {
      codeLen = len;
      code = 0;
    } else {
      ++code;
      code <<= (len - codeLen);
      codeLen = len;
    }
    const uint32_t payload = payloads ? payloads[sym] : (uint32_t{sym} << 16);
    if (len <= root) {
      Place(table.entries, root, code, len, payload | len, table.lsbFirst);
    } else {
      const unsigned extra = len - root;
      const uint32_t prefix = code >> extra;
      if (prefix != subPrefix) {
        // A new second-level table, wide enough for every remaining code
        // that shares this prefix.
        unsigned bits = extra;
        int32_t slots = 1 << bits;
        while (bits + root < maxLen) {
          slots -= static_cast<int32_t>(remaining[bits + root]);
          if (slots <= 0) break;
          ++bits;
          slots <<= 1;
        }
        const uint32_t size = 1u << bits;
        if (nextFree + size > table.capacity || nextFree > 0xFFFF) return false;
        sub = table.entries + nextFree;
        subBits = bits;
        Fill(sub, size, kHuffInvalidEntry);
        const uint32_t link = (nextFree << 16) | (uint32_t{bits} << 8) | kHuffLink | root;
        const uint32_t rootIndex = table.lsbFirst ? Reverse(prefix, root) : prefix;
        table.entries[rootIndex] = link;
        nextFree += size;
        subPrefix = prefix;
      }
      const uint32_t low = code & ((1u << extra) - 1);
      Place(sub, subBits, low, extra, payload | extra, table.lsbFirst);
    }
    --remaining[len];
  }
  return true;
}

}  // namespace cab
