// CTaskPatch::FilePatch: whole files moved from the temp folder into the
// client folder.
#include <gtest/gtest.h>

#include <chrono>

#include "apply/patch_moves.h"
#include "apply/task_patch.h"
#include "platform/file_system.h"
#include "tests/apply/apply_test_support.h"
#include "tests/engine/log_capture.h"

namespace applytest {
namespace {

constexpr uint32_t kVersion = 7;
constexpr uint32_t kSection = 2;

PatchFileInfo Whole(const std::string& name) {
  PatchFileInfo info;
  info.name = name;
  info.btFileType = kFileTypeWhole;
  return info;
}

class FilePatchTest : public ::testing::Test {
 protected:
  ~FilePatchTest() override {
    SetPatchMoveForTesting(nullptr);
    SetRetryWaitForTesting(nullptr);
  }
  FilePatchTest() {
    SetRetryWaitForTesting([this](uint32_t ms) { waits_.push_back(ms); });
  }
  uint32_t Run(const std::vector<PatchFileInfo>& files) {
    CTaskPatch task(host_, box_.Settings(), kVersion, kSection, 0, files);
    return task.FilePatch();
  }
  void Extracted(const std::string& name, const std::string& text) { WriteText(box_.Temp(name), text); }
  std::string ClientText(const std::string& name) const {
    const std::vector<uint8_t> bytes = ReadFile(box_.Client(name));
    return std::string(bytes.begin(), bytes.end());
  }

