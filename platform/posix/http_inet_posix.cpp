// libcurl in place of WinInet. The multi interface lets the caller pull the
// body block by block, as InternetReadFile does, instead of being pushed.
#include <curl/curl.h>

#include <cstdio>
#include <cstring>

#include "platform/http_inet.h"
#include "platform/posix/curl_session.h"

namespace plat {

namespace {

// Close to WinInet's own defaults, which the Windows build leaves in force.
constexpr long kConnectTimeoutSeconds = 60;
constexpr long kStallSeconds = 30;

}  // namespace

struct InetRequest::Impl {
  CURL* easy = nullptr;
  CURLM* multi = nullptr;
  curl_slist* headers = nullptr;
  std::string pending;  // body bytes received and not yet read
  size_t pendingPos = 0;
  bool headEnded = false;
  bool finished = false;
  CURLcode result = CURLE_OK;
  int32_t contentLength = -1;

  ~Impl() { CloseAll(); }

  void CloseAll() {
    if (multi && easy) curl_multi_remove_handle(multi, easy);
    if (easy) curl_easy_cleanup(easy);
    if (multi) curl_multi_cleanup(multi);
    if (headers) curl_slist_free_all(headers);
    easy = nullptr;
    multi = nullptr;
    headers = nullptr;
    pending.clear();
    pendingPos = 0;
    headEnded = finished = false;
    result = CURLE_OK;
    contentLength = -1;
  }

  static size_t OnHeader(char* data, size_t size, size_t count, void* self) {
    const size_t n = size * count;
    // The blank line that ends the head.
    if ((n == 2 && data[0] == '\r' && data[1] == '\n') || (n == 1 && data[0] == '\n')) {
      static_cast<Impl*>(self)->headEnded = true;
    }
    return n;
  }

  static size_t OnBody(char* data, size_t size, size_t count, void* self) {
    Impl* impl = static_cast<Impl*>(self);
    impl->pending.append(data, size * count);
    return size * count;
  }

  bool Start(const std::string& url, bool relaxedSecurity) {
    CloseAll();
    easy = curl_easy_init();
    multi = curl_multi_init();
    if (!easy || !multi) return false;
    headers = curl_slist_append(headers, "Pragma: no-cache");
    headers = curl_slist_append(headers, "Cache-Control: no-cache");
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
    curl_easy_setopt(easy, CURLOPT_USERAGENT, kInetAgentName);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_NOPROXY, "127.0.0.1,localhost");
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, 16384L);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, kStallSeconds);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Impl::OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Impl::OnBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    if (relaxedSecurity) {
      curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 0L);
      curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L);
    }
    return curl_multi_add_handle(multi, easy) == CURLM_OK;
  }

  // Moves the transfer on once, waiting up to a second for the socket.
  void Pump() {
    int running = 0;
    if (curl_multi_perform(multi, &running) != CURLM_OK) {
      finished = true;
      result = CURLE_RECV_ERROR;
      return;
    }
    if (running == 0) {
      int left = 0;
      while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
        if (msg->msg == CURLMSG_DONE) result = msg->data.result;
      }
      finished = true;
      return;
    }
    curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
  }

  // Runs until the head has ended or the transfer is over.
  bool AwaitHead() {
    while (!headEnded && !finished) Pump();
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    return status != 0 && (headEnded || result == CURLE_OK);
  }
};

InetRequest::InetRequest() : impl_(std::make_unique<Impl>()) {}

InetRequest::~InetRequest() = default;

void InetRequest::Close() { impl_->CloseAll(); }

int32_t InetRequest::ContentLength() const { return impl_->contentLength; }

bool InetRequest::Open(const std::string& host, uint16_t port, const std::string& path, bool secure,
                       InetOpenReport* report) {
  *report = InetOpenReport{};
  report->requestFlags = secure ? kInetRequestFlagsSecure : kInetRequestFlags;
  auto fail = [report](InetStep step, uint32_t error) {
    report->failedAt = step;
    report->error = error;
    return false;
  };
  if (!StartCurl()) return fail(InetStep::kInternetOpen, CURLE_FAILED_INIT);

  char url[8192];
  const int n = snprintf(url, sizeof(url), "%s://%s:%u%s", secure ? "https" : "http", host.c_str(),
                         static_cast<unsigned>(port), path.c_str());
  if (n < 0 || static_cast<size_t>(n) >= sizeof(url)) return fail(InetStep::kOpenRequest, CURLE_URL_MALFORMAT);

  if (!impl_->Start(url, false)) return fail(InetStep::kOpenRequest, CURLE_FAILED_INIT);
  if (!impl_->AwaitHead()) {
    // Like the WinInet path: one more try with certificate checks relaxed.
    report->firstSendFailed = true;
    report->firstSendError = static_cast<uint32_t>(impl_->result);
    if (!impl_->Start(url, true)) return fail(InetStep::kSecurityOption, CURLE_FAILED_INIT);
    if (!impl_->AwaitHead()) return fail(InetStep::kSendSecure, static_cast<uint32_t>(impl_->result));
  }

  long status = 0;
  if (curl_easy_getinfo(impl_->easy, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK) {
    return fail(InetStep::kQueryStatus, CURLE_BAD_FUNCTION_ARGUMENT);
  }
  report->statusCode = static_cast<uint32_t>(status);
  if (status != 200) return fail(InetStep::kStatus, 0);

  curl_off_t length = -1;
  if (curl_easy_getinfo(impl_->easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK || length < 0 ||
      length > INT32_MAX) {
    length = -1;
  }
  impl_->contentLength = static_cast<int32_t>(length);
  return true;
}

int32_t InetRequest::Read(void* buffer, uint32_t size) {
  Impl& impl = *impl_;
  if (!impl.easy) return -1;
  while (impl.pendingPos == impl.pending.size() && !impl.finished) {
    impl.pending.clear();
    impl.pendingPos = 0;
    impl.Pump();
  }
  const size_t available = impl.pending.size() - impl.pendingPos;
  if (available > 0) {
    const size_t n = available < size ? available : size;
    memcpy(buffer, impl.pending.data() + impl.pendingPos, n);
    impl.pendingPos += n;
    return static_cast<int32_t>(n);
  }
  return impl.result == CURLE_OK ? 0 : -1;
}

}  // namespace plat
