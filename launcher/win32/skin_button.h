// A button drawn entirely from bitmaps over the window's background.
//
// Each button has four state images, in this order: normal, mouse over,
// pressed, disabled. A pressed button draws its pressed image one pixel
// lower, so the press shows even when the pressed image is the normal one.
// Pixels of the colour 0xFF00FF in an image are transparent.
#pragma once

#include <windows.h>

#include <array>
#include <memory>
#include <string>

#include "launcher/win32/gdi_handles.h"

namespace launcher::win32 {

// The message a kind-1 button posts to its top-level window, with its
// control identifier as wParam; the message a play button posts.
constexpr UINT kButtonCommandMessage = 0x13A2;
constexpr UINT kPlayMessage = 0x13A0;

enum class ButtonAction : int {
  kNone = 0,
  kPostCommand = 1,  // post kButtonCommandMessage
  kMinimise = 2,
  kClose = 3,        // post WM_CLOSE
  kOpenUrl = 4,      // the shell's "open" on the button's URL
  kPlay = 5,         // post kPlayMessage
};

class CSkinButton {
 public:
  enum Image { kNormal, kHover, kPressed, kDisabled };

  // Loads the four bitmap resources of 'module' and creates the button as a
  // visible child of 'parent' over 'rect'. 'background' (not owned) is the
  // parent's background picture, drawn under the transparent pixels. Null
  // when a bitmap is missing or the window cannot be created.
  static std::unique_ptr<CSkinButton> Create(HINSTANCE module, HWND parent, int id, ButtonAction action,
                                             const std::array<int, 4>& bitmapIds, const RECT& rect,
                                             const std::wstring& url, HBITMAP background);
  ~CSkinButton();
  CSkinButton(const CSkinButton&) = delete;
  CSkinButton& operator=(const CSkinButton&) = delete;

  HWND Handle() const { return window_; }
  // With a menu (not owned), a click pops the menu up below the button
  // instead of running the action.
  void SetMenu(HMENU menu) { menu_ = menu; }
  // Runs what a click runs.
  void Click();

 private:
  CSkinButton() = default;
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void Paint();

  HWND window_ = nullptr;
  ButtonAction action_ = ButtonAction::kNone;
  std::array<Bitmap, 4> images_;
  SIZE imageSize_{};
  std::wstring url_;
  HBITMAP background_ = nullptr;
  POINT origin_{};  // position in the parent's client area
  HMENU menu_ = nullptr;
  bool hover_ = false;
  bool pressed_ = false;
};

}  // namespace launcher::win32
