// Disk-full handling against a real full volume: a 1 MiB tmpfs mounted for
// the test when the system allows it (CI runs as root), otherwise /dev/full,
// whose writes fail with "no space". Native builds only: Wine offers
// neither.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "download/http_inet.h"
#include "download/http_socket.h"
#include "download/local_file.h"
#include "platform/file_system.h"
#include "platform/path.h"
#include "platform/system_info.h"
#include "tests/download/download_test_support.h"
#include "tests/engine/log_capture.h"
#include "tests/support/http_test_server.h"
#include "tests/support/test_support.h"

using dltest::Pattern;
using testsupport::HttpRoute;
using testsupport::HttpTestServer;

namespace {

class SmallVolume {
 public:
  SmallVolume() {
    const std::string command = "mount -t tmpfs -o size=1m tmpfs '" + dir_.Path() + "' 2>/dev/null";
    mounted_ = std::system(command.c_str()) == 0;
  }
  ~SmallVolume() {
    if (mounted_) std::system(("umount '" + dir_.Path() + "'").c_str());
  }
  bool Mounted() const { return mounted_; }
  std::string operator/(const std::string& name) const { return dir_ / name; }

 private:
  testsupport::TempDir dir_;
  bool mounted_ = false;
};

class DiskFullTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (plat::IsWindowsSystem()) GTEST_SKIP() << "no small volume to fill under Wine";
    ASSERT_TRUE(server_.Started());
  }
  HttpTestServer server_;
};

TEST_F(DiskFullTest, AnnouncedLengthBeyondHalfTheFreeSpaceFailsBeforeWriting) {
  SmallVolume volume;
  if (!volume.Mounted()) GTEST_SKIP() << "tmpfs cannot be mounted here";
  LogCapture log;
  server_.Set("/big.bin", HttpRoute{Pattern(700 * 1024)});
  EXPECT_EQ(kFetchDiskFull, GetFileBySocket(server_.Url("/big.bin"), 0, volume / "big.bin", nullptr));
  EXPECT_EQ("", testsupport::ReadFileText(volume / "big.bin"));
  EXPECT_TRUE(log.Contains("disk is full"));
  EXPECT_EQ(kFetchDiskFull, GetFileByInet(volume / "big2.bin", server_.Url("/big.bin"), 0, nullptr));
}

TEST_F(DiskFullTest, WriteIntoAFullVolumeIsResultFive) {
  HttpRoute route{Pattern(2 * 1024 * 1024)};
  route.contentLength = false;  // passes the up-front check
  server_.Set("/nolen.bin", route);
  SmallVolume volume;
  const std::string target = volume.Mounted() ? volume / "nolen.bin" : std::string("/dev/full");
  const std::string target2 = volume.Mounted() ? volume / "nolen2.bin" : std::string("/dev/full");
  EXPECT_EQ(kFetchDiskFull, GetFileBySocket(server_.Url("/nolen.bin"), 0, target, nullptr));
  if (volume.Mounted()) std::remove(target.c_str());
  EXPECT_EQ(kFetchDiskFull, GetFileByInet(target2, server_.Url("/nolen.bin"), 0, nullptr));
}

// The disk failures that say nothing of the room for a file, in every
// build: a free-space query that fails lets the transfer try, and a close
// that could not finish the file for lack of room is a full disk, not a
// success.
TEST(DiskRoomTest, UnknownFreeSpacePassesAndAFailedCloseIsReported) {
  testsupport::TempDir dir;
  LogCapture log;
  EXPECT_FALSE(LacksRoomFor(1000, dir / "missing\\"));
  EXPECT_TRUE(log.Contains("Failed to get disk free space"));

  HttpTestServer server;
  ASSERT_TRUE(server.Started());
  server.Set("/c.bin", HttpRoute{Pattern(5000)});
  plat::SetFileFaultHookForTesting([](plat::FileFault operation, const std::string& path) {
    return operation == plat::FileFault::kClose && plat::FileNameOf(path).compare(0, 5, "close") == 0;
  });
  EXPECT_EQ(kFetchDiskFull, GetFileBySocket(server.Url("/c.bin"), 0, dir / "close1.bin", nullptr));
  EXPECT_EQ(kFetchDiskFull, GetFileByInet(dir / "close2.bin", server.Url("/c.bin"), 0, nullptr));
  plat::SetFileFaultHookForTesting(nullptr);
  EXPECT_TRUE(log.Contains("disk is full"));
}

}  // namespace
