#include "download/http_socket.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include "download/http_url.h"
#include "tests/download/download_test_support.h"
#include "tests/engine/log_capture.h"
#include "tests/support/http_test_server.h"
#include "tests/support/test_support.h"

using dltest::Pattern;
using dltest::ProgressLog;
using testsupport::HttpRoute;
using testsupport::HttpTestServer;
using testsupport::ReadFileText;
using testsupport::TempDir;
using testsupport::WriteFileText;

namespace {

constexpr char kAgentAndHost[] =
    " HTTP/1.0\r\nConnection: Close\r\nUser-Agent: Mozilla/4.0 (compatible; MSIE 5.0; Orvane)\r\nHost: 127.0.0.1";

struct SplitCase {
  const char* url;
  const char* host;
  int32_t port;
  const char* path;
};

TEST(SplitHttpUrlTest, SplitsHostPortAndPath) {
  const SplitCase cases[] = {
      {"http://patch.example.com/hv/12/3N.cab", "patch.example.com", 80, "/hv/12/3N.cab"},
      {"HTTP://Patch.Example.com/a", "Patch.Example.com", 80, "/a"},
      {"http://host:8080/x/y?z=1", "host", 8080, "/x/y?z=1"},
      {"http://host", "host", 80, "/"},
      {"http://host:81", "host", 81, "/"},
      {"ftp://host/", "ftp", 0, "//host/"},
      {"host/file", "host", 80, "/file"},
      {"https://secure.example.com/v.ini", "secure.example.com", 443, "/v.ini"},
      {"HTTPS://secure.example.com:8443/v.ini", "secure.example.com", 8443, "/v.ini"},
      {"http://host:99999/a", "host", 0, "/a"},
  };
  for (const SplitCase& c : cases) {
    SCOPED_TRACE(c.url);
    std::string host;
    std::string path;
    EXPECT_EQ(c.port, SplitHttpUrl(c.url, &host, &path));
    EXPECT_EQ(c.host, host);
    EXPECT_EQ(c.path, path);
  }
  EXPECT_TRUE(IsHttpsUrl("hTTps://a/"));
  EXPECT_FALSE(IsHttpsUrl("http://a/"));
}

class SocketTransferTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.Started()); }
  HttpTestServer server_;
  TempDir dir_;
};

TEST_F(SocketTransferTest, FreshGetSendsExactHeadAndWritesBody) {
  const int32_t size = 3 * kSocketBlockSize / 2 + 1000;
  const std::string body = Pattern(size);
  server_.Set("/a.bin", HttpRoute{body});
  ProgressLog progress;
  ASSERT_EQ(kFetchOk, GetFileBySocket(server_.Url("/a.bin"), 0, dir_ / "sub\\a.bin", progress.Callback()));
  EXPECT_EQ(body, ReadFileText(dir_ / "sub/a.bin"));

  const auto requests = server_.Requests();
  ASSERT_EQ(1u, requests.size());
  // No Range line and no port in the Host line.
  EXPECT_EQ(std::string("GET /a.bin") + kAgentAndHost + "\r\n\r\n", requests[0]);

  // One call before each block, which holds what a receive brought (at
  // least two blocks here), then one at the end.
  const auto calls = progress.Calls();
  ASSERT_GE(calls.size(), 3u);
  EXPECT_EQ(std::make_pair(0, size), calls.front());
  EXPECT_EQ(std::make_pair(size, size), calls.back());
  for (size_t i = 1; i < calls.size(); ++i) {
    EXPECT_GT(calls[i].first, calls[i - 1].first);
    EXPECT_LE(calls[i].first - calls[i - 1].first, kSocketBlockSize);
  }
}

TEST_F(SocketTransferTest, ResumeRequestsTheRestAndAppends) {
  const std::string body = Pattern(5000);
  server_.Set("/r.bin", HttpRoute{body});
  const std::string local = dir_ / "r.bin";
  ASSERT_TRUE(WriteFileText(local, body.substr(0, 1000)));
  ProgressLog progress;
  ASSERT_EQ(kFetchOk, GetFileBySocket(server_.Url("/r.bin"), 1, local, progress.Callback()));
  EXPECT_EQ(body, ReadFileText(local));
  const auto requests = server_.Requests();
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ(std::string("GET /r.bin") + kAgentAndHost + "\r\nRange: bytes=999-\r\n\r\n", requests[0]);
  // 4001 bytes from 999 on: totals are 5000 from the first call.
  ASSERT_FALSE(progress.Calls().empty());
  EXPECT_EQ(std::make_pair(999, 5000), progress.Calls().front());
  EXPECT_EQ(std::make_pair(5000, 5000), progress.Calls().back());
}

