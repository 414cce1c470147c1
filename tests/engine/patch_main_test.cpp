#include "engine/patch_main.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>

#include "engine/patch_entry.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/message_sink.h"
#include "tests/engine/log_capture.h"
#include "tests/support/test_support.h"

using testsupport::TempDir;

namespace {

constexpr uint32_t kProgress = 2024;
constexpr uint32_t kError = 2025;

// Each test gets a freshly reset engine whose owner window is a message
// loop of the test thread and whose working folder is a temp folder.
class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    engine().ResetForTesting();
    PatchStartParams params{};
    params.ownerWindow = loop_.Handle();
    params.progressMessage = kProgress;
    params.errorMessage = kError;
    snprintf(params.workingFolder, sizeof params.workingFolder, "%s", work_.Path().c_str());
    params.flags = 5;
    PatchStartResults results{};
    EXPECT_EQ(3u, engine().Init(params, &results));
  }
  void TearDown() override { engine().ResetForTesting(); }

  static CPatchMain& engine() { return CPatchMain::Instance(); }

  // The messages that reach the owner window within the time.
  std::vector<plat::WindowMessage> Drain(uint32_t ms = 100) {
    std::vector<plat::WindowMessage> got;
    plat::WindowMessage m{};
    const uint32_t start = plat::TickCount();
    while (plat::TickCount() - start < ms) {
      if (loop_.Get(&m, 10)) got.push_back(m);
    }
    return got;
  }

  TempDir work_;
  plat::MessageLoop loop_;
};

TEST_F(EngineTest, InitBuildsTheBackupFolderNames) {
  const std::string w = engine().WorkingFolder();
  ASSERT_FALSE(w.empty());
  EXPECT_TRUE(w.back() == '\\' || w.back() == '/');
  EXPECT_EQ(w + "backup\\", engine().DownloadFolder());
  EXPECT_EQ(w + "backup\\temp\\", engine().TempFolder());
  EXPECT_EQ(w + "backup\\output\\", engine().OutputFolder());
}

TEST_F(EngineTest, InitRefusesAnEmptyWorkingFolder) {
  PatchStartParams params{};
  PatchStartResults results{};
  EXPECT_EQ(3u, engine().Init(params, &results));
}

TEST_F(EngineTest, ErrorEventReachesTheOwnerWindowWhenHandled) {
  LogCapture log;
  engine().ReportError(19);
  EXPECT_TRUE(Drain(30).empty());  // queued, not handled on the spot
  ASSERT_TRUE(engine().ProcessOneEvent());
  auto messages = Drain(50);
  ASSERT_EQ(1u, messages.size());
  EXPECT_EQ(kError, messages[0].message);
  EXPECT_EQ(19u, messages[0].wParam);
  EXPECT_EQ(0, messages[0].lParam);
  EXPECT_TRUE(log.Contains("[1]14:03:27 Error [19] occured\r\n"));
}

TEST_F(EngineTest, StartPatchCreatesFoldersAndRunsTheEngineThread) {
  LogCapture log;
  CPatchMain::Versions versions;
  versions.local = 41;
  engine().SetVersionsForTesting(versions, 41);
  ASSERT_EQ(1u, PLV5_StartPatch());
  EXPECT_TRUE(plat::DirectoryExists(engine().TempFolder()));
  EXPECT_TRUE(plat::DirectoryExists(engine().OutputFolder()));
  EXPECT_TRUE(engine().IsRunning());
  // The engine thread handles events by itself now.
  engine().ReportError(22);
  auto messages = Drain(300);
  size_t errors = 0;
  for (const auto& m : messages) {
    if (m.message != kError) continue;
    ++errors;
    EXPECT_EQ(22u, m.wParam);
  }
  EXPECT_EQ(1u, errors);
  PLV5_Uninit();
  EXPECT_FALSE(engine().IsRunning());
  EXPECT_TRUE(log.Contains("[64]14:03:27 PLV5_StartPatch() begins\r\n"));
  EXPECT_TRUE(log.Contains("[64]14:03:27 PLV5_Uninit() called\r\n"));
  EXPECT_TRUE(log.Contains("[1]14:03:27 \xBC\xF6\xC7\xE0\xBD\xC3\xB0\xA3:"));
  EXPECT_TRUE(log.Contains("[64]14:03:27 PV5::PLV5_Uninit() finished\r\n"));
}

TEST_F(EngineTest, StartFailsWhenAFolderCannotBeCreated) {
  LogCapture log;
  // The working folder's "backup" is a file: it passes as existing, and the
  // first folder under it fails.
  ASSERT_TRUE(testsupport::WriteFileText(work_.Path() + "backup", "in the way"));
  EXPECT_EQ(0u, PLV5_StartSelfUpdate());
  EXPECT_FALSE(engine().IsRunning());
  EXPECT_TRUE(log.Contains("[8]14:03:27 Failed to RecCreateDirectory : Path [" + engine().TempFolder() + "]"));
}

