// The engine's initialisation against a manifest served over loopback HTTP
// and a client folder in a temp folder.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>

#include "engine/patch_main.h"
#include "platform/file_system.h"
#include "platform/message_sink.h"
#include "tests/engine/log_capture.h"
#include "tests/support/http_test_server.h"
#include "tests/support/test_support.h"

using testsupport::HttpRoute;
using testsupport::HttpTestServer;
using testsupport::PathExists;
using testsupport::ReadFileText;
using testsupport::TempDir;
using testsupport::WriteFileBytes;
using testsupport::WriteFileText;

namespace {

// Versions 10..20; two servers.
const char kManifest[] =
    "[VERSION]\r\nLatestVersion=20\r\nMinimalVersion=10\r\nPreDownStart=21\r\nPreDownEnd=22\r\nOwnVersion=5\r\n"
    "[DOWNLOAD]\r\nserver1=http://127.0.0.1:1/a/\r\nserver2=http://127.0.0.1:1/b\r\n";

std::string ManifestWithServers(const std::string& download) {
  return "[VERSION]\r\nLatestVersion=20\r\nMinimalVersion=10\r\nOwnVersion=5\r\n[DOWNLOAD]\r\n" + download;
}

// A URL on a port where nothing listens any more.
std::string DeadUrl() {
  HttpTestServer gone;
  return gone.Url("/version.ini");
}

class PatchInitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    engine().ResetForTesting();
    ASSERT_TRUE(server_.Started());
  }
  void TearDown() override { engine().ResetForTesting(); }

  static CPatchMain& engine() { return CPatchMain::Instance(); }

  PatchStartParams Params(uint32_t flags = 1) {
    PatchStartParams params{};
    params.ownerWindow = loop_.Handle();
    params.progressMessage = 2024;
    params.errorMessage = 2025;
    snprintf(params.manifestUrl, sizeof params.manifestUrl, "%s", server_.Url("/patch/version.ini").c_str());
    snprintf(params.workingFolder, sizeof params.workingFolder, "%s", work_.Path().c_str());
    snprintf(params.versionSection, sizeof params.versionSection, "VERSION");
    snprintf(params.downloadSection, sizeof params.downloadSection, "DOWNLOAD");
    params.flags = flags;
    return params;
  }

  void Serve(const std::string& manifest) { server_.Set("/patch/version.ini", HttpRoute{manifest}); }

  void WriteLocal(uint32_t version) {
    const uint8_t bytes[4] = {static_cast<uint8_t>(version), static_cast<uint8_t>(version >> 8),
                              static_cast<uint8_t>(version >> 16), static_cast<uint8_t>(version >> 24)};
    ASSERT_TRUE(WriteFileBytes(work_ / "version.dat", bytes, sizeof bytes));
  }

  uint32_t Init(const PatchStartParams& params) {
    results_ = PatchStartResults{};
    return engine().Init(params, &results_);
  }

  HttpTestServer server_;
  TempDir work_;
  plat::MessageLoop loop_;
  PatchStartResults results_{};
};

TEST_F(PatchInitTest, ReadyToPatchFillsResultsAndPreparesTheWorkers) {
  LogCapture log;
  Serve(kManifest);
  WriteLocal(15);
  ASSERT_EQ(0u, Init(Params()));

  EXPECT_EQ(20u, results_.latestVersion);
  EXPECT_EQ(10u, results_.minimalVersion);
  EXPECT_EQ(21u, results_.preDownStartVersion);
  EXPECT_EQ(22u, results_.preDownEndVersion);
  EXPECT_EQ(5u, results_.serverPatcherVersion);
  EXPECT_EQ(15u, results_.localVersion);
  ASSERT_EQ(2u, engine().DownloadUrls().size());
  EXPECT_EQ(engine().DownloadUrls()[0], results_.firstServerUrl);

  const CPatchMain::Versions& v = engine().VersionInfo();
  EXPECT_EQ(20u, v.latest);
  EXPECT_EQ(10u, v.minimal);
  EXPECT_EQ(21u, v.preDownStart);
  EXPECT_EQ(22u, v.preDownEnd);
  EXPECT_EQ(5u, v.serverPatcher);
  EXPECT_EQ(15u, v.local);
  EXPECT_EQ(15u, v.current);
  EXPECT_EQ(15u, v.lastCompleted);
  EXPECT_EQ(5u, v.toGo);

  EXPECT_EQ(1u, engine().TaskWorkerCount());
  EXPECT_TRUE(engine().TaskWorkerAt(0)->IsRunning());
  EXPECT_NE(nullptr, engine().Downloader());
  // The manifest stays in the working folder for the next start.
  EXPECT_EQ(kManifest, ReadFileText(work_ / "version.ini"));
  EXPECT_TRUE(log.Contains("[1]14:03:27 Patch Exp Version [2_0_0_12]\r\n"));
}