TEST_F(SocketTransferTest, WholeAnswerToARangeReplacesAndTruncatesTheFile) {
  const std::string body = Pattern(3000, 1);
  HttpRoute route{body};
  route.honorRange = false;
  server_.Set("/w.bin", route);
  const std::string local = dir_ / "w.bin";
  // An older, longer partial file: none of its bytes may survive.
  ASSERT_TRUE(WriteFileText(local, Pattern(4500, 2)));
  ProgressLog progress;
  ASSERT_EQ(kFetchOk, GetFileBySocket(server_.Url("/w.bin"), 1, local, progress.Callback()));
  EXPECT_EQ(body, ReadFileText(local));
  EXPECT_NE(std::string::npos, server_.Requests()[0].find("\r\nRange: bytes=4499-\r\n"));
  EXPECT_EQ(std::make_pair(0, 3000), progress.Calls().front());
}

TEST_F(SocketTransferTest, OneBytePartialFileIsFetchedWhole) {
  const std::string body = Pattern(2000);
  server_.Set("/o.bin", HttpRoute{body});
  const std::string local = dir_ / "o.bin";
  ASSERT_TRUE(WriteFileText(local, "Z"));
  ASSERT_EQ(kFetchOk, GetFileBySocket(server_.Url("/o.bin"), 1, local, nullptr));
  EXPECT_EQ(body, ReadFileText(local));
  EXPECT_EQ(std::string::npos, server_.Requests()[0].find("Range"));
}

TEST_F(SocketTransferTest, EmptyPartialFileIsStartedAfresh) {
  LogCapture log;
  const std::string body = Pattern(100);
  server_.Set("/e.bin", HttpRoute{body});
  const std::string local = dir_ / "e.bin";
  ASSERT_TRUE(WriteFileText(local, ""));
  ASSERT_EQ(kFetchOk, GetFileBySocket(server_.Url("/e.bin"), 1, local, nullptr));
  EXPECT_EQ(body, ReadFileText(local));
  EXPECT_TRUE(log.Contains("Couldn't APIOpenFile file : " + local));
  EXPECT_TRUE(log.Contains("Successed to download"));
}

TEST_F(SocketTransferTest, LowerCaseContentLengthIsNotRecognised) {
  const std::string body = Pattern(1234);
  HttpRoute route{body};
  route.lowerCaseHeaders = true;
  server_.Set("/l.bin", route);
  ProgressLog progress;
  ASSERT_EQ(kFetchOk, GetFileBySocket(server_.Url("/l.bin"), 0, dir_ / "l.bin", progress.Callback()));
  EXPECT_EQ(body, ReadFileText(dir_ / "l.bin"));
  EXPECT_EQ(std::make_pair(0, -1), progress.Calls().front());
}

TEST_F(SocketTransferTest, BodyWithoutLengthEndsWithTheConnection) {
  const std::string body = Pattern(70000);
  HttpRoute route{body};
  route.contentLength = false;
  server_.Set("/n.bin", route);
  ASSERT_EQ(kFetchOk, GetFileBySocket(server_.Url("/n.bin"), 0, dir_ / "n.bin", nullptr));
  EXPECT_EQ(body, ReadFileText(dir_ / "n.bin"));
}

TEST_F(SocketTransferTest, EmptyBodyGivesEmptyFile) {
  server_.Set("/z.bin", HttpRoute{""});
  const std::string local = dir_ / "z.bin";
  ASSERT_TRUE(WriteFileText(local, "old content"));
  ASSERT_EQ(kFetchOk, GetFileBySocket(server_.Url("/z.bin"), 0, local, nullptr));
  EXPECT_EQ("", ReadFileText(local));
}

TEST_F(SocketTransferTest, AnswersOtherThan200AreRefused) {
  for (int status : {302, 404, 500}) {
    SCOPED_TRACE(status);
    HttpRoute route{"ignored"};
    route.status = status;
    route.location = server_.Url("/elsewhere");
    server_.Set("/s.bin", route);
    EXPECT_EQ(kFetchOpenFailed, GetFileBySocket(server_.Url("/s.bin"), 0, dir_ / "s.bin", nullptr));
  }
  HttpRoute closing;
  closing.closeBeforeStatus = true;
  server_.Set("/c.bin", closing);
  EXPECT_EQ(kFetchOpenFailed, GetFileBySocket(server_.Url("/c.bin"), 0, dir_ / "c.bin", nullptr));
}

