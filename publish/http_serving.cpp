#include "publish/http_serving.h"

#include <cctype>
#include <cstdio>
#include <vector>

#include "platform/file_system.h"
#include "publish/repo_files.h"

namespace publish {

namespace {

constexpr size_t kMaxHead = 65536;
constexpr uint32_t kAcceptPollMs = 100;
constexpr uint32_t kRequestTimeoutMs = 10000;

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool ParseNumber(const std::string& text, uint64_t* value) {
  if (text.empty() || text.size() > 19 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  *value = std::stoull(text);
  return true;
}

// "/a/b%20c.cab?x" -> "a\\b c.cab"; false for ".." or a bad escape.
bool TargetToName(const std::string& target, std::string* name) {
  const std::string path = target.substr(0, target.find_first_of("?#"));
  std::string decoded;
  for (size_t i = 0; i < path.size(); ++i) {
    if (path[i] != '%') {
      decoded += path[i];
      continue;
    }
    if (i + 2 >= path.size() || !std::isxdigit(static_cast<unsigned char>(path[i + 1])) ||
        !std::isxdigit(static_cast<unsigned char>(path[i + 2]))) {
      return false;
    }
    decoded += static_cast<char>(std::stoi(path.substr(i + 1, 2), nullptr, 16));
    i += 2;
  }
  name->clear();
  size_t start = 0;
  while (start <= decoded.size()) {
    size_t end = decoded.find_first_of("/\\", start);
    if (end == std::string::npos) end = decoded.size();
    const std::string part = decoded.substr(start, end - start);
    if (part == ".." || part.find(':') != std::string::npos || part.find('\0') != std::string::npos) return false;
    if (!part.empty() && part != ".") *name += (name->empty() ? "" : "\\") + part;
    start = end + 1;
  }
  return !name->empty();
}

}  // namespace

bool ReadRequestHead(plat::TcpSocket& socket, uint32_t timeoutMs, std::string* head) {
  head->clear();
  char byte = 0;
  while (head->size() < kMaxHead) {
    if (socket.Receive(&byte, 1, timeoutMs) <= 0) return false;
    *head += byte;
    if (head->size() >= 4 && head->compare(head->size() - 4, 4, "\r\n\r\n") == 0) return true;
  }
  return false;
}

bool ParseRequestLine(const std::string& head, HttpRequest* request) {
  const std::string line = head.substr(0, head.find("\r\n"));
  const size_t first = line.find(' ');
  const size_t second = first == std::string::npos ? std::string::npos : line.find(' ', first + 1);
  if (second == std::string::npos) return false;
  request->method = line.substr(0, first);
  request->target = line.substr(first + 1, second - first - 1);
  return !request->method.empty() && !request->target.empty();
}

std::string HeaderValue(const std::string& head, const std::string& name) {
  const std::string lower = Lower(head);
  const std::string key = "\r\n" + Lower(name) + ":";
  const size_t at = lower.find(key);
  if (at == std::string::npos) return "";
  size_t begin = at + key.size();
  size_t end = head.find("\r\n", begin);
  if (end == std::string::npos) end = head.size();
  while (begin < end && (head[begin] == ' ' || head[begin] == '\t')) ++begin;
  while (end > begin && (head[end - 1] == ' ' || head[end - 1] == '\t')) --end;
  return head.substr(begin, end - begin);
}

ByteRange ParseRange(const std::string& value, uint64_t size) {
  ByteRange range;
  const std::string lower = Lower(value);
  if (lower.compare(0, 6, "bytes=") != 0 || lower.find(',') != std::string::npos) return range;
  const std::string spec = lower.substr(6);
  const size_t dash = spec.find('-');
  if (dash == std::string::npos) return range;
  const std::string from = spec.substr(0, dash);
  const std::string to = spec.substr(dash + 1);
  uint64_t a = 0;
  uint64_t b = 0;
  if (from.empty()) {  // the last N bytes
    if (!ParseNumber(to, &b) || b == 0) return range;
    range.present = true;
    range.satisfiable = size > 0;
    range.first = b >= size ? 0 : size - b;
    range.last = size - 1;
    return range;
  }
  if (!ParseNumber(from, &a) || (!to.empty() && (!ParseNumber(to, &b) || b < a))) return range;
  range.present = true;
  range.satisfiable = a < size;
  range.first = a;
  range.last = to.empty() || b >= size ? size - 1 : b;
  return range;
}

std::string ContentRange(const ByteRange& range, uint64_t size) {
  return "bytes " + std::to_string(range.first) + "-" + std::to_string(range.last) + "/" + std::to_string(size);
}

bool SendAll(plat::TcpSocket& socket, const void* data, size_t size) {
  const char* at = static_cast<const char*>(data);
  while (size > 0) {
    const int32_t n = socket.Send(at, static_cast<int32_t>(std::min<size_t>(size, 1 << 20)));
    if (n <= 0) return false;
    at += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

const char* ReasonPhrase(int status) {
  switch (status) {
    case 200: return "OK";
    case 206: return "Partial Content";
    case 302: return "Found";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 416: return "Range Not Satisfiable";
    case 500: return "Internal Server Error";
    default: return "Status";
  }
}

StaticHttpServer::StaticHttpServer(std::string root, std::function<void(const std::string&)> log)
    : root_(std::move(root)), log_(std::move(log)) {}

StaticHttpServer::~StaticHttpServer() { Stop(); }

bool StaticHttpServer::Start(uint16_t port, const std::string& bindAddress, std::string* error) {
  if (!listener_.Open() || !listener_.Bind(port, bindAddress.c_str()) || !listener_.Listen(64)) {
    listener_.Close();
    *error = "cannot listen on " + bindAddress + ":" + std::to_string(port);
    return false;
  }
  port_ = listener_.LocalPort();
  acceptThread_ = std::thread([this] { AcceptLoop(); });
  return true;
}

void StaticHttpServer::Stop() {
  stopping_ = true;
  if (acceptThread_.joinable()) acceptThread_.join();
  std::unique_lock<std::mutex> lock(lock_);
  idle_.wait(lock, [this] { return connections_ == 0; });
}

void StaticHttpServer::AcceptLoop() {
  while (!stopping_) {
    plat::TcpSocket client;
    if (!listener_.Accept(&client, kAcceptPollMs)) continue;
    {
      std::lock_guard<std::mutex> lock(lock_);
      ++connections_;
    }
    std::thread([this, c = std::move(client)]() mutable {
      Serve(std::move(c));
      std::lock_guard<std::mutex> lock(lock_);
      if (--connections_ == 0) idle_.notify_all();
    }).detach();
  }
  listener_.Close();
}

void StaticHttpServer::Log(const std::string& line) {
  if (!log_) return;
  std::lock_guard<std::mutex> lock(lock_);
  log_(line);
}

void StaticHttpServer::Serve(plat::TcpSocket client) {
  std::string head;
  if (!ReadRequestHead(client, kRequestTimeoutMs, &head)) return;
  HttpRequest request;
  int status = 200;
  std::string name;
  std::string path;
  uint64_t size = 0;
  if (!ParseRequestLine(head, &request)) {
    status = 400;
  } else if (request.method != "GET" && request.method != "HEAD") {
    status = 405;
  } else if (!TargetToName(request.target, &name) || !plat::FileExists(path = RepoPath(root_, name)) ||
             !plat::FileSize(path, &size)) {
    status = 404;
  }
  ByteRange range;
  if (status == 200) {
    range = ParseRange(HeaderValue(head, "Range"), size);
    if (range.present) status = range.satisfiable ? 206 : 416;
  }
  plat::File file;
  if ((status == 200 || status == 206) &&
      !file.Open(path, plat::File::kRead, plat::File::kShareRead, plat::File::kOpenExisting)) {
    status = 404;
  }
  const uint64_t first = status == 206 ? range.first : 0;
  const uint64_t length = status == 206 ? range.last - range.first + 1 : status == 200 ? size : 0;
  char line[128];
  snprintf(line, sizeof line, "HTTP/1.1 %d %s\r\n", status, ReasonPhrase(status));
  std::string response = line;
  response += "Server: patchtool-serve\r\nConnection: close\r\nAccept-Ranges: bytes\r\n";
  if (status == 200 || status == 206) response += "Content-Type: application/octet-stream\r\n";
  if (status == 206) response += "Content-Range: " + ContentRange(range, size) + "\r\n";
  if (status == 416) response += "Content-Range: bytes */" + std::to_string(size) + "\r\n";
  response += "Content-Length: " + std::to_string(length) + "\r\n\r\n";
  Log(request.method + " " + request.target + " " + std::to_string(status) + " " + std::to_string(length));
  if (!SendAll(client, response.data(), response.size()) || request.method == "HEAD" || length == 0) return;
  if (first > 0 && !file.Seek(static_cast<int64_t>(first), 0)) return;
  std::vector<char> buffer(1 << 16);
  for (uint64_t left = length; left > 0 && !stopping_;) {
    uint32_t got = 0;
    const uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(left, buffer.size()));
    if (!file.Read(buffer.data(), want, &got) || got == 0 || !SendAll(client, buffer.data(), got)) return;
    left -= got;
  }
}

}  // namespace publish
