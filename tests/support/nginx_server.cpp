#include "tests/support/nginx_server.h"

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "platform/clock.h"
#include "platform/socket.h"
#include "platform/system_info.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace testsupport {

namespace {

// Fields of an access-log line, split by tabs: nginx escapes control
// characters inside logged values, so a tab only ever separates fields.
constexpr char kLogFormat[] = "$request_method\t$request_uri\t$status\t$http_range";

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

std::string WithSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

uint16_t FreePort() {
  plat::TcpSocket probe;
  if (!probe.Open() || !probe.Bind(0, "127.0.0.1")) return 0;
  const uint16_t port = probe.LocalPort();
  probe.Close();
  return port;
}

}  // namespace

bool NginxServer::Available() { return !plat::IsWindowsSystem() && PathExists(kBinary); }

NginxServer::NginxServer() = default;

NginxServer::~NginxServer() { Stop(); }

std::string NginxServer::Command() const {
  const std::string root = dir_->Path();
  return std::string(kBinary) + " -p " + Quoted(root) + " -c " + Quoted(root + "nginx.conf") + " -e " +
         Quoted(root + "error.log");
}

std::string NginxServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

bool NginxServer::Start(const std::string& root, const std::vector<std::string>& prefixes) {
  Stop();
  error_.clear();
  if (!Available()) {
    error_ = "nginx cannot run in this build";
    return false;
  }
  std::error_code ec;
  const std::string served = WithSlash(fs::absolute(fs::path(root), ec).string());
  std::string locations;
  if (prefixes.empty()) {
    locations = "    root \"" + served + "\";\n";
  } else {
    locations = "    location / { return 404; }\n";
    for (const std::string& prefix : prefixes) {
      locations += "    location " + WithSlash(prefix) + " { alias \"" + served + "\"; }\n";
    }
  }

  // The port is free when probed but could be taken before nginx binds it;
  // another port is tried then.
  for (int attempt = 0; attempt < 5 && !running_; ++attempt) {
    dir_ = std::make_unique<TempDir>();
    const std::string work = dir_->Path();
    port_ = FreePort();
    if (port_ == 0) {
      error_ = "no free port";
      return false;
    }
    const std::string config =
        "worker_processes 1;\n"
        "daemon on;\n"
        "pid " + work + "nginx.pid;\n"
        "error_log " + work + "error.log;\n"
        "events { worker_connections 64; }\n"
        "http {\n"
        "  default_type application/octet-stream;\n"
        "  log_format requests '" + std::string(kLogFormat) + "';\n"
        "  access_log " + work + "access.log requests;\n"
        "  client_body_temp_path " + work + "body;\n"
        "  proxy_temp_path " + work + "proxy;\n"
        "  fastcgi_temp_path " + work + "fastcgi;\n"
        "  uwsgi_temp_path " + work + "uwsgi;\n"
        "  scgi_temp_path " + work + "scgi;\n"
        "  server {\n"
        "    listen 127.0.0.1:" + std::to_string(port_) + ";\n" +
        locations +
        "  }\n"
        "}\n";
    if (!WriteFileText(work + "nginx.conf", config)) {
      error_ = "cannot write the nginx configuration";
      return false;
    }
    if (std::system((Command() + " 2>>" + Quoted(work + "start.log")).c_str()) != 0) {
      error_ = ReadFileText(work + "start.log") + ReadFileText(work + "error.log");
      continue;
    }
    running_ = true;
  }
  if (!running_) return false;

  for (int i = 0; i < 500; ++i) {
    plat::TcpSocket probe;
    if (probe.Open() && probe.Connect("127.0.0.1", port_, 100)) return true;
    plat::SleepMs(10);
  }
  error_ = "nginx did not start listening: " + ReadFileText(dir_->Path() + "error.log");
  Stop();
  return false;
}

void NginxServer::Stop() {
  if (!running_) return;
  running_ = false;
  std::system((Command() + " -s stop 2>/dev/null").c_str());
  // The temp folder must outlive the master, which removes its pid file last.
  for (int i = 0; i < 500 && PathExists(dir_->Path() + "nginx.pid"); ++i) plat::SleepMs(10);
}

std::vector<NginxRequest> NginxServer::Requests(size_t atLeast) const {
  std::vector<NginxRequest> requests;
  if (!dir_) return requests;
  for (int wait = 0;; ++wait) {
    requests.clear();
    std::istringstream log(ReadFileText(dir_->Path() + "access.log"));
    std::string line;
    while (std::getline(log, line)) {
      std::istringstream fields(line);
      NginxRequest request;
      std::string status;
      std::getline(fields, request.method, '\t');
      std::getline(fields, request.path, '\t');
      std::getline(fields, status, '\t');
      std::getline(fields, request.range);
      request.status = std::atoi(status.c_str());
      if (request.range == "-") request.range.clear();
      requests.push_back(request);
    }
    if (requests.size() >= atLeast || wait >= 300) return requests;
    plat::SleepMs(10);
  }
}

}  // namespace testsupport
