#include <windows.h>
#include <wininet.h>

#include "platform/http_inet.h"

#include <cstring>
#include <utility>
#include <vector>

#include "platform/win32/call_worker.h"

namespace plat {

namespace {

// The handles of one request and what its calls return. The worker's job
// holds them too, so a call left behind closes them itself once it returns.
struct Handles {
  HINTERNET internet = nullptr;
  HINTERNET connection = nullptr;
  HINTERNET request = nullptr;
  int32_t contentLength = -1;
  InetOpenReport report;
  std::vector<char> buffer;
  bool opened = false;
  DWORD got = 0;
  bool readOk = false;

  Handles() = default;
  Handles(const Handles&) = delete;
  Handles& operator=(const Handles&) = delete;
  ~Handles() {
    if (request) ::InternetCloseHandle(request);
    if (connection) ::InternetCloseHandle(connection);
    if (internet) ::InternetCloseHandle(internet);
  }
};

bool OpenOnWorker(Handles& h, const std::string& host, uint16_t port, const std::string& path, bool secure,
                  uint32_t receiveMs) {
  InetOpenReport* report = &h.report;
  const DWORD flags = secure ? kInetRequestFlagsSecure : kInetRequestFlags;
  report->requestFlags = flags;
  auto fail = [report](InetStep step, DWORD error) {
    report->failedAt = step;
    report->error = error;
    return false;
  };

  h.internet = ::InternetOpenA(kInetAgentName, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (!h.internet) return fail(InetStep::kInternetOpen, ::GetLastError());
  if (receiveMs != 0) {
    // The client's own bounds end a call left behind; the waiting thread
    // does not rely on them.
    DWORD ms = receiveMs;
    for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT}) {
      ::InternetSetOptionA(h.internet, option, &ms, sizeof(ms));
    }
  }
  h.connection = ::InternetConnectA(h.internet, host.c_str(), port, "", "", INTERNET_SERVICE_HTTP, 0, 0);
  if (!h.connection) return fail(InetStep::kConnect, ::GetLastError());
  const char* acceptTypes[] = {"*/*", nullptr};
  h.request = ::HttpOpenRequestA(h.connection, "GET", path.c_str(), "HTTP/1.0", "", acceptTypes, flags, 0);
  if (!h.request) return fail(InetStep::kOpenRequest, ::GetLastError());

  if (!::HttpSendRequestA(h.request, nullptr, 0, nullptr, 0)) {
    report->firstSendFailed = true;
    report->firstSendError = ::GetLastError();
    DWORD relaxed = flags + kInetSecurityRetryBits;
    if (!::InternetSetOptionA(h.request, INTERNET_OPTION_SECURITY_FLAGS, &relaxed, sizeof(relaxed))) {
      return fail(InetStep::kSecurityOption, ::GetLastError());
    }
    if (!::HttpSendRequestA(h.request, nullptr, 0, nullptr, 0)) {
      return fail(InetStep::kSendSecure, ::GetLastError());
    }
  }

  DWORD status = 0;
  DWORD size = sizeof(status);
  if (!::HttpQueryInfoA(h.request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr)) {
    return fail(InetStep::kQueryStatus, ::GetLastError());
  }
  report->statusCode = status;
  if (status != 200) return fail(InetStep::kStatus, 0);

  DWORD length = 0;
  size = sizeof(length);
  h.contentLength =
      ::HttpQueryInfoA(h.request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &length, &size, nullptr)
          ? static_cast<int32_t>(length)
          : -1;
  return true;
}

}  // namespace

struct InetRequest::Impl {
  std::shared_ptr<Handles> handles;
  CallWorker worker;
  uint32_t receiveMs = 0;
  AbortCheck abort;

  // Runs `job` on the worker; false when the wait was given up, and then
  // the request's handles stay with the call left behind.
  bool Run(std::function<void()> job, uint32_t limitMs) {
    if (worker.Run(std::move(job), abort, limitMs)) return true;
    handles.reset();
    return false;
  }
};

InetRequest::InetRequest() : impl_(std::make_unique<Impl>()) {}

InetRequest::~InetRequest() { Close(); }

void InetRequest::Close() { impl_->handles.reset(); }

void InetRequest::SetLimits(uint32_t receiveMs, AbortCheck abort) {
  impl_->receiveMs = receiveMs;
  impl_->abort = std::move(abort);
}

int32_t InetRequest::ContentLength() const { return impl_->handles ? impl_->handles->contentLength : -1; }

bool InetRequest::Open(const std::string& host, uint16_t port, const std::string& path, bool secure,
                       InetOpenReport* report) {
  Close();
  *report = InetOpenReport{};
  report->requestFlags = secure ? kInetRequestFlagsSecure : kInetRequestFlags;
  auto handles = std::make_shared<Handles>();
  impl_->handles = handles;
  const uint32_t receiveMs = impl_->receiveMs;
  // Connecting and the whole head, each within the receive time-out.
  const bool returned = impl_->Run(
      [handles, host, port, path, secure, receiveMs] {
        handles->opened = OpenOnWorker(*handles, host, port, path, secure, receiveMs);
      },
      2 * receiveMs);
  if (!returned) {
    // Reported as WinInet reports a send whose answer never came.
    report->failedAt = InetStep::kSendSecure;
    report->error = ERROR_INTERNET_TIMEOUT;
    return false;
  }
  *report = handles->report;
  return handles->opened;
}

int32_t InetRequest::Read(void* buffer, uint32_t size) {
  if (!impl_->handles || !impl_->handles->request || (impl_->abort && impl_->abort())) return -1;
  std::shared_ptr<Handles> handles = impl_->handles;
  if (handles->buffer.size() < size) handles->buffer.resize(size);
  // A read waits until the whole block has come, however many receives
  // that takes; WinInet bounds each receive, and the waiting thread only
  // the stop and the caller's bounds, so a slow server that still sends is
  // not cut off.
  if (!impl_->Run(
          [handles, size] {
            handles->got = 0;
            handles->readOk = ::InternetReadFile(handles->request, handles->buffer.data(), size, &handles->got) != 0;
          },
          0)) {
    return -1;
  }
  if (!handles->readOk) return -1;
  memcpy(buffer, handles->buffer.data(), handles->got);
  return static_cast<int32_t>(handles->got);
}

}  // namespace plat
