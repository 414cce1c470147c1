#include "launcher/win32/web_view.h"

#include <exdisp.h>
#include <exdispid.h>
#include <mshtmhst.h>
#include <ocidl.h>
#include <ole2.h>
#include <shellapi.h>

#include <cstring>

#include "launcher/win32/gdi_handles.h"

namespace launcher::win32 {
namespace {

const wchar_t kClassName[] = L"HalvrechtWebView";
// Pages never show scroll bars: the launcher page is laid out for exactly
// this area.
const wchar_t kHostCss[] = L"body { overflow:hidden; }";

template <typename T>
void ReleaseInterface(T*& p) {
  if (p != nullptr) p->Release();
  p = nullptr;
}

// The IUnknown identity of a COM object, for comparing two pointers to it.
bool SameObject(IUnknown* a, IUnknown* b) {
  if (a == nullptr || b == nullptr) return false;
  IUnknown *ua = nullptr, *ub = nullptr;
  a->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&ua));
  b->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&ub));
  bool same = ua != nullptr && ua == ub;
  ReleaseInterface(ua);
  ReleaseInterface(ub);
  return same;
}

}  // namespace

// The container side of the browser control: its client site, in-place site
// and frame, its UI handler, and the sink of its events. One object so that
// every interface the control asks for is at hand; its lifetime follows its
// references.
class BrowserSite final : public IOleClientSite,
                          public IOleInPlaceSite,
                          public IOleInPlaceFrame,
                          public IDocHostUIHandler,
                          public IDispatch {
 public:
  BrowserSite(HWND host, HWND owner) : host_(host), owner_(owner) {}

  // Creates and activates the control inside the host window.
  bool Start() {
    if (FAILED(CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                                reinterpret_cast<void**>(&object_))))
      return false;
    if (FAILED(object_->SetClientSite(static_cast<IOleClientSite*>(this))) ||
        FAILED(object_->QueryInterface(IID_IWebBrowser2, reinterpret_cast<void**>(&browser_)))) {
      Stop();
      return false;
    }
    RECT r;
    GetClientRect(host_, &r);
    if (FAILED(object_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, static_cast<IOleClientSite*>(this), 0, host_,
                               &r))) {
      Stop();
      return false;
    }
    // Script errors of the page must not open dialogs over the launcher.
    browser_->put_Silent(VARIANT_TRUE);
    IConnectionPointContainer* container = nullptr;
    if (SUCCEEDED(browser_->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)))) {
      if (SUCCEEDED(container->FindConnectionPoint(DIID_DWebBrowserEvents2, &events_)))
        events_->Advise(static_cast<IDispatch*>(this), &cookie_);
      ReleaseInterface(container);
    }
    return true;
  }

  void Stop() {
    if (events_ != nullptr) {
      if (cookie_ != 0) events_->Unadvise(cookie_);
      cookie_ = 0;
      ReleaseInterface(events_);
    }
    if (browser_ != nullptr) browser_->Stop();
    ReleaseInterface(browser_);
    if (object_ != nullptr) {
      object_->Close(OLECLOSE_NOSAVE);
      object_->SetClientSite(nullptr);
    }
    ReleaseInterface(object_);
  }

  bool HasBrowser() const { return browser_ != nullptr; }
  bool Shown() const { return shown_; }

  void Navigate(const std::wstring& url) {
    if (browser_ == nullptr || url.empty()) return;
    BSTR address = SysAllocString(url.c_str());
    VARIANT empty;
    VariantInit(&empty);
    browser_->Navigate(address, &empty, &empty, &empty, &empty);
    SysFreeString(address);
  }

  bool TranslateAccelerator(MSG* message) {
    if (browser_ == nullptr || !shown_) return false;
    IOleInPlaceActiveObject* active = nullptr;
    if (FAILED(browser_->QueryInterface(IID_IOleInPlaceActiveObject, reinterpret_cast<void**>(&active))))
      return false;
    bool taken = active->TranslateAccelerator(message) == S_OK;
    ReleaseInterface(active);
    return taken;
  }

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IOleClientSite)
      *out = static_cast<IOleClientSite*>(this);
    else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceSite)
      *out = static_cast<IOleInPlaceSite*>(this);
    else if (iid == IID_IOleInPlaceUIWindow || iid == IID_IOleInPlaceFrame)
      *out = static_cast<IOleInPlaceFrame*>(this);
    else if (iid == IID_IDocHostUIHandler)
      *out = static_cast<IDocHostUIHandler*>(this);
    else if (iid == IID_IDispatch || iid == DIID_DWebBrowserEvents2)
      *out = static_cast<IDispatch*>(this);
    else
      return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

  // IOleClientSite
  STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** out) override {
    if (out != nullptr) *out = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetContainer(IOleContainer** out) override {
    if (out != nullptr) *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP ShowObject() override { return S_OK; }
  STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
  STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

  // IOleWindow (shared by the in-place site and frame)
  STDMETHODIMP GetWindow(HWND* out) override {
    if (out == nullptr) return E_POINTER;
    *out = host_;
    return S_OK;
  }
  STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

  // IOleInPlaceSite
  STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
  STDMETHODIMP OnUIActivate() override { return S_OK; }
  STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT pos, LPRECT clip,
                                LPOLEINPLACEFRAMEINFO info) override {
    if (frame == nullptr || doc == nullptr || pos == nullptr || clip == nullptr || info == nullptr) return E_POINTER;
    *frame = static_cast<IOleInPlaceFrame*>(this);
    AddRef();
    *doc = nullptr;
    GetClientRect(host_, pos);
    *clip = *pos;
    info->fMDIApp = FALSE;
    info->hwndFrame = GetAncestor(host_, GA_ROOT);
    info->haccel = nullptr;
    info->cAccelEntries = 0;
    return S_OK;
  }
  STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
  STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
  STDMETHODIMP OnInPlaceDeactivate() override { return S_OK; }
  STDMETHODIMP DiscardUndoState() override { return E_NOTIMPL; }
  STDMETHODIMP DeactivateAndUndo() override { return E_NOTIMPL; }
  STDMETHODIMP OnPosRectChange(LPCRECT rect) override {
    IOleInPlaceObject* inPlace = nullptr;
    if (object_ != nullptr &&
        SUCCEEDED(object_->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&inPlace)))) {
      inPlace->SetObjectRects(rect, rect);
      ReleaseInterface(inPlace);
    }
    return S_OK;
  }

  // IOleInPlaceUIWindow / IOleInPlaceFrame: no menus, tool space or status.
  STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
  STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return OLE_E_INVALIDRECT; }
  STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override { return S_OK; }
  STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
  STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
  STDMETHODIMP RemoveMenus(HMENU) override { return E_NOTIMPL; }
  STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
  STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
  STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

  // IDocHostUIHandler
  STDMETHODIMP ShowContextMenu(DWORD, POINT*, IUnknown*, IDispatch*) override {
    return S_OK;  // handled: no menu at all
  }
  STDMETHODIMP GetHostInfo(DOCHOSTUIINFO* info) override {
    if (info == nullptr || info->cbSize < sizeof(DOCHOSTUIINFO)) return E_INVALIDARG;
    info->dwFlags = DOCHOSTUIFLAG_NO3DBORDER | DOCHOSTUIFLAG_NO3DOUTERBORDER | DOCHOSTUIFLAG_SCROLL_NO |
                    DOCHOSTUIFLAG_DISABLE_HELP_MENU | DOCHOSTUIFLAG_THEME | DOCHOSTUIFLAG_DPI_AWARE;
    info->dwDoubleClick = DOCHOSTUIDBLCLK_DEFAULT;
    info->pchHostCss = static_cast<OLECHAR*>(CoTaskMemAlloc(sizeof(kHostCss)));
    if (info->pchHostCss != nullptr) std::memcpy(info->pchHostCss, kHostCss, sizeof(kHostCss));
    info->pchHostNS = nullptr;
    return S_OK;
  }
  STDMETHODIMP ShowUI(DWORD, IOleInPlaceActiveObject*, IOleCommandTarget*, IOleInPlaceFrame*,
                      IOleInPlaceUIWindow*) override {
    return S_OK;  // the launcher shows no browser menus or toolbars
  }
  STDMETHODIMP HideUI() override { return S_OK; }
  STDMETHODIMP UpdateUI() override { return S_OK; }
  STDMETHODIMP OnDocWindowActivate(BOOL) override { return S_OK; }
  STDMETHODIMP OnFrameWindowActivate(BOOL) override { return S_OK; }
  STDMETHODIMP ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return S_OK; }
  STDMETHODIMP TranslateAccelerator(LPMSG, const GUID*, DWORD) override { return S_FALSE; }
  STDMETHODIMP GetOptionKeyPath(LPOLESTR* key, DWORD) override {
    if (key != nullptr) *key = nullptr;
    return S_FALSE;
  }
  STDMETHODIMP GetDropTarget(IDropTarget*, IDropTarget** out) override {
    if (out != nullptr) *out = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetExternal(IDispatch** out) override {
    if (out != nullptr) *out = nullptr;
    return S_FALSE;
  }
  STDMETHODIMP TranslateUrl(DWORD, LPWSTR, LPWSTR* out) override {
    if (out != nullptr) *out = nullptr;
    return S_FALSE;
  }
  STDMETHODIMP FilterDataObject(IDataObject*, IDataObject** out) override {
    if (out != nullptr) *out = nullptr;
    return S_FALSE;
  }

  // IDispatch: the browser's events.
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (count != nullptr) *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override {
    // Arguments arrive last first.
    auto arg = [&](UINT fromLast) -> VARIANT* {
      return params != nullptr && fromLast < params->cArgs ? &params->rgvarg[fromLast] : nullptr;
    };
    auto setCancel = [](VARIANT* v) {
      if (v != nullptr && v->vt == (VT_BYREF | VT_BOOL) && v->pboolVal != nullptr) *v->pboolVal = VARIANT_TRUE;
    };
    auto isTopLevel = [&](VARIANT* v) {
      return v != nullptr && v->vt == VT_DISPATCH && SameObject(v->pdispVal, browser_);
    };
    switch (id) {
      case DISPID_NEWWINDOW3: {
        // NewWindow3(ppDisp, Cancel, dwFlags, bstrUrlContext, bstrUrl)
        VARIANT* url = arg(0);
        setCancel(arg(3));
        if (url != nullptr && url->vt == VT_BSTR && url->bstrVal != nullptr && url->bstrVal[0] != L'\0')
          ShellExecuteW(nullptr, L"open", url->bstrVal, nullptr, nullptr, SW_SHOWNORMAL);
        return S_OK;
      }
      case DISPID_BEFORENAVIGATE2:
        if (isTopLevel(arg(6))) failed_ = false;
        return S_OK;
      case DISPID_NAVIGATEERROR:
        // NavigateError(pDisp, URL, Frame, StatusCode, Cancel): no error page,
        // the artwork instead.
        if (isTopLevel(arg(4))) {
          failed_ = true;
          setCancel(arg(0));
          Show(false);
        }
        return S_OK;
      case DISPID_DOCUMENTCOMPLETE:
        if (isTopLevel(arg(1)) && !failed_) Show(true);
        return S_OK;
      default:
        return DISP_E_MEMBERNOTFOUND;
    }
  }

 private:
  ~BrowserSite() = default;

  void Show(bool shown) {
    shown_ = shown;
    ShowWindow(host_, shown ? SW_SHOWNA : SW_HIDE);
    InvalidateRect(owner_, nullptr, TRUE);
  }

  ULONG references_ = 1;
  HWND host_;
  HWND owner_;
  IOleObject* object_ = nullptr;
  IWebBrowser2* browser_ = nullptr;
  IConnectionPoint* events_ = nullptr;
  DWORD cookie_ = 0;
  bool failed_ = false;
  bool shown_ = false;
};

