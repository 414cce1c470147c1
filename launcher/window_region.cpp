#include "launcher/window_region.h"

namespace launcher {

bool IsKeyColour(uint8_t red, uint8_t green, uint8_t blue) {
  return red >= 238 && blue >= 238 && green <= 17;
}

std::vector<PixelRun> FindKeyRuns(const uint32_t* pixels, int width, int height) {
  std::vector<PixelRun> runs;
  if (pixels == nullptr || width <= 0 || height <= 0) return runs;
  for (int y = 0; y < height; ++y) {
    const uint32_t* row = pixels + static_cast<size_t>(y) * static_cast<size_t>(width);
    int x = 0;
    while (x < width) {
      auto key = [&](int at) {
        uint32_t p = row[at];
        return IsKeyColour(uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p));
      };
      if (!key(x)) {
        ++x;
        continue;
      }
      int start = x;
      while (x < width && key(x)) ++x;
      runs.push_back({start, y, x, y + 1});
    }
  }
  return runs;
}

}  // namespace launcher
