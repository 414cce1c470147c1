// TFileMapStream: a whole file mapped read-write, opened without sharing.
#include "streams/file_map_stream.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/path.h"
#include "platform/system_info.h"
#include "tests/support/test_support.h"

namespace {

using vestrel::TFileMapStream;

class FileMapStreamTest : public ::testing::Test {
 protected:
  std::string MakeFile(const std::string& name, const std::string& text) {
    const std::string path = dir_ / name;
    EXPECT_TRUE(testsupport::WriteFileText(path, text));
    return path;
  }

  testsupport::TempDir dir_;
};

TEST_F(FileMapStreamTest, MapsTheWholeFileAndStoresReachTheFile) {
  std::string text(10000, '.');
  text.replace(0, 5, "hello");
  const std::string path = MakeFile("client.dat", text);
  {
    TFileMapStream map(path);
    ASSERT_TRUE(map.IsOpen());
    ASSERT_EQ(10000u, map.GetSize());
    EXPECT_EQ(0u, map.GetPosition());
    EXPECT_EQ(text, std::string(reinterpret_cast<const char*>(map.GetMemory()), map.GetSize()));
    map.GetMemory()[0] = 'J';
    map.GetMemory()[9999] = '!';
  }
  text[0] = 'J';
  text[9999] = '!';
  EXPECT_EQ(text, testsupport::ReadFileText(path));
}

TEST_F(FileMapStreamTest, FilesThatCannotBeMappedGiveAStreamThatIsNotOpen) {
  const std::string empty = MakeFile("empty.dat", "");
  const std::string readOnly = MakeFile("readonly.dat", "protected");
  ASSERT_TRUE(plat::SetAttributes(readOnly, plat::kAttrReadOnly));
  std::vector<std::string> paths = {empty, dir_ / "missing.dat", dir_.Path()};
  // Wine running as root opens a read-only file for writing all the same.
  if (!testsupport::RunningUnderWine()) paths.push_back(readOnly);
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    TFileMapStream map(path);
    EXPECT_FALSE(map.IsOpen());
    EXPECT_EQ(nullptr, map.GetMemory());
    EXPECT_EQ(0u, map.GetSize());
  }
  EXPECT_EQ("protected", testsupport::ReadFileText(readOnly));
  plat::SetAttributes(readOnly, plat::kAttrNormal);
}

TEST_F(FileMapStreamTest, ASecondOpenerIsRefusedUntilTheFirstLetsGo) {
  const std::string path = MakeFile("shared.dat", "0123456789");
  {
    TFileMapStream first(path);
    ASSERT_TRUE(first.IsOpen());
    TFileMapStream second(path);
    EXPECT_FALSE(second.IsOpen());
    EXPECT_EQ(plat::kErrorSharingViolation, plat::LastError());
  }
  TFileMapStream again(path);
  EXPECT_TRUE(again.IsOpen());
}

TEST_F(FileMapStreamTest, ReadersShareAFileThatNoWriterMayMapMeanwhile) {
  const std::string path = MakeFile("original.dat", "0123456789");
  ASSERT_TRUE(plat::SetAttributes(path, plat::kAttrReadOnly));
  {
    TFileMapStream first(path, plat::MapAccess::kRead);
    TFileMapStream second(path, plat::MapAccess::kRead);
    ASSERT_TRUE(first.IsOpen());
    ASSERT_TRUE(second.IsOpen());
    EXPECT_EQ("0123456789", std::string(reinterpret_cast<const char*>(second.GetMemory()), second.GetSize()));
    ASSERT_TRUE(plat::SetAttributes(path, plat::kAttrNormal));
    TFileMapStream writer(path);
    EXPECT_FALSE(writer.IsOpen());
  }
  TFileMapStream writer(path);
  EXPECT_TRUE(writer.IsOpen());
}

TEST_F(FileMapStreamTest, AFileHeldOpenElsewhereIsRefusedOnWindows) {
  if (!plat::IsWindowsSystem()) GTEST_SKIP() << "POSIX locks are advisory: a plain opener is not stopped";
  const std::string path = MakeFile("held.dat", "0123456789");
  FILE* holder = fopen(path.c_str(), "rb");
  ASSERT_NE(nullptr, holder);
  {
    TFileMapStream map(path);
    EXPECT_FALSE(map.IsOpen());
  }
  fclose(holder);
  TFileMapStream map(path);
  EXPECT_TRUE(map.IsOpen());
}

TEST_F(FileMapStreamTest, EnginePathsWithBackslashesMap) {
  ASSERT_TRUE(plat::CreateFolder(dir_ / "Data"));
  const std::string path = MakeFile("Data/Client.DAT", "abc");
  TFileMapStream map(dir_.Path() + "data\\client.dat");
  ASSERT_TRUE(map.IsOpen());
  EXPECT_EQ(3u, map.GetSize());
  (void)path;
}

}  // namespace
