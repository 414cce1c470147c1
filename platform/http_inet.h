// One HTTP GET through the system's HTTP client: WinInet on Windows,
// libcurl elsewhere. The request is HTTP/1.0, bypasses every cache, uses TLS
// when asked to, and accepts only status 200. The body is then read in
// blocks.
//
// Logging belongs to the caller: Open reports which step failed and the
// system error code so the caller can write its own lines. One request
// belongs to one thread; its handles are closed by Close or the destructor,
// in the order request, connection, session, or, for a call the waiting
// thread left (SetLimits), by that call's thread once it returns.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/abort_check.h"

namespace plat {

// Request flags: reload, no cache write, keep connection, pragma no-cache;
// the secure variant adds TLS.
constexpr uint32_t kInetRequestFlags = 0x84400100u;
constexpr uint32_t kInetRequestFlagsSecure = 0x84C00100u;
// Added to the request flags for the one retry after a failed send: ignore
// redirects between HTTP and HTTPS and certificate date, name, authority and
// revocation problems.
constexpr uint32_t kInetSecurityRetryBits = 0xF180u;
// The most a response head may take, status line and headers: a server that
// sends header lines without end fails the request instead of holding it.
// 64 KiB is far more than any real patch server sends.
constexpr int32_t kHttpHeadLimitBytes = 65536;
// Redirects the libcurl transport follows, as WinInet does by default.
constexpr long kHttpMaxRedirects = 5;
// The agent name the session presents.
constexpr const char* kInetAgentName = "Dovra";

// Where opening a request stopped.
enum class InetStep {
  kDone,            // opened: status 200
  kInternetOpen,    // the session could not be opened
  kConnect,         // the connection handle could not be made
  kOpenRequest,     // the request handle could not be made
  kSecurityOption,  // the send failed and the security flags could not be set
  kSendSecure,      // the send failed twice, the second time with relaxed security
  kQueryStatus,     // the status code could not be read
  kStatus,          // the status code was not 200
};

struct InetOpenReport {
  InetStep failedAt = InetStep::kDone;
  uint32_t error = 0;            // system error code of the failed step
  bool firstSendFailed = false;  // the first send failed and was retried
  uint32_t firstSendError = 0;   // its error code
  uint32_t statusCode = 0;       // the status code when it was read
  uint32_t requestFlags = 0;     // the flags the request was opened with
};

class InetRequest {
 public:
  InetRequest();
  ~InetRequest();
  InetRequest(const InetRequest&) = delete;
  InetRequest& operator=(const InetRequest&) = delete;

  // Bounds for the next Open and its reads: connecting, the whole response
  // head and each wait for body bytes get `receiveMs` (0: the client's
  // defaults); `abort` ends a wait as a failure, asked at least every
  // kAbortPollMs. WinInet's calls run on a thread of the request's own, so
  // the waiting thread can leave one that `abort` ends or that overruns
  // (Open: twice `receiveMs`, for connecting and the head; a read's
  // receives are WinInet's to bound); the call left behind ends at
  // WinInet's own time-out and takes the handles with it.
  void SetLimits(uint32_t receiveMs, AbortCheck abort);
  // GET of `path` (as is) from host:port; TLS when `secure`. True only for a
  // status of 200; `report` tells where it stopped otherwise.
  bool Open(const std::string& host, uint16_t port, const std::string& path, bool secure, InetOpenReport* report);
  // The numeric Content-Length of the open response; -1 when it has none.
  int32_t ContentLength() const;
  // Up to `size` body bytes: the count, 0 at the end of the body, -1 when
  // the connection broke (a body shorter than its Content-Length included).
  int32_t Read(void* buffer, uint32_t size);
  // Ends the request at once, finished or not.
  void Close();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace plat