TEST_F(PatchInitTest, LocalVersionDecisions) {
  struct Case {
    int local;  // -1: no "version.dat"
    uint32_t result;
    const char* line;
    size_t workers;
  };
  const Case cases[] = {
      {-1, 4, "[8]14:03:27 Failed to get local version file\r\n", 0},
      {9, 5, "[8]14:03:27 The local version is lower than minimal version\r\n", 0},
      {21, 6, "[8]14:03:27 The local version is higher than latest version\r\n", 0},
      {20, 7, "[1]14:03:27 It doesn't need patch\r\n", 1},
      {10, 0, nullptr, 1},
  };
  Serve(kManifest);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.local);
    LogCapture log;
    if (c.local >= 0) {
      WriteLocal(static_cast<uint32_t>(c.local));
    } else {
      plat::RemoveFile(work_.Path() + "version.dat");
    }
    EXPECT_EQ(c.result, Init(Params()));
    if (c.line != nullptr) {
      EXPECT_TRUE(log.Contains(c.line)) << log.Text();
    }
    EXPECT_EQ(c.workers, engine().TaskWorkerCount());
    EXPECT_EQ(c.result == 0, engine().Downloader() != nullptr);
    // What was read before the decision stays in the results.
    EXPECT_EQ(20u, results_.latestVersion);
    EXPECT_EQ(engine().DownloadUrls()[0], results_.firstServerUrl);
    EXPECT_EQ(c.local < 0 ? 0u : static_cast<uint32_t>(c.local), results_.localVersion);
    engine().ResetForTesting();
  }
}

TEST_F(PatchInitTest, VersionFileLength) {
  Serve(kManifest);
  const uint8_t three[3] = {15, 0, 0};
  ASSERT_TRUE(WriteFileBytes(work_ / "version.dat", three, sizeof three));
  EXPECT_EQ(4u, Init(Params()));
  EXPECT_EQ(0u, results_.localVersion);
  engine().ResetForTesting();

  // Bytes after the fourth are ignored: 15, not a larger number.
  const uint8_t five[5] = {15, 0, 0, 0, 0xFF};
  ASSERT_TRUE(WriteFileBytes(work_ / "version.dat", five, sizeof five));
  EXPECT_EQ(0u, Init(Params()));
  EXPECT_EQ(15u, results_.localVersion);
  EXPECT_EQ(15u, engine().VersionInfo().local);
}

TEST_F(PatchInitTest, ServerPatcherVersionFallsBackToCoreVersion) {
  WriteLocal(20);
  Serve("[VERSION]\r\nLatestVersion=20\r\nMinimalVersion=10\r\nOwnVersion=0\r\nCoreVersion=31\r\n"
        "[DOWNLOAD]\r\nserver1=http://s\r\n");
  EXPECT_EQ(7u, Init(Params()));
  EXPECT_EQ(31u, results_.serverPatcherVersion);
  EXPECT_EQ(31u, engine().VersionInfo().serverPatcher);
  engine().ResetForTesting();

  Serve("[VERSION]\r\nLatestVersion=20\r\nMinimalVersion=10\r\nOwnVersion=8\r\nCoreVersion=31\r\n"
        "[DOWNLOAD]\r\nserver1=http://s\r\n");
  EXPECT_EQ(7u, Init(Params()));
  EXPECT_EQ(8u, results_.serverPatcherVersion);
}

TEST_F(PatchInitTest, ManifestFailuresReturnThree) {
  struct Case {
    const char* name;
    std::string manifest;
    const char* line;
  };
  const Case cases[] = {
      {"no versions", "[VERSION]\r\nPreDownStart=4\r\n[DOWNLOAD]\r\nserver1=http://s\r\n",
       "[8]14:03:27 Wrong version.ini\r\n"},
      // Read as 0, "abc" would make every client newer than the servers.
      {"latest not a number", "[VERSION]\r\nLatestVersion=abc\r\nMinimalVersion=10\r\nOwnVersion=5\r\n"
       "[DOWNLOAD]\r\nserver1=http://s\r\n",
       "[8]14:03:27 Wrong version.ini : LatestVersion is not a version number [abc]\r\n"},
      {"core version not a number", "[VERSION]\r\nLatestVersion=20\r\nMinimalVersion=10\r\nCoreVersion=-3\r\n"
       "[DOWNLOAD]\r\nserver1=http://s\r\n",
       "[8]14:03:27 Wrong version.ini : CoreVersion is not a version number [-3]\r\n"},
      {"no first server", ManifestWithServers("server2=http://s\r\n"),
       "[8]14:03:27 Failed to obtain download urls from version.ini\r\n"},
      {"empty first server", ManifestWithServers("server1=\r\nserver2=http://s\r\n"),
       "[8]14:03:27 Failed to obtain download urls from version.ini\r\n"},
  };
  WriteLocal(15);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture log;
    Serve(c.manifest);
    EXPECT_EQ(3u, Init(Params()));
    EXPECT_TRUE(log.Contains(c.line)) << log.Text();
    EXPECT_EQ(0u, engine().TaskWorkerCount());
    EXPECT_STREQ("", results_.firstServerUrl);
    engine().ResetForTesting();
  }
  // The versions were read before the server list failed.
  EXPECT_EQ(20u, results_.latestVersion);
  EXPECT_EQ(5u, results_.serverPatcherVersion);
}

