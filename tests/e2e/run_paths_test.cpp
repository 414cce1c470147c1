// The other ways through the engine: the self-update run, the download-only
// versions, and patchtool patch as publishers' scripts use it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "engine/patch_entry.h"
#include "engine/patch_main.h"
#include "platform/clock.h"
#include "platform/message_sink.h"
#include "platform/system_info.h"
#include "tests/e2e/engine_run.h"
#include "tests/support/patch_repo.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using testsupport::Bytes;
using testsupport::FileTree;
using testsupport::PatchRepoBuilder;
using testsupport::SectionSpec;

namespace {

Bytes Filled(size_t size, uint8_t seed) {
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7 + i / 251);
  return bytes;
}

class RunPathsTest : public ::testing::Test {
 protected:
  RunPathsTest() : repo_(100, FileTree{{"data\\a.dat", Filled(6000, 1)}, {"readme.txt", Filled(300, 2)}}) {
    FileTree v101 = repo_.InitialTree();
    v101["data\\a.dat"][100] ^= 0xFF;
    repo_.AddVersion(101, v101, {SectionSpec{{"data\\a.dat"}}});
    FileTree v102 = v101;
    v102["readme.txt"] = Filled(400, 3);
    repo_.AddVersion(102, v102, {SectionSpec{{"readme.txt"}}});
  }

  void Write(uint32_t latest) {
    ASSERT_TRUE(server_.Started());
    repo_.SetServers({server_.Url("/a")});
    repo_.SetLatestVersion(latest);
    ASSERT_TRUE(repo_.WriteServer(serverDir_.Path())) << repo_.Error();
    ASSERT_TRUE(repo_.WriteClient(client_.Path())) << repo_.Error();
    e2e::ServeFolder(server_, serverDir_.Path(), {"/a/"});
  }

  // Starts the engine on the client as the launcher does; true when Init
  // returned 0.
  bool Init(const std::string& manifestUrl) {
    PatchStartParams params{};
    params.ownerWindow = window_.Handle();
    params.progressMessage = 2024;
    params.errorMessage = 2025;
    snprintf(params.manifestUrl, sizeof params.manifestUrl, "%s", manifestUrl.c_str());
    snprintf(params.workingFolder, sizeof params.workingFolder, "%s", client_.Path().c_str());
    snprintf(params.versionSection, sizeof params.versionSection, "VERSION");
    snprintf(params.downloadSection, sizeof params.downloadSection, "DOWNLOAD");
    params.flags = 5;
    PatchStartResults results{};
    return PLV5_Init(params, &results) == 0;
  }

  // Waits for the run state, or an error; the progress kinds seen.
  std::vector<uintptr_t> WaitForState(uint32_t state, uint32_t* error) {
    std::vector<uintptr_t> kinds;
    *error = 0;
    const uint32_t start = plat::TickCount();
    while (plat::TickCount() - start < 60000) {
      plat::WindowMessage m{};
      if (!window_.Get(&m, 50)) continue;
      if (m.message == 2025) {
        *error = static_cast<uint32_t>(m.wParam);
        break;
      }
      kinds.push_back(m.wParam);
      const uint32_t now = PLV5_LockStatus()->state;
      PLV5_UnlockStatus();
      if (now == state) {
        // The status can run ahead of the messages: take the ones that
        // were posted before the state was reached as well.
        while (window_.Get(&m, 100)) {
          if (m.message == 2024) kinds.push_back(m.wParam);
        }
        break;
      }
    }
    return kinds;
  }

  PatchRepoBuilder repo_;
  testsupport::HttpTestServer server_;
  testsupport::TempDir serverDir_;
  testsupport::TempDir client_;
  plat::MessageLoop window_;
};

TEST_F(RunPathsTest, TheSelfUpdateFetchesThePackageForTheUpdater) {
  repo_.SetOwnVersion(31);
  Write(102);
  testsupport::HttpRoute package;
  package.body = std::string(300000, 'u');
  server_.Set("/a/core31.cab", package);
  testsupport::ScopedCurrentDir inClient(client_.Path());
  ASSERT_TRUE(Init(server_.Url("/a/version.ini")));
  ASSERT_EQ(1u, PLV5_StartSelfUpdate());
  uint32_t error = 0;
  const std::vector<uintptr_t> kinds = WaitForState(2, &error);
  PLV5_Uninit();
  EXPECT_EQ(0u, error);
  ASSERT_FALSE(kinds.empty());
  EXPECT_EQ(19u, kinds.front());  // state 1
  EXPECT_NE(kinds.end(), std::find(kinds.begin(), kinds.end(), 5u));
  EXPECT_NE(kinds.end(), std::find(kinds.begin(), kinds.end(), 6u));
  EXPECT_EQ(package.body, testsupport::ReadFileText(client_ / "upgrade.cab"));
  // The client itself is not patched by a self-update run.
  EXPECT_EQ(100, testsupport::ReadClientVersion(client_.Path()));
}

