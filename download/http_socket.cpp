#include "download/http_socket.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

#include "download/http_url.h"
#include "platform/clock.h"
#include "platform/http_inet.h"
#include "download/local_file.h"
#include "engine/patch_log.h"
#include "platform/debug_output.h"
#include "platform/path.h"

namespace {

std::atomic<uint32_t> g_connectTimeoutMs{kDefaultConnectTimeoutMs};
std::atomic<uint32_t> g_receiveTimeoutMs{kDefaultReceiveTimeoutMs};

constexpr char kFixedHeaders[] =
    " HTTP/1.0\r\nConnection: Close\r\nUser-Agent: Mozilla/4.0 (compatible; MSIE 5.0; Orvane)\r\nHost: ";

// The decimal number at the start of `text` (after blanks and a sign, like
// atoi), held to the 32-bit range instead of overflowing.
int32_t ParseDecimal(const char* text) {
  while (*text == ' ' || *text == '\t') ++text;
  bool negative = false;
  if (*text == '+' || *text == '-') negative = *text++ == '-';
  int64_t value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    value = value * 10 + (*text - '0');
    if (value > INT32_MAX) {
      value = INT32_MAX;
      break;
    }
  }
  return static_cast<int32_t>(negative ? -value : value);
}


void SendText(CHttpSocket& socket, const char* text) { socket.SendAll(text, static_cast<int32_t>(strlen(text))); }

}  // namespace

void SetSocketTimeouts(uint32_t connectMs, uint32_t receiveMs) {
  g_connectTimeoutMs = connectMs;
  g_receiveTimeoutMs = receiveMs;
}
uint32_t SocketConnectTimeoutMs() { return g_connectTimeoutMs; }
uint32_t SocketReceiveTimeoutMs() { return g_receiveTimeoutMs; }

bool CHttpSocket::Open() {
  // Every wait of the transfer ends within plat::kAbortPollMs of a stop or
  // of the fetch giving up, not at its own time-out.
  socket_.SetAbortCheck(&ShouldAbortTransfer);
  return socket_.Open();
}

void CHttpSocket::Close() { socket_.Close(); }

bool CHttpSocket::Bind(uint16_t port) { return socket_.IsOpen() && socket_.Bind(port); }

bool CHttpSocket::Connect(const std::string& host, uint16_t port) {
  return socket_.IsOpen() && socket_.Connect(host, port, g_connectTimeoutMs);
}

int32_t CHttpSocket::SendAll(const void* data, int32_t length) {
  if (!socket_.IsOpen() || data == nullptr) return -1;
  if (length < 1) return 0;
  const char* bytes = static_cast<const char*>(data);
  for (int32_t sent = 0; sent < length;) {
    const int32_t n = socket_.Send(bytes + sent, length - sent);
    if (n < 1) return -1;
    sent += n;
  }
  return length;
}

int32_t CHttpSocket::Receive(void* buffer, int32_t length) { return Receive(buffer, length, g_receiveTimeoutMs); }

int32_t CHttpSocket::Receive(void* buffer, int32_t length, uint32_t timeoutMs) {
  if (!socket_.IsOpen()) return -1;
  return socket_.Receive(buffer, length, timeoutMs);
}

bool SendHttpGet(CHttpSocket& socket, const std::string& url, const std::string* body, int32_t* contentLength,
                 int32_t* resumeOffset) {
  std::string host;
  std::string path;
  const int32_t port = SplitHttpUrl(url, &host, &path);
  socket.Bind(0);
  if (!socket.Connect(host, static_cast<uint16_t>(port))) {
    socket.Close();
    return false;
  }

  const bool post = body != nullptr && contentLength != nullptr;
  SendText(socket, post ? "POST " : "GET ");
  socket.SendAll(path.data(), static_cast<int32_t>(path.size()));
  SendText(socket, kFixedHeaders);
  socket.SendAll(host.data(), static_cast<int32_t>(host.size()));
  char line[96];
  if (post) {
    snprintf(line, sizeof(line), "\r\nContent-Type: text/plain\r\nContent-Length: %d", static_cast<int>(body->size()));
    SendText(socket, line);
  } else if (resumeOffset != nullptr) {
    if (*resumeOffset < 0) *resumeOffset = 0;
    if (*resumeOffset > 0) {
      snprintf(line, sizeof(line), "\r\nRange: bytes=%d-", *resumeOffset);
      SendText(socket, line);
      plat::OutputDebugText(line);
    }
  }
  SendText(socket, "\r\n\r\n");
  if (post) socket.SendAll(body->data(), static_cast<int32_t>(body->size()));

  if (ReadHttpResponseHead(socket, contentLength, resumeOffset)) return true;
  socket.Close();
  return false;
}

