// The launcher page: the system's WebBrowser control hosted in a child
// window of the main window.
//
// The child window paints the main window's background until a page has
// loaded, and again when a page fails: a player sees the artwork, never a
// blank rectangle or the browser's error page. Links that ask for a new
// window open in the user's default browser; the page gets no context menu
// and no scroll bars. User-interface thread only; OLE must be initialised on
// it (OleInitialize) for as long as the view lives.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <memory>
#include <string>

namespace launcher::win32 {

class BrowserSite;

class CWebView {
 public:
  CWebView();
  ~CWebView();
  CWebView(const CWebView&) = delete;
  CWebView& operator=(const CWebView&) = delete;

  // Creates the visible child window over 'rect' of 'parent', with the
  // control identifier 'id', and the browser control inside it.
  // 'background' (not owned) is the parent's background picture. False only
  // when the window cannot be created; a browser control that cannot be
  // created leaves the painted window.
  bool Create(HWND parent, const RECT& rect, int id, HBITMAP background);
  // Loads a page; an empty address loads nothing.
  void Navigate(const std::wstring& url);
  // Lets the page handle its keyboard accelerators (Tab, arrows, copy) for
  // a message of the modal loop; true when the page took it.
  bool TranslateAccelerator(MSG* message);

  HWND Handle() const { return window_; }
  // Whether the browser control exists, and whether a page is showing.
  bool HasBrowser() const;
  bool PageShown() const;
  // The object that receives the browser's events (DWebBrowserEvents2), not
  // AddRef'd; null without a browser control.
  IDispatch* EventSink() const;

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void CreateBrowser();
  void DestroyBrowser();

  HWND window_ = nullptr;  // the child that paints the background
  HWND page_ = nullptr;    // inside it, the browser's host, hidden until a page loads
  HBITMAP background_ = nullptr;
  POINT origin_{};
  BrowserSite* site_ = nullptr;  // COM object, holds its own references
};

}  // namespace launcher::win32
