// CRC-32 throughput of our sliced tables against zlib's crc32() on the same
// 256 MB buffer, best of several rounds each.
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "download/crc32.h"

namespace {

template <typename F>
double BestSeconds(int rounds, F&& body) {
  double best = 1e9;
  for (int i = 0; i < rounds; ++i) {
    const auto start = std::chrono::steady_clock::now();
    body();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (took.count() < best) best = took.count();
  }
  return best;
}

}  // namespace

int main() {
  constexpr size_t kSize = 256u << 20;
  std::vector<unsigned char> buffer(kSize);
  uint32_t x = 12345;
  for (auto& b : buffer) {
    x = x * 1103515245u + 12345u;
    b = static_cast<unsigned char>(x >> 24);
  }

  CCrc32Dynamic ours;
  ours.BuildTable();
  uint32_t ourCrc = 0;
  uLong zlibCrc = 0;
  const double ourSeconds = BestSeconds(5, [&] { ourCrc = ~ours.Update(0xFFFFFFFFu, buffer.data(), buffer.size()); });
  const double zlibSeconds = BestSeconds(5, [&] {
    zlibCrc = crc32(0L, Z_NULL, 0);
    zlibCrc = crc32_z(zlibCrc, buffer.data(), buffer.size());
  });
  if (ourCrc != static_cast<uint32_t>(zlibCrc)) {
    fprintf(stderr, "CRC mismatch: ours 0x%08x, zlib 0x%08lx\n", ourCrc, zlibCrc);
    return 1;
  }
  const double mb = static_cast<double>(kSize) / (1024.0 * 1024.0);
  printf("crc32 256 MB: ours %.0f MB/s, zlib %s %.0f MB/s, ratio ours/zlib %.2fx\n", mb / ourSeconds, zlibVersion(),
         mb / zlibSeconds, zlibSeconds / ourSeconds);
  return 0;
}
