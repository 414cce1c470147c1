#include "launcher/win32/patch_exp_client_dlg.h"

#include <commctrl.h>
#include <ole2.h>

#include "launcher/startup.h"
#include "launcher/win32/browser_features_win32.h"
#include "launcher/win32/resource.h"
#include "launcher/win32/window_region_win32.h"
#include "platform/win32/wide_text.h"

namespace launcher::win32 {

const std::array<ButtonElement, 3> kButtonElements = {{
    {kMinimiseButtonId, ButtonAction::kMinimise,
     {IDB_MINIMISE_NORMAL, IDB_MINIMISE_HOVER, IDB_MINIMISE_NORMAL, IDB_MINIMISE_DISABLED},
     {968, 2, 994, 24}},
    {kCloseButtonId, ButtonAction::kClose, {IDB_CLOSE_NORMAL, IDB_CLOSE_HOVER, IDB_CLOSE_NORMAL, IDB_CLOSE_DISABLED},
     {996, 2, 1022, 24}},
    {kPlayButtonId, ButtonAction::kPlay, {IDB_PLAY_NORMAL, IDB_PLAY_HOVER, IDB_PLAY_NORMAL, IDB_PLAY_DISABLED},
     {400, 2, 624, 48}},
}};

namespace {

const char kRegionFailedText[] = "Failed to make rgn from bitmap";
const char kUiLoadErrorText[] = "UI Load Error!";
constexpr int kStatusFontHeight = 15;

// A 32-bit program on 64-bit Windows runs under WOW64; a 64-bit build can
// only run on 64-bit Windows.
bool System64() {
  if (sizeof(void*) == 8) return true;
  BOOL wow = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow) && wow;
}

int Width(const RECT& r) { return r.right - r.left; }
int Height(const RECT& r) { return r.bottom - r.top; }

}  // namespace

CPatchExpClientDlg::CPatchExpClientDlg(HINSTANCE module, EngineEntries engine)
    : CPatchWrapper(std::move(engine)), module_(module) {}

CPatchExpClientDlg::~CPatchExpClientDlg() {
  if (window_ != nullptr) DestroyWindow(window_);
  webView_.reset();
  if (bigIcon_ != nullptr) DestroyIcon(bigIcon_);
  if (smallIcon_ != nullptr) DestroyIcon(smallIcon_);
  if (oleStarted_) OleUninitialize();
}

bool CPatchExpClientDlg::Create() {
  HWND window = CreateDialogParamW(module_, MAKEINTRESOURCEW(IDD_PATCHEXPCLIENT_DIALOG), nullptr, DialogProc,
                                   reinterpret_cast<LPARAM>(this));
  return window != nullptr;
}

INT_PTR CPatchExpClientDlg::DoModal() {
  if (!Create()) return -1;
  return RunModalLoop();
}

INT_PTR CPatchExpClientDlg::RunModalLoop() {
  if (window_ != nullptr && !ended_) {
    ShowWindow(window_, SW_SHOWNORMAL);
    SetForegroundWindow(window_);
  }
  MSG message;
  while (!ended_ && window_ != nullptr) {
    BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) {
      PostQuitMessage(static_cast<int>(message.wParam));
      break;
    }
    if (got < 0) break;
    Pump(&message);
  }
  if (window_ != nullptr) DestroyWindow(window_);
  return result_;
}

bool CPatchExpClientDlg::PumpMessages(DWORD ms) {
  const ULONGLONG deadline = GetTickCount64() + ms;
  for (;;) {
    MSG message;
    while (!ended_ && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) Pump(&message);
    if (ended_) {
      if (window_ != nullptr) DestroyWindow(window_);
      return false;
    }
    ULONGLONG now = GetTickCount64();
    if (now >= deadline) return true;
    MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(deadline - now), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
}

void CPatchExpClientDlg::Pump(MSG* message) {
  if (webView_ && webView_->TranslateAccelerator(message)) return;
  if (window_ != nullptr && IsDialogMessageW(window_, message)) return;
  TranslateMessage(message);
  DispatchMessageW(message);
}

INT_PTR CALLBACK CPatchExpClientDlg::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<CPatchExpClientDlg*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, lParam);
    self->window_ = window;
  }
  auto* self = reinterpret_cast<CPatchExpClientDlg*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return FALSE;
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    self->window_ = nullptr;
    return FALSE;
  }
  return self->OnMessage(message, wParam, lParam);
}

