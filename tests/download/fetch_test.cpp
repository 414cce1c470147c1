#include "download/fetch.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "engine/folders.h"
#include "engine/patch_entry.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/system_info.h"
#include "tests/download/download_test_support.h"
#include "tests/engine/log_capture.h"
#include "tests/support/http_test_server.h"
#include "tests/support/test_support.h"

using dltest::Pattern;
using testsupport::HttpRoute;
using testsupport::HttpTestServer;
using testsupport::PathExists;
using testsupport::ReadFileText;
using testsupport::TempDir;
using testsupport::WriteFileText;

namespace {

int CountContaining(const std::vector<std::string>& requests, const std::string& text) {
  int n = 0;
  for (const std::string& r : requests) n += r.find(text) != std::string::npos ? 1 : 0;
  return n;
}

class FetchTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.Started()); }
  HttpTestServer server_;
  TempDir dir_;
};

TEST_F(FetchTest, CreatesTheFoldersAndFetchesBySocket) {
  LogCapture log;
  const std::string body = Pattern(30000);
  server_.Set("/12/3N.cab", HttpRoute{body});
  const std::string local = dir_ / "backup\\12\\3N.cab";
  ASSERT_EQ(0u, GetFileFromServerV5(server_.Url("/12/3N.cab"), local, 1, nullptr));
  EXPECT_EQ(body, ReadFileText(dir_ / "backup/12/3N.cab"));
  EXPECT_EQ(1u, server_.Requests().size());
  EXPECT_TRUE(log.Contains("Try to GetFileFromServerV5 : URL [" + server_.Url("/12/3N.cab") + "], FILENAME [" + local +
                           "], CONTINUE [1]"));
}

TEST_F(FetchTest, ThreePassesWithTheMonikerOnlyWhenNotResuming) {
  HttpRoute missing;
  missing.status = 404;
  server_.Set("/gone", missing);
  for (int32_t resume : {1, 0}) {
    SCOPED_TRACE(resume);
    // Wine's URL moniker stores an error page and reports success, so the
    // pass without resume is checked only where the moniker reports 404.
    if (resume == 0 && plat::RunningUnderWine()) continue;
    HttpTestServer server;
    server.Set("/gone", missing);
    const std::string local = dir_ / ("gone" + std::to_string(resume));
    EXPECT_EQ(static_cast<uint32_t>(kFetchOpenFailed), GetFileFromServerV5(server.Url("/gone"), local, resume, nullptr));
    const auto requests = server.Requests();
    EXPECT_EQ(3, CountContaining(requests, "Orvane"));  // the socket transfer
    EXPECT_EQ(3, CountContaining(requests, "User-Agent: Dovra"));
    const int others = static_cast<int>(requests.size()) - 6;
    if (resume != 0) {
      EXPECT_EQ(0, others);
    } else if (plat::IsWindowsSystem()) {
      EXPECT_GE(others, 3);  // the system's moniker may ask more than once
    } else {
      EXPECT_EQ(3, others);
    }
  }
}

TEST_F(FetchTest, MonikerTakesOverWhenTheSocketTransferFails) {
  // A 200 answer with an overlong status line defeats the socket transfer only.
  const std::string body = Pattern(5000);
  HttpRoute route{body};
  route.statusLine = "HTTP/1.1 200 " + std::string(5000, 'K');
  server_.Set("/m.bin", route);
  const std::string local = dir_ / "m.bin";
  const uint32_t result = GetFileFromServerV5(server_.Url("/m.bin"), local, 0, nullptr);
  if (result == 0) {
    EXPECT_EQ(body, ReadFileText(local));
    EXPECT_EQ(1, CountContaining(server_.Requests(), "Orvane"));
  } else {
    // Some HTTP clients refuse such a status line as well.
    EXPECT_EQ(static_cast<uint32_t>(kFetchOpenFailed), result);
  }
}

TEST_F(FetchTest, CancelSetBeforeTheFirstPassIsReportedAsCanceled) {
  server_.Set("/c.bin", HttpRoute{"data"});
  SetTransferCancel();
  EXPECT_EQ(static_cast<uint32_t>(kFetchCanceled), GetFileFromServerV5(server_.Url("/c.bin"), dir_ / "c.bin", 1, nullptr));
  ClearTransferCancel();
  EXPECT_EQ(0u, server_.Requests().size());
}

