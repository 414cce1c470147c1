// libcurl in place of WinInet. The multi interface lets the caller pull the
// body block by block, as InternetReadFile does, instead of being pushed.
#include <curl/curl.h>

#include <strings.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "platform/http_inet.h"
#include "platform/posix/curl_session.h"

namespace plat {

namespace {

// Close to WinInet's own defaults, for a request that was given no limits.
constexpr uint32_t kDefaultReceiveMs = 30000;
constexpr long kConnectTimeoutSeconds = 60;

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
  uint32_t receiveMs = kDefaultReceiveMs;
  AbortCheck abort;
  // The response being read: its status and whether it named a Location,
  // so the head of a redirect that libcurl follows is not taken as the end
  // of the final head.
  long headStatus = 0;
  bool headLocation = false;
  int32_t headBytes = 0;

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
    headStatus = 0;
    headLocation = false;
    headBytes = 0;
  }

  static size_t OnHeader(char* data, size_t size, size_t count, void* self) {
    Impl* impl = static_cast<Impl*>(self);
    const size_t n = size * count;
    impl->headBytes += static_cast<int32_t>(n);
    if (impl->headBytes > kHttpHeadLimitBytes) return 0;  // ends the transfer as a failure
    const std::string line(data, n);
    if (line.compare(0, 5, "HTTP/") == 0) {
      const size_t blank = line.find(' ');
      impl->headStatus = blank == std::string::npos ? 0 : strtol(line.c_str() + blank + 1, nullptr, 10);
      impl->headLocation = false;
    } else if (line.size() >= 9 && strncasecmp(line.c_str(), "location:", 9) == 0) {
      impl->headLocation = true;
    } else if (line == "\r\n" || line == "\n") {
      // The blank line that ends a head; an interim answer or a redirect
      // that is followed has another head after it.
      const bool interim = impl->headStatus >= 100 && impl->headStatus < 200;
      const bool followed = impl->headStatus >= 300 && impl->headStatus < 400 && impl->headLocation;
      if (!interim && !followed) impl->headEnded = true;
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
    if (receiveMs != 0) curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(receiveMs));
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, static_cast<long>(receiveMs == 0 ? 30 : (receiveMs + 999) / 1000));
    // WinInet follows redirects unless told not to; so does this client, a
    // bounded number of times.
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kHttpMaxRedirects);
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

  void Fail(CURLcode code) {
    finished = true;
    result = code;
  }

  // Moves the transfer on once, waiting up to kAbortPollMs for the socket.
  void Pump() {
    if (abort && abort()) return Fail(CURLE_ABORTED_BY_CALLBACK);
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
    curl_multi_poll(multi, nullptr, 0, static_cast<int>(kAbortPollMs), nullptr);
  }

  // Runs until the head has ended or the transfer is over; the whole head,
  // connection included, must come within the receive time-out.
  bool AwaitHead() {
    const auto start = std::chrono::steady_clock::now();
    while (!headEnded && !finished) {
      Pump();
      if (receiveMs != 0 && !headEnded && !finished &&
          std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(receiveMs)) {
        Fail(CURLE_OPERATION_TIMEDOUT);
      }
    }
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    return status != 0 && (headEnded || result == CURLE_OK);
  }
};

InetRequest::InetRequest() : impl_(std::make_unique<Impl>()) {}

InetRequest::~InetRequest() = default;

void InetRequest::Close() { impl_->CloseAll(); }

void InetRequest::SetLimits(uint32_t receiveMs, AbortCheck abort) {
  impl_->receiveMs = receiveMs;
  impl_->abort = std::move(abort);
}

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
    if (impl_->abort && impl_->abort()) return fail(InetStep::kSendSecure, static_cast<uint32_t>(impl_->result));
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
