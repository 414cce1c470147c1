// The two tasks end to end: CTaskExtract::Process extracting a section's
// cabinet and patching the client with it, on the end-to-end scenario's
// cabinets and client, and the events both tasks post.
#include <gtest/gtest.h>

#include "apply/patch_moves.h"
#include "apply/task_extract.h"
#include "apply/task_patch.h"
#include "download/crc32.h"
#include "engine/progress_records.h"
#include "platform/file_system.h"
#include "tests/apply/apply_test_support.h"
#include "tests/engine/log_capture.h"

namespace applytest {
namespace {

struct SectionRef {
  uint32_t version;
  uint32_t section;
};
// The scenario's walk from 100 to 103 (102 has no sections).
const SectionRef kWalk[] = {{101, 1}, {101, 2}, {103, 1}, {103, 2}, {103, 3}};

class TaskProcessTest : public ::testing::Test {
 protected:
  TaskProcessTest() {
    box_.CopyInitialClient();
    EXPECT_EQ(ListFiles(box_.Settings().workingFolder).size(), 29u);
  }
  ~TaskProcessTest() override { SetRetryWaitForTesting(nullptr); }

  // Places the section's cabinet from the scenario's server and runs one
  // extract task over it with the section's list records.
  void RunSection(FakeHost& host, uint32_t version, uint32_t section, bool isDiff) {
    const std::string cabName = std::to_string(section) + (isDiff ? "D.cab" : "N.cab");
    box_.PlaceCabinet(E2eDir() + "server/" + std::to_string(version) + "/" + cabName, version, cabName);
    CTaskExtract task(host, box_.Settings(), version, section, isDiff ? 1 : 0, SectionFiles(version, section));
    EXPECT_EQ(task.Process(), 0);
  }

  // Every expected file of the scenario, other than version.dat (written by
  // the engine, not by the tasks), has its expected CRC.
  void ExpectClientAsExpected() const {
    int checked = 0;
    for (const ExpectedRow& row : LoadExpected()) {
      if (row.path == "client/version.dat") continue;
      SCOPED_TRACE(row.path);
      std::string relative = row.path.substr(std::string("client/").size());
      for (char& c : relative) {
        if (c == '/') c = '\\';
      }
      EXPECT_EQ(GetFileCrcText(box_.Client(relative)), row.crc);
      ++checked;
    }
    EXPECT_GE(checked, 25);
  }