TEST_F(RunPathsTest, AMissingSelfUpdatePackageIsErrorEight) {
  if (testsupport::RunningUnderWine()) GTEST_SKIP() << "Wine's URL moniker stores a 404 page as a success";
  Write(102);
  testsupport::ScopedCurrentDir inClient(client_.Path());
  ASSERT_TRUE(Init(server_.Url("/a/version.ini")));
  ASSERT_EQ(1u, PLV5_StartSelfUpdate());
  uint32_t error = 0;
  WaitForState(2, &error);
  PLV5_Uninit();
  EXPECT_EQ(8u, error);
}

// Versions above the latest, up to the pre-download end, are only
// downloaded: their cabinets wait in the download folder, the client and
// its version stay.
TEST_F(RunPathsTest, DownloadOnlyVersionsKeepTheirCabinetsAndLeaveTheClient) {
  Write(101);
  testsupport::HttpRoute manifest;
  manifest.body = repo_.ManifestText();
  const size_t at = manifest.body.find("[DOWNLOAD]");
  manifest.body.insert(at, "PreDownStart=102\r\nPreDownEnd=102\r\n");
  server_.Set("/a/version.ini", manifest);
  testsupport::ScopedCurrentDir inClient(client_.Path());
  ASSERT_TRUE(Init(server_.Url("/a/version.ini")));
  ASSERT_EQ(1u, PLV5_StartPatch());
  uint32_t error = 0;
  WaitForState(10, &error);
  ASSERT_EQ(0u, error);
  ASSERT_EQ(101, testsupport::ReadClientVersion(client_.Path()));

  // No run enters the path by itself; the event starts it.
  CPatchMain::Instance().PostEngineEvent(kEventPreDownloadStep, 102, 0);
  const std::string cabinet = client_.Path() + "backup/102/1D.cab";
  const Bytes& expected = repo_.FindBuilt(102)->sections[0].diffCab;
  for (int i = 0; i < 3000 && testsupport::ReadFileBytes(cabinet) != expected; ++i) plat::SleepMs(10);
  // Time for the engine to act on the cabinet, were it to patch with it.
  plat::SleepMs(300);
  PLV5_Uninit();
  EXPECT_EQ(expected, testsupport::ReadFileBytes(cabinet));
  EXPECT_EQ(101, testsupport::ReadClientVersion(client_.Path()));
  EXPECT_EQ("", testsupport::CompareClientTree(client_.Path(), *repo_.TreeAt(101)));
}

// patchtool patch as a script runs it: its exit status tells the outcome.
TEST_F(RunPathsTest, PatchtoolPatchExitStatus) {
  if (plat::IsWindowsSystem()) GTEST_SKIP() << "the tool is started through the native shell";
  Write(102);
  const std::string tool = PATCHTOOL_PATH;
  const std::string log = client_.Path() + "../patchtool.out";
  auto run = [&](const std::string& url) {
    const int status =
        std::system(("'" + tool + "' patch '" + client_.Path() + "' '" + url + "' > '" + log + "' 2>&1").c_str());
    return status >> 8;  // the shell's wait status: the exit code is its second byte
  };
  EXPECT_EQ(0, run(server_.Url("/a/version.ini")));
  std::string out = testsupport::ReadFileText(log);
  EXPECT_NE(std::string::npos, out.find("finished: the client is current at version 102")) << out;
  EXPECT_EQ("", testsupport::CompareClientTree(client_.Path(), repo_.ExpectedTree()));

  // Already current: 0 again, from the init result 7.
  EXPECT_EQ(0, run(server_.Url("/a/version.ini")));

  // A repair puts back what a player damaged, and says so by 0 too.
  fs::remove(testsupport::ClientPath(client_.Path(), "readme.txt"));
  const std::string repair =
      "'" + tool + "' repair '" + client_.Path() + "' '" + server_.Url("/a/version.ini") + "' > '" + log + "' 2>&1";
  EXPECT_EQ(0, std::system(repair.c_str()) >> 8);
  EXPECT_EQ("", testsupport::CompareClientTree(client_.Path(), repo_.ExpectedTree()));

  // No manifest: the init result.
  EXPECT_EQ(3, run(server_.Url("/none/version.ini")));
  out = testsupport::ReadFileText(log);
  EXPECT_NE(std::string::npos, out.find("failed: init result 3")) << out;

  // An engine error: 100 + its code.
  testsupport::TempDir other;
  ASSERT_TRUE(repo_.WriteClient(other.Path()));
  testsupport::HttpRoute broken;
  broken.body = "not a cabinet";
  server_.Set("/a/101/1D.cab", broken);
  const std::string again = "'" + tool + "' patch '" + other.Path() + "' '" + server_.Url("/a/version.ini") + "' > '" +
                            log + "' 2>&1";
  const int status = std::system(again.c_str());
  EXPECT_EQ(103, status >> 8);
  out = testsupport::ReadFileText(log);
  EXPECT_NE(std::string::npos, out.find("failed: engine error 3")) << out;
}

}  // namespace