TEST_F(EngineTest, UninitDropsQueuedEventsWithoutAnyMessage) {
  engine().ReportError(3);
  engine().ReportError(4);
  engine().PostEngineEvent(kEventVersionStep, 5, 0);
  PLV5_Uninit();
  EXPECT_EQ(0u, engine().PendingEvents());
  // Even an event that arrives after the stop has no effect.
  engine().ReportError(5);
  engine().ProcessOneEvent();
  EXPECT_TRUE(Drain(50).empty());
}

TEST_F(EngineTest, SetStateAndPublishProgressCopyOnlyTheirPart) {
  PatchStatus& live = engine().LiveStatus();
  snprintf(live.downloadFile, sizeof live.downloadFile, "1N.cab");
  live.downloadPercent = 40.0f;
  snprintf(live.extractFile, sizeof live.extractFile, "data.pak");
  snprintf(live.taskText, sizeof live.taskText, "reading");
  snprintf(live.patchFile, sizeof live.patchFile, "game.exe");
  live.version = 12;

  engine().PublishProgress(2);
  PatchStatus* published = PLV5_LockStatus();
  EXPECT_STREQ("1N.cab", published->downloadFile);
  EXPECT_EQ(40.0f, published->downloadPercent);
  EXPECT_STREQ("", published->extractFile);
  EXPECT_STREQ("", published->taskText);
  EXPECT_EQ(0u, published->version);
  PLV5_UnlockStatus();

  engine().PublishProgress(17);
  engine().PublishProgress(8);
  engine().PublishProgress(14);
  engine().PublishProgress(20);  // not a kind: nothing copied, nothing posted
  engine().SetState(kStateExtracting);
  published = PLV5_LockStatus();
  EXPECT_STREQ("data.pak", published->extractFile);
  EXPECT_STREQ("reading", published->taskText);
  EXPECT_STREQ("game.exe", published->patchFile);
  EXPECT_EQ(kStateExtracting, published->state);
  EXPECT_EQ(12u, published->version);
  PLV5_UnlockStatus();

  auto messages = Drain(50);
  std::vector<uintptr_t> kinds;
  for (const auto& m : messages) {
    EXPECT_EQ(kProgress, m.message);
    kinds.push_back(m.wParam);
  }
  EXPECT_EQ((std::vector<uintptr_t>{2, 17, 8, 14, 19}), kinds);
}

TEST_F(EngineTest, TotalPercent) {
  CPatchMain::Versions& v = engine().VersionInfo();
  PatchStatus& live = engine().LiveStatus();
  PatchList& list = engine().CurrentList();

  // Nothing to go, equal minimal and latest, or a last version out of range.
  v = CPatchMain::Versions{};
  EXPECT_EQ(0.0f, engine().ComputeTotalPercent());
  v.local = 10;
  v.minimal = 12;
  v.latest = 12;
  v.toGo = 2;
  v.lastCompleted = 12;
  EXPECT_EQ(0.0f, engine().ComputeTotalPercent());
  v.minimal = 5;
  v.lastCompleted = 4;
  EXPECT_EQ(0.0f, engine().ComputeTotalPercent());

  // Three versions to go: 33 points a version; one done.
  v.local = 10;
  v.latest = 13;
  v.toGo = 3;
  v.lastCompleted = 11;
  v.current = 12;
  live.sectionCount = 0;
  EXPECT_FLOAT_EQ(33.0f, engine().ComputeTotalPercent());

  // Two sections: S = 33 / 3 / 2 = 5.5 points per section and phase.
  // Finished sections count whole, a percent only for the section under way.
  live.sectionCount = 2;
  list.downloadedSections = 2;
  live.downloadPercent = 100.0f;
  list.extractedFiles = 1;
  list.extractUnderWay = true;
  live.extractPercent = 50.0f;
  list.patchedSections = 0;
  live.patchPercent = 80.0f;  // left from a finished step: counts nothing
  EXPECT_FLOAT_EQ(33.0f + 11.0f + (5.5f + 2.75f), engine().ComputeTotalPercent());

  // The published summary carries the recomputed figure, and so does every
  // other part's publication.
  engine().SetState(kStatePatching);
  PatchStatus* published = PLV5_LockStatus();
  EXPECT_FLOAT_EQ(52.25f, published->totalPercent);
  PLV5_UnlockStatus();
  list.patchUnderWay = true;
  engine().PublishProgress(14);
  published = PLV5_LockStatus();
  EXPECT_FLOAT_EQ(52.25f + 4.4f, published->totalPercent);
  PLV5_UnlockStatus();

  // Once the version is committed its sections are part of the base and
  // are not counted again.
  v.lastCompleted = 12;
  EXPECT_FLOAT_EQ(66.0f, engine().ComputeTotalPercent());
}

