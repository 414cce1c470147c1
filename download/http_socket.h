// HTTP/1.0 GET over a plain TCP socket, the one transfer that resumes a
// partial local file with a Range request.
//
// Every call runs on the calling thread and owns its socket alone. Each
// connection carries one request ("Connection: Close") and the body is read
// until the server closes it. Connect and each receive are bounded by the
// time-outs below, so a dead or stalled server ends the transfer instead of
// holding the download thread for ever.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "download/fetch_result.h"
#include "download/local_file.h"
#include "platform/socket.h"

// Time-outs of the socket transfer, process-wide. Connecting to a patch
// server that answers at all takes well under a second, so 20 s only runs
// out for a host that is gone; 60 s without a single byte means the server
// or the route has stalled, and the fetch procedure's next attempt resumes.
constexpr uint32_t kDefaultConnectTimeoutMs = 20000;
constexpr uint32_t kDefaultReceiveTimeoutMs = 60000;
void SetSocketTimeouts(uint32_t connectMs, uint32_t receiveMs);
uint32_t SocketConnectTimeoutMs();
uint32_t SocketReceiveTimeoutMs();

// Limits of one transfer.
constexpr int32_t kHttpLineSize = 4096;  // one head line and its terminator

class CHttpSocket {
 public:
  // Creates a fresh IPv4 stream socket, closing any held before.
  bool Open();
  void Close();
  bool IsOpen() const { return socket_.IsOpen(); }
  // Binds to any local address and the port; false without a socket.
  bool Bind(uint16_t port);
  // Resolves a host name when it is not a dotted address; false without a
  // socket, on a failed resolution, refusal or connect time-out.
  bool Connect(const std::string& host, uint16_t port);
  // Sends all bytes: length, 0 when length < 1, or -1 (no socket, no data,
  // or a send that moved nothing).
  int32_t SendAll(const void* data, int32_t length);
  // One receive: the count, 0 when the server closed, -1 on failure, on the
  // receive time-out (or the one given), when the transfer is canceled or
  // its fetch gave up, or without a socket.
  int32_t Receive(void* buffer, int32_t length);
  int32_t Receive(void* buffer, int32_t length, uint32_t timeoutMs);

 private:
  plat::TcpSocket socket_;
};

// Connects to the URL's host and port, sends the request and reads the
// response head. A body (and contentLength) makes it a POST with a text
// body; otherwise a GET, with "Range: bytes=N-" when *resumeOffset > 0 (a
// negative offset becomes 0). On false the socket is closed.
bool SendHttpGet(CHttpSocket& socket, const std::string& url, const std::string* body, int32_t* contentLength,
                 int32_t* resumeOffset);

// Reads the status line and the headers, one byte per receive so no body
// byte is taken. True for a 200 answer, and for a 206 that names its
// Content-Range when resumeOffset is given. *contentLength gets the
// Content-Length (-1 when there is none); *resumeOffset the first byte of
// the Content-Range (0 when there is none). Header names are matched with
// their letter case. A header line longer than the line buffer is skipped
// whole. A head larger than plat::kHttpHeadLimitBytes (64 KiB) fails, and
// so does one that has not ended within the receive time-out: that time
// counts for the whole head, not for each byte.
bool ReadHttpResponseHead(CHttpSocket& socket, int32_t* contentLength, int32_t* resumeOffset);
// The same over any source of bytes that answers like CHttpSocket::Receive
// (a buffer, for the fuzz target).
using HeadReceive = std::function<int32_t(void* buffer, int32_t length)>;
bool ParseHttpResponseHead(const HeadReceive& receive, int32_t* contentLength, int32_t* resumeOffset);

// Fetches `url` into `localPath`; with `resume` set, a partial file already
// there is continued from its last byte. Returns a fetch result code. An
// https URL is refused with kFetchOpenFailed before any connection.
int32_t GetFileBySocket(const std::string& url, int32_t resume, const std::string& localPath,
                        const TransferProgress& progress);