TEST_F(SocketTransferTest, StatusLineFillingTheLineBufferIsRefused) {
  HttpRoute route{"abc"};
  route.statusLine = "HTTP/1.1 200 " + std::string(kHttpLineSize, 'O');
  server_.Set("/long.bin", route);
  EXPECT_EQ(kFetchOpenFailed, GetFileBySocket(server_.Url("/long.bin"), 0, dir_ / "long.bin", nullptr));
}

TEST_F(SocketTransferTest, OverlongHeaderLineIsSkippedWithoutHarm) {
  const std::string body = Pattern(900);
  HttpRoute route{body};
  // Longer than the line buffer, and shaped like the header it must not be
  // taken for.
  route.extraHeaders = "Content-Length: 5" + std::string(3 * kHttpLineSize, '0') + "\r\n";
  server_.Set("/h.bin", route);
  ProgressLog progress;
  ASSERT_EQ(kFetchOk, GetFileBySocket(server_.Url("/h.bin"), 0, dir_ / "h.bin", progress.Callback()));
  EXPECT_EQ(body, ReadFileText(dir_ / "h.bin"));
  EXPECT_EQ(std::make_pair(0, 900), progress.Calls().front());
}

TEST_F(SocketTransferTest, TruncatedBodyIsABrokenConnection) {
  LogCapture log;
  HttpRoute route{Pattern(50000)};
  route.dropAfter = 20000;
  server_.Set("/t.bin", route);
  EXPECT_EQ(kFetchDisconnected, GetFileBySocket(server_.Url("/t.bin"), 0, dir_ / "t.bin", nullptr));
  EXPECT_TRUE(log.Contains("Disconnected http socket connection"));
}

TEST_F(SocketTransferTest, StalledServerRunsIntoTheReceiveTimeout) {
  dltest::ShortSocketTimeouts timeouts;
  HttpRoute route{Pattern(50000)};
  route.stallAfter = 16384;
  route.stallMs = 5000;
  server_.Set("/stall.bin", route);
  EXPECT_EQ(kFetchDisconnected, GetFileBySocket(server_.Url("/stall.bin"), 0, dir_ / "stall.bin", nullptr));
}

TEST_F(SocketTransferTest, ResumeAfterABrokenTransferEndsWithTheExactBytes) {
  const std::string body = Pattern(100000, 3);
  HttpRoute route{body};
  route.dropAfter = 40000;
  route.dropRequests = 1;
  server_.Set("/b.bin", route);
  const std::string local = dir_ / "b.bin";
  ASSERT_EQ(kFetchDisconnected, GetFileBySocket(server_.Url("/b.bin"), 1, local, nullptr));
  EXPECT_EQ(body.substr(0, 40000), ReadFileText(local));
  ASSERT_EQ(kFetchOk, GetFileBySocket(server_.Url("/b.bin"), 1, local, nullptr));
  EXPECT_EQ(body, ReadFileText(local));
  ASSERT_EQ(2u, server_.Requests().size());
  EXPECT_NE(std::string::npos, server_.Requests()[1].find("\r\nRange: bytes=39999-\r\n"));
}

TEST_F(SocketTransferTest, CancelDuringTheBodyStopsAfterTheBlock) {
  LogCapture log;
  HttpRoute route{Pattern(200000)};
  route.chunkDelayMs = 20;
  server_.Set("/k.bin", route);
  int calls = 0;
  const int32_t result = GetFileBySocket(server_.Url("/k.bin"), 0, dir_ / "k.bin", [&calls](int32_t, int32_t) {
    if (++calls == 2) SetTransferCancel();
  });
  EXPECT_EQ(kFetchCanceled, result);
  EXPECT_EQ(2, calls);
  EXPECT_TRUE(log.Contains("Canceled downloading"));
  ClearTransferCancel();
}

// Answers that are not what they should be: each ends in a result that
// says so, and the file on disk never mixes bytes of two answers.
struct FaultCase {
  const char* name;
  std::function<void(HttpRoute&)> plan;
  std::string partial;        // on disk before the transfer, which resumes it when not empty
  int32_t result;
  std::string file;           // the file after the transfer
};

