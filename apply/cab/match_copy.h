// Copying of LZ77 matches for the codecs' history windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace cab {

// Bytes CopyMatchFast may write past the end of the match.
constexpr size_t kMatchOvercopy = 16;

// Copies `len` bytes from `dst - dist` to `dst` front to back, so that an
// overlapping match (dist < len) repeats its pattern. Writes whole 8-byte
// words and so may write up to kMatchOvercopy bytes past dst + len: the
// caller keeps that much room after the window and guarantees that nothing
// there is still to be read as history. dist >= 1.
inline void CopyMatchFast(uint8_t* dst, size_t dist, size_t len) {
  const uint8_t* src = dst - dist;
  uint8_t* const end = dst + len;
  if (dist >= 8) {
    do {
      memcpy(dst, src, 8);
      dst += 8;
      src += 8;
    } while (dst < end);
    return;
  }
  if (dist == 1) {
    // A run of one byte: widen it to a word and store words.
    uint64_t word = 0x0101010101010101ull * src[0];
    do {
      memcpy(dst, &word, 8);
      dst += 8;
    } while (dst < end);
    return;
  }
  // A short period: lay down the first bytes one at a time until the copy
  // distance is a multiple of the period that is at least 8, then copy words
  // from that far back (the data repeats with the period, so the bytes are
  // the same).
  size_t stride = dist;
  while (stride < 8) stride += dist;
  uint8_t* const wordsFrom = dst + stride - dist;
  while (dst < wordsFrom && dst < end) {
    *dst = *src;
    ++dst;
    ++src;
  }
  src = dst - stride;
  while (dst < end) {
    memcpy(dst, src, 8);
    dst += 8;
    src += 8;
  }
}

}  // namespace cab
