// Static files over HTTP/1.1 on a TCP port, for trying a repository on
// one machine (`patchtool serve`), and the request pieces that the tests'
// fault-injecting server shares with it: reading a request head, its
// request line and headers, and byte ranges.
//
// Not a production server: one thread per connection, one request per
// connection ("Connection: close"), GET and HEAD only. A production
// repository is any static web server or CDN.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "platform/socket.h"

namespace publish {

// Reads up to and including the blank line that ends a request head (at
// most 64 KiB); false on a time-out, a closed connection or an over-long
// head.
bool ReadRequestHead(plat::TcpSocket& socket, uint32_t timeoutMs, std::string* head);

struct HttpRequest {
  std::string method;  // "GET"
  std::string target;  // "/101/1D.cab?x=1", as sent
};
// The request line of a head; false when it has not three parts.
bool ParseRequestLine(const std::string& head, HttpRequest* request);

// The value of the first header of that name (letter case aside), blanks
// trimmed; "" when there is none.
std::string HeaderValue(const std::string& head, const std::string& name);

// A "Range" header against a body of `size` bytes. Only a single range is
// taken ("bytes=N-", "bytes=N-M", "bytes=-N"); anything else is no range.
struct ByteRange {
  bool present = false;      // a single byte range was asked for
  bool satisfiable = false;  // it overlaps the body
  uint64_t first = 0;
  uint64_t last = 0;         // inclusive
};
ByteRange ParseRange(const std::string& value, uint64_t size);

// "Content-Range" value of a satisfiable range.
std::string ContentRange(const ByteRange& range, uint64_t size);

bool SendAll(plat::TcpSocket& socket, const void* data, size_t size);
const char* ReasonPhrase(int status);

// Serves the files under a folder. Paths are percent-decoded; a query is
// ignored; ".." components, folders and missing files answer 404.
class StaticHttpServer {
 public:
  // `log` (may be empty) receives one line per request; it is called from
  // the connection threads, one call at a time.
  StaticHttpServer(std::string root, std::function<void(const std::string&)> log = {});
  ~StaticHttpServer();
  StaticHttpServer(const StaticHttpServer&) = delete;
  StaticHttpServer& operator=(const StaticHttpServer&) = delete;

  // Port 0 picks a free one. False, with the reason, when the address
  // cannot be bound.
  bool Start(uint16_t port, const std::string& bindAddress, std::string* error);
  uint16_t Port() const { return port_; }
  // Stops accepting and waits for the open connections to end.
  void Stop();

 private:
  void AcceptLoop();
  void Serve(plat::TcpSocket client);
  void Log(const std::string& line);

  std::string root_;
  std::function<void(const std::string&)> log_;
  plat::TcpSocket listener_;
  uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread acceptThread_;
  std::mutex lock_;
  std::condition_variable idle_;
  int connections_ = 0;
};

}  // namespace publish
