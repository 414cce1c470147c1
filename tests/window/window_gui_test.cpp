// The launcher window under Wine (or Windows) with a display: the dialog
// in this process, driven by posted messages over a stand-in engine, and
// the product itself patching the shared sample client.
#include <windows.h>
#include <commctrl.h>
#include <exdispid.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <iterator>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "launcher/win32/patch_exp_client_dlg.h"
#include "launcher/win32/resource.h"
#include "launcher/win32/window_region_win32.h"
#include "platform/process_launch.h"
#include "platform/win32/wide_text.h"
#include "tests/e2e/engine_run.h"
#include "tests/support/test_support.h"

namespace {

using launcher::win32::CPatchExpClientDlg;

const char kStandInPath[] = STAND_IN_PATH;
const char kProductPath[] = HALVRECHT_PATCHER_EXE;
const wchar_t kTitle[] = L"Halvrecht Patcher v28 on X64";

std::string WindowsPath(std::string path) {
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  return path;
}

std::wstring ControlText(HWND control) {
  wchar_t text[512] = {};
  GetWindowTextW(control, text, 512);
  return text;
}

// The arguments the stand-in game recorded in `folder`, once it wrote them.
std::string RecordedArguments(const std::string& folder) {
  const std::string record = folder + "stand_in_record.txt";
  for (int i = 0; i < 250 && !testsupport::PathExists(record); ++i) Sleep(20);
  const std::string text = testsupport::ReadFileText(record);
  const size_t at = text.find("arguments ");
  if (at == std::string::npos) return "(no record)";
  return text.substr(at + 10, text.find_first_of("\r\n", at) - at - 10);
}

RECT ChildRect(HWND parent, int id) {
  RECT r{};
  HWND child = GetDlgItem(parent, id);
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

void Click(HWND button) {
  PostMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  PostMessageW(button, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
}

// What the window shows on screen, children included.
class Capture {
 public:
  explicit Capture(HWND window) {
    RECT r;
    GetClientRect(window, &r);
    HDC source = GetDC(window);
    bitmap_ = CreateCompatibleBitmap(source, r.right, r.bottom);
    dc_ = CreateCompatibleDC(source);
    old_ = SelectObject(dc_, bitmap_);
    BitBlt(dc_, 0, 0, r.right, r.bottom, source, 0, 0, SRCCOPY);
    ReleaseDC(window, source);
  }
  ~Capture() {
    SelectObject(dc_, old_);
    DeleteDC(dc_);
    DeleteObject(bitmap_);
  }
  COLORREF At(int x, int y) const { return GetPixel(dc_, x, y); }

 private:
  HBITMAP bitmap_;
  HDC dc_;
  HGDIOBJ old_;
};

// A pixel of the window's background picture, as the resources hold it.
COLORREF BackgroundPixel(int x, int y) {
  HBITMAP bitmap = static_cast<HBITMAP>(
      LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDB_BACKGROUND), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, bitmap);
  COLORREF pixel = GetPixel(dc, x, y);
  SelectObject(dc, old);
  DeleteDC(dc);
  DeleteObject(bitmap);
  return pixel;
}

// Message boxes of the window's thread: read, recorded and closed by a
// watcher thread, as a player would close them.
class BoxWatcher {
 public:
  explicit BoxWatcher(DWORD uiThread) : thread_([this, uiThread] { Watch(uiThread); }) {}
  ~BoxWatcher() {
    stop_ = true;
    thread_.join();
  }
  std::vector<std::pair<std::wstring, std::wstring>> Boxes() {  // caption, text
    std::lock_guard<std::mutex> lock(mutex_);
    return boxes_;
  }

 private:
  // A message box of the watched thread: recorded, then closed.
  static BOOL CALLBACK Found(HWND window, LPARAM self) {
    wchar_t cls[64] = {};
    GetClassNameW(window, cls, 64);
    HWND text = GetDlgItem(window, 0xFFFF);  // a message box's text
    if (std::wstring(cls) != L"#32770" || text == nullptr || !IsWindowVisible(window)) return TRUE;
    auto* watcher = reinterpret_cast<BoxWatcher*>(self);
    {
      std::lock_guard<std::mutex> lock(watcher->mutex_);
      watcher->boxes_.emplace_back(ControlText(window), ControlText(text));
    }
    PostMessageW(window, WM_COMMAND, IDOK, 0);
    return TRUE;
  }
  void Watch(DWORD uiThread) {
    while (!stop_) {
      EnumThreadWindows(uiThread, Found, reinterpret_cast<LPARAM>(this));
      Sleep(20);
    }
  }

  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<std::pair<std::wstring, std::wstring>> boxes_;
  std::thread thread_;
};

bool HaveDisplay() {
  const char* display = std::getenv("DISPLAY");
  return !testsupport::RunningUnderWine() || (display != nullptr && display[0] != '\0');
}

// A client folder with settings and a stand-in game, as the current folder.
class WindowFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveDisplay()) GTEST_SKIP() << "no display: run with an X server (Xvfb) and DISPLAY set";
    testsupport::WriteFileText(folder_ / "localinfo.dat", "[URL]\r\nVersionUrl=http://127.0.0.1:9/version.ini\r\n");
    ASSERT_TRUE(CopyFileA(WindowsPath(kStandInPath).c_str(), (folder_ / "halvrecht.exe").c_str(), FALSE));
    cwd_ = std::make_unique<testsupport::ScopedCurrentDir>(folder_.Path());
  }

  EngineEntries Engine() {
    EngineEntries e;
    e.init = [this](PatchStartParams, PatchStartResults*) {
      ++inits_;
      return initResult_;
    };
    e.startPatch = [this] { return ++startPatches_, 1u; };
    e.startSelfUpdate = [] { return 1u; };
    e.uninit = [this] { ++uninits_; };
    e.lockStatus = [this] { return &status_; };
    e.unlockStatus = [] {};
    e.downloadFile = [](const std::string&, const std::string&) { return false; };
    return e;
  }

  void Open() {
    dialog_ = std::make_unique<CPatchExpClientDlg>(GetModuleHandleW(nullptr), Engine());
    ASSERT_TRUE(dialog_->Create());
    ShowWindow(dialog_->Handle(), SW_SHOWNOACTIVATE);
    dialog_->PumpMessages(50);
  }
  HWND Window() const { return dialog_->Handle(); }

  // Posts a progress event with the status record as it stands and lets
  // the window handle it.
  void Progress(uint32_t kind) {
    PostMessageW(Window(), kProgressMessage, kind, 0);
    dialog_->PumpMessages(30);
  }
  bool PumpUntil(const std::function<bool()>& done, DWORD ms = 5000) {
    for (DWORD waited = 0; waited < ms && !done(); waited += 20) dialog_->PumpMessages(20);
    return done();
  }

  testsupport::TempDir folder_;
  std::unique_ptr<testsupport::ScopedCurrentDir> cwd_;
  std::unique_ptr<CPatchExpClientDlg> dialog_;
  PatchStatus status_{};
  uint32_t initResult_ = 0;
  int inits_ = 0, uninits_ = 0, startPatches_ = 0;
};