TEST_F(SocketTransferTest, FaultyAnswersEndInTheirResult) {
  const std::string body = Pattern(3000, 9);
  std::string overlongHead = "HTTP/1.1 200 OK\r\n";
  while (overlongHead.size() <= 70000) overlongHead += "X-Padding: 0123456789abcdef0123456789abcdef\r\n";
  overlongHead += "\r\nbody";
  const FaultCase cases[] = {
      // A head of the status line alone: the body starts right after it.
      {"status line only", [](HttpRoute& r) { r.rawResponse = "HTTP/1.0 200 OK\r\n\r\nall of the body"; }, "", kFetchOk,
       "all of the body"},
      // A part that does not say where it starts cannot be placed.
      {"206 without range", [](HttpRoute& r) { r.rawResponse = "HTTP/1.1 206 Partial\r\nContent-Length: 3\r\n\r\nxyz"; },
       "0123456789", kFetchOpenFailed, "0123456789"},
      {"206 with a range before the file",
       [](HttpRoute& r) { r.rawResponse = "HTTP/1.1 206 Partial\r\nContent-Range: bytes -2\r\n\r\nxyz"; },
       "0123456789", kFetchOpenFailed, "0123456789"},
      // A partial file longer than the server's: it starts afresh.
      {"unsatisfiable range", [](HttpRoute& r) { r.rangePastEndIs416 = true; }, std::string(4000, 'p'), kFetchOk, body},
      {"content length too long",
       [&](HttpRoute& r) {
         r.contentLength = false;
         r.extraHeaders = "Content-Length: " + std::to_string(body.size() + 10) + "\r\n";
       },
       "", kFetchDisconnected, body},
      // Bytes past the announced length are no part of the file.
      {"content length too short",
       [&](HttpRoute& r) {
         r.contentLength = false;
         r.extraHeaders = "Content-Length: " + std::to_string(body.size() - 10) + "\r\n";
       },
       "", kFetchOk, body.substr(0, body.size() - 10)},
      {"200 to a range", [](HttpRoute& r) { r.honorRange = false; }, body.substr(0, 1000) + "stale", kFetchOk, body},
      {"head over 64 KiB", [&](HttpRoute& r) { r.rawResponse = overlongHead; }, "", kFetchOpenFailed, ""},
      {"endless head", [](HttpRoute& r) { r.endlessHead = true; }, "", kFetchOpenFailed, ""},
  };
  // The endless head must end at the receive time-out, which counts for
  // the whole head.
  dltest::ShortSocketTimeouts timeouts(5000, 1500);
  for (const FaultCase& c : cases) {
    SCOPED_TRACE(c.name);
    HttpRoute route{body};
    c.plan(route);
    const std::string path = "/" + std::to_string(&c - cases);
    server_.Set(path, route);
    const std::string local = dir_ / path.substr(1);
    if (!c.partial.empty()) {
      ASSERT_TRUE(WriteFileText(local, c.partial));
    }
    EXPECT_EQ(c.result, GetFileBySocket(server_.Url(path), c.partial.empty() ? 0 : 1, local, nullptr));
    EXPECT_EQ(c.file, ReadFileText(local));
  }
}

TEST_F(SocketTransferTest, HttpsIsRefusedWithoutConnecting) {
  server_.Set("/x.bin", HttpRoute{"x"});
  const std::string url = "https://127.0.0.1:" + std::to_string(server_.Port()) + "/x.bin";
  EXPECT_EQ(kFetchOpenFailed, GetFileBySocket(url, 0, dir_ / "x.bin", nullptr));
  EXPECT_EQ(0, server_.RequestCount("/x.bin"));
  EXPECT_FALSE(testsupport::PathExists(dir_ / "x.bin"));
}

TEST_F(SocketTransferTest, RefusedConnectionIsResultOne) {
  uint16_t port = 0;
  {
    HttpTestServer gone;
    port = gone.Port();
  }
  const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/a";
  EXPECT_EQ(kFetchOpenFailed, GetFileBySocket(url, 0, dir_ / "a", nullptr));
}

TEST_F(SocketTransferTest, UncreatableLocalFileIsResultOne) {
  LogCapture log;
  ASSERT_TRUE(WriteFileText(dir_ / "plain", "a file, not a folder"));
  const std::string local = dir_ / "plain/inner.bin";
  EXPECT_EQ(kFetchOpenFailed, GetFileBySocket(server_.Url("/a"), 0, local, nullptr));
  EXPECT_TRUE(log.Contains("Failed to FileCreate file : " + local));
  EXPECT_EQ(0u, server_.Requests().size());
}

TEST_F(SocketTransferTest, SendHttpGetReportsTheRangeOfA206) {
  server_.Set("/p.bin", HttpRoute{Pattern(5000)});
  CHttpSocket socket;
  ASSERT_TRUE(socket.Open());
  int32_t length = 0;
  int32_t offset = 999;
  ASSERT_TRUE(SendHttpGet(socket, server_.Url("/p.bin"), nullptr, &length, &offset));
  EXPECT_EQ(4001, length);
  EXPECT_EQ(999, offset);
  char first = 0;
  ASSERT_EQ(1, socket.Receive(&first, 1));  // the head was read and no body byte with it
  EXPECT_EQ(Pattern(5000)[999], first);
}

}  // namespace
