// Owning handles for the GDI objects the window creates, and the small
// drawing and window-class helpers its controls share.
#pragma once

#include <windows.h>

#include <memory>
#include <type_traits>

namespace launcher::win32 {

struct GdiObjectDeleter {
  void operator()(void* object) const { DeleteObject(static_cast<HGDIOBJ>(object)); }
};
template <typename Handle>
using GdiObject = std::unique_ptr<std::remove_pointer_t<Handle>, GdiObjectDeleter>;
using Bitmap = GdiObject<HBITMAP>;
using Region = GdiObject<HRGN>;
using Font = GdiObject<HFONT>;

// A memory DC compatible with another DC, with a bitmap selected into it
// for as long as it lives.
class MemoryDc {
 public:
  MemoryDc(HDC like, HBITMAP bitmap) : dc_(CreateCompatibleDC(like)) {
    if (dc_ != nullptr) old_ = SelectObject(dc_, bitmap);
  }
  ~MemoryDc() {
    if (dc_ == nullptr) return;
    SelectObject(dc_, old_);
    DeleteDC(dc_);
  }
  MemoryDc(const MemoryDc&) = delete;
  MemoryDc& operator=(const MemoryDc&) = delete;
  HDC Get() const { return dc_; }

 private:
  HDC dc_;
  HGDIOBJ old_ = nullptr;
};

// Draws into an off-screen bitmap of the given size and copies it to the
// target DC at (0, 0) when it goes out of scope, so controls never flicker.
class BufferedPaint {
 public:
  BufferedPaint(HDC target, int width, int height)
      : target_(target),
        width_(width),
        height_(height),
        bitmap_(CreateCompatibleBitmap(target, width, height)),
        memory_(target, bitmap_.get()) {}
  ~BufferedPaint() {
    if (memory_.Get() != nullptr) BitBlt(target_, 0, 0, width_, height_, memory_.Get(), 0, 0, SRCCOPY);
  }
  BufferedPaint(const BufferedPaint&) = delete;
  BufferedPaint& operator=(const BufferedPaint&) = delete;
  HDC Dc() const { return memory_.Get(); }

 private:
  HDC target_;
  int width_, height_;
  Bitmap bitmap_;
  MemoryDc memory_;
};

// Copies the part of the window's background bitmap that lies under a child
// window (at 'origin' in the top-level window's client coordinates).
inline void DrawBackgroundPart(HDC dc, HBITMAP background, POINT origin, int width, int height) {
  if (background == nullptr) return;
  MemoryDc source(dc, background);
  BitBlt(dc, 0, 0, width, height, source.Get(), origin.x, origin.y, SRCCOPY);
}

// Registers a redrawn-on-resize window class of `module` the first time it
// is asked for; true when the class exists.
inline bool RegisterControlClass(HINSTANCE module, const wchar_t* name, WNDPROC proc, decltype(IDC_ARROW) cursor) {
  WNDCLASSEXW wc{};
  if (GetClassInfoExW(module, name, &wc)) return true;
  wc = {};
  wc.cbSize = sizeof(wc);
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = proc;
  wc.hInstance = module;
  wc.hCursor = LoadCursor(nullptr, cursor);
  wc.lpszClassName = name;
  return RegisterClassExW(&wc) != 0;
}

}  // namespace launcher::win32
