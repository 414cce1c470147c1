#include "tests/support/http_test_server.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "platform/clock.h"
#include "publish/http_serving.h"

namespace testsupport {

namespace {

constexpr uint32_t kAcceptPollMs = 50;
constexpr uint32_t kRequestTimeoutMs = 5000;
constexpr size_t kPiece = 16384;

}  // namespace

HttpTestServer::HttpTestServer() {
  if (!listener_.Open() || !listener_.Bind(0, "127.0.0.1") || !listener_.Listen(16)) return;
  port_ = listener_.LocalPort();
  acceptThread_ = std::thread([this] { AcceptLoop(); });
}

HttpTestServer::~HttpTestServer() {
  stopping_ = true;
  if (acceptThread_.joinable()) acceptThread_.join();
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(lock_);
    threads.swap(connections_);
  }
  for (std::thread& t : threads) t.join();
}

std::string HttpTestServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void HttpTestServer::Set(const std::string& path, const HttpRoute& route) {
  std::lock_guard<std::mutex> lock(lock_);
  routes_[path] = route;
}

std::vector<std::string> HttpTestServer::Requests() const {
  std::lock_guard<std::mutex> lock(lock_);
  return requests_;
}

int HttpTestServer::RequestCount(const std::string& path) const {
  std::lock_guard<std::mutex> lock(lock_);
  const auto it = counts_.find(path);
  return it == counts_.end() ? 0 : it->second;
}

bool HttpTestServer::SleepUnlessStopping(uint32_t ms) const {
  for (uint32_t slept = 0; slept < ms; slept += 10) {
    if (stopping_) return false;
    plat::SleepMs(10);
  }
  return !stopping_;
}

void HttpTestServer::AcceptLoop() {
  while (!stopping_) {
    plat::TcpSocket client;
    if (!listener_.Accept(&client, kAcceptPollMs)) continue;
    std::lock_guard<std::mutex> lock(lock_);
    connections_.emplace_back([this, c = std::move(client)]() mutable { Serve(std::move(c)); });
  }
  listener_.Close();
}

void HttpTestServer::Serve(plat::TcpSocket client) {
  std::string head;
  if (!publish::ReadRequestHead(client, kRequestTimeoutMs, &head)) return;
  publish::HttpRequest request;
  const std::string path = publish::ParseRequestLine(head, &request) ? request.target : "";
  HttpRoute route;
  int count = 0;
  {
    std::lock_guard<std::mutex> lock(lock_);
    requests_.push_back(head);
    count = ++counts_[path];
    const auto it = routes_.find(path);
    if (it == routes_.end()) {
      route.status = 404;
    } else {
      route = it->second;
    }
  }
  if (route.closeBeforeStatus) return;
  if (!route.rawResponse.empty()) {
    publish::SendAll(client, route.rawResponse.data(), route.rawResponse.size());
    return;
  }
  if (route.endlessHead) {
    // Bounded all the same: ten seconds of header lines at most, far beyond
    // any head time-out the tests set.
    std::string filler = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; i < 1000 && publish::SendAll(client, filler.data(), filler.size()); ++i) {
      if (!SleepUnlessStopping(10)) return;
      filler = "X-Filler-" + std::to_string(i) + ": and more to come\r\n";
    }
    return;
  }

  const bool lower = route.lowerCaseHeaders;
  const publish::ByteRange asked =
      publish::ParseRange(publish::HeaderValue(head, "Range"), static_cast<uint64_t>(route.body.size()));
  if (route.status == 200 && route.rangePastEndIs416 && asked.present && !asked.satisfiable) route.status = 416;
  std::string response;
  char line[256];
  if (route.status != 200) {
    snprintf(line, sizeof(line), "HTTP/1.1 %d %s\r\n", route.status, publish::ReasonPhrase(route.status));
    response = line;
    if (!route.location.empty()) response += "Location: " + route.location + "\r\n";
    response += lower ? "content-length: 0\r\n\r\n" : "Content-Length: 0\r\n\r\n";
    publish::SendAll(client, response.data(), response.size());
    return;
  }

  const int64_t size = static_cast<int64_t>(route.body.size());
  // The patcher asks for "bytes=N-": the answer runs from N to the end of
  // the body, and a range past the body gets the whole body.
  const publish::ByteRange range = publish::ParseRange(publish::HeaderValue(head, "Range"), size);
  int64_t from = 0;
  int status = 200;
  if (range.present && range.satisfiable && route.honorRange) {
    from = static_cast<int64_t>(range.first);
    status = 206;
  }
  snprintf(line, sizeof(line), "HTTP/1.1 %d %s\r\nServer: loopback-test\r\n", status, publish::ReasonPhrase(status));
  response = route.statusLine.empty() ? std::string(line) : route.statusLine + "\r\nServer: loopback-test\r\n";
  response += route.extraHeaders;
  if (status == 206) {
    snprintf(line, sizeof(line), "%s: bytes %lld-%lld/%lld\r\n", lower ? "content-range" : "Content-Range",
             static_cast<long long>(from), static_cast<long long>(size - 1), static_cast<long long>(size));
    response += line;
  }
  if (route.contentLength) {
    snprintf(line, sizeof(line), "%s: %lld\r\n", lower ? "content-length" : "Content-Length",
             static_cast<long long>(size - from));
    response += line;
  }
  response += "\r\n";
  if (!publish::SendAll(client, response.data(), response.size())) return;

  int64_t end = size;
  if (route.dropAfter >= 0 && count <= route.dropRequests) end = std::min(size, from + route.dropAfter);
  int64_t sent = 0;
  bool stalled = route.stallAfter < 0;
  for (int64_t at = from; at < end || !stalled;) {
    if (!stalled && sent == route.stallAfter) {
      stalled = true;
      if (!SleepUnlessStopping(route.stallMs)) return;
      continue;
    }
    int64_t piece = std::min<int64_t>(kPiece, end - at);
    if (!stalled) piece = std::min(piece, route.stallAfter - sent);
    if (piece <= 0) break;
    if (!publish::SendAll(client, route.body.data() + at, static_cast<size_t>(piece))) return;
    at += piece;
    sent += piece;
    if (route.chunkDelayMs > 0 && !SleepUnlessStopping(route.chunkDelayMs)) return;
  }
}

}  // namespace testsupport
