// CTaskPatch::DiffPatch: deltas applied in memory, in place and through
// files, whole files moved, the resume point, the size checks and every
// failure, on the JojoDiff reference deltas and deltas made here.
#include <gtest/gtest.h>

#include <functional>

#include "apply/diff_patch_texts.h"
#include "apply/patch_moves.h"
#include "apply/task_patch.h"
#include "engine/folders.h"
#include "engine/progress_records.h"
#include "platform/file_system.h"
#include "platform/virtual_memory.h"
#include "tests/apply/apply_test_support.h"
#include "tests/engine/log_capture.h"

namespace applytest {
namespace {

constexpr uint32_t kVersion = 9;
constexpr uint32_t kSection = 4;

PatchFileInfo Delta(const std::string& name, uint64_t orgSize, uint64_t newSize) {
  PatchFileInfo info;
  info.name = name;
  info.btFileType = kFileTypeDelta;
  info.OrgFileSize = orgSize;
  info.NewFileSize = newSize;
  return info;
}

PatchFileInfo Whole(const std::string& name) {
  PatchFileInfo info;
  info.name = name;
  info.btFileType = kFileTypeWhole;
  return info;
}

// A reference case of the JojoDiff set whose files are stored.
struct JdiffCase {
  std::string name;
  uint64_t origSize = 0;
  uint64_t newSize = 0;
  bool inPlace = false;
};

std::vector<JdiffCase> StoredJdiffCases() {
  std::vector<JdiffCase> cases;
  for (const std::vector<std::string>& row : ReadTsv(JdiffDir() + "MANIFEST.tsv")) {
    if (row.size() < 23 || row[1] != "default" || row[22] != "stored") continue;
    cases.push_back(JdiffCase{row[0], std::stoull(row[5]), std::stoull(row[7]), row[21] == "yes"});
  }
  return cases;
}

std::string Format(const char* format, const std::string& text, int64_t a, int64_t b) {
  char buffer[1024];
  snprintf(buffer, sizeof buffer, format, text.c_str(), static_cast<int>(a), static_cast<int>(b));
  return buffer;
}

class DiffPatchTest : public ::testing::Test {
 protected:
  DiffPatchTest() {
    SetRetryWaitForTesting([this](uint32_t ms) { waits_.push_back(ms); });
    record_.Init(box_.Settings().downloadFolder, kVersion, kSection);
    RecCreateDirectory(box_.VersionFolder(kVersion));
  }
  ~DiffPatchTest() override {
    SetPatchMoveForTesting(nullptr);
    SetRetryWaitForTesting(nullptr);
    plat::SetVirtualMemoryLimitForTesting(0);
  }

  uint32_t Run(const std::vector<PatchFileInfo>& files) {
    CTaskPatch task(host_, box_.Settings(), kVersion, kSection, 1, files);
    return task.DiffPatch();
  }
  // The case's original as the client file and its delta as the extracted
  // file, both under `name`.
  void PutCase(const JdiffCase& jdiff, const std::string& name) {
    ASSERT_TRUE(CopyFileTo(JdiffDir() + jdiff.name + "/orig", box_.Client(name)));
    ASSERT_TRUE(CopyFileTo(JdiffDir() + jdiff.name + "/delta.jdf", box_.Temp(name)));
  }
  JdiffCase Case(const std::string& caseName) const {
    for (const JdiffCase& jdiff : StoredJdiffCases()) {
      if (jdiff.name == caseName) return jdiff;
    }
    ADD_FAILURE() << "no case " << caseName;
    return JdiffCase{};
  }
  std::vector<uint8_t> NewOf(const std::string& caseName) const {
    return testsupport::ReadFileBytes(JdiffDir() + caseName + "/new");
  }
  std::vector<uint8_t> OrigOf(const std::string& caseName) const {
    return testsupport::ReadFileBytes(JdiffDir() + caseName + "/orig");
  }
  // Temp and output folders hold nothing.
  void ExpectScratchFoldersEmpty() const {
    EXPECT_EQ(ListFiles(box_.Settings().tempFolder), std::vector<std::string>{});
    EXPECT_EQ(ListFiles(box_.Settings().outputFolder), std::vector<std::string>{});
  }
  void ForceFileDecoder() { plat::SetVirtualMemoryLimitForTesting(1); }