TEST_F(PatchInitTest, NoDownloaderOfTheTypeReturnsEleven) {
  LogCapture log;
  Serve(kManifest);
  WriteLocal(15);
  PatchStartParams params = Params();
  params.downloaderType = 1;
  EXPECT_EQ(11u, Init(params));
  EXPECT_TRUE(log.Contains("[8]14:03:27 Failed to create downloader : type [1]\r\n"));
  EXPECT_EQ(nullptr, engine().Downloader());
  // The task worker already made is the stop sequence's to remove.
  EXPECT_EQ(1u, engine().TaskWorkerCount());
}

TEST_F(PatchInitTest, UpToThreeDistinctServers) {
  WriteLocal(15);
  Serve(ManifestWithServers("server1=http://a\r\nserver2=http://b\r\nserver3=http://c\r\n"
                            "server4=http://d\r\nserver5=http://e\r\n"));
  ASSERT_EQ(0u, Init(Params()));
  const std::vector<std::string> five = engine().DownloadUrls();
  ASSERT_EQ(3u, five.size());
  EXPECT_EQ(3u, std::set<std::string>(five.begin(), five.end()).size());
  for (const std::string& url : five) {
    EXPECT_EQ(1u, std::set<std::string>({"http://a", "http://b", "http://c", "http://d", "http://e"}).count(url));
  }
  engine().ResetForTesting();

  // One trailing "/" goes; of two, one stays. A gap ends the list.
  Serve(ManifestWithServers("server1=http://a/\r\nserver2=http://b//\r\nserver4=http://d\r\n"));
  ASSERT_EQ(0u, Init(Params()));
  const std::vector<std::string> two = engine().DownloadUrls();
  EXPECT_EQ((std::set<std::string>{"http://a", "http://b/"}), std::set<std::string>(two.begin(), two.end()));
  EXPECT_EQ(2u, two.size());
}

TEST_F(PatchInitTest, WeightsOfThePodSectionComeFirst) {
  WriteLocal(20);
  // Each weight list gives one server the only positive weight, so the
  // first URL names the list that was used, whatever the time.
  const std::string servers = "server1=http://one\r\nserver2=http://two\r\nPOD1=5\r\nPOD2=0\r\n";
  Serve(ManifestWithServers(servers + "[DOWNLOAD_POD]\r\nPOD1=0\r\nPOD2=3\r\n"));
  EXPECT_EQ(7u, Init(Params()));
  EXPECT_STREQ("http://two", results_.firstServerUrl);
  engine().ResetForTesting();

  // A "_POD" section without a first weight leaves the download section's.
  Serve(ManifestWithServers(servers + "[DOWNLOAD_POD]\r\nPOD2=3\r\n"));
  EXPECT_EQ(7u, Init(Params()));
  EXPECT_STREQ("http://one", results_.firstServerUrl);
  engine().ResetForTesting();

  // No server has a positive weight: both are still used.
  Serve(ManifestWithServers("server1=http://one\r\nserver2=http://two\r\nPOD1=0\r\nPOD2=-2\r\n"));
  EXPECT_EQ(7u, Init(Params()));
  EXPECT_EQ(2u, engine().DownloadUrls().size());
}

