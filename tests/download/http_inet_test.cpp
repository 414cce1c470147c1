#include "download/http_inet.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <thread>

#include "download/fetch_result.h"
#include "platform/clock.h"
#include "platform/url_moniker.h"
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

class InetTransferTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.Started()); }
  HttpTestServer server_;
  TempDir dir_;
};

TEST_F(InetTransferTest, FetchesTheWholeBodyAsHttp10WithoutCache) {
  const std::string body = Pattern(50000);
  server_.Set("/i.bin", HttpRoute{body});
  ProgressLog progress;
  const std::string local = dir_ / "deep\\i.bin";
  ASSERT_EQ(kFetchOk, GetFileByInet(local, server_.Url("/i.bin"), 0, progress.Callback()));
  EXPECT_EQ(body, ReadFileText(dir_ / "deep/i.bin"));
  ASSERT_EQ(1u, server_.Requests().size());
  const std::string head = server_.Requests()[0];
  EXPECT_EQ(0u, head.find("GET /i.bin HTTP/1.0\r\n"));
  EXPECT_NE(std::string::npos, head.find("User-Agent: Dovra\r\n"));
  EXPECT_NE(std::string::npos, head.find("no-cache"));
  const auto calls = progress.Calls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(std::make_pair(0, 50000), calls.front());
  EXPECT_EQ(std::make_pair(50000, 50000), calls.back());
}

TEST_F(InetTransferTest, ExistingFileWithDataIsNeverOverwritten) {
  LogCapture log;
  server_.Set("/d.bin", HttpRoute{"new"});
  const std::string local = dir_ / "d.bin";
  ASSERT_TRUE(WriteFileText(local, "partial"));
  EXPECT_EQ(kFetchOpenFailed, GetFileByInet(local, server_.Url("/d.bin"), 1, nullptr));
  EXPECT_EQ("partial", ReadFileText(local));
  EXPECT_TRUE(log.Contains("Failed to APIOpenFile file : " + local));
  EXPECT_EQ(0u, server_.Requests().size());
}

TEST_F(InetTransferTest, EmptyExistingFileIsReplaced) {
  LogCapture log;
  server_.Set("/e.bin", HttpRoute{"fresh"});
  const std::string local = dir_ / "e.bin";
  ASSERT_TRUE(WriteFileText(local, ""));
  ASSERT_EQ(kFetchOk, GetFileByInet(local, server_.Url("/e.bin"), 0, nullptr));
  EXPECT_EQ("fresh", ReadFileText(local));
  EXPECT_TRUE(log.Contains("APIFileLength returns file-size 0"));
  EXPECT_TRUE(log.Contains("Successed to download"));
}

TEST_F(InetTransferTest, StatusOtherThan200FailsAndLeavesAnEmptyFile) {
  HttpRoute route;
  route.status = 404;
  server_.Set("/m.bin", route);
  const std::string local = dir_ / "m.bin";
  EXPECT_EQ(kFetchOpenFailed, GetFileByInet(local, server_.Url("/m.bin"), 0, nullptr));
  EXPECT_TRUE(testsupport::PathExists(local));
  EXPECT_EQ("", ReadFileText(local));
}

TEST_F(InetTransferTest, MissingLengthReportsTotalMinusOne) {
  const std::string body = Pattern(20000);
  HttpRoute route{body};
  route.contentLength = false;
  server_.Set("/n.bin", route);
  ProgressLog progress;
  ASSERT_EQ(kFetchOk, GetFileByInet(dir_ / "n.bin", server_.Url("/n.bin"), 0, progress.Callback()));
  EXPECT_EQ(body, ReadFileText(dir_ / "n.bin"));
  EXPECT_EQ(std::make_pair(0, -1), progress.Calls().front());
}

TEST_F(InetTransferTest, EmptyBodyGivesOneProgressCall) {
  server_.Set("/z.bin", HttpRoute{""});
  ProgressLog progress;
  ASSERT_EQ(kFetchOk, GetFileByInet(dir_ / "z.bin", server_.Url("/z.bin"), 0, progress.Callback()));
  EXPECT_EQ("", ReadFileText(dir_ / "z.bin"));
  ASSERT_EQ(1u, progress.Calls().size());
  EXPECT_EQ(std::make_pair(0, 0), progress.Calls()[0]);
}

TEST_F(InetTransferTest, TruncatedBodyIsABrokenConnection) {
  LogCapture log;
  HttpRoute route{Pattern(60000)};
  route.dropAfter = 30000;
  server_.Set("/t.bin", route);
  EXPECT_EQ(kFetchDisconnected, GetFileByInet(dir_ / "t.bin", server_.Url("/t.bin"), 0, nullptr));
  EXPECT_TRUE(log.Contains("Disconnected INET connection"));
}

