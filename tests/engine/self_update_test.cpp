#include "engine/self_update.h"

#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "platform/file_system.h"
#include "platform/path.h"
#include "platform/system_info.h"
#include "tests/engine/log_capture.h"
#include "tests/support/http_test_server.h"
#include "tests/support/test_support.h"

using testsupport::PathExists;
using testsupport::ReadFileText;
using testsupport::TempDir;
using testsupport::WriteFileText;

namespace {

// A folder that nothing can delete or replace on any platform.
void MakeBusyFolder(const std::string& path) {
  ASSERT_TRUE(plat::CreateFolder(path));
  ASSERT_TRUE(WriteFileText(path + "/inside", "x"));
}

TEST(ProcSelfUpdate, InstallsANewFileAndKeepsACopy) {
  TempDir dir;
  LogCapture log;
  ASSERT_TRUE(WriteFileText(dir / "a.dll.pre_zulpatch", "new a"));
  ASSERT_TRUE(WriteFileText(dir / "b.exe", "old b"));
  ASSERT_TRUE(WriteFileText(dir / "b.exe.pre_zulpatch", "new b"));
  ASSERT_TRUE(plat::SetAttributes(dir / "b.exe", plat::kAttrReadOnly));
  EXPECT_TRUE(ProcSelfUpdateIn(dir.Path()));
  EXPECT_EQ("new a", ReadFileText(dir / "a.dll"));
  EXPECT_EQ("new a", ReadFileText(dir / "a.dll.after_patch"));
  EXPECT_FALSE(PathExists(dir / "a.dll.pre_zulpatch"));
  EXPECT_EQ("new b", ReadFileText(dir / "b.exe"));
  EXPECT_EQ("new b", ReadFileText(dir / "b.exe.after_patch"));
  EXPECT_TRUE(log.Contains("MoveFileEx Ready. After  : " + dir.Path() + "b.exe, 5"));
  EXPECT_TRUE(log.Contains("ProcSelfUpdate() finished. success."));
}

TEST(ProcSelfUpdate, DeletesLeftoversFromEarlierRuns) {
  TempDir dir;
  LogCapture log;
  ASSERT_TRUE(WriteFileText(dir / "a.dll.del_zulpatch", "old"));
  ASSERT_TRUE(WriteFileText(dir / "b.dll.del_zulpatch(3)", "old"));
  ASSERT_TRUE(plat::SetAttributes(dir / "b.dll.del_zulpatch(3)", plat::kAttrReadOnly));
  MakeBusyFolder(dir / "c.dll.del_zulpatch");
  EXPECT_TRUE(ProcSelfUpdateIn(dir.Path()));
  EXPECT_FALSE(PathExists(dir / "a.dll.del_zulpatch"));
  EXPECT_FALSE(PathExists(dir / "b.dll.del_zulpatch(3)"));
  EXPECT_TRUE(log.Contains("Failed to delete old patched file : " + dir.Path() + "c.dll.del_zulpatch"));
}

// A target that cannot be replaced is moved to a removable name numbered
// past every leftover of the folder.
TEST(ProcSelfUpdate, MovesAnIrreplaceableTargetToANumberedName) {
  struct Case {
    std::vector<std::string> leftovers;
    std::string removable;
  };
  const Case cases[] = {
      {{}, "t.dll.del_zulpatch"},
      {{"x.del_zulpatch"}, "t.dll.del_zulpatch(1)"},
      {{"x.del_zulpatch(2)", "y.del_zulpatch(7)"}, "t.dll.del_zulpatch(8)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.removable);
    TempDir dir;
    LogCapture log;
    for (const std::string& name : c.leftovers) MakeBusyFolder(dir / name);
    MakeBusyFolder(dir / "t.dll");
    ASSERT_TRUE(WriteFileText(dir / "t.dll.pre_zulpatch", "new t"));
    EXPECT_TRUE(ProcSelfUpdateIn(dir.Path()));
    EXPECT_EQ("new t", ReadFileText(dir / "t.dll"));
    EXPECT_EQ("x", ReadFileText(dir / (c.removable + "/inside")));
    EXPECT_FALSE(PathExists(dir / "t.dll.after_patch"));
    EXPECT_TRUE(log.Contains("MoveFileEx Success. #2. " + dir.Path() + "t.dll.pre_zulpatch => " + dir.Path() + "t.dll"));
  }
}

// On Windows a running program's file is held open: it can be neither
// replaced nor renamed, and the update waits for a later start.
TEST(ProcSelfUpdate, ATargetHeldOpenStaysForALaterRun) {
  if (!plat::IsWindowsSystem()) GTEST_SKIP() << "only Windows refuses to move a file that is held open";
  TempDir dir;
  LogCapture log;
  ASSERT_TRUE(WriteFileText(dir / "run.exe", "running"));
  ASSERT_TRUE(WriteFileText(dir / "run.exe.pre_zulpatch", "new"));
  plat::File held;
  ASSERT_TRUE(held.Open(dir / "run.exe", plat::File::kRead, plat::File::kShareRead, plat::File::kOpenExisting));
  EXPECT_FALSE(ProcSelfUpdateIn(dir.Path()));
  EXPECT_TRUE(log.Contains("Failed to rename old file name to removeable file name : " + dir.Path() + "run.exe => " +
                           dir.Path() + "run.exe.del_zulpatch"));
  EXPECT_TRUE(PathExists(dir / "run.exe.pre_zulpatch"));
  held.Close();
  EXPECT_EQ("running", ReadFileText(dir / "run.exe"));
  // Once the program has ended, the next start installs the update.
  EXPECT_TRUE(ProcSelfUpdateIn(dir.Path()));
  EXPECT_EQ("new", ReadFileText(dir / "run.exe"));
}

// An update that cannot be moved in never costs the file it replaces: the
// old file is put back from its removable name, and a start that finds
// the target gone while its update still waits restores it first.
TEST(ProcSelfUpdate, AnUpdateThatCannotBeMovedInKeepsTheOldFile) {
  for (const bool diedBetweenTheMoves : {false, true}) {
    SCOPED_TRACE(diedBetweenTheMoves ? "old file under its removable name" : "old file in place");
    TempDir dir;
    LogCapture log;
    ASSERT_TRUE(WriteFileText(dir / (diedBetweenTheMoves ? "t.dll.del_zulpatch" : "t.dll"), "old t"));
    ASSERT_TRUE(WriteFileText(dir / "t.dll.pre_zulpatch", "new t"));
    plat::SetFileFaultHookForTesting([](plat::FileFault operation, const std::string& path) {
      return operation == plat::FileFault::kMove && plat::FileNameOf(path) == "t.dll.pre_zulpatch";
    });
    EXPECT_FALSE(ProcSelfUpdateIn(dir.Path()));
    plat::SetFileFaultHookForTesting(nullptr);
    EXPECT_EQ("old t", ReadFileText(dir / "t.dll"));
    EXPECT_FALSE(PathExists(dir / "t.dll.del_zulpatch"));
    EXPECT_TRUE(log.Contains("Failed to renaming-patch : " + dir.Path() + "t.dll.pre_zulpatch"));
    // The update waits for the next start, which installs it.
    EXPECT_TRUE(ProcSelfUpdateIn(dir.Path()));
    EXPECT_EQ("new t", ReadFileText(dir / "t.dll"));
  }
}

TEST(ProcSelfUpdate, StopsAtAnUpdateWithoutATargetName) {
  TempDir dir;
  LogCapture log;
  ASSERT_TRUE(WriteFileText(dir / ".pre_zulpatch", "nameless"));
  EXPECT_FALSE(ProcSelfUpdateIn(dir.Path()));
  EXPECT_TRUE(log.Contains("[8]14:03:27 Wrong pre patch file is added in client folder : " + dir.Path() + ".pre_zulpatch"));
  EXPECT_TRUE(PathExists(dir / ".pre_zulpatch"));
}

// Records what a task posts.
class RecordingHost : public TaskHost {
 public:
  bool Stopping() const override { return false; }
  void PostTaskEvent(const EngineEvent& event) override {
    std::lock_guard<std::mutex> lock(lock_);
    events_.push_back(event);
  }
  using TaskHost::PostTaskEvent;
  std::vector<EngineEvent> Events() {
    std::lock_guard<std::mutex> lock(lock_);
    return events_;
  }

 private:
  std::mutex lock_;
  std::vector<EngineEvent> events_;
};

TEST(TaskSelfUpdate, FetchesThePackageWithProgressThenReportsTheEnd) {
  testsupport::HttpTestServer server;
  ASSERT_TRUE(server.Started());
  testsupport::HttpRoute route;
  route.body = std::string(200000, 'c');
  server.Set("/b/core31.cab", route);
  TempDir dir;
  testsupport::ScopedCurrentDir inDir(dir.Path());
  RecordingHost host;
  EngineSettings settings;
  settings.downloadUrls = {server.Url("/b")};
  CTaskSelfUpdate task(host, settings, 31);
  EXPECT_EQ(0, task.Process());
  EXPECT_EQ(route.body, ReadFileText(dir / "upgrade.cab"));
  const std::vector<EngineEvent> events = host.Events();
  ASSERT_GE(events.size(), 2u);
  for (size_t i = 0; i + 1 < events.size(); ++i) {
    EXPECT_EQ(2u, events[i].type);
    EXPECT_LE(events[i].value, 100u);
  }
  EXPECT_EQ(100u, events[events.size() - 2].value);
  EXPECT_EQ(1u, events.back().type);
}

TEST(TaskSelfUpdate, AnUnreachableServerIsErrorEight) {
  std::string deadUrl;
  {
    // A port that was just free: nothing listens there any more.
    testsupport::HttpTestServer server;
    ASSERT_TRUE(server.Started());
    deadUrl = server.Url("/a");
  }
  TempDir dir;
  testsupport::ScopedCurrentDir inDir(dir.Path());
  LogCapture log;
  RecordingHost host;
  EngineSettings settings;
  settings.downloadUrls = {deadUrl};
  CTaskSelfUpdate task(host, settings, 28);
  EXPECT_EQ(0, task.Process());
  const std::vector<EngineEvent> events = host.Events();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(0u, events.back().type);
  EXPECT_EQ(8u, events.back().sectionOrCode);
  EXPECT_EQ(3u, events.back().value);  // every server failed
  EXPECT_TRUE(log.Contains("[8]14:03:27 Failed to download file [core28.cab]"));
}

}  // namespace