CWebView::CWebView() = default;

CWebView::~CWebView() {
  DestroyBrowser();
  if (window_ != nullptr) {
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
  }
}

bool CWebView::Create(HWND parent, const RECT& rect, int id, HBITMAP background) {
  HINSTANCE module = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(parent, GWLP_HINSTANCE));
  if (!RegisterControlClass(module, kClassName, WindowProc, IDC_ARROW)) return false;
  background_ = background;
  origin_ = {rect.left, rect.top};
  const int width = rect.right - rect.left, height = rect.bottom - rect.top;
  // First at 100 x 100, as the browser expects a window before it is sized.
  window_ = CreateWindowExW(0, kClassName, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, 0, 0,
                            100, 100, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), module, this);
  if (window_ == nullptr) return false;
  page_ = CreateWindowExW(0, kClassName, L"", WS_CHILD | WS_CLIPCHILDREN, 0, 0, width, height, window_, nullptr,
                          module, this);
  MoveWindow(window_, rect.left, rect.top, width, height, TRUE);
  if (page_ != nullptr) CreateBrowser();
  return true;
}

void CWebView::CreateBrowser() {
  site_ = new BrowserSite(page_, window_);
  if (!site_->Start()) {
    site_->Release();
    site_ = nullptr;
  }
}

void CWebView::DestroyBrowser() {
  if (site_ == nullptr) return;
  site_->Stop();
  site_->Release();
  site_ = nullptr;
}