INT_PTR CPatchExpClientDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  INT_PTR handled = FALSE;
  switch (message) {
    case WM_INITDIALOG:
      OnInitDialog();
      handled = TRUE;
      break;
    case WM_PAINT:
      if (IsIconic(window_)) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window_, &ps);
        RECT r;
        GetClientRect(window_, &r);
        DrawIcon(dc, (r.right - GetSystemMetrics(SM_CXICON) + 1) / 2,
                 (r.bottom - GetSystemMetrics(SM_CYICON) + 1) / 2, bigIcon_);
        EndPaint(window_, &ps);
        handled = TRUE;
      }
      break;
    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(bigIcon_);
    case WM_CTLCOLORSTATIC:
      if (GetDlgCtrlID(reinterpret_cast<HWND>(lParam)) == IDC_STATUS) {
        HDC dc = reinterpret_cast<HDC>(wParam);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, RGB(255, 255, 255));
        return reinterpret_cast<INT_PTR>(GetStockObject(HOLLOW_BRUSH));
      }
      break;
    case WM_ERASEBKGND:
      if (background_) {
        RECT r;
        GetClientRect(window_, &r);
        DrawBackgroundPart(reinterpret_cast<HDC>(wParam), background_.get(), {0, 0}, r.right, r.bottom);
        SetWindowLongPtrW(window_, DWLP_MSGRESULT, 1);
        handled = TRUE;
      }
      break;
    case WM_NCHITTEST:
      // Any point that is not a control drags the window.
      SetWindowLongPtrW(window_, DWLP_MSGRESULT, HTCAPTION);
      handled = TRUE;
      break;
    case kPlayMessage:
      Play();
      handled = TRUE;
      break;
    case WM_CLOSE:
      Cancel();
      handled = TRUE;
      break;
    case WM_COMMAND:
      // Escape cancels; Enter must not end a patch run.
      if (LOWORD(wParam) == IDCANCEL) Cancel();
      handled = LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == IDOK;
      break;
    default:
      break;
  }
  if (HandleWindowMessage(message, wParam, lParam) != 0) handled = TRUE;
  return handled;
}