// The system's client follows redirects; a loop of them fails, at the
// client's own bound or (Wine's WinInet has none) when the wait for the
// head runs out.
TEST_F(InetTransferTest, RedirectsAreFollowedButNotForEver) {
  const std::string body = Pattern(7000);
  server_.Set("/real.bin", HttpRoute{body});
  HttpRoute moved;
  moved.status = 302;
  moved.location = server_.Url("/real.bin");
  server_.Set("/moved.bin", moved);
  HttpRoute loop;
  loop.status = 301;
  loop.location = server_.Url("/loop.bin");
  server_.Set("/loop.bin", loop);
  ASSERT_EQ(kFetchOk, GetFileByInet(dir_ / "moved.bin", server_.Url("/moved.bin"), 0, nullptr));
  EXPECT_EQ(body, ReadFileText(dir_ / "moved.bin"));
  dltest::ShortSocketTimeouts timeouts(5000, 2000);
  EXPECT_EQ(kFetchOpenFailed, GetFileByInet(dir_ / "loop.bin", server_.Url("/loop.bin"), 0, nullptr));
}

// A head that never ends fails the request at the receive time-out, which
// counts for the whole head.
TEST_F(InetTransferTest, AnEndlessHeadFailsTheRequest) {
  dltest::ShortSocketTimeouts timeouts(5000, 1000);
  HttpRoute endless;
  endless.endlessHead = true;
  server_.Set("/endless.bin", endless);
  EXPECT_EQ(kFetchOpenFailed, GetFileByInet(dir_ / "endless.bin", server_.Url("/endless.bin"), 0, nullptr));
}

TEST_F(InetTransferTest, CancelDuringTheBodyStopsAfterTheBlock) {
  LogCapture log;
  HttpRoute route{Pattern(300000)};
  route.chunkDelayMs = 20;
  server_.Set("/k.bin", route);
  int calls = 0;
  const int32_t result = GetFileByInet(dir_ / "k.bin", server_.Url("/k.bin"), 0, [&calls](int32_t, int32_t) {
    if (++calls == 1) SetTransferCancel();
  });
  EXPECT_EQ(kFetchCanceled, result);
  EXPECT_EQ(1, calls);
  EXPECT_TRUE(log.Contains("Canceled downloading"));
  ClearTransferCancel();
}

// A stop reaches the system's transfers wherever they wait, in a head that
// never ends (ten seconds of header lines) and in a body that stalls for a
// minute: their calls cannot be asked, so the waiting thread leaves them
// behind. What they leave ends with its server: no side file remains and a
// download's target was never written.
TEST(SystemTransfersTest, AStopEndsTheirWaitsAndTheyLeaveNoSideFile) {
  TempDir dir;
  using Fetch = std::function<bool(const std::string& url, const std::string& local)>;
  const std::pair<const char*, Fetch> transfers[] = {
      {"inet", [](const std::string& url, const std::string& local) { return GetFileByInet(local, url, 0, nullptr) == kFetchOk; }},
      {"moniker", [](const std::string& url, const std::string& local) {
         return plat::UrlDownloadToFile(url, local, &ShouldAbortTransfer);
       }}};
  {
    HttpTestServer server;
    HttpRoute endless;
    endless.endlessHead = true;
    server.Set("/head", endless);
    HttpRoute stalled{Pattern(40000)};
    stalled.stallAfter = 100;
    stalled.stallMs = 60000;
    server.Set("/body", stalled);
    for (const auto& transfer : transfers) {
      for (const char* path : {"/head", "/body"}) {
        SCOPED_TRACE(std::string(transfer.first) + path);
        std::thread stopper([] {
          plat::SleepMs(300);
          SetTransferCancel();
        });
        const uint32_t began = plat::TickCount();
        const bool fetched = transfer.second(server.Url(path), dir / (std::string(transfer.first) + (path + 1)));
        const uint32_t took = plat::TickCount() - began;
        stopper.join();
        ClearTransferCancel();
        EXPECT_FALSE(fetched);
        EXPECT_LT(took, 5000u) << "the stop did not end the wait";
      }
    }
  }
  EXPECT_FALSE(testsupport::PathExists(dir / "monikerhead"));
  EXPECT_FALSE(testsupport::PathExists(dir / "monikerbody"));
  std::vector<std::string> left;
  for (int waited = 0; waited < 100; ++waited) {
    left.clear();
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
      const std::string name = entry.path().filename().string();
      if (name.find(".moniker") != std::string::npos) left.push_back(name);
    }
    if (left.empty()) break;
    plat::SleepMs(100);
  }
  EXPECT_TRUE(left.empty()) << left.front();
}

}  // namespace