// A stop must reach a fetch wherever its transfer waits (connecting, in the
// head, in the body) and whichever transport comes next: the transports
// never clear it. The receive time-out is the default, far longer than the
// test, so only the stop can end these waits.
TEST_F(FetchTest, AStopReachesATransferThatWaitsInTheHeadOrTheBody) {
  HttpRoute endless;
  endless.endlessHead = true;
  HttpRoute stalled{Pattern(40000)};
  stalled.stallAfter = 100;
  stalled.stallMs = 60000;
  server_.Set("/head", endless);
  server_.Set("/body", stalled);
  for (const char* path : {"/head", "/body"}) {
    for (int32_t resume : {1, 0}) {
      SCOPED_TRACE(std::string(path) + (resume ? " resumed" : " fresh"));
      std::thread stopper([] {
        plat::SleepMs(300);
        SetTransferCancel();
      });
      const std::string local = dir_ / (std::string(path + 1) + std::to_string(resume));
      const uint32_t result = GetFileFromServerV5(server_.Url(path), local, resume, nullptr);
      stopper.join();
      EXPECT_EQ(static_cast<uint32_t>(kFetchCanceled), result);
      ClearTransferCancel();
    }
  }
}

// Servers that answer and then send nothing hold a fetch only as long as
// its no-progress bound, over all servers, and never forever.
TEST_F(FetchTest, ServersThatSendNothingAreGivenUpAfterTheNoProgressBound) {
  LogCapture log;
  dltest::ShortSocketTimeouts bounds(kDefaultConnectTimeoutMs, kDefaultReceiveTimeoutMs, 1500);
  HttpTestServer second;
  HttpRoute stalled{Pattern(40000)};
  stalled.stallAfter = 0;
  stalled.stallMs = 60000;
  server_.Set("/s/f.bin", stalled);
  second.Set("/s/f.bin", stalled);
  const std::vector<std::string> servers = {server_.Url("/s"), second.Url("/s")};
  EXPECT_EQ(static_cast<uint32_t>(kFetchFolderFailed), GetFileFromServers(servers, "f.bin", dir_ / "f.bin", 1, nullptr));
  EXPECT_TRUE(log.Contains("No data for 1500 ms, gave up : URL [" + server_.Url("/s/f.bin") + "]"));
  EXPECT_EQ(0, second.RequestCount("/s/f.bin"));  // the bound is for the file, not per server
}

// The bound is on silence, not on length: a moniker download that keeps
// receiving outlasts it. The socket transfer does not follow redirects, so
// the moniker carries the file.
TEST_F(FetchTest, AMonikerDownloadThatKeepsReceivingOutlastsTheNoProgressBound) {
  dltest::ShortSocketTimeouts bounds(kDefaultConnectTimeoutMs, kDefaultReceiveTimeoutMs, 1000);
  HttpRoute moved;
  moved.status = 302;
  moved.location = server_.Url("/slow.bin");
  server_.Set("/moved.bin", moved);
  HttpRoute slow{Pattern(5 * 16384)};
  slow.chunkDelayMs = 500;
  server_.Set("/slow.bin", slow);
  const std::string local = dir_ / "slow.bin";
  const uint32_t began = plat::TickCount();
  ASSERT_EQ(0u, GetFileFromServerV5(server_.Url("/moved.bin"), local, 0, nullptr));
  EXPECT_GT(plat::TickCount() - began, 2000u) << "the body came too fast to test the bound";
  EXPECT_EQ(slow.body, ReadFileText(local));
  EXPECT_EQ(1, CountContaining(server_.Requests(), "Orvane"));
  EXPECT_EQ(1, server_.RequestCount("/slow.bin"));
}

TEST_F(FetchTest, UncreatableFolderIsResultThree) {
  LogCapture log;
  ASSERT_TRUE(WriteFileText(dir_ / "blocker", "x"));
  const std::string local = dir_ / "blocker\\sub\\f.bin";
  EXPECT_EQ(static_cast<uint32_t>(kFetchFolderFailed), GetFileFromServerV5(server_.Url("/f"), local, 1, nullptr));
  EXPECT_TRUE(log.Contains("Failed to RecCreateDirectoryFile : Path [" + local + "]"));
  EXPECT_EQ(0u, server_.Requests().size());
}

