// A loopback HTTP server for tests: listens on 127.0.0.1 at a port the
// system picks, answers each connection on its own thread with what the test
// planned for the request's path, and records every request head it
// received. Faults are planned per path: no Content-Length, lower-case
// headers, a 200 answer to a Range request, a status other than 200, a
// connection dropped after N body bytes, a stall, a close before the status
// line, a head that never ends. Stopping joins every thread; a stall or an
// endless head ends early when the server stops.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"

namespace testsupport {

struct HttpRoute {
  std::string body;
  int status = 200;                 // 200 serves the body; others send only a head
  std::string location;             // Location header, for redirects
  bool contentLength = true;        // send Content-Length
  bool lowerCaseHeaders = false;    // "content-length", "content-range"
  bool honorRange = true;           // answer "Range: bytes=N-" with 206; else 200 and the whole body
  bool closeBeforeStatus = false;   // close the connection without a byte
  int64_t dropAfter = -1;           // close after this many body bytes (-1: never)
  int dropRequests = 1 << 30;       // how many requests of the path the drop applies to
  int64_t stallAfter = -1;          // after this many body bytes, send nothing for stallMs
  uint32_t stallMs = 0;
  uint32_t chunkDelayMs = 0;        // pause between 16 KiB pieces of the body
  std::string extraHeaders;         // raw header lines, each ending in CR LF
  std::string statusLine;           // replaces the status line (without CR LF) when set
  std::string rawResponse;          // sent as it is instead of any answer, then the connection closes
  bool rangePastEndIs416 = false;   // a range that starts at or past the end gets 416, as real servers answer
  bool endlessHead = false;         // after the status line, a header line every 10 ms for 10 s, or until the peer or the server stops
};

class HttpTestServer {
 public:
  HttpTestServer();
  ~HttpTestServer();
  HttpTestServer(const HttpTestServer&) = delete;
  HttpTestServer& operator=(const HttpTestServer&) = delete;

  bool Started() const { return port_ != 0; }
  uint16_t Port() const { return port_; }
  // "http://127.0.0.1:<port><path>"
  std::string Url(const std::string& path) const;

  void Set(const std::string& path, const HttpRoute& route);
  // The request heads received so far, in arrival order, CR LF kept.
  std::vector<std::string> Requests() const;
  // How many requests asked for the path.
  int RequestCount(const std::string& path) const;

 private:
  void AcceptLoop();
  void Serve(plat::TcpSocket client);
  bool SleepUnlessStopping(uint32_t ms) const;

  plat::TcpSocket listener_;
  uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread acceptThread_;
  mutable std::mutex lock_;
  std::vector<std::thread> connections_;
  std::map<std::string, HttpRoute> routes_;
  std::map<std::string, int> counts_;
  std::vector<std::string> requests_;
};

}  // namespace testsupport
