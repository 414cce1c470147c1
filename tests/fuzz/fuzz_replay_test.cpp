// The fuzz targets as a unit test of every build: each runs on its
// committed seeds and on the inputs kept in regressions/<target>/ (crashers
// the fuzzer found, named for their defect), so a mended defect stays
// mended without a fuzzer.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/system_info.h"
#include "tests/fuzz/fuzz_target.h"
#include "tests/support/test_support.h"

namespace fuzzreplay {

namespace {

std::map<std::string, Target>& Targets() {
  static std::map<std::string, Target> targets;
  return targets;
}

}  // namespace

bool Register(const char* name, Target target) {
  Targets()[name] = target;
  return true;
}

void Fail(const char* file, int line, const char* condition) { ADD_FAILURE_AT(file, line) << condition; }

namespace {

std::string FuzzDir() {
  std::string dir = PATCHER_FUZZ_DIR;
  if (plat::IsWindowsSystem() && !dir.empty() && dir[0] == '/') dir = "Z:" + dir;
  return dir + "/";
}

TEST(FuzzReplay, EveryTargetOnItsSeedsAndKeptCrashers) {
  EXPECT_EQ(8u, Targets().size());
  for (const auto& [name, target] : Targets()) {
    size_t seeds = 0;
    for (const char* kind : {"seeds", "regressions"}) {
      const std::filesystem::path folder = FuzzDir() + kind + "/" + name;
      std::error_code error;
      for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (!entry.is_regular_file()) continue;
        SCOPED_TRACE(entry.path().string());
        const std::vector<uint8_t> input = testsupport::ReadFileBytes(entry.path().string());
        target(input.data(), input.size());
        if (std::string(kind) == "seeds") ++seeds;
      }
    }
    EXPECT_GT(seeds, 0u) << name << " has no seeds";
  }
}

}  // namespace

}  // namespace fuzzreplay