TEST_F(WindowFixture, OpensWithItsShapeControlsAndBrowserSettings) {
  Open();
  HWND w = Window();
  RECT r;
  GetWindowRect(w, &r);
  EXPECT_EQ(1024, r.right - r.left);
  EXPECT_EQ(660, r.bottom - r.top);
  EXPECT_EQ(std::wstring(kTitle), ControlText(w));
  EXPECT_EQ(L"Loading...", ControlText(GetDlgItem(w, IDC_STATUS)));
  EXPECT_EQ(1, inits_);

  struct Expected {
    int id;
    RECT rect;
  };
  const Expected controls[] = {
      {1000, {2, 54, 1022, 58}},   {1001, {624, 34, 1020, 52}}, {101, {996, 2, 1022, 24}},
      {102, {968, 2, 994, 24}},    {103, {400, 2, 624, 48}},    {106, {2, 61, 1022, 658}},
  };
  for (const Expected& c : controls) {
    SCOPED_TRACE(c.id);
    RECT have = ChildRect(w, c.id);
    EXPECT_EQ(c.rect.left, have.left);
    EXPECT_EQ(c.rect.top, have.top);
    EXPECT_EQ(c.rect.right, have.right);
    EXPECT_EQ(c.rect.bottom, have.bottom);
  }
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(w, 103)));
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(w, 101)));
  HWND bar = GetDlgItem(w, 1000);
  EXPECT_EQ(100, SendMessageW(bar, PBM_GETRANGE, FALSE, 0));
  EXPECT_EQ(0, SendMessageW(bar, PBM_GETPOS, 0, 0));
  EXPECT_EQ(0, GetWindowLongPtrW(bar, GWL_EXSTYLE) & WS_EX_STATICEDGE);

  // The rounded corners are cut away, the rest is window.
  HRGN region = CreateRectRgn(0, 0, 0, 0);
  ASSERT_NE(ERROR, GetWindowRgn(w, region));
  EXPECT_FALSE(PtInRegion(region, 0, 0));
  EXPECT_FALSE(PtInRegion(region, 1023, 659));
  EXPECT_FALSE(PtInRegion(region, 1023, 0));
  EXPECT_TRUE(PtInRegion(region, 512, 330));
  EXPECT_TRUE(PtInRegion(region, 12, 0));
  DeleteObject(region);

  // Without a launcher page the web view shows the artwork.
  Capture shot(w);
  for (POINT p : {POINT{40, 600}, POINT{512, 330}, POINT{1000, 70}}) EXPECT_EQ(BackgroundPixel(p.x, p.y), shot.At(p.x, p.y));
  EXPECT_FALSE(dialog_->WebView()->PageShown());

  // The browser settings were written for this program (Wine reports an
  // 11.0 browser).
  char exe[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, exe, MAX_PATH);
  const std::string name = std::string(exe).substr(std::string(exe).find_last_of("\\/") + 1);
  struct Feature {
    const char* subkey;
    DWORD value;
  };
  for (const Feature& f : {Feature{"FEATURE_BROWSER_EMULATION", 11000}, Feature{"FEATURE_GPU_RENDERING", 1},
                           Feature{"FEATURE_WINDOW_RESTRICTIONS", 0}}) {
    SCOPED_TRACE(f.subkey);
    DWORD value = 12345, size = sizeof(value);
    const std::string key = std::string("Software\\Microsoft\\Internet Explorer\\Main\\FeatureControl\\") + f.subkey;
    ASSERT_EQ(ERROR_SUCCESS,
              RegGetValueA(HKEY_CURRENT_USER, key.c_str(), name.c_str(), RRF_RT_REG_DWORD, nullptr, &value, &size));
    EXPECT_EQ(f.value, value);
  }
}

