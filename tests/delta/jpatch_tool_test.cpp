// patchtool jpatch, run in-process on the reference deltas.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/delta/delta_test_support.h"
#include "tools/commands.h"

namespace deltatest {
namespace {

std::string Case(const std::string& name, const std::string& file) {
  return testsupport::TestDataDir() + "jdiff/" + name + "/" + file;
}

int RunTool(std::vector<std::string> args, std::string* errors = nullptr) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const int status = JpatchCommand(static_cast<int>(args.size()), argv.data());
  testing::internal::GetCapturedStdout();
  const std::string text = testing::internal::GetCapturedStderr();
  if (errors != nullptr) *errors = text;
  return status;
}

TEST(JpatchTool, EveryModeRebuildsTheNewFile) {
  testsupport::TempDir dir;
  struct Run {
    std::string name;
    std::vector<std::string> extra;
  };
  const Run runs[] = {{"random_256k", {}},
                      {"text_synth", {"--mode", "memory"}},
                      {"move_swap", {"--mode", "file"}},
                      {"mod_only", {"--mode", "inplace"}},
                      {"empty_new", {"--mode=inplace"}}};
  for (const Run& run : runs) {
    SCOPED_TRACE(run.name);
    const std::string out = dir / (run.name + ".out");
    std::vector<std::string> args = {Case(run.name, "orig"), Case(run.name, "delta.jdf"), out};
    args.insert(args.end(), run.extra.begin(), run.extra.end());
    ASSERT_EQ(0, RunTool(args));
    EXPECT_EQ(testsupport::ReadFileBytes(Case(run.name, "new")), testsupport::ReadFileBytes(out));
  }
}

// The memory mode maps its original; an output that is the original itself,
// however it is spelt, must still be read whole before it is rewritten.
TEST(JpatchTool, MemoryModeRebuildsItsOriginalInItsPlace) {
  testsupport::TempDir dir;
  const std::string orig = dir / "orig";
  const std::vector<uint8_t> original = testsupport::ReadFileBytes(Case("random_256k", "orig"));
  for (const std::string& out : {orig, dir / "./orig"}) {
    SCOPED_TRACE(out);
    ASSERT_TRUE(testsupport::WriteFileBytes(orig, original.data(), original.size()));
    ASSERT_EQ(0, RunTool({orig, Case("random_256k", "delta.jdf"), out, "--mode", "memory"}));
    EXPECT_EQ(testsupport::ReadFileBytes(Case("random_256k", "new")), testsupport::ReadFileBytes(orig));
  }
}

TEST(JpatchTool, InPlaceRefusesADeltaThatInsertsAndMakesNoOutput) {
  testsupport::TempDir dir;
  std::string errors;
  EXPECT_EQ(1, RunTool({Case("ins_middle", "orig"), Case("ins_middle", "delta.jdf"), dir / "out", "--mode", "inplace"},
                       &errors));
  EXPECT_NE(std::string::npos, errors.find("cannot be applied in place")) << errors;
  EXPECT_FALSE(testsupport::PathExists(dir / "out"));
}

TEST(JpatchTool, ADeltaForAnotherFileFailsReadablyAndLeavesNoOutput) {
  testsupport::TempDir dir;
  // The delta of a 16 KiB file against a 6000-byte one: it reaches past the end.
  for (const char* mode : {"memory", "file"}) {
    SCOPED_TRACE(mode);
    std::string errors;
    EXPECT_EQ(1, RunTool({Case("identical", "orig"), Case("del_end", "delta.jdf"), dir / "out", "--mode", mode}, &errors));
    EXPECT_NE(std::string::npos, errors.find("jpatch failed: the delta does not fit the original")) << errors;
    EXPECT_FALSE(testsupport::PathExists(dir / "out"));
  }
}

TEST(JpatchTool, BadArgumentsAndMissingFiles) {
  testsupport::TempDir dir;
  EXPECT_EQ(2, RunTool({}));
  EXPECT_EQ(2, RunTool({"a", "b"}));
  EXPECT_EQ(2, RunTool({"a", "b", "c", "d"}));
  EXPECT_EQ(2, RunTool({"a", "b", "c", "--mode"}));
  EXPECT_EQ(2, RunTool({Case("identical", "orig"), Case("identical", "delta.jdf"), dir / "out", "--mode", "fast"}));
  std::string errors;
  EXPECT_EQ(1, RunTool({Case("identical", "orig"), dir / "missing.jdf", dir / "out"}, &errors));
  EXPECT_NE(std::string::npos, errors.find("cannot load")) << errors;
}

}  // namespace
}  // namespace deltatest
