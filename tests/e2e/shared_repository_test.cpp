// The independent repository of the shared test data, patched over HTTP
// from its initial client to the latest version.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "tests/e2e/engine_run.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace {

const std::vector<std::string> kIgnored = {"version.ini", "localinfo.dat", "backup/", "Log/"};

class SharedRepositoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scenario_ = testsupport::TestDataDir() + "e2e/basic/";
    ASSERT_TRUE(fs::is_directory(scenario_ + "server")) << scenario_;
    ASSERT_TRUE(server_.Started());
    e2e::ServeFolder(server_, scenario_ + "server", {"/a/", "/b/", "/c/"});
    FreshClient();
  }

  void FreshClient() {
    testsupport::RemoveTree(sandbox_.Path() + "client");
    testsupport::CopyTree(scenario_ + "sandbox", sandbox_.Path());
  }

  std::string Client() const { return sandbox_.Path() + "client" + static_cast<char>(fs::path::preferred_separator); }
  std::string ManifestUrl() const { return server_.Url("/a/version.ini"); }

  // The client compared with the scenario's expected tree.
  std::string Differences() const {
    return e2e::CompareTree(Client(), e2e::ReadTreeManifest(scenario_ + "expected.tsv", "client/"), kIgnored);
  }

  // Request paths without their server prefix, in arrival order.
  std::vector<std::string> RequestPaths() const {
    std::vector<std::string> paths;
    for (const std::string& head : server_.Requests()) {
      const size_t start = head.find(' ') + 1;
      const std::string path = head.substr(start, head.find(' ', start) - start);
      paths.push_back(path.substr(3));  // "/a/", "/b/" or "/c/"
    }
    return paths;
  }

  std::string scenario_;
  testsupport::TempDir sandbox_;
  testsupport::HttpTestServer server_;
};

TEST_F(SharedRepositoryTest, PatchesTheClientToTheLatestVersion) {
  const e2e::RunOutcome outcome = e2e::RunPatch(Client(), ManifestUrl(), e2e::RunOptions());
  ASSERT_EQ(0u, outcome.initResult);
  EXPECT_EQ(0u, outcome.errorCode);
  ASSERT_TRUE(outcome.finished);
  EXPECT_EQ("", Differences());
  EXPECT_EQ(103, e2e::ReadVersionDat(Client()));
  // Every section takes its diff cabinet, each fetched once, in order.
  const std::vector<std::string> expected = {"version.ini",     "101/version.list", "101/1D.cab", "101/2D.cab",
                                             "102/version.list", "103/version.list", "103/1D.cab", "103/2D.cab",
                                             "103/3D.cab"};
  std::vector<std::string> paths = RequestPaths();
  ASSERT_GE(paths.size(), expected.size());
  paths.resize(expected.size());
  EXPECT_EQ(expected, paths);

  // The working folders are empty again; downloaded cabinets stay without
  // flag 8, patch lists and progress records do not.
  const std::string backup = Client() + "backup/";
  EXPECT_TRUE(fs::is_empty(backup + "temp"));
  EXPECT_TRUE(fs::is_empty(backup + "output"));
  EXPECT_TRUE(fs::exists(backup + "101/1D.cab"));
  EXPECT_FALSE(fs::exists(backup + "101/version.list"));
  EXPECT_FALSE(fs::exists(backup + "101/prg_section.list"));
  EXPECT_FALSE(fs::exists(backup + "103/prg_section.list"));
}

TEST_F(SharedRepositoryTest, FlagEightLeavesTheDownloadFolderEmpty) {
  e2e::RunOptions options;
  options.flags = 5 | 8;
  options.timeoutMs = 20000;
  const e2e::RunOutcome outcome = e2e::RunPatch(Client(), ManifestUrl(), options);
  ASSERT_TRUE(outcome.finished) << "init " << outcome.initResult << " error " << outcome.errorCode;
  EXPECT_EQ("", Differences());
  EXPECT_TRUE(fs::is_directory(Client() + "backup"));
  EXPECT_TRUE(fs::is_empty(Client() + "backup"));
}

TEST_F(SharedRepositoryTest, AnUpToDateClientNeedsNoRun) {
  const e2e::RunOutcome first = e2e::RunPatch(Client(), ManifestUrl(), e2e::RunOptions());
  ASSERT_TRUE(first.finished) << "init " << first.initResult << " error " << first.errorCode;
  const e2e::RunOutcome again = e2e::RunPatch(Client(), ManifestUrl(), e2e::RunOptions());
  EXPECT_EQ(7u, again.initResult);
  EXPECT_EQ("", Differences());
}

// Closing the launcher at any moment and starting it again must still end
// with the exact expected client.
TEST_F(SharedRepositoryTest, StoppedAtAnyPointThenRunAgainEndsExact) {
  const e2e::RunOutcome full = e2e::RunPatch(Client(), ManifestUrl(), e2e::RunOptions());
  ASSERT_TRUE(full.finished);
  const size_t messages = full.progressKinds.size();
  ASSERT_GT(messages, 20u);
  const size_t step = testsupport::RunningUnderWine() ? messages / 6 : messages / 25;
  for (size_t stopAt = 0; stopAt < messages; stopAt += std::max<size_t>(step, 1)) {
    SCOPED_TRACE("stopped after progress message " + std::to_string(stopAt));
    FreshClient();
    testsupport::RemoveTree(Client() + "backup");
    e2e::RunOptions first;
    first.stopAfter = [stopAt](size_t index) { return index >= stopAt; };
    const e2e::RunOutcome interrupted = e2e::RunPatch(Client(), ManifestUrl(), first);
    ASSERT_EQ(0u, interrupted.errorCode);
    const int64_t committed = e2e::ReadVersionDat(Client());
    EXPECT_TRUE(committed >= 100 && committed <= 103) << committed;

    // Unless the first run's finish completed (a stop can come while the
    // deletion list is applied), the next start is a run, even with the
    // latest version committed: it verifies the client and applies the list.
    const bool done = committed == 103 && !fs::exists(Client() + "backup/finish.pending");
    const e2e::RunOutcome resumed = e2e::RunPatch(Client(), ManifestUrl(), e2e::RunOptions());
    ASSERT_EQ(done ? 7u : 0u, resumed.initResult);
    if (!done) {
      ASSERT_EQ(0u, resumed.errorCode);
      ASSERT_TRUE(resumed.finished);
    }
    ASSERT_EQ("", Differences());
    EXPECT_FALSE(fs::exists(Client() + "backup/finish.pending"));
    ASSERT_EQ(103, e2e::ReadVersionDat(Client()));
  }
}

}  // namespace