TEST_F(WindowFixture, AnUnreachableLauncherPageLeavesTheArtworkAndNoBox) {
  testsupport::WriteFileText(folder_ / "localinfo.dat",
                             "[URL]\r\nVersionUrl=http://127.0.0.1:9/version.ini\r\n"
                             "LauncherPageUrl=http://127.0.0.1:9/launcher.html\r\n");
  BoxWatcher boxes(GetCurrentThreadId());
  Open();
  dialog_->PumpMessages(1500);
  EXPECT_TRUE(boxes.Boxes().empty());
  EXPECT_FALSE(dialog_->WebView()->PageShown());
  EXPECT_FALSE(dialog_->Closed());
  RedrawWindow(Window(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  Capture shot(Window());
  for (POINT p : {POINT{40, 600}, POINT{512, 330}}) EXPECT_EQ(BackgroundPixel(p.x, p.y), shot.At(p.x, p.y));
}

TEST_F(WindowFixture, ProgressEventsSetStatusLineAndBar) {
  Open();
  ASSERT_TRUE(PumpUntil([&] { return startPatches_ == 1; }));  // timers 1001 then 1000
  SetStatusText(status_.patchFile, "data\\ui\\skin.pak");
  SetStatusText(status_.extractFile, "data\\big.pak");
  status_.version = 101;
  status_.sectionCount = 2;
  status_.sectionsDownloaded = 1;
  status_.downloadTotalSize = 3 * 1024 * 1024;
  status_.downloadPercent = 50.f;
  struct Step {
    uint32_t kind;
    float total;
    float patchPercent;
    const wchar_t* text;
    int bar;
  };
  const Step steps[] = {
      {2, 10.f, 0.f, L"Loading...", 0},  // the first download event after the start
      {2, 10.f, 0.f, L"Downloading: 101 (1/2)  1.50 MB /  3.00 MB", 0},
      {16, 20.4f, 0.f, L"Extracting: data\\big.pak 0%", 20},
      {13, 33.9f, 99.9f, L"Patching: data\\ui\\skin.pak 99%", 33},
      {3, 40.f, 99.9f, L"Patching: data\\ui\\skin.pak 99%", 33},  // kind 3 changes nothing
      {14, 41.f, 100.f, L"Patching: data\\ui\\skin.pak 100%", 41},
      {2, 42.f, 100.f, L"Loading...", 41},  // the first download after a finished patch
  };
  HWND bar = GetDlgItem(Window(), 1000);
  for (size_t i = 0; i < std::size(steps); ++i) {
    SCOPED_TRACE(i);
    status_.totalPercent = steps[i].total;
    status_.patchPercent = steps[i].patchPercent;
    status_.extractPercent = 0.f;
    Progress(steps[i].kind);
    EXPECT_EQ(std::wstring(steps[i].text), ControlText(GetDlgItem(Window(), IDC_STATUS)));
    EXPECT_EQ(steps[i].bar, SendMessageW(bar, PBM_GETPOS, 0, 0));
  }
  // The bar paints its gradient up to its position: orange at the left
  // end, the dark track beyond 41 %.
  RedrawWindow(Window(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  Capture shot(Window());
  COLORREF left = shot.At(4, 56), empty = shot.At(1000, 56);
  EXPECT_GT(GetRValue(left), 200);
  EXPECT_LT(GetBValue(left), 60);
  EXPECT_LT(GetRValue(empty), 60);
  EXPECT_TRUE(IsWindow(Window()));
}

TEST_F(WindowFixture, EngineErrorsShowTheirTextAndCloseWith2) {
  struct Case {
    uint32_t code;
    const wchar_t* text;  // null: no box
  };
  const Case cases[] = {{6, L"Failed to extract patch file."}, {2, nullptr}, {30, L"Failed to patch. : (code : 30)"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    uninits_ = 0;
    Open();
    BoxWatcher boxes(GetCurrentThreadId());
    PostMessageW(Window(), kErrorMessage, c.code, 0);
    ASSERT_TRUE(PumpUntil([&] { return dialog_->Closed(); }));
    EXPECT_EQ(2, dialog_->Result());
    EXPECT_EQ(1, uninits_);
    auto shown = boxes.Boxes();
    if (c.text == nullptr) {
      EXPECT_TRUE(shown.empty());
    } else {
      ASSERT_EQ(1u, shown.size());
      EXPECT_EQ(std::wstring(kTitle), shown[0].first);
      EXPECT_EQ(std::wstring(c.text), shown[0].second);
    }
    dialog_.reset();
  }
}

TEST_F(WindowFixture, ReadyEnablesPlayWhichStartsTheGame) {
  Open();
  status_.state = kStateFinished;
  status_.totalPercent = 97.f;
  Progress(19);
  EXPECT_EQ(L"Ready to Play!", ControlText(GetDlgItem(Window(), IDC_STATUS)));
  EXPECT_EQ(100, SendMessageW(GetDlgItem(Window(), 1000), PBM_GETPOS, 0, 0));
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(Window(), 103)));
  EXPECT_EQ(1, uninits_);
  EXPECT_FALSE(dialog_->Closed());

  Click(GetDlgItem(Window(), 103));
  ASSERT_TRUE(PumpUntil([&] { return dialog_->Closed(); }));
  EXPECT_EQ(1, dialog_->Result());
  EXPECT_EQ("-a FF", RecordedArguments(folder_.Path()));
}

TEST_F(WindowFixture, CloseButtonStopsTheEngineAndCloses) {
  Open();
  ASSERT_TRUE(PumpUntil([&] { return startPatches_ == 1; }));
  Click(GetDlgItem(Window(), 101));
  ASSERT_TRUE(PumpUntil([&] { return dialog_->Closed(); }));
  EXPECT_EQ(1, uninits_);
  EXPECT_EQ(IDCANCEL, dialog_->Result());
  EXPECT_FALSE(IsWindow(dialog_->Handle()));
}

TEST_F(WindowFixture, NewWindowRequestsGoToTheShell) {
  Open();
  IDispatch* events = dialog_->WebView()->EventSink();
  if (events == nullptr) GTEST_SKIP() << "the system cannot create the WebBrowser control here";
  // A new-window request for a program path: the shell's "open" starts it
  // with no arguments; the embedded page is not asked to open anything.
  const std::wstring target = plat::Utf8ToWide(folder_ / "halvrecht.exe");
  VARIANT args[5];
  VARIANT_BOOL cancel = VARIANT_FALSE;
  for (VARIANT& a : args) VariantInit(&a);
  args[0].vt = VT_BSTR;
  args[0].bstrVal = SysAllocString(target.c_str());
  args[3].vt = VT_BYREF | VT_BOOL;
  args[3].pboolVal = &cancel;
  DISPPARAMS params{args, nullptr, 5, 0};
  EXPECT_EQ(S_OK, events->Invoke(DISPID_NEWWINDOW3, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr));
  SysFreeString(args[0].bstrVal);
  EXPECT_EQ(VARIANT_TRUE, cancel);
  EXPECT_EQ("", RecordedArguments(folder_.Path()));

  EXPECT_FALSE(dialog_->WebView()->PageShown());
  EXPECT_TRUE(dialog_->WebView()->HasBrowser());
}

TEST(WindowRegionWin32, RegionOfManyRunsAcrossBatches) {
  if (!HaveDisplay()) GTEST_SKIP() << "no display";
  // Five key runs in each of 700 rows: 3500 runs, more than one batch.
  const int width = 50, height = 700;
  std::vector<uint32_t> pixels(size_t(width) * height, 0x202020);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      if (x % 10 < 3 || (y == 0 && x == width - 1)) pixels[size_t(y) * width + x] = 0xFF00FF;
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  HDC screen = GetDC(nullptr);
  HBITMAP bitmap = CreateDIBitmap(screen, &info.bmiHeader, CBM_INIT, pixels.data(), &info, DIB_RGB_COLORS);
  ReleaseDC(nullptr, screen);
  ASSERT_NE(nullptr, bitmap);
  launcher::win32::Region region = launcher::win32::MakeWindowRegion(bitmap);
  DeleteObject(bitmap);
  ASSERT_TRUE(region);
  int wrong = 0;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      bool key = pixels[size_t(y) * width + x] == 0xFF00FF;
      if ((PtInRegion(region.get(), x, y) != FALSE) == key) ++wrong;
    }
  EXPECT_EQ(0, wrong);
}

// The product, started as a player starts it, in a copy of the shared
// sample client served from this process.
class ProductRun : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveDisplay()) GTEST_SKIP() << "no display: run with an X server (Xvfb) and DISPLAY set";
    const std::string scenario = testsupport::TestDataDir() + "e2e/basic/";
    ASSERT_TRUE(server_.Started());
    e2e::ServeFolder(server_, scenario + "server", {"/a/", "/b/", "/c/"});
    testsupport::CopyTree(scenario + "sandbox", sandbox_.Path());
    client_ = sandbox_.Path() + "client\\";
    testsupport::WriteFileText(client_ + "localinfo.dat",
                               "[URL]\r\nVersionUrl=" + server_.Url("/a/version.ini") + "\r\n");
  }

  // Starts the product and waits for its window; returns the window.
  HWND Start() {
    EXPECT_TRUE(process_.Start({WindowsPath(kProductPath)}, client_, "", ""));
    for (int i = 0; i < 1500; ++i) {
      HWND w = FindWindowW(nullptr, kTitle);
      if (w != nullptr) return w;
      Sleep(20);
    }
    return nullptr;
  }
  // Follows the status line until it reads `last`; every text seen, in order.
  std::vector<std::wstring> FollowStatus(HWND w, const std::wstring& last) {
    std::vector<std::wstring> seen;
    for (int i = 0; i < 6000 && IsWindow(w); ++i) {
      std::wstring text = ControlText(GetDlgItem(w, IDC_STATUS));
      if (seen.empty() || seen.back() != text) seen.push_back(text);
      if (text == last) break;
      Sleep(10);
    }
    return seen;
  }
  int Exit() {
    int status = -1;
    if (!process_.Wait(20000, &status)) {
      ADD_FAILURE() << "the product is still running";
      process_.Kill();
    }
    return status;
  }

  testsupport::HttpTestServer server_;
  testsupport::TempDir sandbox_;
  std::string client_;
  plat::ChildProcess process_;
};

