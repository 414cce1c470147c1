// The C-runtime style callbacks the engine hands to the decoder: the flag
// and permission values of the Parts, errno values, '\\' separators and
// letter case as on Windows.
#include "platform/crt_io.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/file_system.h"
#include "tests/support/test_support.h"

namespace {

using testsupport::TempDir;

TEST(CrtIo, FlagValuesAreThoseOfTheCRuntime) {
  EXPECT_EQ(0x8000, plat::kCrtOpenReadBinary);
  EXPECT_EQ(0x8321, plat::kCrtOpenWriteBinary);
  EXPECT_EQ(0x180, plat::kCrtPermReadWrite);
}

TEST(CrtIo, CreateWriteReadAndSeek) {
  TempDir dir;
  const std::string path = dir / "data.bin";
  intptr_t fd = plat::CrtOpen(path.c_str(), plat::kCrtOpenWriteBinary, plat::kCrtPermReadWrite);
  ASSERT_NE(-1, fd);
  EXPECT_EQ(11u, plat::CrtWrite(fd, "hello\r\nworld", 11));
  EXPECT_EQ(0, plat::CrtClose(fd));

  fd = plat::CrtOpen(path.c_str(), plat::kCrtOpenReadBinary, 0);
  ASSERT_NE(-1, fd);
  char buffer[32] = {};
  EXPECT_EQ(11u, plat::CrtRead(fd, buffer, sizeof(buffer)));  // binary: no CR-LF translation
  EXPECT_EQ(0, memcmp(buffer, "hello\r\nworl", 11));
  EXPECT_EQ(0u, plat::CrtRead(fd, buffer, sizeof(buffer)));   // end of file
  EXPECT_EQ(11, plat::CrtSeek(fd, 0, 2));
  EXPECT_EQ(2, plat::CrtSeek(fd, 2, 0));
  EXPECT_EQ(4, plat::CrtSeek(fd, 2, 1));
  EXPECT_EQ(3u, plat::CrtRead(fd, buffer, 3));
  EXPECT_EQ(0, memcmp(buffer, "o\r\n", 3));
  EXPECT_EQ(-1, plat::CrtSeek(fd, -100, 1));
  EXPECT_EQ(0xFFFFFFFFu, plat::CrtWrite(fd, "x", 1));  // opened read-only
  EXPECT_EQ(0, plat::CrtClose(fd));

  // Create again: truncated.
  fd = plat::CrtOpen(path.c_str(), plat::kCrtOpenWriteBinary, plat::kCrtPermReadWrite);
  ASSERT_NE(-1, fd);
  EXPECT_EQ(0, plat::CrtClose(fd));
  EXPECT_TRUE(testsupport::ReadFileBytes(path).empty());
}

TEST(CrtIo, FailuresSetTheCRuntimeErrno) {
  TempDir dir;
  EXPECT_EQ(-1, plat::CrtOpen((dir / "missing.bin").c_str(), plat::kCrtOpenReadBinary, 0));
  EXPECT_EQ(plat::kCrtErrNoEnt, plat::CrtErrno());
  EXPECT_EQ(-1, plat::CrtOpen((dir / "no\\such\\folder.bin").c_str(), plat::kCrtOpenWriteBinary,
                              plat::kCrtPermReadWrite));
  EXPECT_EQ(plat::kCrtErrNoEnt, plat::CrtErrno());
  // A folder is not a file.
  EXPECT_EQ(-1, plat::CrtOpen(dir.Path().c_str(), plat::kCrtOpenReadBinary, 0));
  EXPECT_EQ(plat::kCrtErrAccess, plat::CrtErrno());
  EXPECT_EQ(-1, plat::CrtClose(987654));
}

TEST(CrtIo, BackslashSeparatorsAndLetterCaseWorkAsOnWindows) {
  TempDir dir;
  ASSERT_TRUE(plat::CreateFolder(dir / "Sub"));
  const intptr_t fd =
      plat::CrtOpen((dir / "Sub\\Name.TXT").c_str(), plat::kCrtOpenWriteBinary, plat::kCrtPermReadWrite);
  ASSERT_NE(-1, fd);
  EXPECT_EQ(3u, plat::CrtWrite(fd, "abc", 3));
  EXPECT_EQ(0, plat::CrtClose(fd));
  EXPECT_EQ("abc", testsupport::ReadFileText(dir / "Sub/Name.TXT"));
  const intptr_t again = plat::CrtOpen((dir / "sub\\name.txt").c_str(), plat::kCrtOpenReadBinary, 0);
  ASSERT_NE(-1, again);
  char buffer[4] = {};
  EXPECT_EQ(3u, plat::CrtRead(again, buffer, 4));
  EXPECT_EQ(0, plat::CrtClose(again));
}

TEST(CrtIo, APermissionWithoutWriteMakesAReadOnlyFile) {
  TempDir dir;
  const std::string path = dir / "ro.bin";
  const intptr_t fd = plat::CrtOpen(path.c_str(), plat::kCrtOpenWriteBinary, plat::kCrtPermRead);
  ASSERT_NE(-1, fd);
  EXPECT_EQ(0, plat::CrtClose(fd));
  const uint32_t attributes = plat::GetAttributes(path);
  ASSERT_NE(plat::kInvalidAttributes, attributes);
  EXPECT_NE(0u, attributes & plat::kAttrReadOnly);
  EXPECT_TRUE(plat::SetAttributes(path, plat::kAttrNormal));  // so the folder can go
}

TEST(CrtIo, AllocAndFree) {
  void* block = plat::CrtAlloc(100);
  ASSERT_NE(nullptr, block);
  memset(block, 1, 100);
  plat::CrtFree(block);
  plat::CrtFree(nullptr);
}

}  // namespace
