#include "engine/file_crc_cache.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "download/crc32.h"
#include "platform/file_system.h"
#include "tests/support/test_support.h"

namespace {

using testsupport::TempDir;
using testsupport::WriteFileText;

// Keeps every CRC, however new the file: what is tested is whether a change
// to the file is seen, not the guard against changes within a time step.
constexpr int64_t kKeepEverything = -3'600'000'000'000;

TEST(FileCrcCacheTest, AKeptCrcHoldsOnlyWhileTheFileIsUnchanged) {
  struct Case {
    const char* change;
    std::function<void(const std::string& path, const std::string& folder)> apply;
  };
  const Case cases[] = {
      {"nothing", [](const std::string&, const std::string&) {}},
      {"replaced by a file of the same size",
       [](const std::string& path, const std::string& folder) {
         ASSERT_TRUE(WriteFileText(folder + "new.dat", "other bytes, same len"));
         ASSERT_TRUE(plat::MoveReplace(folder + "new.dat", path));
       }},
      {"grown", [](const std::string& path, const std::string&) { ASSERT_TRUE(WriteFileText(path, "longer bytes than before!")); }},
      // A copy that keeps times (cp -p, an unpacker) writes the old write
      // time back; the change time still moves.
      {"rewritten in place with its write time put back",
       [](const std::string& path, const std::string&) {
         const auto written = std::filesystem::last_write_time(path);
         std::this_thread::sleep_for(std::chrono::milliseconds(50));  // past the clock's tick
         plat::File file;
         uint32_t done = 0;
         ASSERT_TRUE(file.Open(path, plat::File::kReadWrite, plat::File::kShareRead, plat::File::kOpenExisting));
         ASSERT_TRUE(file.Write("XYZ", 3, &done));
         file.Close();
         std::filesystem::last_write_time(path, written);
       }},
      {"removed", [](const std::string& path, const std::string&) { ASSERT_TRUE(plat::RemoveFile(path)); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.change);
    TempDir folder;
    const std::string path = folder.Path() + "client.dat";
    ASSERT_TRUE(WriteFileText(path, "the bytes of a client"));
    CFileCrcCache cache(kKeepEverything);
    const std::string first = cache.FileCrcText(path);
    EXPECT_EQ(first, GetFileCrcText(path));
    c.apply(path, folder.Path());
    const std::string now = GetFileCrcText(path);
    EXPECT_EQ(cache.FileCrcText(path), now);
    const bool changed = std::string(c.change) != "nothing";
    EXPECT_EQ(now != first, changed);
    EXPECT_EQ(cache.ReadsForTesting(), changed ? 2u : 1u);
  }
}

TEST(FileCrcCacheTest, FilesWrittenWithinTheTimeStepAndUnreadableFilesAreReadEachTime) {
  TempDir folder;
  const std::string path = folder.Path() + "fresh.dat";
  ASSERT_TRUE(WriteFileText(path, "just written"));
  CFileCrcCache cache;
  EXPECT_EQ(cache.FileCrcText(path), GetFileCrcText(path));
  EXPECT_EQ(cache.FileCrcText(path), GetFileCrcText(path));
  EXPECT_EQ(cache.ReadsForTesting(), 2u);

  CFileCrcCache keeping(kKeepEverything);
  const std::string missing = folder.Path() + "missing.dat";
  EXPECT_EQ(keeping.FileCrcText(missing), kCrcUnknownText);
  ASSERT_TRUE(WriteFileText(missing, "there now"));
  EXPECT_EQ(keeping.FileCrcText(missing), GetFileCrcText(missing));
  EXPECT_EQ(keeping.ReadsForTesting(), 2u);
}

}  // namespace
