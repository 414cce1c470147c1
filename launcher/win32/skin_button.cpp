#include "launcher/win32/skin_button.h"

#include <shellapi.h>
#include <windowsx.h>

namespace launcher::win32 {
namespace {

const wchar_t kClassName[] = L"HalvrechtSkinButton";
constexpr COLORREF kTransparent = RGB(255, 0, 255);
constexpr size_t kMaxUrl = 260;

}  // namespace

std::unique_ptr<CSkinButton> CSkinButton::Create(HINSTANCE module, HWND parent, int id, ButtonAction action,
                                                 const std::array<int, 4>& bitmapIds, const RECT& rect,
                                                 const std::wstring& url, HBITMAP background) {
  std::unique_ptr<CSkinButton> button(new CSkinButton());
  for (size_t i = 0; i < bitmapIds.size(); ++i) {
    button->images_[i].reset(static_cast<HBITMAP>(
        LoadImageW(module, MAKEINTRESOURCEW(bitmapIds[i]), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
    if (!button->images_[i]) return nullptr;
  }
  BITMAP info{};
  GetObjectW(button->images_[kNormal].get(), sizeof(info), &info);
  button->imageSize_ = {info.bmWidth, info.bmHeight};
  button->action_ = action;
  button->url_ = url.substr(0, kMaxUrl);
  button->background_ = background;
  button->origin_ = {rect.left, rect.top};
  if (!RegisterControlClass(module, kClassName, WindowProc, IDC_HAND)) return nullptr;
  HWND window = CreateWindowExW(0, kClassName, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, rect.left, rect.top,
                                rect.right - rect.left, rect.bottom - rect.top, parent,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), module, button.get());
  if (window == nullptr) return nullptr;
  return button;
}

CSkinButton::~CSkinButton() {
  if (window_ != nullptr) {
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
  }
}

LRESULT CALLBACK CSkinButton::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<CSkinButton*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->window_ = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<CSkinButton*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(window, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    self->window_ = nullptr;
    return DefWindowProcW(window, message, wParam, lParam);
  }
  return self->OnMessage(message, wParam, lParam);
}

LRESULT CSkinButton::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      Paint();
      return 0;
    case WM_ENABLE:
      if (!wParam) hover_ = pressed_ = false;
      InvalidateRect(window_, nullptr, FALSE);
      return 0;
    case WM_MOUSEMOVE: {
      POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      RECT client;
      GetClientRect(window_, &client);
      bool inside = PtInRect(&client, p) != FALSE;
      if (inside != hover_) {
        hover_ = inside;
        InvalidateRect(window_, nullptr, FALSE);
      }
      if (inside) {
        TRACKMOUSEEVENT track{sizeof(track), TME_LEAVE, window_, 0};
        TrackMouseEvent(&track);
      }
      return 0;
    }
    case WM_MOUSELEAVE:
      if (GetCapture() != window_) {
        hover_ = false;
        InvalidateRect(window_, nullptr, FALSE);
      }
      return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      pressed_ = true;
      SetCapture(window_);
      InvalidateRect(window_, nullptr, FALSE);
      return 0;
    case WM_LBUTTONUP: {
      bool wasPressed = pressed_;
      POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      RECT client;
      GetClientRect(window_, &client);
      if (GetCapture() == window_) ReleaseCapture();
      pressed_ = false;
      InvalidateRect(window_, nullptr, FALSE);
      if (wasPressed && PtInRect(&client, p) && IsWindowEnabled(window_)) Click();
      return 0;
    }
    case BM_CLICK:  // what accessibility tools and other programs send
      if (IsWindowEnabled(window_)) Click();
      return 0;
    case WM_CAPTURECHANGED:
      if (pressed_) {
        pressed_ = false;
        InvalidateRect(window_, nullptr, FALSE);
      }
      return 0;
    default:
      return DefWindowProcW(window_, message, wParam, lParam);
  }
}

void CSkinButton::Paint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window_, &ps);
  RECT client;
  GetClientRect(window_, &client);
  {
    BufferedPaint buffer(dc, client.right, client.bottom);
    DrawBackgroundPart(buffer.Dc(), background_, origin_, client.right, client.bottom);
    Image state = !IsWindowEnabled(window_) ? kDisabled : pressed_ ? kPressed : hover_ ? kHover : kNormal;
    int drop = state == kPressed ? 1 : 0;
    MemoryDc image(dc, images_[state].get());
    TransparentBlt(buffer.Dc(), 0, drop, imageSize_.cx, imageSize_.cy - drop, image.Get(), 0, 0, imageSize_.cx,
                   imageSize_.cy - drop, kTransparent);
  }
  EndPaint(window_, &ps);
}

void CSkinButton::Click() {
  HWND top = GetAncestor(window_, GA_ROOT);
  if (menu_ != nullptr) {
    RECT r;
    GetWindowRect(window_, &r);
    TrackPopupMenu(menu_, TPM_LEFTALIGN | TPM_TOPALIGN, r.left, r.bottom, 0, top, nullptr);
    return;
  }
  switch (action_) {
    case ButtonAction::kPostCommand:
      PostMessageW(top, kButtonCommandMessage, static_cast<WPARAM>(GetDlgCtrlID(window_)), 0);
      break;
    case ButtonAction::kMinimise:
      ShowWindow(top, SW_MINIMIZE);
      break;
    case ButtonAction::kClose:
      PostMessageW(top, WM_CLOSE, 0, 0);
      break;
    case ButtonAction::kOpenUrl:
      if (!url_.empty()) ShellExecuteW(nullptr, L"open", url_.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
      break;
    case ButtonAction::kPlay:
      PostMessageW(top, kPlayMessage, 0, 0);
      break;
    case ButtonAction::kNone:
      break;
  }
}

}  // namespace launcher::win32