bool ReadHttpResponseHead(CHttpSocket& socket, int32_t* contentLength, int32_t* resumeOffset) {
  // The whole head shares one receive time-out: a server that sends a
  // header line now and then must not hold the transfer for ever.
  const uint32_t start = plat::TickCount();
  const uint32_t limit = SocketReceiveTimeoutMs();
  const bool ok = ParseHttpResponseHead(
      [&](void* buffer, int32_t length) {
        const uint32_t waited = plat::TickCount() - start;
        if (limit != 0 && waited >= limit) return -1;
        return socket.Receive(buffer, length, limit == 0 ? 0 : limit - waited);
      },
      contentLength, resumeOffset);
  if (!ok && limit != 0 && plat::TickCount() - start >= limit) {
    LogWrite(kLogDetail, "The response head did not end within %u ms", static_cast<unsigned>(limit));
  }
  return ok;
}

bool ParseHttpResponseHead(const HeadReceive& receive, int32_t* contentLength, int32_t* resumeOffset) {
  if (contentLength != nullptr) *contentLength = -1;
  bool accepted = false;
  bool partial = false;
  bool named = false;  // a Content-Range was read
  int32_t rangeStart = 0;
  int32_t headBytes = 0;
  char line[kHttpLineSize];
  size_t used = 0;
  char byte = 0;
  int32_t got = 0;

  // The status line, CR included.
  for (;;) {
    got = receive(&byte, 1);
    if (got < 0) return false;
    ++headBytes;
    if (got == 0) break;
    if (byte == '\n') break;
    if (used == kHttpLineSize - 1) return false;
    line[used++] = byte;
  }
  line[used] = '\0';

  if (got > 0) {
    const char* space = strchr(line, ' ');
    if (space != nullptr) SetLastHttpStatus(ParseDecimal(space + 1));
    for (size_t i = 0; i < used; ++i) {
      if (line[i] != ' ') continue;
      const int32_t number = ParseDecimal(line + i + 1);
      if (number == 200) {
        accepted = true;
        rangeStart = 0;
      } else if (number == 206) {
        accepted = true;
        partial = true;
      } else {
        break;
      }
    }
  }

  if (accepted) {
    used = 0;
    bool overlong = false;
    // The status line counts as a line: a blank line right after it ends a
    // head that has no header at all.
    bool afterHeaderLine = true;
    for (;;) {
      got = receive(&byte, 1);
      if (got <= 0) break;
      if (++headBytes > plat::kHttpHeadLimitBytes) {
        LogWrite(kLogDetail, "The response head is longer than %d bytes", static_cast<int>(plat::kHttpHeadLimitBytes));
        return false;
      }
      if (byte == '\r') continue;
      if (byte != '\n') {
        if (used == kHttpLineSize - 1) {
          overlong = true;  // kept out of the buffer; the line is skipped
        } else {
          line[used++] = byte;
        }
        continue;
      }
      if (used == 0 && !overlong && afterHeaderLine) break;
      line[used] = '\0';
      if (!overlong) {
        if (used >= 14 && memcmp(line, "Content-Length", 14) == 0) {
          if (used > 14) {
            const char* digit = line + 14;
            while (*digit != '\0' && (*digit < '0' || *digit > '9')) ++digit;
            if (*digit != '\0' && contentLength != nullptr) *contentLength = ParseDecimal(digit);
          }
        } else if (used >= 21 && memcmp(line, "Content-Range: bytes ", 21) == 0) {
          // Only a first byte position places the part: "bytes -2" or
          // "bytes */100" would put it before the file or nowhere.
          named = line[21] >= '0' && line[21] <= '9';
          rangeStart = named ? ParseDecimal(line + 21) : 0;
        }
      }
      afterHeaderLine = true;
      used = 0;
      overlong = false;
    }
  }

  if (got < 0) return false;
  // A part of a file that does not say which part cannot be placed.
  if (partial && !named) return false;
  if (resumeOffset != nullptr) {
    *resumeOffset = rangeStart;
  } else if (partial) {
    accepted = false;
  }
  return accepted;
}