void CPatchExpClientDlg::OnInitDialog() {
  title_ = plat::Utf8ToWide(kPatcherName);  // until the full title is set below
  // The web view's COM control needs OLE on this thread.
  HRESULT ole = OleInitialize(nullptr);
  oleStarted_ = SUCCEEDED(ole);

  bigIcon_ = static_cast<HICON>(LoadImageW(module_, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                           GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
  smallIcon_ = static_cast<HICON>(LoadImageW(module_, MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
  SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_));
  SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));

  WriteBrowserFeatureControl();

  background_.reset(static_cast<HBITMAP>(
      LoadImageW(module_, MAKEINTRESOURCEW(IDB_BACKGROUND), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
  Region region = MakeWindowRegion(background_.get());
  if (!region) {
    // Without its shape the window cannot be shown as designed; a window
    // that never starts the engine would only hang, so it closes.
    ErrorBox(kRegionFailedText);
    EndWith(0);
    return;
  }
  BITMAP info{};
  GetObjectW(background_.get(), sizeof(info), &info);
  RECT now;
  GetWindowRect(window_, &now);
  const int centreX = (now.left + now.right) / 2, centreY = (now.top + now.bottom) / 2;
  SetWindowPos(window_, nullptr, centreX - info.bmWidth / 2, centreY - info.bmHeight / 2, info.bmWidth,
               info.bmHeight, SWP_NOZORDER | SWP_NOACTIVATE);
  if (SetWindowRgn(window_, region.get(), TRUE)) region.release();  // the system owns it now

  if (!CreateSkinnedElements()) {
    ErrorBox(kUiLoadErrorText);
    EndWith(0);
    return;
  }
  EnableWindow(GetDlgItem(window_, kPlayButtonId), FALSE);
  SetUpTotalBar();

  title_ = plat::Utf8ToWide(WindowTitle(System64()));
  SetWindowTextW(window_, title_.c_str());
  display_.text = kLoadingText;
  statusFont_.reset(CreateFontW(kStatusFontHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, L"Arial"));
  HWND status = GetDlgItem(window_, IDC_STATUS);
  MoveWindow(status, kStatusRect.left, kStatusRect.top, Width(kStatusRect), Height(kStatusRect), FALSE);
  SendMessageW(status, WM_SETFONT, reinterpret_cast<WPARAM>(statusFont_.get()), FALSE);
  ShowStatus();

  display_.resetStatus = true;
  if (Initialize(window_) != 0 && RequestSelfUpdate("") != 0) RequestPatch(kPatchRequestArguments);
}

bool CPatchExpClientDlg::CreateSkinnedElements() {
  for (size_t i = 0; i < kButtonElements.size(); ++i) {
    const ButtonElement& e = kButtonElements[i];
    buttons_[i] = CSkinButton::Create(module_, window_, e.id, e.action, e.bitmaps, e.rect, L"", background_.get());
    if (!buttons_[i]) return false;
  }
  webView_ = std::make_unique<CWebView>();
  if (!webView_->Create(window_, kWebViewRect, kWebViewId, background_.get())) return false;
  webView_->Navigate(plat::AnsiToWide(ReadLauncherPageUrl()));
  return true;
}

void CPatchExpClientDlg::SetUpTotalBar() {
  HWND bar = GetDlgItem(window_, IDC_TOTAL_BAR);
  SendMessageW(bar, PBM_SETRANGE32, 0, 100);
  SendMessageW(bar, PBM_SETPOS, 0, 0);
  SetWindowLongPtrW(bar, GWL_EXSTYLE, GetWindowLongPtrW(bar, GWL_EXSTYLE) & ~WS_EX_STATICEDGE);
  SetWindowPos(bar, nullptr, kTotalBarRect.left, kTotalBarRect.top, Width(kTotalBarRect), Height(kTotalBarRect),
               SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  totalBar_.Attach(bar);
  totalBar_.SetColours(kBarLeftColour, kBarRightColour);
}

void CPatchExpClientDlg::ShowStatus() {
  const std::wstring text = plat::AnsiToWide(display_.text);
  HWND status = GetDlgItem(window_, IDC_STATUS);
  wchar_t shown[512] = {};
  GetWindowTextW(status, shown, 512);
  if (text != shown) {
    // The text has no background of its own: it must not be drawn over the
    // old one, so the control stays quiet while its text changes, and the
    // window then repaints the artwork and the new text at once.
    SendMessageW(status, WM_SETREDRAW, FALSE, 0);
    SetWindowTextW(status, text.c_str());
    SendMessageW(status, WM_SETREDRAW, TRUE, 0);
    RECT r = kStatusRect;
    RedrawWindow(window_, &r, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  }
  SendDlgItemMessageW(window_, IDC_TOTAL_BAR, PBM_SETPOS, static_cast<WPARAM>(display_.totalBar), 0);
}

void CPatchExpClientDlg::OnProgress(const PatchStatus& status, uint32_t kind, intptr_t) {
  UpdateStatusDisplay(&display_, status, kind);
  ShowStatus();
}

void CPatchExpClientDlg::OnReady() {
  ShowReady(&display_);
  ShowStatus();
  EnableWindow(GetDlgItem(window_, kPlayButtonId), TRUE);
  RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

void CPatchExpClientDlg::OnFatalError(uint32_t code) {
  const std::string text = LauncherErrorText(code);
  if (!text.empty()) ErrorBox(text);
  CloseWindow(kCloseFailed);
}

void CPatchExpClientDlg::OnEngineError(uint32_t code) {
  const std::string text = EngineErrorText(code);
  if (!text.empty()) ErrorBox(text);
}

void CPatchExpClientDlg::ShowMessage(const std::string& text) {
  MessageBoxW(window_, plat::AnsiToWide(text).c_str(), title_.c_str(), MB_OK);
}

void CPatchExpClientDlg::ShowLaunchError(const std::string& text) {
  MessageBoxW(window_, plat::Utf8ToWide(text).c_str(), plat::Utf8ToWide(kLaunchErrorCaption).c_str(),
              MB_OK | MB_ICONERROR);
}

void CPatchExpClientDlg::CloseWindow(int result) { EndWith(result); }

std::string CPatchExpClientDlg::GetLaunchArguments() { return std::string(); }

void CPatchExpClientDlg::Play() {
  const bool started = Launch(kGameExecutable, kGameArguments) != 0;
  if (!started) ErrorBox(LauncherErrorText(kLauncherGameFailed));
  EndWith(started ? kCloseReady : kCloseFailed);
}

void CPatchExpClientDlg::Cancel() {
  StopEngine();
  EndWith(IDCANCEL);
}

void CPatchExpClientDlg::ErrorBox(const std::string& text) {
  MessageBoxW(window_, plat::Utf8ToWide(text).c_str(), title_.c_str(), MB_OK | MB_ICONERROR);
}

void CPatchExpClientDlg::EndWith(INT_PTR result) {
  if (ended_) return;
  ended_ = true;
  result_ = result;
  if (window_ != nullptr) {
    ShowWindow(window_, SW_HIDE);
    PostMessageW(window_, WM_NULL, 0, 0);  // wakes the loop
  }
}

}  // namespace launcher::win32