  FakeHost host_;
  Sandbox box_;
  std::vector<uint32_t> waits_;
};

TEST_F(FilePatchTest, MovesEveryFileWithProgressPerFile) {
  Extracted("readme.txt", "new readme");
  Extracted("data\\maps\\map01.dat", "new map");
  Extracted("data\\new\\folder\\fresh.bin", "fresh");
  WriteText(box_.Client("readme.txt"), "old readme");
  const std::vector<PatchFileInfo> files = {Whole("readme.txt"), Whole("data\\maps\\map01.dat"),
                                            Whole("data\\new\\folder\\fresh.bin")};
  LogCapture log;
  ASSERT_EQ(Run(files), 0u);
  EXPECT_EQ(ClientText("readme.txt"), "new readme");
  EXPECT_EQ(ClientText("data\\maps\\map01.dat"), "new map");
  EXPECT_EQ(ClientText("data\\new\\folder\\fresh.bin"), "fresh");
  EXPECT_FALSE(Exists(box_.Temp("readme.txt")));
  EXPECT_FALSE(Exists(box_.Temp("data\\maps\\map01.dat")));

  const std::vector<EngineEvent> events = host_.Events();
  ASSERT_EQ(events.size(), 3u);
  const uint32_t values[] = {33, 66, 100};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(events[i].type, kEventTypePatchProgress);
    EXPECT_EQ(events[i].value, values[i]);
    EXPECT_EQ(events[i].sectionOrCode, kSection);
    EXPECT_EQ(events[i].text, files[i].name);
  }
  EXPECT_TRUE(log.Contains("FilePatch() begins : Section [2]"));
  EXPECT_TRUE(log.Contains("Tried to file patch : File [readme.txt] \r\n"));
  EXPECT_TRUE(waits_.empty());
}

TEST_F(FilePatchTest, EmptyListDoesNothing) {
  ASSERT_EQ(Run({}), 0u);
  EXPECT_TRUE(host_.Events().empty());
}

TEST_F(FilePatchTest, ReadOnlyClientFileIsReplaced) {
  SKIP_READ_ONLY_CASE_AS_ROOT();
  Extracted("a.txt", "new");
  WriteText(box_.Client("a.txt"), "old");
  MakeReadOnly(box_.Client("a.txt"));
  ASSERT_EQ(Run({Whole("a.txt")}), 0u);
  EXPECT_EQ(ClientText("a.txt"), "new");
}

TEST_F(FilePatchTest, MissingExtractedFileStopsWithElevenEvenWhenLaterFilesArePresent) {
  Extracted("first.txt", "1");
  Extracted("third.txt", "3");
  LogCapture log;
  EXPECT_EQ(Run({Whole("first.txt"), Whole("second.txt"), Whole("third.txt")}), 11u);
  EXPECT_EQ(ClientText("first.txt"), "1");
  EXPECT_FALSE(Exists(box_.Client("third.txt")));
  EXPECT_TRUE(Exists(box_.Temp("third.txt")));
  EXPECT_TRUE(log.Contains("Access Error : File [" + box_.Temp("second.txt") + "]"));
  EXPECT_EQ(host_.Events().size(), 2u);
}

TEST_F(FilePatchTest, FolderThatCannotBeMadeGivesEleven) {
  Extracted("sub\\deeper\\a.txt", "a");
  WriteText(box_.Client("sub"), "a file where a folder should be");
  LogCapture log;
  EXPECT_EQ(Run({Whole("sub\\deeper\\a.txt")}), 11u);
  EXPECT_TRUE(log.Contains("Failed to RecCreateDirectoryFile : Path [" + box_.Client("sub\\deeper\\a.txt") + "]"));
  EXPECT_TRUE(Exists(box_.Temp("sub\\deeper\\a.txt")));
}

TEST_F(FilePatchTest, ClientPathOf260BytesOrMoreGivesEleven) {
  const std::string name(260 - box_.Settings().workingFolder.size(), 'n');
  LogCapture log;
  EXPECT_EQ(Run({Whole(name)}), 11u);
  EXPECT_TRUE(log.Contains("Failed to RecCreateDirectoryFile : Path ["));
}

TEST_F(FilePatchTest, StopIsSeenAfterTheChecksAndBeforeTheMove) {
  Extracted("a.txt", "a");
  Extracted("b.txt", "b");
  host_.stopAfterChecks = 1;  // the first file moves, the second does not
  EXPECT_EQ(Run({Whole("a.txt"), Whole("b.txt")}), 2u);
  EXPECT_EQ(ClientText("a.txt"), "a");
  EXPECT_FALSE(Exists(box_.Client("b.txt")));
  EXPECT_TRUE(Exists(box_.Temp("b.txt")));
  // The second file's progress was posted before the stop was seen.
  EXPECT_EQ(host_.Events().size(), 2u);
}

TEST_F(FilePatchTest, MoveThatFailsOnceSucceedsAfterTheWait) {
  Extracted("a.txt", "a");
  Extracted("b.txt", "b");
  int calls = 0;
  SetPatchMoveForTesting([&calls](const std::string& from, const std::string& to) {
    if (++calls == 1) {
      plat::SetLastError(plat::kErrorSharingViolation);
      return false;
    }
    return plat::MoveReplace(from, to);
  });
  LogCapture log;
  ASSERT_EQ(Run({Whole("a.txt"), Whole("b.txt")}), 0u);
  EXPECT_EQ(ClientText("a.txt"), "a");
  EXPECT_EQ(ClientText("b.txt"), "b");
  EXPECT_EQ(waits_, std::vector<uint32_t>{1000});
  EXPECT_TRUE(log.Contains("Failed to move_1 file in FilePatch() : Error [32] ExistingPath [" + box_.Temp("a.txt") +
                           "] NewPath [" + box_.Client("a.txt") + "]"));
  EXPECT_FALSE(log.Contains("move_2"));
}

TEST_F(FilePatchTest, MoveThatFailsTwiceGivesTwelve) {
  Extracted("a.txt", "a");
  Extracted("b.txt", "b");
  SetPatchMoveForTesting([](const std::string&, const std::string&) {
    plat::SetLastError(plat::kErrorAccessDenied);
    return false;
  });
  LogCapture log;
  EXPECT_EQ(Run({Whole("a.txt"), Whole("b.txt")}), 12u);
  EXPECT_EQ(waits_, std::vector<uint32_t>{1000});
  EXPECT_TRUE(log.Contains("Failed to move_1 file in FilePatch() : Error [5]"));
  EXPECT_TRUE(log.Contains("Failed to move_2 file in FilePatch() : Error [5]"));
  EXPECT_TRUE(Exists(box_.Temp("a.txt")));
  EXPECT_TRUE(Exists(box_.Temp("b.txt")));
}

TEST_F(FilePatchTest, TargetThatIsAFolderCannotBeReplaced) {
  Extracted("a.txt", "a");
  WriteText(box_.Client("a.txt\\inside.txt"), "keeps the folder non-empty");
  EXPECT_EQ(Run({Whole("a.txt")}), 12u);
  EXPECT_EQ(waits_, std::vector<uint32_t>{1000});
  EXPECT_TRUE(plat::DirectoryExists(box_.Client("a.txt")));
}

TEST(PatchMovesTest, WaitsAreTheRealOnesByDefault) {
  EXPECT_EQ(kWholeFileRetryWaitMs, 1000u);
  EXPECT_EQ(kDecodedRetryWaitMs, 2000u);
  EXPECT_EQ(kDecodedMoveRetries, 3u);
  SetRetryWaitForTesting(nullptr);
  const auto start = std::chrono::steady_clock::now();
  WaitBeforeRetry(40);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(35));
}

}  // namespace
}  // namespace applytest