  // Every stored reference delta as one section, so the streams serve file
  // after file; each client file must come out as the case's new file.
  void RunAllCases() {
    std::vector<PatchFileInfo> files;
    const std::vector<JdiffCase> cases = StoredJdiffCases();
    ASSERT_GE(cases.size(), 30u);
    for (const JdiffCase& jdiff : cases) {
      const std::string name = "cases\\" + jdiff.name + ".bin";
      PutCase(jdiff, name);
      files.push_back(Delta(name, jdiff.origSize, jdiff.newSize));
    }
    ASSERT_EQ(Run(files), 0u);
    for (const JdiffCase& jdiff : cases) {
      SCOPED_TRACE(jdiff.name);
      EXPECT_EQ(ReadFile(box_.Client("cases\\" + jdiff.name + ".bin")), NewOf(jdiff.name));
    }
  }

  FakeHost host_;
  Sandbox box_;
  FileProgressRecord record_;
  std::vector<uint32_t> waits_;
};

TEST_F(DiffPatchTest, ReferenceDeltasInMemoryAndInPlace) {
  LogCapture log;
  RunAllCases();
  ExpectScratchFoldersEmpty();
  EXPECT_FALSE(plat::FileExists(record_.Path()));
  const std::string text = log.Text();
  EXPECT_NE(text.find(Format(kInPlaceText, box_.Client("cases\\mod_only.bin"), 65536, 65536)), std::string::npos);
  EXPECT_NE(text.find(Format(kMemoryPatchText, box_.Client("cases\\random_4k.bin"), 4096, 4567)), std::string::npos);
  EXPECT_EQ(text.find(kFilePatchText), std::string::npos);
  // The buffers are asked for once for the whole section.
  auto count = [&text](const std::string& needle) {
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
  };
  char pch[128];
  char org[128];
  char out[128];
  snprintf(pch, sizeof pch, kPchAllocText, 100);
  snprintf(org, sizeof org, kOrgAllocText, 100);
  snprintf(out, sizeof out, kOutAllocText, 100);
  EXPECT_EQ(count(pch), 1u);
  EXPECT_EQ(count(org), 1u);
  EXPECT_EQ(count(out), 1u);
}

TEST_F(DiffPatchTest, ReferenceDeltasThroughTheFileDecoder) {
  ForceFileDecoder();
  LogCapture log;
  RunAllCases();
  ExpectScratchFoldersEmpty();
  const std::string text = log.Text();
  EXPECT_NE(text.find(Format(kFilePatchText, box_.Client("cases\\random_4k.bin"), 0, 0)), std::string::npos);
  EXPECT_NE(text.find("old patch : " + box_.Client("cases\\random_4k.bin") + ", 0"), std::string::npos);
  EXPECT_NE(text.find("m_OutStream.GetMemory() == NULL"), std::string::npos);
  EXPECT_EQ(text.find(kMemoryPatchText), std::string::npos);
  // Deltas of a byte or two still fit and may go in place; larger ones not.
  EXPECT_EQ(text.find(Format(kInPlaceText, box_.Client("cases\\mod_only.bin"), 65536, 65536)), std::string::npos);
}

TEST_F(DiffPatchTest, InPlaceDeltaKeepsTheFileAndItsSize) {
  const JdiffCase jdiff = Case("mod_only");
  PutCase(jdiff, "data\\map.dat");
  LogCapture log;
  ASSERT_EQ(Run({Delta("data\\map.dat", jdiff.origSize, jdiff.newSize)}), 0u);
  EXPECT_EQ(ReadFile(box_.Client("data\\map.dat")), NewOf("mod_only"));
  EXPECT_TRUE(log.Contains(Format(kInPlaceText, box_.Client("data\\map.dat"), 65536, 65536)));
  EXPECT_FALSE(log.Contains(Format(kMemoryPatchText, box_.Client("data\\map.dat"), 65536, 65536)));
  char sizeOk[128];
  snprintf(sizeOk, sizeof sizeOk, kSizeAfterOkText, 65536u, 65536u);
  EXPECT_TRUE(log.Contains(sizeOk));
}

TEST_F(DiffPatchTest, EqualSizeDeltaWithMovesIsNotPatchedInPlace) {
  const JdiffCase jdiff = Case("move_swap");  // same size, but BKT
  PutCase(jdiff, "swap.bin");
  LogCapture log;
  ASSERT_EQ(Run({Delta("swap.bin", jdiff.origSize, jdiff.newSize)}), 0u);
  EXPECT_EQ(ReadFile(box_.Client("swap.bin")), NewOf("move_swap"));
  EXPECT_TRUE(log.Contains(Format(kMemoryPatchText, box_.Client("swap.bin"), 50000, 50000)));
}

TEST_F(DiffPatchTest, ProgressRisesPerFileAndTheReportIsWritten) {
  const JdiffCase jdiff = Case("random_4k");
  PutCase(jdiff, "one.bin");
  WriteText(box_.Temp("two.txt"), "whole");
  LogCapture log;
  ASSERT_EQ(Run({Delta("one.bin", jdiff.origSize, jdiff.newSize), Whole("two.txt")}), 0u);
  const std::vector<EngineEvent> events = host_.Events();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].value, 0u);
  EXPECT_EQ(events[0].text, "");
  EXPECT_EQ(events[1].value, 50u);
  EXPECT_EQ(events[1].text, "one.bin");
  EXPECT_EQ(events[2].value, 100u);
  EXPECT_EQ(events[2].text, "two.txt");
  for (const EngineEvent& event : events) {
    EXPECT_EQ(event.type, kEventTypePatchProgress);
    EXPECT_EQ(event.sectionOrCode, kSection);
  }
  EXPECT_TRUE(log.Contains("DiffPatch() begins : Section [4]"));
  EXPECT_TRUE(log.Contains("Last Patched progress is Ver [9] Section [4]"));
  EXPECT_TRUE(log.Contains("Tried to diff patch : File [one.bin]"));
  EXPECT_TRUE(log.Contains("E[Thread:0] (001/002) Diff. "));
  EXPECT_TRUE(log.Contains("E[Thread:0] (002/002) Move. "));
  EXPECT_TRUE(log.Contains("\tOrgFileSize  = 4096\tNewFileSize  = 4567\t"));
  EXPECT_TRUE(log.Contains("-----------------------------------------"));
  EXPECT_TRUE(log.Contains("TotalMoveTime     = "));
  EXPECT_TRUE(log.Contains("TotalChecksumTime = "));
  EXPECT_TRUE(log.Contains("TotalIOTime       = "));
  EXPECT_TRUE(log.Contains("TotalPatchTime    = "));
  EXPECT_TRUE(log.Contains("(sec) - 100%"));
  EXPECT_FALSE(plat::FileExists(record_.Path()));
  ExpectScratchFoldersEmpty();
}