TEST_F(ProductRun, PatchesTheSampleClientThenPlayStartsTheGameAndCloseEndsIt) {
  HWND w = Start();
  ASSERT_NE(nullptr, w);
  std::vector<std::wstring> seen = FollowStatus(w, L"Ready to Play!");
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(L"Ready to Play!", seen.back());
  EXPECT_GT(seen.size(), 2u) << "the status line went straight to the end";
  EXPECT_EQ(103, e2e::ReadVersionDat(client_));
  // The play button is enabled right after the text is shown.
  for (int i = 0; i < 250 && !IsWindowEnabled(GetDlgItem(w, 103)); ++i) Sleep(20);
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(w, 103)));
  // The sample's own game file was just patched; the stand-in replaces it.
  ASSERT_TRUE(CopyFileA(WindowsPath(kStandInPath).c_str(), (client_ + "halvrecht.exe").c_str(), FALSE));
  PostMessageW(GetDlgItem(w, 103), BM_CLICK, 0, 0);
  EXPECT_EQ(0, Exit());
  EXPECT_EQ("-a FF", RecordedArguments(client_));

  // Started again on the current client, it is ready at once; its close
  // button ends the program.
  w = Start();
  ASSERT_NE(nullptr, w);
  EXPECT_EQ(L"Ready to Play!", FollowStatus(w, L"Ready to Play!").back());
  PostMessageW(GetDlgItem(w, 101), BM_CLICK, 0, 0);
  EXPECT_EQ(0, Exit());
  EXPECT_FALSE(IsWindow(w));
}

}  // namespace