void CWebView::Navigate(const std::wstring& url) {
  if (site_ != nullptr) site_->Navigate(url);
}

bool CWebView::TranslateAccelerator(MSG* message) {
  if (site_ == nullptr || message == nullptr || message->message < WM_KEYFIRST || message->message > WM_KEYLAST)
    return false;
  if (message->hwnd != page_ && !IsChild(page_, message->hwnd)) return false;
  return site_->TranslateAccelerator(message);
}

bool CWebView::HasBrowser() const { return site_ != nullptr && site_->HasBrowser(); }

bool CWebView::PageShown() const { return site_ != nullptr && site_->Shown(); }

IDispatch* CWebView::EventSink() const { return site_; }

LRESULT CALLBACK CWebView::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<CWebView*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<CWebView*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(window, message, wParam, lParam);
  switch (message) {
    case WM_ERASEBKGND: {
      // Both the view and the page's host show the artwork under them.
      RECT r;
      GetClientRect(window, &r);
      DrawBackgroundPart(reinterpret_cast<HDC>(wParam), self->background_, self->origin_, r.right, r.bottom);
      return 1;
    }
    case WM_DESTROY:
      // The control goes while its windows still exist.
      if (window == self->window_) self->DestroyBrowser();
      break;
    case WM_NCDESTROY:
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      if (window == self->window_) self->window_ = nullptr;
      if (window == self->page_) self->page_ = nullptr;
      break;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace launcher::win32
