#include "download/crc32.h"

#include <cstdio>
#include <cstring>
#include <vector>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define PATCHER_CRC_CLMUL 1
#endif

#include "platform/file_system.h"

namespace {

constexpr uint32_t kPolynomial = 0xEDB88320u;
constexpr size_t kSlices = 16;
// Reads are larger than a page: the result does not depend on the block
// size, and fewer system calls matter on big cabinets.
constexpr uint32_t kReadBlock = 64 * 1024;

inline uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  memcpy(&v, p, 4);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = __builtin_bswap32(v);
#endif
  return v;
}

#ifdef PATCHER_CRC_CLMUL
// Carry-less multiplication folding (the published method of Gopal et al.,
// "Fast CRC Computation for Generic Polynomials Using PCLMULQDQ"): four
// 128-bit lanes are folded forward 64 bytes at a time, then folded into one
// lane and reduced to 32 bits with a Barrett step. The constants are
// x^(4*128+32), x^(4*128-32), x^(128+32), x^(128-32), x^64 mod P (bit-
// reflected), and the reflected P and its quotient mu.
bool HasClmul() {
  static const bool has = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
  return has;
}

__attribute__((target("pclmul,sse4.1"))) inline __m128i Fold(__m128i x, __m128i k, __m128i next) {
  const __m128i lo = _mm_clmulepi64_si128(x, k, 0x00);
  const __m128i hi = _mm_clmulepi64_si128(x, k, 0x11);
  return _mm_xor_si128(_mm_xor_si128(lo, hi), next);
}

// Takes a running (not complemented) CRC and at least 64 bytes; consumes a
// multiple of 16 bytes and returns how many through *used.
__attribute__((target("pclmul,sse4.1"))) uint32_t FoldClmul(uint32_t crc, const uint8_t* p, size_t size,
                                                              size_t* used) {
  const __m128i foldBy4 = _mm_set_epi64x(0x00000001c6e41596LL, 0x0000000154442bd4LL);
  const __m128i foldBy1 = _mm_set_epi64x(0x00000000ccaa009eLL, 0x00000001751997d0LL);
  const __m128i fold64 = _mm_set_epi64x(0, 0x0000000163cd6124LL);
  const __m128i barrett = _mm_set_epi64x(0x00000001f7011641LL, 0x00000001db710641LL);
  const __m128i low32 = _mm_set_epi32(0, 0, 0, -1);
  const uint8_t* const start = p;

  __m128i x0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  __m128i x1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
  __m128i x2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
  __m128i x3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48));
  x0 = _mm_xor_si128(x0, _mm_cvtsi32_si128(static_cast<int>(crc)));
  p += 64;
  size -= 64;

  while (size >= 64) {
    x0 = Fold(x0, foldBy4, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    x1 = Fold(x1, foldBy4, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)));
    x2 = Fold(x2, foldBy4, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32)));
    x3 = Fold(x3, foldBy4, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48)));
    p += 64;
    size -= 64;
  }
  __m128i x = Fold(x0, foldBy1, x1);
  x = Fold(x, foldBy1, x2);
  x = Fold(x, foldBy1, x3);
  while (size >= 16) {
    x = Fold(x, foldBy1, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    p += 16;
    size -= 16;
  }

  // 128 bits to 64.
  __m128i t = _mm_clmulepi64_si128(x, foldBy1, 0x10);
  x = _mm_xor_si128(_mm_srli_si128(x, 8), t);
  // 64 bits to 32.
  t = _mm_srli_si128(x, 4);
  x = _mm_and_si128(x, low32);
  x = _mm_clmulepi64_si128(x, fold64, 0x00);
  x = _mm_xor_si128(x, t);
  // Barrett reduction to the 32-bit remainder.
  t = _mm_and_si128(x, low32);
  t = _mm_clmulepi64_si128(t, barrett, 0x10);
  t = _mm_and_si128(t, low32);
  t = _mm_clmulepi64_si128(t, barrett, 0x00);
  x = _mm_xor_si128(x, t);
  *used = static_cast<size_t>(p - start);
  return static_cast<uint32_t>(_mm_extract_epi32(x, 1));
}
#endif

}  // namespace

