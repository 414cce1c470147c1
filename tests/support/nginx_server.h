// nginx as a real patch server on 127.0.0.1, for tests of the native build.
// Start writes a configuration of its own into a private temp folder (free
// port, pid file, logs and nginx's temp paths all there), serves a folder
// either at the root or under each of several prefixes ("/a/", "/b/"), and
// Stop (or the destructor) stops that nginx again. Missing files answer
// 404; range requests are honoured.
//
// Only the native build can start nginx: callers skip when Available() is
// false (Windows builds, also under Wine, or nginx not installed).
// Threads: one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

class TempDir;

struct NginxRequest {
  std::string method;  // "GET", "HEAD"
  std::string path;    // as requested, query included
  int status = 0;
  std::string range;   // the Range header, empty when none
};

class NginxServer {
 public:
  static constexpr char kBinary[] = "/usr/sbin/nginx";
  static bool Available();

  NginxServer();
  ~NginxServer();
  NginxServer(const NginxServer&) = delete;
  NginxServer& operator=(const NginxServer&) = delete;

  // Serves `root` at "/" when `prefixes` is empty, else under each prefix
  // (each begins and ends with '/'), and nothing elsewhere. Waits until
  // nginx accepts connections. False, with Error() holding nginx's own
  // messages, when it could not be started.
  bool Start(const std::string& root, const std::vector<std::string>& prefixes = {});
  void Stop();
  bool Running() const { return running_; }

  uint16_t Port() const { return port_; }
  // "http://127.0.0.1:<port><path>"
  std::string Url(const std::string& path) const;
  const std::string& Error() const { return error_; }

  // The requests answered so far, in order. nginx logs a request once its
  // answer is sent, so a client may see an answer before its line exists:
  // with `atLeast`, waits (a few seconds at most) for that many lines.
  std::vector<NginxRequest> Requests(size_t atLeast = 0) const;

 private:
  std::string Command() const;

  std::unique_ptr<TempDir> dir_;
  uint16_t port_ = 0;
  bool running_ = false;
  std::string error_;
};

}  // namespace testsupport
