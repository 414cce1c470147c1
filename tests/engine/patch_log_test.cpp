#include "engine/patch_log.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "engine/patch_entry.h"
#include "engine/patch_types.h"
#include "tests/engine/log_capture.h"
#include "tests/support/test_support.h"

using testsupport::TempDir;

namespace {

// Every test leaves the log as an unconfigured process finds it.
class PatchLog : public ::testing::Test {
 protected:
  void SetUp() override { cwd_ = std::make_unique<testsupport::ScopedCurrentDir>(dir_.Path()); }
  void TearDown() override {
    LogConfigure(0, "Log", 0xFFFFFFFFu);
    LogSetClockForTesting(nullptr);
    LogSetObserverForTesting(nullptr);
    cwd_.reset();
  }
  static void At(int year, int month, int day, int hour, int minute, int second) {
    LogSetClockForTesting([=] { return plat::LocalTime{year, month, day, hour, minute, second, 0}; });
  }
  std::string Read(const std::string& name) { return testsupport::ReadFileText(dir_.Path() + name); }
  TempDir dir_;
  std::unique_ptr<testsupport::ScopedCurrentDir> cwd_;
};

TEST_F(PatchLog, NothingIsWrittenBeforeConfiguration) {
  At(2026, 12, 7, 14, 3, 27);
  LogWrite(kLogAlways, "not yet");
  LogWrite(kLogError, "not yet");
  EXPECT_FALSE(testsupport::PathExists(dir_.Path() + "Log"));
  EXPECT_FALSE(testsupport::PathExists(dir_.Path() + "Log_2026-12-07 14.log"));
}

TEST_F(PatchLog, NormalMaskKeepsErrorsAndAlwaysLines) {
  At(2026, 12, 7, 14, 3, 27);
  LogSetup(true, false);
  LogWrite(kLogDetail, "detail %d", 1);
  LogWrite(kLogTrace, "PLV5_StartPatch() begins");
  LogWrite(kLogError, "Invalid Patch system version : %d", 3);
  LogWrite(kLogAlways, "Deleted File [%s]", "a.txt");
  EXPECT_EQ(
      "[8]14:03:27 Invalid Patch system version : 3\r\n"
      "[-1]14:03:27 Deleted File [a.txt]\r\n",
      Read("Log/Patch_2026-12-07 14.log"));
}

TEST_F(PatchLog, VerboseMaskKeepsEveryLevel) {
  At(2026, 12, 7, 14, 3, 27);
  LogSetup(true, true);
  LogWrite(kLogDetail, "a");
  LogWrite(kLogProtected, "b");
  LogWrite(kLogTrace, "c");
  EXPECT_EQ("[1]14:03:27 a\r\n[2]14:03:27 b\r\n[64]14:03:27 c\r\n", Read("Log/Patch_2026-12-07 14.log"));
}

// The benchmarks time the engine's steps by its messages: the observer sees
// what passes the mask, formatted, whether or not anything is written.
TEST_F(PatchLog, TheObserverSeesWhatPassesTheMaskWithoutAnOutput) {
  std::vector<std::pair<uint32_t, std::string>> seen;
  LogSetObserverForTesting([&seen](uint32_t level, const char* message) { seen.emplace_back(level, message); });
  LogConfigure(0, "Log", kLogError | kLogTrace);
  LogWrite(kLogTrace, "section [%d]", 3);
  LogWrite(kLogDetail, "left out");
  LogWrite(kLogError, "failed : %s", "x");
  LogSetObserverForTesting(nullptr);
  LogWrite(kLogError, "not seen");
  const std::vector<std::pair<uint32_t, std::string>> expected = {{kLogTrace, "section [3]"},
                                                                    {kLogError, "failed : x"}};
  EXPECT_EQ(expected, seen);
  EXPECT_FALSE(testsupport::PathExists(dir_.Path() + "Log"));
}

TEST_F(PatchLog, DisabledLogWritesNothingAndMakesNoFolder) {
  At(2026, 12, 7, 14, 3, 27);
  LogSetup(false, true);
  LogWrite(kLogAlways, "x");
  LogWrite(kLogError, "x");
  EXPECT_FALSE(testsupport::PathExists(dir_.Path() + "Log"));
}

TEST_F(PatchLog, EachLineGoesToTheFileOfItsOwnHour) {
  LogSetup(true, true);
  At(2026, 12, 7, 13, 59, 59);
  LogWrite(kLogError, "last of the hour");
  At(2026, 12, 7, 14, 0, 0);
  LogWrite(kLogError, "first of the next");
  At(2027, 1, 5, 9, 5, 3);
  LogWrite(kLogError, "padded");
  EXPECT_EQ("[8]13:59:59 last of the hour\r\n", Read("Log/Patch_2026-12-07 13.log"));
  EXPECT_EQ("[8]14:00:00 first of the next\r\n", Read("Log/Patch_2026-12-07 14.log"));
  EXPECT_EQ("[8]09:05:03 padded\r\n", Read("Log/Patch_2027-01-05 09.log"));
}

TEST_F(PatchLog, OverlongMessageIsCutButStaysOneLine) {
  At(2026, 12, 7, 14, 3, 27);
  LogSetup(true, true);
  const std::string huge(10000, 'x');
  LogWrite(kLogError, "%s", huge.c_str());
  LogWrite(kLogError, "after");
  const std::string text = Read("Log/Patch_2026-12-07 14.log");
  const size_t firstEnd = text.find("\r\n");
  ASSERT_NE(std::string::npos, firstEnd);
  EXPECT_EQ(kLogMaxLine - 1, firstEnd);  // the line with its "\n" fills the limit
  EXPECT_EQ("[8]14:03:27 after\r\n", text.substr(firstEnd + 2));
}

TEST_F(PatchLog, KoreanTextIsStoredAsGiven) {
  At(2026, 12, 7, 14, 3, 27);
  LogSetup(true, true);
  LogWrite(kLogDetail, "\xBC\xF6\xC7\xE0\xBD\xC3\xB0\xA3:%s", FormatElapsedShare(500, 1000).c_str());
  EXPECT_EQ("[1]14:03:27 \xBC\xF6\xC7\xE0\xBD\xC3\xB0\xA3:500     00:00 (sec) -  50%\r\n",
            Read("Log/Patch_2026-12-07 14.log"));
}

TEST_F(PatchLog, ConcurrentWritersLoseNoLineAndTearNone) {
  At(2026, 12, 7, 14, 3, 27);
  LogSetup(true, true);
  constexpr int kThreads = 6, kLines = 300;
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([t] {
      for (int i = 0; i < kLines; ++i) LogWrite(kLogError, "writer %d line %d %s", t, i, "payload-payload-payload");
    });
  }
  for (auto& w : writers) w.join();
  std::istringstream in(Read("Log/Patch_2026-12-07 14.log"));
  std::set<std::string> seen;
  std::string line;
  int count = 0;
  while (std::getline(in, line)) {
    ASSERT_FALSE(line.empty());
    ASSERT_EQ('\r', line.back());
    line.pop_back();
    int t = -1, i = -1;
    char payload[64] = {};
    ASSERT_EQ(3, sscanf(line.c_str(), "[8]14:03:27 writer %d line %d %63s", &t, &i, payload)) << line;
    EXPECT_STREQ("payload-payload-payload", payload);
    seen.insert(line);
    ++count;
  }
  EXPECT_EQ(kThreads * kLines, count);
  EXPECT_EQ(static_cast<size_t>(kThreads * kLines), seen.size());
}

