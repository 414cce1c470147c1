#include <windows.h>
#include <wininet.h>

#include "platform/http_inet.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

namespace plat {

struct InetRequest::Impl {
  HINTERNET internet = nullptr;
  HINTERNET connection = nullptr;
  HINTERNET request = nullptr;
  int32_t contentLength = -1;
  DWORD receiveMs = 0;
  AbortCheck abort;

  // WinInet reads the whole response head inside HttpSendRequest and its
  // time-outs apply to each receive, so a server that keeps sending header
  // lines, or a stop, would not end it. A watch thread closes the handles
  // instead, which ends a blocking call on them; it watches while a request
  // is open, the head deadline only until the head is in.
  std::thread watch;
  std::mutex watchLock;
  std::condition_variable watchWake;
  bool watchEnd = false;
  bool headIn = false;
  bool closedByWatch = false;

  void StartWatch() {
    watchEnd = headIn = closedByWatch = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(receiveMs);
    watch = std::thread([this, deadline] {
      std::unique_lock<std::mutex> lock(watchLock);
      while (!watchEnd) {
        watchWake.wait_for(lock, std::chrono::milliseconds(kAbortPollMs));
        if (watchEnd) break;
        const bool late = receiveMs != 0 && !headIn && std::chrono::steady_clock::now() >= deadline;
        if (late || (abort && abort())) {
          // The request first: that is the handle whose call is blocked.
          ::InternetCloseHandle(request);
          ::InternetCloseHandle(connection);
          ::InternetCloseHandle(internet);
          closedByWatch = true;
          break;
        }
      }
    });
  }

  void HeadIn() {
    std::lock_guard<std::mutex> lock(watchLock);
    headIn = true;
  }

  void StopWatch() {
    if (!watch.joinable()) return;
    {
      std::lock_guard<std::mutex> lock(watchLock);
      watchEnd = true;
    }
    watchWake.notify_all();
    watch.join();
  }

  void CloseAll() {
    StopWatch();
    if (!closedByWatch) {
      if (request) ::InternetCloseHandle(request);
      if (connection) ::InternetCloseHandle(connection);
      if (internet) ::InternetCloseHandle(internet);
    }
    request = connection = internet = nullptr;
    closedByWatch = false;
  }
};

InetRequest::InetRequest() : impl_(std::make_unique<Impl>()) {}

InetRequest::~InetRequest() { Close(); }

void InetRequest::Close() { impl_->CloseAll(); }

void InetRequest::SetLimits(uint32_t receiveMs, AbortCheck abort) {
  impl_->receiveMs = receiveMs;
  impl_->abort = std::move(abort);
}

int32_t InetRequest::ContentLength() const { return impl_->contentLength; }

bool InetRequest::Open(const std::string& host, uint16_t port, const std::string& path, bool secure,
                       InetOpenReport* report) {
  Close();
  *report = InetOpenReport{};
  const DWORD flags = secure ? kInetRequestFlagsSecure : kInetRequestFlags;
  report->requestFlags = flags;
  auto fail = [report](InetStep step, DWORD error) {
    report->failedAt = step;
    report->error = error;
    return false;
  };

  impl_->internet = ::InternetOpenA(kInetAgentName, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (!impl_->internet) return fail(InetStep::kInternetOpen, ::GetLastError());
  if (impl_->receiveMs != 0) {
    // Children of the session handle inherit these.
    DWORD ms = impl_->receiveMs;
    for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT}) {
      ::InternetSetOptionA(impl_->internet, option, &ms, sizeof(ms));
    }
  }
  impl_->connection =
      ::InternetConnectA(impl_->internet, host.c_str(), port, "", "", INTERNET_SERVICE_HTTP, 0, 0);
  if (!impl_->connection) return fail(InetStep::kConnect, ::GetLastError());
  const char* acceptTypes[] = {"*/*", nullptr};
  impl_->request =
      ::HttpOpenRequestA(impl_->connection, "GET", path.c_str(), "HTTP/1.0", "", acceptTypes, flags, 0);
  if (!impl_->request) return fail(InetStep::kOpenRequest, ::GetLastError());
  impl_->StartWatch();

  if (!::HttpSendRequestA(impl_->request, nullptr, 0, nullptr, 0)) {
    report->firstSendFailed = true;
    report->firstSendError = ::GetLastError();
    DWORD relaxed = flags + kInetSecurityRetryBits;
    if (!::InternetSetOptionA(impl_->request, INTERNET_OPTION_SECURITY_FLAGS, &relaxed, sizeof(relaxed))) {
      return fail(InetStep::kSecurityOption, ::GetLastError());
    }
    if (!::HttpSendRequestA(impl_->request, nullptr, 0, nullptr, 0)) {
      return fail(InetStep::kSendSecure, ::GetLastError());
    }
  }

  impl_->HeadIn();
  DWORD status = 0;
  DWORD size = sizeof(status);
  if (!::HttpQueryInfoA(impl_->request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr)) {
    return fail(InetStep::kQueryStatus, ::GetLastError());
  }
  report->statusCode = status;
  if (status != 200) return fail(InetStep::kStatus, 0);

  DWORD length = 0;
  size = sizeof(length);
  impl_->contentLength =
      ::HttpQueryInfoA(impl_->request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &length, &size, nullptr)
          ? static_cast<int32_t>(length)
          : -1;
  return true;
}

int32_t InetRequest::Read(void* buffer, uint32_t size) {
  if (!impl_->request || (impl_->abort && impl_->abort())) return -1;
  DWORD got = 0;
  if (!::InternetReadFile(impl_->request, buffer, size, &got)) return -1;
  return static_cast<int32_t>(got);
}

}  // namespace plat