TEST_F(FetchTest, ServerListIsTriedInOrder) {
  EXPECT_EQ(static_cast<uint32_t>(kFetchFolderFailed), GetFileFromServers({}, "a.bin", dir_ / "a.bin", 1, nullptr));

  HttpTestServer second;
  const std::string body = Pattern(777);
  second.Set("/base/5/version.list", HttpRoute{body});
  HttpRoute missing;
  missing.status = 404;
  server_.Set("/base/5/version.list", missing);
  const std::vector<std::string> servers = {server_.Url("/base"), second.Url("/base")};
  ASSERT_EQ(0u, GetFileFromServers(servers, "5/version.list", dir_ / "version.list", 1, nullptr));
  EXPECT_EQ(body, ReadFileText(dir_ / "version.list"));
  EXPECT_EQ(6, server_.RequestCount("/base/5/version.list"));
  EXPECT_EQ(1, second.RequestCount("/base/5/version.list"));

  const std::vector<std::string> allMissing = {server_.Url("/base")};
  EXPECT_EQ(static_cast<uint32_t>(kFetchFolderFailed),
            GetFileFromServers(allMissing, "5/version.list", dir_ / "other.list", 1, nullptr));
}

TEST_F(FetchTest, DownloadFileEntryFetchesWithoutResume) {
  const std::string body = Pattern(4096);
  server_.Set("/maintenance.ini", HttpRoute{body});
  ASSERT_TRUE(WriteFileText(dir_ / "maintenance.ini", "stale and longer than nothing"));
  EXPECT_TRUE(PLV5_DownloadFile(server_.Url("/maintenance.ini"), dir_ / "maintenance.ini"));
  EXPECT_EQ(body, ReadFileText(dir_ / "maintenance.ini"));
  EXPECT_EQ(std::string::npos, server_.Requests()[0].find("Range"));
  if (plat::RunningUnderWine()) return;  // see ThreePassesWithTheMonikerOnlyWhenNotResuming
  HttpRoute missing;
  missing.status = 500;
  server_.Set("/none.ini", missing);
  EXPECT_FALSE(PLV5_DownloadFile(server_.Url("/none.ini"), dir_ / "none.ini"));
}

// A tree with files, a read-only file, nested folders and a short dot name.
void MakeTree(const std::string& root) {
  ASSERT_TRUE(RecCreateDirectory(root + "a/b/c"));
  ASSERT_TRUE(WriteFileText(root + "top.txt", "1"));
  ASSERT_TRUE(WriteFileText(root + "a/.x", "2"));
  ASSERT_TRUE(WriteFileText(root + "a/b/c/deep.bin", "3"));
  ASSERT_TRUE(WriteFileText(root + "a/b/ro.bin", "4"));
  ASSERT_TRUE(plat::SetAttributes(root + "a/b/ro.bin", plat::kAttrReadOnly));
}

TEST(FolderHelpersTest, RemoveFolderTreeAndClearFolder) {
  TempDir dir;
  const std::string root = dir / "tree/";
  MakeTree(root);
  ClearFolder(root + "*.*");
  EXPECT_TRUE(plat::DirectoryExists(root));
  EXPECT_FALSE(PathExists(dir / "tree/top.txt"));
  EXPECT_FALSE(PathExists(dir / "tree/a"));

  MakeTree(root);
  RemoveFolderTree(dir / "tree");
  EXPECT_FALSE(PathExists(dir / "tree"));
  RemoveFolderTree(dir / "never-there");  // failures are ignored
}

TEST(FolderHelpersTest, DeleteFolderRemovesEverything) {
  TempDir dir;
  MakeTree(dir / "tree/");
  EXPECT_TRUE(DeleteFolder(dir / "tree"));
  EXPECT_FALSE(PathExists(dir / "tree"));
  MakeTree(dir / "tree2/");
  EXPECT_TRUE(DeleteFolder(dir / "tree2\\"));
  EXPECT_FALSE(PathExists(dir / "tree2"));
  EXPECT_FALSE(DeleteFolder(""));
  EXPECT_FALSE(DeleteFolder(dir / "missing"));
}

TEST(FolderHelpersTest, RecCreateDirectoryFileCreatesOnlyFolders) {
  TempDir dir;
  EXPECT_TRUE(RecCreateDirectoryFile(dir / "x\\y/z\\file.bin"));
  EXPECT_TRUE(plat::DirectoryExists(dir / "x/y/z"));
  EXPECT_FALSE(PathExists(dir / "x/y/z/file.bin"));
  EXPECT_TRUE(RecCreateDirectoryFile(dir / "x\\y\\z\\again.bin"));  // existing folders are fine
  EXPECT_TRUE(RecCreateDirectoryFile("file-without-folder.bin"));
  ASSERT_TRUE(WriteFileText(dir / "f", "file"));
  EXPECT_FALSE(RecCreateDirectoryFile(dir / "f\\sub\\g.bin"));
  EXPECT_TRUE(RecCreateDirectory(dir / "p\\q"));
  EXPECT_TRUE(plat::DirectoryExists(dir / "p/q"));
  EXPECT_FALSE(PathExists(dir / "p/q/temp.txt"));
}

}  // namespace
