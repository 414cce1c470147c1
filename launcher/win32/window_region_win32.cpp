#include "launcher/win32/window_region_win32.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "launcher/window_region.h"

namespace launcher::win32 {
namespace {

// One region from a batch of runs, through the system's rectangle-list form.
Region RegionFromRuns(const PixelRun* runs, size_t count) {
  std::vector<unsigned char> data(sizeof(RGNDATAHEADER) + count * sizeof(RECT));
  auto* header = reinterpret_cast<RGNDATAHEADER*>(data.data());
  header->dwSize = sizeof(RGNDATAHEADER);
  header->iType = RDH_RECTANGLES;
  header->nCount = static_cast<DWORD>(count);
  header->nRgnSize = static_cast<DWORD>(count * sizeof(RECT));
  RECT bounds{LONG_MAX, LONG_MAX, LONG_MIN, LONG_MIN};
  for (size_t i = 0; i < count; ++i) {
    RECT r{runs[i].left, runs[i].top, runs[i].right, runs[i].bottom};
    std::memcpy(data.data() + sizeof(RGNDATAHEADER) + i * sizeof(RECT), &r, sizeof(r));
    bounds = {std::min(bounds.left, r.left), std::min(bounds.top, r.top), std::max(bounds.right, r.right),
              std::max(bounds.bottom, r.bottom)};
  }
  header->rcBound = bounds;
  return Region(ExtCreateRegion(nullptr, static_cast<DWORD>(data.size()), reinterpret_cast<RGNDATA*>(data.data())));
}

}  // namespace

Region MakeWindowRegion(HBITMAP bitmap) {
  BITMAP info{};
  if (bitmap == nullptr || GetObjectW(bitmap, sizeof(info), &info) == 0 || info.bmWidth <= 0 || info.bmHeight <= 0)
    return nullptr;
  const int width = info.bmWidth, height = info.bmHeight;
  // Top-down 32-bit rows, whatever the bitmap's own format.
  BITMAPINFO want{};
  want.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  std::vector<uint32_t> pixels(static_cast<size_t>(width) * height);
  HDC screen = GetDC(nullptr);
  int rows = GetDIBits(screen, bitmap, 0, static_cast<UINT>(height), pixels.data(), &want, DIB_RGB_COLORS);
  ReleaseDC(nullptr, screen);
  if (rows != height) return nullptr;

  std::vector<PixelRun> runs = FindKeyRuns(pixels.data(), width, height);
  Region key(CreateRectRgn(0, 0, 0, 0));
  if (!key) return nullptr;
  for (size_t start = 0; start < runs.size(); start += kRunsPerRegion) {
    Region part = RegionFromRuns(runs.data() + start, std::min(kRunsPerRegion, runs.size() - start));
    if (!part || CombineRgn(key.get(), key.get(), part.get(), RGN_OR) == ERROR) return nullptr;
  }
  Region window(CreateRectRgn(0, 0, width, height));
  if (!window || CombineRgn(window.get(), window.get(), key.get(), RGN_XOR) == ERROR) return nullptr;
  return window;
}

}  // namespace launcher::win32
