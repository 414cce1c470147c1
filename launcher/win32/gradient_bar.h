// The total bar: a standard progress control (so PBM_* messages and its
// position work as usual) that paints itself as a thin colour gradient.
#pragma once

#include <windows.h>

namespace launcher::win32 {

class CGradientBar {
 public:
  CGradientBar() = default;
  ~CGradientBar();
  CGradientBar(const CGradientBar&) = delete;
  CGradientBar& operator=(const CGradientBar&) = delete;

  // Takes over the painting of an existing progress control. False when it
  // cannot be subclassed.
  bool Attach(HWND progress);
  // The colours at the left and the right end of the full bar; the filled
  // part shows the gradient up to the position.
  void SetColours(COLORREF left, COLORREF right);
  HWND Handle() const { return window_; }

 private:
  static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                       DWORD_PTR self);
  void Paint();

  HWND window_ = nullptr;
  COLORREF left_ = 0xFF;
  COLORREF right_ = 0xFF00;
};

}  // namespace launcher::win32
