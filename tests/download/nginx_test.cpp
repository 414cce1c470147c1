// nginx as a real patch server on 127.0.0.1. The fixture writes its own
// configuration into a temp folder (free port, pid, logs and temp paths all
// there), starts nginx and always stops it again. Native builds only: the
// Windows test binaries cannot start a Linux program.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "download/fetch.h"
#include "download/http_inet.h"
#include "download/http_socket.h"
#include "platform/clock.h"
#include "platform/socket.h"
#include "platform/system_info.h"
#include "tests/download/download_test_support.h"
#include "tests/support/test_support.h"

using dltest::Pattern;
using testsupport::PathExists;
using testsupport::ReadFileText;
using testsupport::TempDir;
using testsupport::WriteFileText;

namespace {

constexpr char kNginx[] = "/usr/sbin/nginx";

class NginxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (plat::IsWindowsSystem()) GTEST_SKIP() << "nginx runs only beside the native tests";
    if (!PathExists(kNginx)) GTEST_SKIP() << "nginx is not installed";
    plat::TcpSocket probe;
    ASSERT_TRUE(probe.Open() && probe.Bind(0, "127.0.0.1"));
    port_ = probe.LocalPort();
    probe.Close();

    const std::string root = dir_.Path();
    ASSERT_TRUE(WriteFileText(root + "nginx.conf",
        "worker_processes 1;\n"
        "pid " + root + "nginx.pid;\n"
        "error_log " + root + "error.log;\n"
        "events { worker_connections 64; }\n"
        "http {\n"
        "  log_format ranges '$request $status [$http_range]';\n"
        "  access_log " + root + "access.log ranges;\n"
        "  client_body_temp_path " + root + "body;\n"
        "  proxy_temp_path " + root + "proxy;\n"
        "  fastcgi_temp_path " + root + "fastcgi;\n"
        "  uwsgi_temp_path " + root + "uwsgi;\n"
        "  scgi_temp_path " + root + "scgi;\n"
        "  server { listen 127.0.0.1:" + std::to_string(port_) + "; root " + root + "www; }\n"
        "}\n"));
    std::system(("mkdir -p '" + root + "www/hv/12'").c_str());
    command_ = std::string(kNginx) + " -p '" + root + "' -c '" + root + "nginx.conf' -e '" + root + "error.log'";
    ASSERT_EQ(0, std::system((command_ + " 2>>'" + root + "start.log'").c_str())) << ReadFileText(root + "start.log");
    started_ = true;
    for (int i = 0; i < 200; ++i) {
      plat::TcpSocket s;
      if (s.Open() && s.Connect("127.0.0.1", port_, 100)) return;
      plat::SleepMs(10);
    }
    FAIL() << "nginx did not start listening: " << ReadFileText(root + "error.log");
  }

  void TearDown() override {
    if (!started_) return;
    std::system((command_ + " -s stop 2>/dev/null").c_str());
    for (int i = 0; i < 300 && PathExists(dir_ / "nginx.pid"); ++i) plat::SleepMs(10);
  }

  std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
  std::string Served(const std::string& name) const { return dir_ / ("www/" + name); }

  TempDir dir_;
  TempDir out_;
  uint16_t port_ = 0;
  std::string command_;
  bool started_ = false;
};

TEST_F(NginxTest, FetchProcedureDownloadsByteExact) {
  const std::string body = Pattern(3 * 1024 * 1024 + 17, 11);
  ASSERT_TRUE(WriteFileText(Served("hv/12/3N.cab"), body));
  const std::string local = out_ / "backup\\12\\3N.cab";
  ASSERT_EQ(0u, GetFileFromServerV5(Url("/hv/12/3N.cab"), local, 1, nullptr));
  EXPECT_EQ(body, ReadFileText(out_ / "backup/12/3N.cab"));
}

TEST_F(NginxTest, PartialFileIsResumedWithARangeRequest) {
  const std::string body = Pattern(2 * 1024 * 1024 + 5, 12);
  ASSERT_TRUE(WriteFileText(Served("hv/12/4D.cab"), body));
  const std::string local = out_ / "4D.cab";
  ASSERT_TRUE(WriteFileText(local, body.substr(0, 1000000)));
  ASSERT_EQ(0u, GetFileFromServerV5(Url("/hv/12/4D.cab"), local, 1, nullptr));
  EXPECT_EQ(body, ReadFileText(local));
  // The transfer ends with the last byte of the announced length; nginx
  // writes its log line as it closes the connection, a moment later.
  const std::string line = "GET /hv/12/4D.cab HTTP/1.0 206 [bytes=999999-]";
  for (int wait = 0; wait < 100 && ReadFileText(dir_ / "access.log").find(line) == std::string::npos; ++wait) {
    plat::SleepMs(50);
  }
  EXPECT_NE(std::string::npos, ReadFileText(dir_ / "access.log").find(line));
}

TEST_F(NginxTest, InetTransferAndMissingFiles) {
  const std::string body = Pattern(123457, 13);
  ASSERT_TRUE(WriteFileText(Served("hv/version.ini"), body));
  ASSERT_EQ(kFetchOk, GetFileByInet(out_ / "version.ini", Url("/hv/version.ini"), 0, nullptr));
  EXPECT_EQ(body, ReadFileText(out_ / "version.ini"));
  EXPECT_EQ(kFetchOpenFailed, GetFileBySocket(Url("/hv/missing.cab"), 1, out_ / "missing.cab", nullptr));
  EXPECT_EQ(kFetchOpenFailed, GetFileByInet(out_ / "missing2.cab", Url("/hv/missing.cab"), 0, nullptr));
}

}  // namespace