TEST_F(DiffPatchTest, ResumeStartsAfterTheRecordedFile) {
  std::vector<PatchFileInfo> files;
  for (int i = 1; i <= 5; ++i) {
    const std::string name = "f" + std::to_string(i) + ".txt";
    WriteText(box_.Client(name), "old " + name);
    WriteText(box_.Temp(name), "new " + name);
    files.push_back(Whole(name));
  }
  record_.Write(3);
  ASSERT_EQ(Run(files), 0u);
  const std::vector<EngineEvent> events = host_.Events();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].value, 60u);
  EXPECT_EQ(events[0].text, "");
  EXPECT_EQ(events[1].value, 80u);
  EXPECT_EQ(events[1].text, "f4.txt");
  EXPECT_EQ(events[2].value, 100u);
  EXPECT_EQ(events[2].text, "f5.txt");
  for (int i = 1; i <= 3; ++i) {
    const std::string name = "f" + std::to_string(i) + ".txt";
    EXPECT_EQ(ReadFile(box_.Client(name)), Bytes("old " + name));
    EXPECT_TRUE(Exists(box_.Temp(name)));
  }
  EXPECT_EQ(ReadFile(box_.Client("f4.txt")), Bytes("new f4.txt"));
  EXPECT_EQ(ReadFile(box_.Client("f5.txt")), Bytes("new f5.txt"));
  EXPECT_FALSE(plat::FileExists(record_.Path()));
}

