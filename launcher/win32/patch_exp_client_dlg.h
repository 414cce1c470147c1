// CPatchExpClientDlg: the launcher's window. A borderless, skinned dialog
// with the launcher page, a status line, the thin total bar, the play button
// and two small window buttons. CPatchWrapper decides; this class draws and
// implements the wrapper's operations with message boxes and controls.
//
// User-interface thread only. The dialog runs modally in its own loop (so
// the page can take its keyboard accelerators first); Create and
// PumpMessages let a test drive the same window step by step.
#pragma once

#include <windows.h>

#include <array>
#include <memory>
#include <string>

#include "launcher/patch_wrapper.h"
#include "launcher/status_texts.h"
#include "launcher/win32/gdi_handles.h"
#include "launcher/win32/gradient_bar.h"
#include "launcher/win32/skin_button.h"
#include "launcher/win32/web_view.h"

namespace launcher::win32 {

// The skinned elements of the window, in window coordinates.
struct ButtonElement {
  int id;
  ButtonAction action;
  std::array<int, 4> bitmaps;  // normal, hover, pressed, disabled
  RECT rect;
};
constexpr int kMinimiseButtonId = 102;
constexpr int kCloseButtonId = 101;
constexpr int kPlayButtonId = 103;
constexpr int kWebViewId = 106;
extern const std::array<ButtonElement, 3> kButtonElements;
constexpr RECT kWebViewRect = {2, 61, 1022, 658};
constexpr RECT kTotalBarRect = {2, 54, 1022, 58};
constexpr RECT kStatusRect = {624, 34, 1020, 52};
// The total bar's gradient, from its left end to its right end.
constexpr COLORREF kBarLeftColour = 0x50FF;
constexpr COLORREF kBarRightColour = 0xB857;

class CPatchExpClientDlg : public CPatchWrapper {
 public:
  explicit CPatchExpClientDlg(HINSTANCE module, EngineEntries engine = RealEngineEntries());
  ~CPatchExpClientDlg() override;

  // Creates and initialises the window (which starts the wrapper). False
  // when the dialog cannot be created at all.
  bool Create();
  // Shows the window and runs its loop until it closes; returns the close
  // result. Create first, or DoModal does both.
  INT_PTR RunModalLoop();
  INT_PTR DoModal();
  // Handles the messages that are waiting, for up to `ms` milliseconds
  // while none come; false once the window has closed.
  bool PumpMessages(DWORD ms);

  HWND Handle() const { return window_; }
  bool Closed() const { return ended_; }
  INT_PTR Result() const { return result_; }
  const CWebView* WebView() const { return webView_.get(); }

  // CPatchWrapper
  void OnFatalError(uint32_t code) override;
  void OnEngineError(uint32_t code) override;
  void OnProgress(const PatchStatus& status, uint32_t kind, intptr_t value) override;
  void ShowMessage(const std::string& text) override;
  void CloseWindow(int result) override;
  void OnReady() override;
  std::string GetLaunchArguments() override;
  void ShowLaunchError(const std::string& text) override;

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void OnInitDialog();
  bool CreateSkinnedElements();
  void SetUpTotalBar();
  void Play();
  void Cancel();
  void ShowStatus();
  // A box with the error icon, captioned with the window title.
  void ErrorBox(const std::string& text);
  void EndWith(INT_PTR result);
  // One message: the page's accelerators first, then the dialog's keys.
  void Pump(MSG* message);

  HINSTANCE module_;
  HWND window_ = nullptr;
  bool oleStarted_ = false;
  HICON bigIcon_ = nullptr;
  HICON smallIcon_ = nullptr;
  Bitmap background_;
  Font statusFont_;
  std::array<std::unique_ptr<CSkinButton>, 3> buttons_;
  std::unique_ptr<CWebView> webView_;
  CGradientBar totalBar_;
  StatusDisplay display_;
  std::wstring title_;
  bool ended_ = false;
  INT_PTR result_ = 0;
};

}  // namespace launcher::win32
