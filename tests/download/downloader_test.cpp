#include "download/downloader_http.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <vector>

#include "platform/clock.h"
#include "tests/download/download_test_support.h"
#include "tests/engine/log_capture.h"
#include "tests/support/http_test_server.h"
#include "tests/support/test_support.h"

using dltest::Pattern;
using testsupport::HttpRoute;
using testsupport::HttpTestServer;
using testsupport::TempDir;

namespace {

class RecordingNotifier : public NotifierDownloadStatus {
 public:
  void OnDownloadStatus(uint32_t status, uint32_t requestNumber) override {
    std::lock_guard<std::mutex> lock(lock_);
    events_.emplace_back(status, requestNumber);
  }
  std::vector<std::pair<uint32_t, uint32_t>> Events() const {
    std::lock_guard<std::mutex> lock(lock_);
    return events_;
  }
  // Waits (bounded) until a final status for the request arrives.
  bool WaitForEnd(uint32_t requestNumber) const {
    for (int i = 0; i < 2000; ++i) {
      for (const auto& e : Events()) {
        if (e.second == requestNumber && e.first != kDownloadInProgress) return true;
      }
      plat::SleepMs(10);
    }
    return false;
  }

 private:
  mutable std::mutex lock_;
  std::vector<std::pair<uint32_t, uint32_t>> events_;
};

TEST(DownloaderTest, CreateDownloaderKnowsOnlyTypeZero) {
  EXPECT_NE(nullptr, CreateDownloader(0));
  EXPECT_EQ(nullptr, CreateDownloader(1));
  EXPECT_EQ(nullptr, CreateDownloader(-1));
}

TEST(DownloaderTest, RequestNumbersCountUpAcrossDownloaders) {
  LogCapture log;
  CDownloaderHTTP first;
  CDownloaderHTTP second;
  uint32_t a = 0, b = 0, c = 0;
  EXPECT_EQ(0, first.RequestDownload("http://h/1", "C:\\game\\backup\\12\\12N.cab", &a));
  EXPECT_EQ(0, second.RequestDownload("http://h/2", "backup/12/3D.cab", &b));
  EXPECT_EQ(0, first.RequestDownload("http://h/3", "x.bin", &c));
  EXPECT_GE(a, 1u);
  EXPECT_EQ(a + 1, b);
  EXPECT_EQ(b + 1, c);
  EXPECT_TRUE(log.Contains("Request to download : FileName [12N.cab]"));
  EXPECT_TRUE(log.Contains("Request to download : FileName [3D.cab]"));
}

TEST(DownloaderTest, DownloadNextWithNothingPendingFails) {
  LogCapture log;
  CDownloaderHTTP downloader;
  EXPECT_EQ(kDownloaderFail, downloader.DownloadNext());
  EXPECT_EQ(kDownloaderNothingPending, downloader.GetLastErrorCode());
  DownloadStatus status;
  downloader.GetStatus(&status);
  EXPECT_EQ(kDownloadIdle, status.status);
  EXPECT_EQ(0u, status.requestNumber);
  EXPECT_TRUE(log.Contains("No more downloading informations"));
}

TEST(DownloaderTest, TransfersARealFileAndReportsCompletion) {
  LogCapture log;
  HttpTestServer server;
  ASSERT_TRUE(server.Started());
  const std::string body = Pattern(120000);
  server.Set("/7/2N.cab", HttpRoute{body});
  TempDir dir;
  RecordingNotifier notifier;
  CDownloaderHTTP downloader;
  downloader.SetCancelWaitForTesting(0);
  ASSERT_EQ(0, downloader.Init(6, &notifier, dir / "version.ini"));
  uint32_t number = 0;
  downloader.RequestDownload(server.Url("/7/2N.cab"), dir / "backup\\7\\2N.cab", &number);
  ASSERT_EQ(0, downloader.DownloadNext());
  DownloadStatus started;
  downloader.GetStatus(&started);
  EXPECT_EQ("2N.cab", started.fileName);
  EXPECT_EQ(number, started.requestNumber);
  ASSERT_TRUE(notifier.WaitForEnd(number));
  downloader.Stop();

  EXPECT_EQ(body, testsupport::ReadFileText(dir / "backup/7/2N.cab"));
  const auto events = notifier.Events();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(std::make_pair(kDownloadComplete, number), events.back());
  for (size_t i = 0; i + 1 < events.size(); ++i) EXPECT_EQ(kDownloadInProgress, events[i].first);
  DownloadStatus finished;
  downloader.GetStatus(&finished);
  EXPECT_EQ(kDownloadComplete, finished.status);
  EXPECT_FLOAT_EQ(100.0f, finished.percent);
  EXPECT_EQ(120000, finished.total);
  EXPECT_TRUE(log.Contains("Start to download file : 2N.cab"));
  // The resumed socket transfer asked for resumption.
  EXPECT_NE(std::string::npos, log.Text().find("Continue [YES]"));
}

struct EndCase {
  uint32_t fetchResult;
  uint32_t status;
  const char* line;
};

TEST(DownloaderTest, FetchResultsMapToStatusesAndLines) {
  const EndCase cases[] = {
      {4, kDownloadConnectionLost, "HTTPDownload Error : File [out.bin] code [4]"},
      {5, kDownloadDiskFull, "HTTPDownload Error : File [out.bin] code[5]"},
      {2, kDownloadFailed, "HTTPDownload Error : File [out.bin] code[2]"},
      {1, kDownloadFailed, "HTTPDownload Error : File [out.bin] code[1]"},
      {0, kDownloadComplete, "\xC6\xC4\xC0\xCF \xB4\xD9\xBF\xEE\xB7\xCE\xB5\xE5 \xC1\xBE\xB7\xE1. "},
  };
  for (const EndCase& c : cases) {
    SCOPED_TRACE(c.fetchResult);
    LogCapture log;
    RecordingNotifier notifier;
    std::atomic<int32_t> resumeSeen{-1};
    CDownloaderHTTP downloader([&](const std::string&, const std::string&, int32_t resume, const TransferProgress&) {
      resumeSeen = resume;
      return c.fetchResult;
    });
    downloader.SetCancelWaitForTesting(0);
    ASSERT_EQ(0, downloader.Init(0, &notifier, ""));
    uint32_t number = 0;
    downloader.RequestDownload("http://127.0.0.1:1/x", "out.bin", &number);
    ASSERT_EQ(0, downloader.DownloadNext());
    ASSERT_TRUE(notifier.WaitForEnd(number));
    downloader.Stop();
    EXPECT_EQ(1, resumeSeen.load());
    EXPECT_EQ(std::make_pair(c.status, number), notifier.Events().back());
    EXPECT_TRUE(log.Contains(c.line));
  }
}

TEST(DownloaderTest, ProgressReportsAreThrottledButStatusChangesAreNot) {
  uint32_t now = 5000;
  RecordingNotifier notifier;
  CDownloaderHTTP downloader;
  downloader.SetTickSourceForTesting([&now] { return now; });
  ASSERT_EQ(0, downloader.CDownloader::Init(0, &notifier, ""));  // no thread: the test drives it
  uint32_t number = 0;
  downloader.RequestDownload("http://127.0.0.1:1/x", "t.bin", &number);
  // The transfer is never run: DownloadNext only queues it.
  ASSERT_EQ(0, downloader.DownloadNext());

  downloader.OnTransferProgress(0, 1000);
  now += 50;
  downloader.OnTransferProgress(100, 1000);
  EXPECT_EQ(1u, notifier.Events().size());
  now += 50;
  downloader.OnTransferProgress(200, 1000);
  EXPECT_EQ(2u, notifier.Events().size());
  now += 10;
  downloader.OnTransferProgress(300, 2000);  // the total changed: reported at once
  EXPECT_EQ(3u, notifier.Events().size());
  DownloadStatus status;
  downloader.GetStatus(&status);
  EXPECT_FLOAT_EQ(15.0f, status.percent);
  EXPECT_EQ(2000, status.total);
  EXPECT_EQ(110u, status.elapsed);
}

TEST(DownloaderTest, SpeedIsSampledOverAtLeastOneSecond) {
  uint32_t now = 0;
  CDownloaderHTTP downloader;
  downloader.SetTickSourceForTesting([&now] { return now; });
  uint32_t number = 0;
  downloader.RequestDownload("http://127.0.0.1:1/x", "s.bin", &number);
  ASSERT_EQ(0, downloader.DownloadNext());
  downloader.OnTransferProgress(0, 100000);
  now = 999;
  downloader.OnTransferProgress(40000, 100000);
  DownloadStatus status;
  downloader.GetStatus(&status);
  EXPECT_EQ(0, status.speed);  // the window is not full yet
  now = 1000;
  downloader.OnTransferProgress(50000, 100000);
  downloader.GetStatus(&status);
  EXPECT_EQ(50000, status.speed);
  now = 2500;
  downloader.OnTransferProgress(80000, 100000);
  downloader.GetStatus(&status);
  EXPECT_EQ(30000, status.speed);
}

// A cancel returns once no transfer runs: at once with none, and only after
// the running one has seen the flag and ended.
TEST(DownloaderTest, CancelWaitsForTheRunningTransferOnly) {
  {
    CDownloaderHTTP idle;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(0, idle.Cancel(DownloadRequest()));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
    EXPECT_TRUE(IsTransferCanceled());
    ClearTransferCancel();
  }
  RecordingNotifier notifier;
  std::atomic<bool> started{false};
  std::atomic<bool> ended{false};
  CDownloaderHTTP downloader([&](const std::string&, const std::string&, int32_t, const TransferProgress&) {
    started = true;
    while (!IsTransferCanceled()) plat::SleepMs(1);
    plat::SleepMs(100);  // a transfer finishing its block
    ended = true;
    return static_cast<uint32_t>(kFetchCanceled);
  });
  downloader.SetCancelWaitForTesting(5000);
  ASSERT_EQ(0, downloader.Init(0, &notifier, ""));
  uint32_t number = 0;
  downloader.RequestDownload("http://h/a", "a.bin", &number);
  ASSERT_EQ(0, downloader.DownloadNext());
  for (int i = 0; i < 500 && !started; ++i) plat::SleepMs(10);
  ASSERT_TRUE(started);
  EXPECT_EQ(0, downloader.Cancel(DownloadRequest()));
  EXPECT_TRUE(ended);
  downloader.Stop();
  ClearTransferCancel();
}

TEST(DownloaderTest, StopWithoutCurrentRequestDropsOnePendingAndJoins) {
  RecordingNotifier notifier;
  std::atomic<int> fetches{0};
  CDownloaderHTTP downloader([&](const std::string&, const std::string&, int32_t, const TransferProgress&) {
    ++fetches;
    return 0u;
  });
  ASSERT_EQ(0, downloader.Init(0, &notifier, ""));
  ASSERT_TRUE(downloader.HasThread());
  uint32_t a = 0, b = 0;
  downloader.RequestDownload("http://h/a", "a.bin", &a);
  downloader.RequestDownload("http://h/b", "b.bin", &b);
  downloader.Stop();
  EXPECT_FALSE(downloader.IsRunning());
  EXPECT_FALSE(IsTransferCanceled());  // nothing was current, nothing canceled
  EXPECT_EQ(0, fetches.load());
  // One of the two was dropped; the other is still pending.
  EXPECT_EQ(0, downloader.DownloadNext());
  EXPECT_EQ(kDownloaderFail, downloader.DownloadNext());
}

TEST(DownloaderTest, StopCancelsARunningTransfer) {
  HttpTestServer server;
  HttpRoute route{Pattern(2000000)};
  route.chunkDelayMs = 20;
  server.Set("/slow.bin", route);
  TempDir dir;
  RecordingNotifier notifier;
  CDownloaderHTTP downloader;
  downloader.SetCancelWaitForTesting(50);
  ASSERT_EQ(0, downloader.Init(0, &notifier, ""));
  uint32_t number = 0;
  downloader.RequestDownload(server.Url("/slow.bin"), dir / "slow.bin", &number);
  ASSERT_EQ(0, downloader.DownloadNext());
  for (int i = 0; i < 500 && notifier.Events().empty(); ++i) plat::SleepMs(10);
  downloader.Stop();
  ASSERT_TRUE(notifier.WaitForEnd(number));
  EXPECT_EQ(std::make_pair(kDownloadFailed, number), notifier.Events().back());
  ClearTransferCancel();
}

}  // namespace