int32_t GetFileBySocket(const std::string& url, int32_t resume, const std::string& localPath,
                        const TransferProgress& progress) {
  LogWrite(kLogDetail, "Tried to getting file from http server by socket : URL [%s], LocalFile [%s], Continue [%s]",
           url.c_str(), localPath.c_str(), resume != 0 ? "YES" : "NO");
  SetLastHttpStatus(0);
  if (IsHttpsUrl(url)) {
    // TLS is the WinInet transfer's business; a plain socket would only
    // send the request in clear to a port that does not speak it.
    LogWrite(kLogDetail, "Socket transfer does not speak https : URL [%s]", url.c_str());
    return kFetchOpenFailed;
  }

  CHttpSocket socket;
  socket.Open();
  int32_t contentLength = 0;
  int32_t resumeOffset = 0;
  plat::File file;

  if (resume != 0 && file.Open(localPath, plat::File::kReadWrite, plat::File::kShareRead, plat::File::kOpenExisting)) {
    uint64_t size = 0;
    if (file.Size(&size) && size > 0 && size - 1 <= static_cast<uint64_t>(INT32_MAX)) {
      // The last byte on disk is fetched again.
      resumeOffset = static_cast<int32_t>(size - 1);
      file.Seek(-1, 2);
    } else {
      file.Close();
      LogWrite(kLogDetail, "Couldn't APIOpenFile file : %s", localPath.c_str());
    }
  }
  if (!file.IsOpen() && !FileCreate(localPath, &file)) {
    LogWrite(kLogError, "Failed to FileCreate file : %s", localPath.c_str());
    return kFetchOpenFailed;
  }

  int32_t requestedOffset = resumeOffset;
  if (!SendHttpGet(socket, url, nullptr, &contentLength, &resumeOffset)) {
    if (requestedOffset == 0 || LastHttpStatus() != 416) return kFetchOpenFailed;
    // The partial file is longer than the server's file: no range
    // of it will ever be served, so the file starts afresh.
    LogWrite(kLogError, "Range not satisfiable, the file is fetched afresh : %s", localPath.c_str());
    file.Seek(0, 0);
    file.Truncate();
    requestedOffset = resumeOffset = 0;
    socket.Open();
    if (!SendHttpGet(socket, url, nullptr, &contentLength, &resumeOffset)) return kFetchOpenFailed;
  }

  if (LacksRoomFor(contentLength, plat::FolderOf(localPath))) return DiskFullResult(file);

  if (resumeOffset == 0) {
    // A whole body replaces the file: whatever an older attempt left beyond
    // its end must not survive.
    file.Seek(0, 0);
    file.Truncate();
  } else if (resumeOffset != requestedOffset) {
    // The range starts elsewhere than asked; write it where it belongs, and
    // refuse a range that would leave a hole.
    if (resumeOffset > requestedOffset) {
      file.Close();
      LogWrite(kLogError, "Unexpected range start [%d] for offset [%d] : %s", resumeOffset, requestedOffset,
               localPath.c_str());
      return kFetchOpenFailed;
    }
    file.Seek(resumeOffset, 0);
  }

  const int64_t total = static_cast<int64_t>(contentLength) + resumeOffset;
  int64_t done = resumeOffset;
  bool readFailed = false;
  // The body ends at its announced length: bytes past it are no part of the
  // file, and a server that keeps the connection open after it would
  // otherwise hold the transfer until the receive time-out.
  int64_t left = contentLength >= 0 ? contentLength : INT64_MAX;
  const int32_t written = WriteBody(
      [&](char* buffer, int32_t size) {
        if (left == 0) return 0;
        const int32_t got = socket.Receive(buffer, static_cast<int32_t>(std::min<int64_t>(size, left)));
        if (got > 0) left -= got;
        return got;
      },
      file, localPath, progress, ClampToInt32(total), &done, &readFailed, kSocketBlockSize);
  if (written != kFetchOk) return written;

  // A body that ends before its announced length is a broken connection,
  // not a complete file.
  if (readFailed || (contentLength >= 0 && done - resumeOffset < contentLength)) {
    file.Close();
    LogWrite(kLogError, "Disconnected http socket connection");
    return kFetchDisconnected;
  }
  const int32_t closed = CloseWrittenFile(file, localPath);
  if (closed != kFetchOk) return closed;
  if (progress) progress(ClampToInt32(done), ClampToInt32(total));
  LogWrite(kLogDetail, "Successed to download");
  return kFetchOk;
}
