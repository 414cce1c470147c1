#include "download/http_inet.h"

#include <gtest/gtest.h>

#include "platform/system_info.h"
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

constexpr char kWineHoldsTheHead[] =
    "Wine's WinInet reads a head, redirects included, to its end even when its handles are closed from "
    "another thread, which is how the Windows build ends it";

// The system's client follows redirects; a loop of them fails, at the
// client's own bound or (Wine's WinInet has none) at the head's time-out.
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
  if (plat::RunningUnderWine()) GTEST_SKIP() << kWineHoldsTheHead;
  dltest::ShortSocketTimeouts timeouts(5000, 2000);
  EXPECT_EQ(kFetchOpenFailed, GetFileByInet(dir_ / "loop.bin", server_.Url("/loop.bin"), 0, nullptr));
}

// A head that never ends fails the request at the receive time-out, which
// counts for the whole head.
TEST_F(InetTransferTest, AnEndlessHeadFailsTheRequest) {
  if (plat::RunningUnderWine()) GTEST_SKIP() << kWineHoldsTheHead;
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

}  // namespace
