// patchtool cab list / extract, run in-process.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "tests/cab/cab_test_support.h"
#include "tests/cab/sha256.h"
#include "tests/support/test_support.h"
#include "tools/commands.h"

namespace cabtest {
namespace {

using testsupport::TempDir;

int RunTool(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  return CabCommand(static_cast<int>(args.size()), argv.data());
}

TEST(CabTool, ExtractTurnsStoredSeparatorsIntoFolders) {
  TempDir dir;
  const std::string out = dir / "out";
  ASSERT_EQ(0, RunTool({"extract", CabDataDir() + "cabextract-dir.cab", out}));
  const std::vector<uint8_t> plain = testsupport::ReadFileBytes(out + "/plain.c");
  const std::vector<uint8_t> deep = testsupport::ReadFileBytes(out + "/1/2/3/4.c");
  EXPECT_EQ("64df1b1e403b6636236bde07ead5039c8a74f91dd3c27d5d6249b46c9e62131d", Sha256Hex(plain.data(), plain.size()));
  EXPECT_EQ("5b4e00033bbbd82cbec442f906cff18790cb043783cf7ea1bd25067ec954a562", Sha256Hex(deep.data(), deep.size()));
}

TEST(CabTool, ExtractOfEveryCompressionMatchesTheManifest) {
  TempDir dir;
  const std::string out = dir / "mixed";
  ASSERT_EQ(0, RunTool({"extract", CabDataDir() + "cabextract-mixed.cab", out}));
  int checked = 0;
  for (const ManifestRow& row : LoadManifest()) {
    if (row.cabinet != "cabextract-mixed.cab") continue;
    const std::vector<uint8_t> data = testsupport::ReadFileBytes(out + "/" + row.storedName);
    EXPECT_EQ(row.sha256, Sha256Hex(data.data(), data.size())) << row.storedName;
    ++checked;
  }
  EXPECT_EQ(3, checked);
}

TEST(CabTool, ListShowsSizeNameAndFolderCompression) {
  testing::internal::CaptureStdout();
  const int status = RunTool({"list", CabDataDir() + "cabextract-mixed.cab"});
  const std::string text = testing::internal::GetCapturedStdout();
  EXPECT_EQ(0, status);
  EXPECT_NE(std::string::npos, text.find("        57  mszip.txt  mszip\n")) << text;
  EXPECT_NE(std::string::npos, text.find("       187  lzx.txt  lzx:18\n")) << text;
  EXPECT_NE(std::string::npos, text.find("        59  qtm.txt  quantum:18\n")) << text;
}

TEST(CabTool, NamesThatClimbOutOrAreAbsoluteAreRefused) {
  TempDir dir;
  ASSERT_TRUE(plat::CreateFolder(dir / "inside"));
  CabWriter w;
  auto bytes = [](const char* s) { return std::vector<uint8_t>(s, s + strlen(s)); };
  w.AddStoredFolder({{"..\\evil1.txt", bytes("1")},
                     {"../evil2.txt", bytes("2")},
                     {"/evil3.txt", bytes("3")},
                     {"\\evil4.txt", bytes("4")},
                     {"C:\\evil5.txt", bytes("5")},
                     {"a\\..\\..\\evil6.txt", bytes("6")},
                     {"ok\\good.txt", bytes("good")},
                     {"a/./b.txt", bytes("b")}});
  const std::vector<uint8_t> cab = w.Build();
  ASSERT_TRUE(testsupport::WriteFileBytes(dir / "unsafe.cab", cab.data(), cab.size()));
  const std::string out = dir / "inside";
  EXPECT_EQ(20, RunTool({"extract", dir / "unsafe.cab", out}));
  EXPECT_EQ("good", testsupport::ReadFileText(out + "/ok/good.txt"));
  EXPECT_EQ("b", testsupport::ReadFileText(out + "/a/b.txt"));
  for (int i = 1; i <= 6; ++i) {
    const std::string name = "evil" + std::to_string(i) + ".txt";
    EXPECT_FALSE(testsupport::PathExists(dir / name)) << name;
    EXPECT_FALSE(testsupport::PathExists(out + "/" + name)) << name;
  }
}

TEST(CabTool, FailuresExitWithTheErfCode) {
  TempDir dir;
  EXPECT_EQ(3, RunTool({"extract", CabDataDir() + "bad-version-1.4.cab", dir / "v"}));
  EXPECT_EQ(4, RunTool({"extract", CabDataDir() + "bad-checksum-stored-payload.cab", dir / "c"}));
  EXPECT_EQ(7, RunTool({"extract", CabDataDir() + "bad-mszip-no-CK.cab", dir / "m"}));
  EXPECT_EQ(1, RunTool({"list", dir / "missing.cab"}));
  EXPECT_EQ(2, RunTool({"list"}));
  EXPECT_EQ(2, RunTool({"frobnicate", "x"}));
}

}  // namespace
}  // namespace cabtest