  Sandbox box_;
};

// The events of one good section: extraction (two opening events, one per
// extracted file, the end), then the patch (its opening event, the diff
// patch's resume point, one per file), then the section's end.
void ExpectSectionEvents(const FakeHost& host, uint32_t version, uint32_t section, bool isDiff) {
  std::vector<uint32_t> expectedTypes = {kEventTypeExtractProgress, kEventTypeExtractProgress};
  uint32_t cabFiles = 0;
  for (const ListRow& row : LoadListRows()) {
    if (row.version == version && row.section == section) ++cabFiles;
  }
  const std::vector<PatchFileInfo> files = SectionFiles(version, section);
  for (size_t i = 0; i < files.size(); ++i) expectedTypes.push_back(kEventTypeExtractProgress);
  expectedTypes.push_back(kEventTypeExtractDone);
  expectedTypes.push_back(kEventTypePatchProgress);
  if (isDiff) expectedTypes.push_back(kEventTypePatchProgress);
  for (size_t i = 0; i < files.size(); ++i) expectedTypes.push_back(kEventTypePatchProgress);
  expectedTypes.push_back(kEventTypeSectionPatched);
  ASSERT_EQ(host.Types(), expectedTypes);

  const std::vector<EngineEvent> events = host.Events();
  for (const EngineEvent& event : events) EXPECT_EQ(event.sectionOrCode, section);
  const std::vector<uint32_t> extractSteps = ProgressSteps(cabFiles, static_cast<uint32_t>(files.size()));
  for (size_t i = 0; i < files.size(); ++i) EXPECT_EQ(events[2 + i].value, extractSteps[i]);
  const size_t patchStart = 2 + files.size() + 1;
  EXPECT_EQ(events[patchStart].value, 0u);
  EXPECT_EQ(events[patchStart].text, "");
  const size_t firstFile = patchStart + (isDiff ? 2 : 1);
  if (isDiff) {
    EXPECT_EQ(events[patchStart + 1].value, 0u);
  }
  const std::vector<uint32_t> patchSteps =
      ProgressSteps(static_cast<uint32_t>(files.size()), static_cast<uint32_t>(files.size()));
  for (size_t i = 0; i < files.size(); ++i) {
    EXPECT_EQ(events[firstFile + i].value, patchSteps[i]);
    EXPECT_EQ(events[firstFile + i].text, files[i].name);
  }
  EXPECT_EQ(events.back().value, 0u);
  EXPECT_EQ(events.back().text, "");
}

TEST_F(TaskProcessTest, DiffSectionPatchesTheClientWithEventsInOrder) {
  FakeHost host;
  LogCapture log;
  RunSection(host, 101, 1, true);
  ExpectSectionEvents(host, 101, 1, true);
  for (const ListRow& row : SectionRows(101, 1)) {
    EXPECT_EQ(GetFileCrcText(box_.Client(row.name)), row.newCrc) << row.name;
  }
  EXPECT_TRUE(ListFiles(box_.Settings().tempFolder).empty());
  EXPECT_TRUE(ListFiles(box_.Settings().outputFolder).empty());
  EXPECT_TRUE(log.Contains("CTaskExtract::Process() : version [101] section [1] IsDiff [1]"));
  EXPECT_TRUE(log.Contains("CTaskPatch::Process() : version [101] section [1] IsDiff [1]"));
  EXPECT_TRUE(log.Contains("Try to Diff Patch : Ver [101] Section [1]"));
  EXPECT_TRUE(log.Contains("CTaskPatch::Process() Ended : version [101] section [1] IsDiff [1] Result [0]"));
  EXPECT_TRUE(log.Contains("PV5::ExtractPatchFile() finished."));
}

TEST_F(TaskProcessTest, WholeFileSectionPatchesTheClientWithEventsInOrder) {
  FakeHost host;
  LogCapture log;
  RunSection(host, 101, 2, false);
  ExpectSectionEvents(host, 101, 2, false);
  for (const ListRow& row : SectionRows(101, 2)) {
    EXPECT_EQ(GetFileCrcText(box_.Client(row.name)), row.newCrc) << row.name;
  }
  EXPECT_TRUE(log.Contains("Try to File Patch : Ver [101] Section [2]"));
}

TEST_F(TaskProcessTest, DiffWalkFrom100To103GivesTheExpectedClient) {
  for (const SectionRef& ref : kWalk) {
    SCOPED_TRACE(std::to_string(ref.version) + "/" + std::to_string(ref.section));
    FakeHost host;
    RunSection(host, ref.version, ref.section, true);
    ExpectSectionEvents(host, ref.version, ref.section, true);
  }
  ExpectClientAsExpected();
  // The protected file in 103/1 was neither extracted nor patched.
  EXPECT_EQ(GetFileCrcText(box_.Client("data\\Version.INI")), "0xfdac7521");
}

TEST_F(TaskProcessTest, WholeFileWalkFrom100To103GivesTheExpectedClient) {
  for (const SectionRef& ref : kWalk) {
    SCOPED_TRACE(std::to_string(ref.version) + "/" + std::to_string(ref.section));
    FakeHost host;
    RunSection(host, ref.version, ref.section, false);
    ExpectSectionEvents(host, ref.version, ref.section, false);
  }
  ExpectClientAsExpected();
}

TEST_F(TaskProcessTest, InterruptedDiffSectionResumesAndFinishes) {
  // A stop asked for while the second file is patched is seen at the
  // third: files 1 and 2 are patched and recorded.
  FakeHost first;
  first.onEvent = [&first](const EngineEvent& event) {
    if (event.type == kEventTypePatchProgress && event.value == 50) first.stop = true;
  };
  RunSection(first, 101, 1, true);
  const std::vector<EngineEvent> errors = first.EventsOfType(kEventTypeError);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].sectionOrCode, 2u);
  FileProgressRecord record;
  record.Init(box_.Settings().downloadFolder, 101, 1);
  EXPECT_EQ(record.Read(), 2u);

  // The next run extracts again and starts after the recorded file; files
  // 1 and 2 would fail their size check if they were patched twice.
  FakeHost second;
  RunSection(second, 101, 1, true);
  const std::vector<EngineEvent> patch = second.EventsOfType(kEventTypePatchProgress);
  ASSERT_EQ(patch.size(), 4u);
  EXPECT_EQ(patch[1].value, 50u);
  EXPECT_EQ(patch[2].value, 75u);
  EXPECT_EQ(patch[2].text, "ui\\skins\\default\\button.bmp");
  EXPECT_EQ(second.Types().back(), kEventTypeSectionPatched);
  for (const ListRow& row : SectionRows(101, 1)) {
    EXPECT_EQ(GetFileCrcText(box_.Client(row.name)), row.newCrc) << row.name;
  }
  EXPECT_FALSE(plat::FileExists(record.Path()));
}

TEST_F(TaskProcessTest, ExtractFailurePostsExactlyOneErrorAndNoPatchEvents) {
  FakeHost host;
  box_.PlaceCabinetBytes(Bytes("not a cabinet at all, not even close"), 101, "1D.cab");
  CTaskExtract task(host, box_.Settings(), 101, 1, 1, SectionFiles(101, 1));
  EXPECT_EQ(task.Process(), 0);
  ASSERT_EQ(host.Types(), (std::vector<uint32_t>{kEventTypeExtractProgress, kEventTypeExtractProgress,
                                                  kEventTypeError}));
  EXPECT_EQ(host.Events().back().sectionOrCode, 6u);
  EXPECT_EQ(host.Events().back().value, 0u);
  for (const ListRow& row : SectionRows(101, 1)) {
    EXPECT_EQ(GetFileCrcText(box_.Client(row.name)), row.oldCrc) << row.name;
  }
}

