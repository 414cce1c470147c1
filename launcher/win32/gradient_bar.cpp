#include "launcher/win32/gradient_bar.h"

#include <commctrl.h>

#include "launcher/win32/gdi_handles.h"

namespace launcher::win32 {
namespace {

constexpr UINT_PTR kSubclassId = 1;
constexpr COLORREF kTrack = RGB(24, 27, 32);

COLORREF Blend(COLORREF a, COLORREF b, int num, int den) {
  auto mix = [&](int x, int y) { return x + (y - x) * num / den; };
  return RGB(mix(GetRValue(a), GetRValue(b)), mix(GetGValue(a), GetGValue(b)), mix(GetBValue(a), GetBValue(b)));
}

}  // namespace

CGradientBar::~CGradientBar() {
  if (window_ != nullptr) RemoveWindowSubclass(window_, SubclassProc, kSubclassId);
}

bool CGradientBar::Attach(HWND progress) {
  if (progress == nullptr ||
      !SetWindowSubclass(progress, SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this)))
    return false;
  window_ = progress;
  return true;
}

void CGradientBar::SetColours(COLORREF left, COLORREF right) {
  left_ = left;
  right_ = right;
  if (window_ != nullptr) InvalidateRect(window_, nullptr, FALSE);
}

LRESULT CALLBACK CGradientBar::SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                            DWORD_PTR data) {
  auto* self = reinterpret_cast<CGradientBar*>(data);
  switch (message) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      self->Paint();
      return 0;
    case WM_NCDESTROY:
      RemoveWindowSubclass(window, SubclassProc, kSubclassId);
      self->window_ = nullptr;
      break;
    default:
      break;
  }
  return DefSubclassProc(window, message, wParam, lParam);
}

void CGradientBar::Paint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window_, &ps);
  RECT client;
  GetClientRect(window_, &client);
  int width = client.right, height = client.bottom;
  if (width > 0 && height > 0) {
    BufferedPaint buffer(dc, width, height);
    HBRUSH track = CreateSolidBrush(kTrack);
    FillRect(buffer.Dc(), &client, track);
    DeleteObject(track);
    PBRANGE range{};
    SendMessageW(window_, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    int pos = static_cast<int>(SendMessageW(window_, PBM_GETPOS, 0, 0));
    int span = range.iHigh - range.iLow;
    int filled = span > 0 ? MulDiv(width, pos - range.iLow, span) : 0;
    filled = filled < 0 ? 0 : (filled > width ? width : filled);
    // The gradient spans the whole bar, so a colour marks a place on it.
    TRIVERTEX ends[2] = {
        {0, 0, COLOR16(GetRValue(left_) << 8), COLOR16(GetGValue(left_) << 8), COLOR16(GetBValue(left_) << 8), 0},
        {width, height, COLOR16(GetRValue(right_) << 8), COLOR16(GetGValue(right_) << 8),
         COLOR16(GetBValue(right_) << 8), 0},
    };
    if (filled > 0) {
      HRGN clip = CreateRectRgn(0, 0, filled, height);
      SelectClipRgn(buffer.Dc(), clip);
      GRADIENT_RECT whole{0, 1};
      GradientFill(buffer.Dc(), ends, 2, &whole, 1, GRADIENT_FILL_RECT_H);
      // A lighter top line gives the thin bar some body.
      for (int x = 0; x < filled && height > 2; ++x)
        SetPixel(buffer.Dc(), x, 0, Blend(Blend(left_, right_, x, width), RGB(255, 255, 255), 1, 3));
      SelectClipRgn(buffer.Dc(), nullptr);
      DeleteObject(clip);
    }
  }
  EndPaint(window_, &ps);
}

}  // namespace launcher::win32