TEST(PatchLogFormat, ElapsedTexts) {
  EXPECT_EQ("01:01 (sec)", FormatElapsed(61000));
  EXPECT_EQ("00:00 (sec)", FormatElapsed(999));
  EXPECT_EQ("60:00 (sec)", FormatElapsed(3600000));
  EXPECT_EQ("500     00:00 (sec) -  50%", FormatElapsedShare(500, 1000));
  EXPECT_EQ("61000   01:01 (sec) - 100%", FormatElapsedShare(61000, 61000));
  EXPECT_EQ("1       00:00 (sec) -  33%", FormatElapsedShare(1, 3));
  EXPECT_EQ("0       00:00 (sec) -   0%", FormatElapsedShare(0, 0));
}

TEST(DebugMarker, AnyMarkerFileTurnsOnFullLogging) {
  TempDir dir;
  EXPECT_EQ(5u, ApplyDebugMarker(dir.Path(), 5));
  ASSERT_TRUE(testsupport::WriteFileText(dir.Path() + "debug_patch.ini", ""));
  EXPECT_EQ(7u, ApplyDebugMarker(dir.Path(), 5));
  EXPECT_EQ(3u | kFlagRemoveDownloadFolder, ApplyDebugMarker(dir.Path(), kFlagRemoveDownloadFolder));
  EXPECT_EQ(0u, ApplyDebugMarker("", 0));
}

}  // namespace