TEST_F(TaskProcessTest, HostileCabinetPostsOneErrorAndPatchesNothing) {
  FakeHost host;
  box_.PlaceCabinetBytes(MakeCabinet({{"readme.txt", Bytes("replaced")}, {"..\\..\\evil.txt", Bytes("x")}}),
                         101, "2N.cab");
  CTaskExtract task(host, box_.Settings(), 101, 2, 0, SectionFiles(101, 2));
  EXPECT_EQ(task.Process(), 0);
  const std::vector<EngineEvent> errors = host.EventsOfType(kEventTypeError);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].sectionOrCode, 6u);
  EXPECT_TRUE(host.EventsOfType(kEventTypePatchProgress).empty());
  EXPECT_TRUE(host.EventsOfType(kEventTypeSectionPatched).empty());
  EXPECT_EQ(GetFileCrcText(box_.Client("readme.txt")), "0x6bb2ae29");
  EXPECT_FALSE(Exists(box_.Client("evil.txt")));
  EXPECT_FALSE(Exists(box_.Settings().workingFolder + "..\\evil.txt"));
}

TEST_F(TaskProcessTest, OutputErrorDuringExtractionIsPostedBeforeTheTasksOwn) {
  FakeHost host;
  ASSERT_TRUE(plat::CreateFolder(box_.Temp("readme.txt")));
  box_.PlaceCabinetBytes(MakeCabinet({{"readme.txt", Bytes("replaced")}}), 101, "2N.cab");
  CTaskExtract task(host, box_.Settings(), 101, 2, 0, SectionFiles(101, 2));
  EXPECT_EQ(task.Process(), 0);
  ASSERT_EQ(host.Types(), (std::vector<uint32_t>{kEventTypeExtractProgress, kEventTypeExtractProgress,
                                                  kEventTypeError, kEventTypeError}));
  for (const EngineEvent& event : host.EventsOfType(kEventTypeError)) EXPECT_EQ(event.sectionOrCode, 6u);
}

TEST_F(TaskProcessTest, PatchFailureIsReportedInsteadOfTheSectionEnd) {
  FakeHost host;
  // The client's map01.dat is not the size the list expects.
  WriteText(box_.Client("data\\maps\\map01.dat"), "shorter than it should be");
  LogCapture log;
  RunSection(host, 101, 1, true);
  const std::vector<uint32_t> types = host.Types();
  ASSERT_FALSE(types.empty());
  EXPECT_EQ(types.back(), kEventTypeError);
  EXPECT_EQ(host.Events().back().sectionOrCode, 18u);
  EXPECT_TRUE(host.EventsOfType(kEventTypeSectionPatched).empty());
  EXPECT_TRUE(log.Contains("CTaskPatch::Process() Ended : version [101] section [1] IsDiff [1] Result [18]"));
}

TEST(PatchProcessTest, EmptyWholeFileSectionPostsStartAndEnd) {
  FakeHost host;
  Sandbox box;
  CTaskPatch task(host, box.Settings(), 5, 3, 0, {});
  EXPECT_EQ(task.Process(), 0);
  const std::vector<EngineEvent> events = host.Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].type, kEventTypePatchProgress);
  EXPECT_EQ(events[0].value, 0u);
  EXPECT_EQ(events[0].sectionOrCode, 3u);
  EXPECT_EQ(events[1].type, kEventTypeSectionPatched);
  EXPECT_EQ(events[1].sectionOrCode, 3u);
}

TEST(PatchProcessTest, EmptyDiffSectionPostsStartAndEnd) {
  FakeHost host;
  Sandbox box;
  CTaskPatch task(host, box.Settings(), 5, 3, 1, {});
  EXPECT_EQ(task.Process(), 0);
  EXPECT_EQ(host.Types(), (std::vector<uint32_t>{kEventTypePatchProgress, kEventTypePatchProgress,
                                                  kEventTypeSectionPatched}));
}

TEST(PatchProcessTest, FailureIsPostedAsAnErrorWithItsCode) {
  FakeHost host;
  Sandbox box;
  PatchFileInfo missing;
  missing.name = "missing.txt";
  missing.btFileType = kFileTypeWhole;
  CTaskPatch task(host, box.Settings(), 5, 3, 0, {missing});
  EXPECT_EQ(task.Process(), 0);
  EXPECT_EQ(host.Types(), (std::vector<uint32_t>{kEventTypePatchProgress, kEventTypePatchProgress, kEventTypeError}));
  EXPECT_EQ(host.Events().back().sectionOrCode, 11u);
}

TEST(PatchProcessTest, TaskCanBeDestroyedThroughItsBase) {
  FakeHost host;
  Sandbox box;
  std::unique_ptr<CTask> task = std::make_unique<CTaskExtract>(host, box.Settings(), 5, 3, 0,
                                                              std::vector<PatchFileInfo>{});
  EXPECT_EQ(task->Process(), 0);  // no cabinet: one error
  EXPECT_EQ(host.EventsOfType(kEventTypeError).size(), 1u);
}

}  // namespace
}  // namespace applytest
