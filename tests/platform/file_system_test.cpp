#include "platform/file_system.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/path.h"
#include "tests/support/test_support.h"

using testsupport::TempDir;

namespace {

// Engine paths are written with '\\'; both backends must take them.
std::string Win(const TempDir& dir, const std::string& relative) {
  std::string path = dir.Path() + relative;
  return path;
}

bool Names(const std::string& pattern, std::vector<std::string>* names) {
  std::vector<plat::FindEntry> entries;
  if (!plat::FindEntries(pattern, &entries)) return false;
  names->clear();
  for (const auto& e : entries) names->push_back(e.name);
  std::sort(names->begin(), names->end());
  return true;
}

TEST(FileSystem, CreateWriteReadSizeAndMove) {
  TempDir dir;
  const std::string a = Win(dir, "sub\\a.bin");
  const std::string b = Win(dir, "sub\\b.bin");
  ASSERT_TRUE(plat::CreateFolder(Win(dir, "sub")));
  EXPECT_FALSE(plat::CreateFolder(Win(dir, "sub")));
  EXPECT_EQ(plat::kErrorAlreadyExists, plat::LastError());
  EXPECT_FALSE(plat::CreateFolder(Win(dir, "missing\\child")));
  EXPECT_EQ(plat::kErrorPathNotFound, plat::LastError());

  {
    plat::File f;
    ASSERT_TRUE(f.Open(a, plat::File::kWrite, plat::File::kShareNone, plat::File::kCreateAlways));
    uint32_t done = 0;
    ASSERT_TRUE(f.Write("hello world", 11, &done));
    EXPECT_EQ(11u, done);
  }
  uint64_t size = 0;
  ASSERT_TRUE(plat::FileSize(a, &size));
  EXPECT_EQ(11u, size);
  EXPECT_TRUE(plat::FileExists(a));
  EXPECT_FALSE(plat::FileExists(Win(dir, "sub")));
  EXPECT_TRUE(plat::DirectoryExists(Win(dir, "sub")));

  {
    plat::File f;
    ASSERT_TRUE(f.Open(a, plat::File::kRead, plat::File::kShareRead, plat::File::kOpenExisting));
    char buffer[32] = {};
    uint32_t got = 0;
    ASSERT_TRUE(f.Seek(6, 0));
    ASSERT_TRUE(f.Read(buffer, sizeof buffer, &got));
    EXPECT_EQ(5u, got);
    EXPECT_EQ(std::string("world"), std::string(buffer, got));
    ASSERT_TRUE(f.Read(buffer, sizeof buffer, &got));
    EXPECT_EQ(0u, got);
  }

  // A replacing move overwrites; a plain move refuses an existing target.
  ASSERT_TRUE(testsupport::WriteFileText(dir.Path() + "sub/b.bin", "old"));
  EXPECT_FALSE(plat::MoveNoReplace(a, b));
  EXPECT_EQ(plat::kErrorAlreadyExists, plat::LastError());
  ASSERT_TRUE(plat::MoveReplace(a, b));
  EXPECT_FALSE(plat::FileExists(a));
  EXPECT_EQ("hello world", testsupport::ReadFileText(dir.Path() + "sub/b.bin"));

  EXPECT_FALSE(plat::RemoveFolder(Win(dir, "sub")));  // not empty
  ASSERT_TRUE(plat::RemoveFile(b));
  EXPECT_FALSE(plat::RemoveFile(b));
  EXPECT_EQ(plat::kErrorFileNotFound, plat::LastError());
  EXPECT_TRUE(plat::RemoveFolder(Win(dir, "sub")));
}

TEST(FileSystem, OpenDispositionsAndErrors) {
  TempDir dir;
  const std::string path = Win(dir, "f.txt");
  plat::File f;
  EXPECT_FALSE(f.Open(path, plat::File::kRead, plat::File::kShareRead, plat::File::kOpenExisting));
  EXPECT_EQ(plat::kErrorFileNotFound, plat::LastError());
  EXPECT_FALSE(f.Open(Win(dir, "nofolder\\f.txt"), plat::File::kRead, 0, plat::File::kOpenExisting));
  EXPECT_EQ(plat::kErrorPathNotFound, plat::LastError());

  ASSERT_TRUE(f.Open(path, plat::File::kWrite, 0, plat::File::kCreateNew));
  f.Close();
  EXPECT_FALSE(f.Open(path, plat::File::kWrite, 0, plat::File::kCreateNew));
  EXPECT_EQ(plat::kErrorFileExists, plat::LastError());

  ASSERT_TRUE(testsupport::WriteFileText(dir.Path() + "f.txt", "0123456789"));
  ASSERT_TRUE(f.Open(path, plat::File::kReadWrite, 0, plat::File::kOpenAlways));
  ASSERT_TRUE(f.Seek(4, 0));
  ASSERT_TRUE(f.Truncate());
  f.Close();
  EXPECT_EQ("0123", testsupport::ReadFileText(dir.Path() + "f.txt"));
}

TEST(FileSystem, ReadOnlyFilesResistDeleteAndReplace) {
  TempDir dir;
  const std::string path = Win(dir, "ro.txt");
  const std::string other = Win(dir, "other.txt");
  ASSERT_TRUE(testsupport::WriteFileText(dir.Path() + "ro.txt", "keep"));
  ASSERT_TRUE(testsupport::WriteFileText(dir.Path() + "other.txt", "new"));
  ASSERT_TRUE(plat::SetAttributes(path, plat::kAttrReadOnly));
  EXPECT_NE(0u, plat::GetAttributes(path) & plat::kAttrReadOnly);
  if (testsupport::RunningUnderWine()) {
    // Wine keeps the attribute as a permission bit, which root ignores.
    GTEST_SKIP() << "Wine does not protect read-only files from root";
  }

  EXPECT_FALSE(plat::RemoveFile(path));
  EXPECT_EQ(plat::kErrorAccessDenied, plat::LastError());
  EXPECT_FALSE(plat::MoveReplace(other, path));
  plat::File f;
  EXPECT_FALSE(f.Open(path, plat::File::kWrite, 0, plat::File::kOpenExisting));
  EXPECT_EQ(plat::kErrorAccessDenied, plat::LastError());
  EXPECT_EQ("keep", testsupport::ReadFileText(dir.Path() + "ro.txt"));

  ASSERT_TRUE(plat::SetAttributes(path, plat::kAttrNormal));
  EXPECT_EQ(0u, plat::GetAttributes(path) & plat::kAttrReadOnly);
  EXPECT_TRUE(plat::RemoveFile(path));
  EXPECT_EQ(plat::kInvalidAttributes, plat::GetAttributes(path));
}

TEST(FileSystem, MoveOntoNonEmptyFolderFails) {
  TempDir dir;
  ASSERT_TRUE(testsupport::WriteFileText(dir.Path() + "src.txt", "x"));
  ASSERT_TRUE(plat::CreateFolder(Win(dir, "target")));
  ASSERT_TRUE(testsupport::WriteFileText(dir.Path() + "target/inner.txt", "y"));
  EXPECT_FALSE(plat::MoveReplace(Win(dir, "src.txt"), Win(dir, "target")));
  EXPECT_TRUE(plat::FileExists(Win(dir, "src.txt")));
}

TEST(FileSystem, FindEntriesWithEngineWildcards) {
  TempDir dir;
  for (const char* name : {"a.exe", "a.exe.del_zulpatch", "b.dll.del_zulpatch2", "noext", "c.txt"}) {
    ASSERT_TRUE(testsupport::WriteFileText(dir.Path() + name, name));
  }
  ASSERT_TRUE(plat::CreateFolder(Win(dir, "12")));

  std::vector<std::string> names;
  ASSERT_TRUE(Names(Win(dir, "*.*"), &names));
  EXPECT_EQ((std::vector<std::string>{".", "..", "12", "a.exe", "a.exe.del_zulpatch", "b.dll.del_zulpatch2", "c.txt",
                                      "noext"}),
            names);

  ASSERT_TRUE(Names(Win(dir, "*.del_zulpatch*"), &names));
  EXPECT_EQ((std::vector<std::string>{"a.exe.del_zulpatch", "b.dll.del_zulpatch2"}), names);

  ASSERT_TRUE(Names(Win(dir, "*.TXT"), &names));
  EXPECT_EQ((std::vector<std::string>{"c.txt"}), names);

  std::vector<plat::FindEntry> entries;
  EXPECT_FALSE(plat::FindEntries(Win(dir, "*.none"), &entries));
  EXPECT_EQ(plat::kErrorFileNotFound, plat::LastError());
  EXPECT_FALSE(plat::FindEntries(Win(dir, "absent\\*.*"), &entries));
  EXPECT_EQ(plat::kErrorPathNotFound, plat::LastError());

  ASSERT_TRUE(plat::FindEntries(Win(dir, "12"), &entries));
  ASSERT_EQ(1u, entries.size());
  EXPECT_TRUE(entries[0].IsDirectory());
}

TEST(FileSystem, WildcardMatchRules) {
  EXPECT_TRUE(plat::WildcardMatch("*.*", "noext"));
  EXPECT_TRUE(plat::WildcardMatch("*", ".hidden"));
  EXPECT_TRUE(plat::WildcardMatch("a?c", "ABC"));
  EXPECT_FALSE(plat::WildcardMatch("a?c", "ac"));
  EXPECT_TRUE(plat::WildcardMatch("*.del_zulpatch*", "x.del_zulpatch17"));
  EXPECT_FALSE(plat::WildcardMatch("*.del_zulpatch*", "x.del_zul"));
  EXPECT_TRUE(plat::WildcardMatch("name.*", "name"));
  EXPECT_FALSE(plat::WildcardMatch("*.cab", "x.cab.part"));
}

// The engine opens files by lower-cased names and lists may differ in case
// from the client; both backends must find the existing file.
TEST(FileSystem, NamesMatchWithoutRegardToCase) {
  TempDir dir;
  ASSERT_TRUE(plat::CreateFolder(Win(dir, "Data")));
  ASSERT_TRUE(testsupport::WriteFileText(dir.Path() + "Data/Map.PAK", "pak"));
  EXPECT_TRUE(plat::FileExists(Win(dir, "data\\map.pak")));
  uint64_t size = 0;
  ASSERT_TRUE(plat::FileSize(Win(dir, "DATA\\MAP.pak"), &size));
  EXPECT_EQ(3u, size);
  // A new file in an existing folder of other case lands in that folder.
  {
    plat::File f;
    ASSERT_TRUE(f.Open(Win(dir, "data\\New.txt"), plat::File::kWrite, 0, plat::File::kCreateAlways));
  }
  std::vector<std::string> names;
  ASSERT_TRUE(Names(Win(dir, "Data\\*.*"), &names));
  EXPECT_EQ((std::vector<std::string>{".", "..", "Map.PAK", "New.txt"}), names);
}

TEST(Path, FolderAndFileName) {
  EXPECT_EQ("C:\\game\\", plat::FolderOf("C:\\game\\a.exe"));
  EXPECT_EQ("a.exe", plat::FileNameOf("C:\\game\\a.exe"));
  EXPECT_EQ("dir/", plat::FolderOf("dir/x"));
  EXPECT_EQ("", plat::FolderOf("x"));
  EXPECT_EQ("x", plat::FileNameOf("x"));
}

TEST(FileSystem, DiskFreeBytesOfTempFolder) {
  TempDir dir;
  uint64_t freeBytes = 0;
  ASSERT_TRUE(plat::DiskFreeBytes(dir.Path(), &freeBytes));
  EXPECT_GT(freeBytes, 0u);
}

}  // namespace
