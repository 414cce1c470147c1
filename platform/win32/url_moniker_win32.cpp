#include <windows.h>
#include <urlmon.h>

#include <atomic>
#include <memory>
#include <string>

#include "platform/file_system.h"
#include "platform/url_moniker.h"
#include "platform/win32/call_worker.h"

namespace plat {

namespace {

// One download's state, shared by the waiting thread and the call. Its side
// file is removed by whoever lets go of it last, so a download left behind
// takes its side file with it.
struct Download {
  std::string path;
  HRESULT result = E_FAIL;
  std::atomic<ULONG> bodyBytes{0};
  std::atomic<bool> leftBehind{false};
  explicit Download(std::string p) : path(std::move(p)) {}
  Download(const Download&) = delete;
  Download& operator=(const Download&) = delete;
  ~Download() { RemoveFile(path); }
};

// Hears the call's progress on the thread that runs it: counts the body
// bytes for the waiting thread, and once that thread has left the call
// behind, asks the moniker to end the download at its next report.
class ProgressCallback final : public IBindStatusCallback {
 public:
  explicit ProgressCallback(std::shared_ptr<Download> download) : download_(std::move(download)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IBindStatusCallback)) {
      *out = static_cast<IBindStatusCallback*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

  HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG, ULONG status, LPCWSTR) override {
    if (status == BINDSTATUS_DOWNLOADINGDATA || status == BINDSTATUS_ENDDOWNLOADDATA) {
      download_->bodyBytes.store(progress);
    }
    return download_->leftBehind.load() ? E_ABORT : S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* flags, BINDINFO*) override {
    // The moniker's own way of binding a download to a file stands.
    *flags = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD, IBinding*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetPriority(LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnLowResource(DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT, LPCWSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }

 private:
  ~ProgressCallback() = default;
  std::atomic<ULONG> refs_{1};
  std::shared_ptr<Download> download_;
};

std::atomic<uint32_t> g_sideFileCount{0};

}  // namespace

bool UrlDownloadToFile(const std::string& url, const std::string& localPath, const AbortCheck& abort,
                       const std::function<void()>& bodyArrived) {
  // Each download has a side file of its own: one left behind by a stop may
  // still be writing while the next attempt runs.
  auto download = std::make_shared<Download>(localPath + ".moniker" + std::to_string(::GetCurrentProcessId()) + "." +
                                             std::to_string(++g_sideFileCount));
  ULONG seen = 0;
  const AbortCheck watch = [&download, &seen, &bodyArrived, &abort] {
    const ULONG now = download->bodyBytes.load();
    if (now != seen) {
      seen = now;
      if (bodyArrived) bodyArrived();
    }
    return abort && abort();
  };
  CallWorker worker;
  if (!worker.Run(
          [download, url] {
            ProgressCallback* callback = new ProgressCallback(download);
            download->result = ::URLDownloadToFileA(nullptr, url.c_str(), download->path.c_str(), 0, callback);
            callback->Release();
          },
          watch, 0)) {
    download->leftBehind = true;
    return false;
  }
  return download->result == S_OK && MoveReplace(download->path, localPath);
}

}  // namespace plat
