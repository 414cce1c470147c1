#include <windows.h>
#include <wininet.h>

#include "platform/http_inet.h"

#include <utility>

namespace plat {

struct InetRequest::Impl {
  HINTERNET internet = nullptr;
  HINTERNET connection = nullptr;
  HINTERNET request = nullptr;
  int32_t contentLength = -1;
  AbortCheck abort;

  void CloseAll() {
    if (request) ::InternetCloseHandle(request);
    if (connection) ::InternetCloseHandle(connection);
    if (internet) ::InternetCloseHandle(internet);
    request = connection = internet = nullptr;
  }
};

InetRequest::InetRequest() : impl_(std::make_unique<Impl>()) {}

InetRequest::~InetRequest() { Close(); }

void InetRequest::Close() { impl_->CloseAll(); }

void InetRequest::SetLimits(uint32_t /*receiveMs*/, AbortCheck abort) { impl_->abort = std::move(abort); }

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
  impl_->connection =
      ::InternetConnectA(impl_->internet, host.c_str(), port, "", "", INTERNET_SERVICE_HTTP, 0, 0);
  if (!impl_->connection) return fail(InetStep::kConnect, ::GetLastError());
  const char* acceptTypes[] = {"*/*", nullptr};
  impl_->request =
      ::HttpOpenRequestA(impl_->connection, "GET", path.c_str(), "HTTP/1.0", "", acceptTypes, flags, 0);
  if (!impl_->request) return fail(InetStep::kOpenRequest, ::GetLastError());

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