void CCrc32Dynamic::BuildTable() {
  m_table = std::make_unique<uint32_t[]>(kSlices * 256);
  uint32_t* t = m_table.get();
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t r = i;
    for (int bit = 0; bit < 8; ++bit) r = (r & 1) ? (r >> 1) ^ kPolynomial : r >> 1;
    t[i] = r;
  }
  // Table k holds the remainder of byte i followed by k zero bytes.
  for (size_t k = 1; k < kSlices; ++k) {
    for (uint32_t i = 0; i < 256; ++i) {
      const uint32_t prev = t[(k - 1) * 256 + i];
      t[k * 256 + i] = (prev >> 8) ^ t[prev & 0xFF];
    }
  }
}

void CCrc32Dynamic::ReleaseTable() { m_table.reset(); }

uint32_t CCrc32Dynamic::Update(uint32_t crc, const void* data, size_t size) const {
  const uint32_t* t = m_table.get();
  const uint8_t* p = static_cast<const uint8_t*>(data);
#ifdef PATCHER_CRC_CLMUL
  if (size >= 64 && HasClmul()) {
    size_t used = 0;
    crc = FoldClmul(crc, p, size, &used);
    p += used;
    size -= used;
  }
#endif
  // Slicing by 16: fold 16 input bytes per step through 16 tables.
  while (size >= 16) {
    const uint32_t a = Load32(p) ^ crc;
    const uint32_t b = Load32(p + 4);
    const uint32_t c = Load32(p + 8);
    const uint32_t d = Load32(p + 12);
    crc = t[15 * 256 + (a & 0xFF)] ^ t[14 * 256 + ((a >> 8) & 0xFF)] ^ t[13 * 256 + ((a >> 16) & 0xFF)] ^
          t[12 * 256 + (a >> 24)] ^ t[11 * 256 + (b & 0xFF)] ^ t[10 * 256 + ((b >> 8) & 0xFF)] ^
          t[9 * 256 + ((b >> 16) & 0xFF)] ^ t[8 * 256 + (b >> 24)] ^ t[7 * 256 + (c & 0xFF)] ^
          t[6 * 256 + ((c >> 8) & 0xFF)] ^ t[5 * 256 + ((c >> 16) & 0xFF)] ^ t[4 * 256 + (c >> 24)] ^
          t[3 * 256 + (d & 0xFF)] ^ t[2 * 256 + ((d >> 8) & 0xFF)] ^ t[1 * 256 + ((d >> 16) & 0xFF)] ^
          t[0 * 256 + (d >> 24)];
    p += 16;
    size -= 16;
  }
  while (size-- > 0) crc = t[(crc ^ *p++) & 0xFF] ^ (crc >> 8);
  return crc;
}

uint32_t CCrc32Dynamic::ComputeFileCrc(const std::string& path, uint32_t& crc) const {
  crc = 0xFFFFFFFFu;
  uint32_t result = 0;
  if (!m_table) {
    result = kCrcNoTable;
  } else {
    plat::File file;
    if (!file.Open(path, plat::File::kRead, plat::File::kShareRead, plat::File::kOpenExisting)) {
      result = plat::LastError();
      if (result == 0) result = plat::kErrorFileNotFound;
    } else {
      std::vector<uint8_t> block(kReadBlock);
      uint32_t got = 0;
      bool read = true;
      while ((read = file.Read(block.data(), kReadBlock, &got)) && got > 0) crc = Update(crc, block.data(), got);
      // The CRC of the part read would pass for the file's own.
      if (!read) {
        result = plat::LastError();
        if (result == 0) result = plat::kErrorReadFault;
        crc = 0xFFFFFFFFu;
      }
    }
  }
  // A failure leaves 0xFFFFFFFF, which the complement turns into 0.
  crc = ~crc;
  return result;
}

uint32_t Crc32OfBuffer(const void* data, size_t size) {
  CCrc32Dynamic crc;
  crc.BuildTable();
  return ~crc.Update(0xFFFFFFFFu, data, size);
}

std::string GetFileCrcText(const std::string& path) {
  std::string text = kCrcUnknownText;
  CCrc32Dynamic crc32;
  crc32.BuildTable();
  uint32_t crc = 0;
  const uint32_t result = crc32.ComputeFileCrc(path, crc);
  crc32.ReleaseTable();
  if (result == 0) {
    char buffer[16];
    snprintf(buffer, sizeof buffer, "0x%08x", crc);
    text = buffer;
  }
  return text;
}