// Only a count below the file count is a resume point, as in the list's
// diff test; any other starts again at the first file instead of skipping
// every file and reporting the section patched.
TEST_F(DiffPatchTest, ARecordNotBelowTheFileCountStartsAtTheFirstFile) {
  for (uint32_t recorded : {2u, 3u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(recorded);
    std::vector<PatchFileInfo> files;
    for (const char* name : {"a.txt", "b.txt"}) {
      WriteText(box_.Client(name), std::string("old ") + name);
      WriteText(box_.Temp(name), std::string("new ") + name);
      files.push_back(Whole(name));
    }
    record_.Write(recorded);
    ASSERT_EQ(Run(files), 0u);
    EXPECT_EQ(ReadFile(box_.Client("a.txt")), Bytes("new a.txt"));
    EXPECT_EQ(ReadFile(box_.Client("b.txt")), Bytes("new b.txt"));
    EXPECT_FALSE(plat::FileExists(record_.Path()));
  }
}

TEST_F(DiffPatchTest, RecordNamesEveryFinishedFile) {
  WriteText(box_.Temp("a.txt"), "a");
  WriteText(box_.Temp("b.txt"), "b");
  std::vector<uint32_t> seen;
  host_.onEvent = [&](const EngineEvent& event) {
    if (!event.text.empty()) seen.push_back(record_.Read());
  };
  ASSERT_EQ(Run({Whole("a.txt"), Whole("b.txt")}), 0u);
  EXPECT_EQ(seen, (std::vector<uint32_t>{0, 1}));
}

TEST_F(DiffPatchTest, WrongSizeBeforeTheDeltaGivesEighteen) {
  const JdiffCase jdiff = Case("random_4k");
  WriteText(box_.Temp("first.txt"), "first");
  PutCase(jdiff, "second.bin");
  LogCapture log;
  EXPECT_EQ(Run({Whole("first.txt"), Delta("second.bin", jdiff.origSize + 1, jdiff.newSize)}), 18u);
  EXPECT_TRUE(log.Contains(Format(kSizeBeforeErrorText, box_.Client("second.bin"), 4096, 4097)));
  EXPECT_TRUE(log.Contains("[8]"));
  EXPECT_EQ(record_.Read(), 1u);
  EXPECT_EQ(ReadFile(box_.Client("second.bin")), OrigOf("random_4k"));
  EXPECT_TRUE(Exists(box_.Temp("second.bin")));
}

TEST_F(DiffPatchTest, WrongSizeAfterTheDeltaGivesEighteen) {
  const JdiffCase jdiff = Case("random_4k");
  PutCase(jdiff, "a.bin");
  LogCapture log;
  EXPECT_EQ(Run({Delta("a.bin", jdiff.origSize, jdiff.newSize + 5)}), 18u);
  EXPECT_TRUE(log.Contains(Format(kSizeAfterErrorText, box_.Client("a.bin"), 4567, 4572)));
  EXPECT_FALSE(plat::FileExists(record_.Path()));
}

// A delta that rebuilds fewer bytes than the list's new size fails the file
// in every decoder, in place too, where the file keeps its length and the
// old tail would otherwise pass for new bytes.
TEST_F(DiffPatchTest, ADeltaRebuildingTooFewBytesGivesEighteenInEveryDecoder) {
  struct Case {
    const char* decoder;
    std::vector<uint8_t> delta;
    bool fileDecoder;
    const char* chosen;  // the decoder's log text
    uint32_t rebuilt;
  };
  const std::vector<Case> cases = {
      {"in place", {0xA7, 0xA3, 0x03, 0xA7, 0xA6, 'X'}, false, kInPlaceText, 5},  // EQL 4, MOD X
      {"memory", {0xA7, 0xA5, 'a', 'b'}, false, kMemoryPatchText, 2},              // INS ab
      {"file", {0xA7, 0xA5, 'a', 'b'}, true, kFilePatchText, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.decoder);
    if (c.fileDecoder) ForceFileDecoder();
    WriteText(box_.Client("a.bin"), "0123456789AB");
    WriteFile(box_.Temp("a.bin"), c.delta);
    LogCapture log;
    EXPECT_EQ(Run({Delta("a.bin", 12, 12)}), 18u);
    EXPECT_TRUE(log.Contains(Format(c.chosen, box_.Client("a.bin"), 12, 12)));
    EXPECT_TRUE(log.Contains(Format(kSizeAfterErrorText, box_.Client("a.bin"), c.rebuilt, 12)));
    EXPECT_FALSE(plat::FileExists(record_.Path()));
  }
}

TEST_F(DiffPatchTest, UnknownSizesSkipTheSizeChecks) {
  const JdiffCase jdiff = Case("random_4k");
  PutCase(jdiff, "a.bin");
  LogCapture log;
  ASSERT_EQ(Run({Delta("a.bin", 0, jdiff.newSize)}), 0u);
  EXPECT_EQ(ReadFile(box_.Client("a.bin")), NewOf("random_4k"));
  EXPECT_FALSE(log.Contains("Curr:"));
}

TEST_F(DiffPatchTest, MissingDeltaGivesEleven) {
  WriteText(box_.Client("a.bin"), "client");
  LogCapture log;
  EXPECT_EQ(Run({Delta("a.bin", 6, 7)}), 11u);
  EXPECT_TRUE(log.Contains("Error! e = 2\r\n"));
  EXPECT_TRUE(log.Contains("Error! e = 2 = FILE NOT FOUND, a.bin\r\n"));
  EXPECT_EQ(ReadFile(box_.Client("a.bin")), Bytes("client"));
}

TEST_F(DiffPatchTest, MissingClientFileGivesEleven) {
  const JdiffCase jdiff = Case("random_4k");
  CopyFileTo(JdiffDir() + "random_4k/delta.jdf", box_.Temp("a.bin"));
  LogCapture log;
  EXPECT_EQ(Run({Delta("a.bin", 0, jdiff.newSize)}), 11u);
  EXPECT_TRUE(log.Contains("Error! e = 2 = FILE NOT FOUND, a.bin"));
  EXPECT_FALSE(Exists(box_.Client("a.bin")));
}

TEST_F(DiffPatchTest, UnknownFileTypeGivesThirteen) {
  WriteText(box_.Temp("a.txt"), "a");
  WriteText(box_.Temp("b.txt"), "b");
  PatchFileInfo odd = Whole("b.txt");
  odd.btFileType = 3;
  EXPECT_EQ(Run({Whole("a.txt"), odd}), 13u);
  EXPECT_EQ(record_.Read(), 1u);
  EXPECT_FALSE(Exists(box_.Client("b.txt")));
}

TEST_F(DiffPatchTest, WholeFileThatCannotBeMovedGivesTwelve) {
  WriteText(box_.Temp("a.txt"), "a");
  WriteText(box_.Temp("b.txt"), "b");
  WriteText(box_.Temp("c.txt"), "c");
  WriteText(box_.Client("b.txt\\inside.txt"), "a non-empty folder in the way");
  LogCapture log;
  EXPECT_EQ(Run({Whole("a.txt"), Whole("b.txt"), Whole("c.txt")}), 12u);
  EXPECT_TRUE(log.Contains("Move Error! = " + box_.Temp("b.txt") + " -> " + box_.Client("b.txt") + ". ErrCode = "));
  EXPECT_EQ(record_.Read(), 1u);  // never names the file that stayed behind
  EXPECT_EQ(ReadFile(box_.Client("a.txt")), Bytes("a"));
  EXPECT_FALSE(Exists(box_.Client("c.txt")));
  EXPECT_TRUE(waits_.empty());
}

TEST_F(DiffPatchTest, FolderThatCannotBeMadeIsLoggedAndTheMoveFails) {
  WriteText(box_.Temp("blocked\\deeper\\a.txt"), "a");
  WriteText(box_.Client("blocked"), "a file where a folder should be");
  LogCapture log;
  EXPECT_EQ(Run({Whole("blocked\\deeper\\a.txt")}), 12u);
  EXPECT_TRUE(log.Contains("Failed to RecCreateDirectory : Path [" + box_.Client("blocked\\deeper") + "]"));
}

TEST_F(DiffPatchTest, StopIsSeenAtTheStartOfAFile) {
  WriteText(box_.Temp("a.txt"), "a");
  WriteText(box_.Temp("b.txt"), "b");
  host_.stopAfterChecks = 2;  // file 1: start and move; file 2: start
  EXPECT_EQ(Run({Whole("a.txt"), Whole("b.txt")}), 2u);
  EXPECT_EQ(record_.Read(), 1u);
  EXPECT_FALSE(Exists(box_.Client("b.txt")));
  EXPECT_EQ(host_.Events().size(), 2u);
}

TEST_F(DiffPatchTest, StopIsSeenAgainBeforeAWholeFileMove) {
  WriteText(box_.Temp("a.txt"), "a");
  host_.stopAfterChecks = 1;
  EXPECT_EQ(Run({Whole("a.txt")}), 2u);
  EXPECT_FALSE(Exists(box_.Client("a.txt")));
  EXPECT_FALSE(plat::FileExists(record_.Path()));
}

TEST_F(DiffPatchTest, RefusedDeltaInMemoryLeavesTheClientIntact) {
  struct Hostile {
    const char* what;
    std::vector<uint8_t> delta;
    uint32_t result;
  };
  const std::vector<Hostile> deltas = {
      {"EQL past the end", {0xA7, 0xA3, 0xFE, 0x00, 0x01, 0x00, 0x00}, 16},
      {"BKT before the start", {0xA7, 0xA5, 'x', 0xA7, 0xA2, 0x05}, 16},
      {"length cut off", {0xA7, 0xA5, 'x', 'y', 0xA7, 0xA3}, 15},
      {"eight-byte length", {0xA7, 0xA3, 0xFF, 0, 0, 0, 0, 0, 0, 0, 1}, 15},
  };
  for (const Hostile& hostile : deltas) {
    SCOPED_TRACE(hostile.what);
    WriteText(box_.Client("a.bin"), "client bytes");
    WriteFile(box_.Temp("a.bin"), hostile.delta);
    LogCapture log;
    EXPECT_EQ(Run({Delta("a.bin", 0, 0)}), hostile.result);
    EXPECT_TRUE(log.Contains(Format(kMemoryPatchText, box_.Client("a.bin"), 12, 0)));
    EXPECT_EQ(ReadFile(box_.Client("a.bin")), Bytes("client bytes"));
    EXPECT_FALSE(plat::FileExists(record_.Path()));
  }
}

// The new file is written apart: a write that fails (a full disk) leaves
// the client file as it was, not cut off behind its first block.
TEST_F(DiffPatchTest, AFailedWriteOfTheMemoryDecoderLeavesTheClientIntact) {
  const JdiffCase jdiff = Case("random_4k");
  PutCase(jdiff, "a.bin");
  plat::SetFileFaultHookForTesting([](plat::FileFault operation, const std::string&) {
    return operation == plat::FileFault::kWrite;
  });
  const uint32_t result = Run({Delta("a.bin", jdiff.origSize, jdiff.newSize)});
  plat::SetFileFaultHookForTesting(nullptr);
  EXPECT_EQ(result, 17u);
  EXPECT_EQ(ReadFile(box_.Client("a.bin")), OrigOf("random_4k"));
  EXPECT_TRUE(ListFiles(box_.Settings().outputFolder).empty());
  EXPECT_FALSE(plat::FileExists(record_.Path()));
}

TEST_F(DiffPatchTest, RefusedDeltaInPlaceLeavesTheClientIntact) {
  WriteText(box_.Client("a.bin"), "client bytes");
  // Only EQL and MOD, so it qualifies for in place, but runs past the end.
  WriteFile(box_.Temp("a.bin"), {0xA7, 0xA3, 0x10});
  LogCapture log;
  EXPECT_EQ(Run({Delta("a.bin", 12, 12)}), 16u);
  EXPECT_TRUE(log.Contains(Format(kInPlaceText, box_.Client("a.bin"), 12, 12)));
  EXPECT_EQ(ReadFile(box_.Client("a.bin")), Bytes("client bytes"));
}

TEST_F(DiffPatchTest, FileDecoderFailureLeavesTheClientIntact) {
  ForceFileDecoder();
  WriteText(box_.Client("a.bin"), "client bytes");
  WriteFile(box_.Temp("a.bin"), {0xA7, 0xA2, 0x00});  // BKT 1 at the start
  LogCapture log;
  EXPECT_EQ(Run({Delta("a.bin", 0, 0)}), 16u);
  EXPECT_TRUE(log.Contains("old patch : " + box_.Client("a.bin") + ", 16"));
  EXPECT_EQ(ReadFile(box_.Client("a.bin")), Bytes("client bytes"));
  EXPECT_TRUE(ListFiles(box_.Settings().outputFolder).empty());
  EXPECT_TRUE(waits_.empty());
}

TEST_F(DiffPatchTest, FileDecoderPatchesAndMovesItsOutputIntoPlace) {
  ForceFileDecoder();
  const JdiffCase jdiff = Case("text_changelog");
  PutCase(jdiff, "docs\\changelog.txt");
  LogCapture log;
  ASSERT_EQ(Run({Delta("docs\\changelog.txt", jdiff.origSize, jdiff.newSize)}), 0u);
  EXPECT_EQ(ReadFile(box_.Client("docs\\changelog.txt")), NewOf("text_changelog"));
  EXPECT_TRUE(log.Contains("m_OrgStream.GetMemory() == NULL"));
  EXPECT_TRUE(log.Contains("m_PchStream.GetMemory() == NULL"));
  EXPECT_TRUE(log.Contains("m_OutStream.GetMemory() == NULL"));
  EXPECT_TRUE(log.Contains("Error! e = 3 = NOT ENOUGH MEMORY, docs\\changelog.txt, LastError "));
  char request[128];
  snprintf(request, sizeof request, kPchAllocText, 100);
  EXPECT_TRUE(log.Contains(request));
  ExpectScratchFoldersEmpty();
}

class FileDecoderOpenTest : public DiffPatchTest {
 protected:
  FileDecoderOpenTest() {
    ForceFileDecoder();
    // The temporary output cannot be created.
    box_.MutableSettings().outputFolder = box_.Root() + "absent" + box_.Settings().tempFolder.back();
  }
};

TEST_F(FileDecoderOpenTest, KnownSizesFailTheSizeCheckWithoutRunningTheDecoder) {
  const JdiffCase jdiff = Case("random_4k");
  PutCase(jdiff, "a.bin");
  LogCapture log;
  EXPECT_EQ(Run({Delta("a.bin", jdiff.origSize, jdiff.newSize)}), 18u);
  EXPECT_TRUE(log.Contains("File Open Error : Org [0] Pch [0] Out [2]"));
  EXPECT_TRUE(log.Contains(Format(kSizeAfterErrorText, box_.Client("a.bin"), 4096, 4567)));
  EXPECT_FALSE(log.Contains("JPATCH START"));
  EXPECT_EQ(ReadFile(box_.Client("a.bin")), OrigOf("random_4k"));
}

TEST_F(FileDecoderOpenTest, KnownEqualSizesStillFailWithEighteen) {
  const JdiffCase jdiff = Case("move_swap");
  PutCase(jdiff, "a.bin");
  LogCapture log;
  EXPECT_EQ(Run({Delta("a.bin", jdiff.origSize, jdiff.newSize)}), 18u);
  EXPECT_FALSE(log.Contains("JPATCH START"));
  EXPECT_TRUE(log.Contains("File Open Error : not patched, " + box_.Client("a.bin")));
  EXPECT_EQ(ReadFile(box_.Client("a.bin")), OrigOf("move_swap"));
}

TEST_F(FileDecoderOpenTest, UnknownSizesGiveEleven) {
  const JdiffCase jdiff = Case("random_4k");
  PutCase(jdiff, "a.bin");
  LogCapture log;
  EXPECT_EQ(Run({Delta("a.bin", 0, jdiff.newSize)}), 11u);
  EXPECT_FALSE(log.Contains("JPATCH START"));
  EXPECT_EQ(ReadFile(box_.Client("a.bin")), OrigOf("random_4k"));
}

TEST_F(DiffPatchTest, FileDecoderMoveIsRetriedThenGivesTwelve) {
  ForceFileDecoder();
  const JdiffCase jdiff = Case("random_4k");
  PutCase(jdiff, "a.bin");
  int calls = 0;
  SetPatchMoveForTesting([&calls](const std::string&, const std::string&) {
    ++calls;
    plat::SetLastError(plat::kErrorSharingViolation);
    return false;
  });
  LogCapture log;
  EXPECT_EQ(Run({Delta("a.bin", jdiff.origSize, jdiff.newSize)}), 12u);
  EXPECT_EQ(calls, 4);
  EXPECT_EQ(waits_, (std::vector<uint32_t>{2000, 2000, 2000}));
  EXPECT_TRUE(log.Contains("Move Error! = " + box_.Output("patchtemp1.dat") + " -> " + box_.Client("a.bin") +
                           ". ErrCode = 32"));
  EXPECT_EQ(ReadFile(box_.Client("a.bin")), OrigOf("random_4k"));
  EXPECT_TRUE(ListFiles(box_.Settings().outputFolder).empty());
  EXPECT_FALSE(plat::FileExists(record_.Path()));
}

TEST_F(DiffPatchTest, FileDecoderMoveThatSucceedsOnARetryFinishesTheFile) {
  ForceFileDecoder();
  const JdiffCase jdiff = Case("random_4k");
  PutCase(jdiff, "a.bin");
  int calls = 0;
  SetPatchMoveForTesting([&calls](const std::string& from, const std::string& to) {
    if (++calls <= 2) return false;
    return plat::MoveReplace(from, to);
  });
  ASSERT_EQ(Run({Delta("a.bin", jdiff.origSize, jdiff.newSize)}), 0u);
  EXPECT_EQ(waits_, (std::vector<uint32_t>{2000, 2000}));
  EXPECT_EQ(ReadFile(box_.Client("a.bin")), NewOf("random_4k"));
}

TEST_F(DiffPatchTest, ReadOnlyClientFileIsPatched) {
  SKIP_READ_ONLY_CASE_AS_ROOT();
  const JdiffCase jdiff = Case("random_4k");
  PutCase(jdiff, "a.bin");
  MakeReadOnly(box_.Client("a.bin"));
  ASSERT_EQ(Run({Delta("a.bin", jdiff.origSize, jdiff.newSize)}), 0u);
  EXPECT_EQ(ReadFile(box_.Client("a.bin")), NewOf("random_4k"));
}

}  // namespace
}  // namespace applytest
