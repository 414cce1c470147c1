// The records a later start relies on survive a write that dies half way:
// "version.dat", the section progress record and the pending finish. The
// fault hook fails the write or the move, as a full disk, an I/O error or
// a killed process would leave them.
#include <gtest/gtest.h>

#include <functional>

#include "engine/progress_records.h"
#include "engine/version_file.h"
#include "platform/file_system.h"
#include "platform/path.h"
#include "tests/engine/log_capture.h"
#include "tests/support/test_support.h"

namespace {

struct Record {
  const char* file;
  std::function<bool(const std::string& folder, uint32_t value)> write;
  std::function<uint32_t(const std::string& folder)> read;  // 999 when unreadable
};

uint32_t SectionsDone(const std::string& folder) {
  SectionProgressRecord record;
  record.Init(folder, 7, 3);
  std::vector<uint32_t> flags;
  if (!record.Load(flags)) return 999;
  return flags[0] + flags[1] + flags[2];
}

const Record kRecords[] = {
    {"version.dat", SetVerFile,
     [](const std::string& folder) {
       uint32_t version = 999;
       return GetVerFile(folder, &version) ? version : 999;
     }},
    {"finish.pending", SetPendingFinish,
     [](const std::string& folder) {
       uint32_t base = 999;
       return GetPendingFinish(folder, &base) ? base : 999;
     }},
    {"7\\prg_section.list",
     [](const std::string& folder, uint32_t done) {
       SectionProgressRecord record;
       record.Init(folder, 7, 3);
       return record.Save({1, done > 1 ? 1u : 0u, done > 2 ? 1u : 0u});
     },
     SectionsDone},
};

TEST(RecordFaults, AWriteThatFailsLeavesTheOldRecordReadable) {
  for (const Record& record : kRecords) {
    for (const plat::FileFault fault : {plat::FileFault::kWrite, plat::FileFault::kMove}) {
      SCOPED_TRACE(std::string(record.file) + (fault == plat::FileFault::kWrite ? " write" : " move"));
      testsupport::TempDir dir;
      ASSERT_TRUE(plat::CreateFolder(dir.Path() + "7"));
      LogCapture log;
      ASSERT_TRUE(record.write(dir.Path(), 2));
      const std::string temporary = plat::FileNameOf(record.file) + ".tmp";
      plat::SetFileFaultHookForTesting([&](plat::FileFault operation, const std::string& path) {
        return operation == fault && plat::FileNameOf(path) == temporary;
      });
      EXPECT_FALSE(record.write(dir.Path(), 3));
      plat::SetFileFaultHookForTesting(nullptr);
      EXPECT_EQ(2u, record.read(dir.Path()));
      EXPECT_FALSE(plat::FileExists(dir.Path() + record.file + ".tmp"));
      ASSERT_TRUE(record.write(dir.Path(), 3));
      EXPECT_EQ(3u, record.read(dir.Path()));
    }
  }
}

TEST(RecordFaults, VersionFileFailuresAreLogged) {
  testsupport::TempDir dir;
  LogCapture log;
  plat::SetFileFaultHookForTesting(
      [](plat::FileFault, const std::string& path) { return plat::FileNameOf(path) == "version.dat.tmp"; });
  EXPECT_FALSE(SetVerFile(dir.Path(), 5));
  plat::SetFileFaultHookForTesting(nullptr);
  EXPECT_TRUE(log.Contains("[8]14:03:27 SetVerFile:Failed to WriteFile : File [" + dir.Path() + "version.dat]"));
  EXPECT_FALSE(SetVerFile(dir.Path() + "missing\\", 5));
  EXPECT_TRUE(log.Contains("SetVerFile:Failed to CreateFile : File [" + dir.Path() + "missing\\version.dat]"));
  // A pending finish whose record was cut counts from version 0.
  ASSERT_TRUE(testsupport::WriteFileText(dir.Path() + "finish.pending", "ab"));
  uint32_t base = 9;
  EXPECT_TRUE(GetPendingFinish(dir.Path(), &base));
  EXPECT_EQ(0u, base);
  ClearPendingFinish(dir.Path());
  EXPECT_FALSE(GetPendingFinish(dir.Path(), &base));
}

}  // namespace