TEST_F(PatchInitTest, FailedManifestDownload) {
  WriteLocal(20);
  const std::string oldManifest = ManifestWithServers("server1=http://old\r\n");
  struct Case {
    const char* name;
    bool oldFile;
    uint32_t keep;
    uint32_t result;
  };
  const Case cases[] = {
      {"no old file, keep 0", false, 0, 3},
      {"no old file, keep 1", false, 1, 3},
      {"old file, keep 0", true, 0, 3},
      {"old file, keep 1", true, 1, 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture log;
    plat::RemoveFile(work_.Path() + "version.ini");
    if (c.oldFile) {
      ASSERT_TRUE(WriteFileText(work_ / "version.ini", oldManifest));
    }
    PatchStartParams params = Params();
    snprintf(params.manifestUrl, sizeof params.manifestUrl, "%s", DeadUrl().c_str());
    params.keepOldManifest = c.keep;
    EXPECT_EQ(c.result, Init(params));
    EXPECT_EQ(c.result == 3, log.Contains("[8]14:03:27 Failed to download version.ini file\r\n"));
    if (c.result == 7) {
      EXPECT_STREQ("http://old", results_.firstServerUrl);
    }
    // A failed download neither damages an old manifest nor leaves a new
    // file that a later start would take for one.
    if (c.oldFile) {
      EXPECT_EQ(oldManifest, ReadFileText(work_ / "version.ini"));
    } else {
      EXPECT_FALSE(PathExists(work_ / "version.ini"));
    }
    engine().ResetForTesting();
  }
}

TEST_F(PatchInitTest, ADownloadedManifestReplacesTheOldOne) {
  WriteLocal(20);
  for (uint32_t keep : {0u, 1u}) {
    SCOPED_TRACE(keep);
    LogCapture log;
    ASSERT_TRUE(WriteFileText(work_ / "version.ini", ManifestWithServers("server1=http://old\r\n")));
    Serve(kManifest);
    PatchStartParams params = Params();
    params.keepOldManifest = keep;
    EXPECT_EQ(7u, Init(params));
    EXPECT_EQ(kManifest, ReadFileText(work_ / "version.ini"));
    EXPECT_NE("http://old", std::string(results_.firstServerUrl));
    EXPECT_FALSE(log.Contains("Failed to SetFileAttribute"));
    engine().ResetForTesting();
  }
  // Without keep, the attributes are cleared even when there is no file yet.
  LogCapture log;
  plat::RemoveFile(work_.Path() + "version.ini");
  EXPECT_EQ(7u, Init(Params()));
  EXPECT_TRUE(log.Contains("[8]14:03:27 Failed to SetFileAttribute version.ini file - LastErrorCode[2]\r\n"))
      << log.Text();
}

class StaleFolderTest : public PatchInitTest {
 protected:
  void SetUp() override {
    PatchInitTest::SetUp();
    ASSERT_TRUE(plat::CreateFolder(work_.Path() + "backup"));
    for (const char* name : {"11", "12", "12a", "13"}) ASSERT_TRUE(plat::CreateFolder(work_.Path() + "backup\\" + name));
    // Deleted with everything in it: files and subfolders.
    ASSERT_TRUE(plat::CreateFolder(work_.Path() + "backup\\12\\inner"));
    ASSERT_TRUE(WriteFileText(work_ / "backup/12/inner/prg_f1.list", "x"));
    ASSERT_TRUE(WriteFileText(work_ / "backup/12/1N.cab", "cab"));
    ASSERT_TRUE(WriteFileText(work_ / "backup/10", "a file, not a version folder"));
  }
  bool Kept(const std::string& name) const { return PathExists(work_ / ("backup/" + name)); }
};

TEST_F(StaleFolderTest, FoldersBelowTheLocalVersionGo) {
  Serve(kManifest);
  WriteLocal(13);
  ASSERT_EQ(0u, Init(Params(1 | 4)));
  EXPECT_FALSE(Kept("11"));
  EXPECT_FALSE(Kept("12"));
  EXPECT_TRUE(Kept("12a"));
  EXPECT_TRUE(Kept("13"));
  EXPECT_TRUE(Kept("10"));
}

TEST_F(StaleFolderTest, TheLocalVersionsFolderStays) {
  Serve(kManifest);
  WriteLocal(12);
  ASSERT_EQ(0u, Init(Params(1 | 4)));
  EXPECT_FALSE(Kept("11"));
  EXPECT_TRUE(Kept("12/inner/prg_f1.list"));
  EXPECT_TRUE(Kept("12a"));
}

TEST_F(StaleFolderTest, NothingGoesWithoutTheFlag) {
  Serve(kManifest);
  WriteLocal(13);
  ASSERT_EQ(0u, Init(Params(1)));
  EXPECT_TRUE(Kept("11"));
  EXPECT_TRUE(Kept("12/1N.cab"));
}

TEST_F(StaleFolderTest, AnUpToDateClientKeepsThemAndGetsNoDownloader) {
  Serve("[VERSION]\r\nLatestVersion=13\r\nMinimalVersion=10\r\n[DOWNLOAD]\r\nserver1=http://s\r\n");
  WriteLocal(13);
  EXPECT_EQ(7u, Init(Params(1 | 4)));
  EXPECT_TRUE(Kept("11"));
  EXPECT_TRUE(Kept("12/1N.cab"));
  EXPECT_EQ(nullptr, engine().Downloader());
}

}  // namespace
