#include <cstring>

#include "apply/cab/cab_format.h"

namespace cab {

uint32_t CabChecksum(const uint8_t* data, size_t size, uint32_t seed) {
  // XOR is associative: fold eight bytes at a time, then the halves.
  uint64_t wide = 0;
  size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    uint64_t v;
    memcpy(&v, data + i, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap64(v);
#endif
    wide ^= v;
  }
  uint32_t sum = seed ^ static_cast<uint32_t>(wide) ^ static_cast<uint32_t>(wide >> 32);
  for (; i + 4 <= size; i += 4) sum ^= GetLe32(data + i);
  uint32_t tail = 0;
  switch (size - i) {
    case 3:
      tail |= uint32_t{data[i++]} << 16;
      [[fallthrough]];
    case 2:
      tail |= uint32_t{data[i++]} << 8;
      [[fallthrough]];
    case 1:
      tail |= data[i];
      break;
    default:
      break;
  }
  return sum ^ tail;
}

}  // namespace cab