TEST_F(EngineTest, ValidVersionsLieBetweenLocalMinimalAndLatest) {
  CPatchMain::Versions& v = engine().VersionInfo();
  v.local = 10;
  v.minimal = 8;
  v.latest = 12;
  EXPECT_TRUE(engine().IsValidVersion(10));
  EXPECT_TRUE(engine().IsValidVersion(12));
  EXPECT_FALSE(engine().IsValidVersion(13));
  EXPECT_FALSE(engine().IsValidVersion(9));
  v.minimal = 11;
  EXPECT_FALSE(engine().IsValidVersion(10));
}

// Destroyed on a worker's thread while the test looks on.
class CountedTask : public CTask {
 public:
  explicit CountedTask(std::atomic<int>& destroyed) : destroyed_(destroyed) {}
  ~CountedTask() override { ++destroyed_; }
  int32_t Process() override { return 0; }

 private:
  std::atomic<int>& destroyed_;
};

TEST_F(EngineTest, PostTaskRules) {
  LogCapture log;
  std::atomic<int> destroyed{0};
  EXPECT_FALSE(engine().PostTask(nullptr));
  EXPECT_TRUE(log.Contains("[8]14:03:27 NULL Task\r\n"));
  EXPECT_FALSE(engine().PostTask(std::make_unique<CountedTask>(destroyed)));
  EXPECT_EQ(1, destroyed);
  EXPECT_TRUE(log.Contains("[8]14:03:27 no workers in patchmain\r\n"));

  // Workers without threads keep what they are given, so counts are exact.
  engine().AddTaskWorkerForTesting(std::make_unique<CTaskWorker>());
  engine().AddTaskWorkerForTesting(std::make_unique<CTaskWorker>());
  CTaskWorker* first = engine().TaskWorkerAt(0);
  CTaskWorker* second = engine().TaskWorkerAt(1);
  EXPECT_TRUE(engine().PostTask(std::make_unique<CountedTask>(destroyed)));  // tie: the first
  EXPECT_EQ(1u, first->GetTaskCount());
  second->AddTask(std::make_unique<CountedTask>(destroyed));
  second->AddTask(std::make_unique<CountedTask>(destroyed));
  EXPECT_TRUE(engine().PostTask(std::make_unique<CountedTask>(destroyed)));  // the fuller one
  EXPECT_EQ(1u, first->GetTaskCount());
  EXPECT_EQ(3u, second->GetTaskCount());

  // The stop destroys queued tasks without running them.
  PLV5_Uninit();
  EXPECT_EQ(0u, engine().TaskWorkerCount());
  EXPECT_EQ(5, destroyed);
}

TEST_F(EngineTest, CreatedTaskWorkerRunsPostedTasks) {
  ASSERT_TRUE(engine().CreateTaskWorker());
  std::atomic<int> destroyed{0};
  ASSERT_TRUE(engine().PostTask(std::make_unique<CountedTask>(destroyed)));
  for (int i = 0; i < 3000 && destroyed == 0; ++i) plat::SleepMs(1);
  EXPECT_EQ(1, destroyed);
}

TEST_F(EngineTest, DownloadStatusesBecomeEngineEvents) {
  engine().OnDownloadStatus(0, 17);
  engine().OnDownloadStatus(4, 18);
  engine().OnDownloadStatus(5, 19);  // idle is not reported
  EXPECT_EQ(2u, engine().PendingEvents());
}

// A download manager whose upkeep fails.
class FailingDownloader : public CDownloader {
 public:
  explicit FailingDownloader(int& stops) : stops_(stops) { m_lastError = 1001; }
  void Stop() override { ++stops_; }
  int32_t Update() override { return -1; }

 private:
  int& stops_;
};

TEST_F(EngineTest, FailedDownloaderUpkeepPostsErrorThree) {
  LogCapture log;
  int stops = 0;
  engine().SetDownloaderForTesting(std::make_unique<FailingDownloader>(stops));
  ASSERT_EQ(1u, PLV5_StartPatch());
  auto messages = Drain(100);
  PLV5_Uninit();
  size_t errors = 0;
  for (const auto& m : messages) {
    if (m.message != kError) continue;
    ++errors;
    EXPECT_EQ(3u, m.wParam);
  }
  EXPECT_GE(errors, 1u);
  EXPECT_EQ(1, stops);
  EXPECT_TRUE(log.Contains("[8]14:03:27 Failed to update downloader : LastErrorCode [1001]\r\n"));
  EXPECT_TRUE(log.Contains("[1]14:03:27 Error [3] occured\r\n"));
}

}  // namespace
