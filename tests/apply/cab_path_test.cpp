// FindCabPath: the downloaded cabinet, or its numbered copy with the
// largest number, found again in its version folder.
#include "engine/cab_path.h"

#include <gtest/gtest.h>

#include "platform/file_system.h"
#include "tests/apply/apply_test_support.h"

namespace applytest {
namespace {

class FindCabPathTest : public ::testing::Test {
 protected:
  std::string Folder() const { return dir_.Path(); }
  std::string Put(const std::string& name) {
    WriteText(Folder() + name, name);
    return Folder() + name;
  }
  bool Has(const std::string& name) const { return plat::FileExists(Folder() + name); }

  testsupport::TempDir dir_;
};

TEST_F(FindCabPathTest, PlainCabinetIsTheDefaultAndNothingIsDeleted) {
  Put("3N.cab");
  Put("3D.cab");
  EXPECT_EQ(FindCabPath(Folder(), "3N.cab"), Folder() + "3N.cab");
  EXPECT_TRUE(Has("3N.cab"));
  EXPECT_TRUE(Has("3D.cab"));
}

TEST_F(FindCabPathTest, MissingCabinetStillGivesTheDefaultPath) {
  EXPECT_EQ(FindCabPath(Folder(), "3N.cab"), Folder() + "3N.cab");
}

TEST_F(FindCabPathTest, MissingFolderGivesTheDefaultPath) {
  const std::string folder = Folder() + "absent\\";
  EXPECT_EQ(FindCabPath(folder, "3N.cab"), folder + "3N.cab");
}

TEST_F(FindCabPathTest, LargestNumberedCopyIsKeptAndTheOthersDeleted) {
  Put("3N.cab");
  Put("3N(1).cab");
  Put("3N(3).cab");
  Put("3N(2).cab");
  Put("3N(0).cab");
  EXPECT_EQ(FindCabPath(Folder(), "3N.cab"), Folder() + "3N(3).cab");
  EXPECT_TRUE(Has("3N(3).cab"));
  EXPECT_FALSE(Has("3N.cab"));
  EXPECT_FALSE(Has("3N(1).cab"));
  EXPECT_FALSE(Has("3N(2).cab"));
  EXPECT_FALSE(Has("3N(0).cab"));
}

TEST_F(FindCabPathTest, NumbersCompareAsNumbersNotText) {
  Put("3N(9).cab");
  Put("3N(10).cab");
  EXPECT_EQ(FindCabPath(Folder(), "3N.cab"), Folder() + "3N(10).cab");
  EXPECT_FALSE(Has("3N(9).cab"));
}

TEST_F(FindCabPathTest, CopyWithoutPlainFileIsFound) {
  Put("3N(1).cab");
  EXPECT_EQ(FindCabPath(Folder(), "3N.cab"), Folder() + "3N(1).cab");
  EXPECT_TRUE(Has("3N(1).cab"));
}

TEST_F(FindCabPathTest, OnlyCopyZeroMeansNoCopyAndNothingIsDeleted) {
  Put("3N.cab");
  Put("3N(0).cab");
  EXPECT_EQ(FindCabPath(Folder(), "3N.cab"), Folder() + "3N.cab");
  EXPECT_TRUE(Has("3N.cab"));
  EXPECT_TRUE(Has("3N(0).cab"));
}

TEST_F(FindCabPathTest, ExtensionIsComparedWithoutCase) {
  Put("3N.cab");
  Put("3N(2).CAB");
  EXPECT_EQ(FindCabPath(Folder(), "3N.cab"), Folder() + "3N(2).CAB");
  EXPECT_FALSE(Has("3N.cab"));
}

TEST_F(FindCabPathTest, OtherSectionsAndKindsAreNeverCandidates) {
  Put("3N.cab");
  Put("13N(5).cab");   // section 13
  Put("3D(4).cab");    // the diff cabinet
  Put("x3N(6).cab");   // not the stem
  Put("3N(7).cab.part");
  Put("3N(8).txt");
  Put("3N(x).cab");
  Put("3N().cab");
  Put("3N 2.cab");
  EXPECT_EQ(FindCabPath(Folder(), "3N.cab"), Folder() + "3N.cab");
  for (const char* name : {"3N.cab", "13N(5).cab", "3D(4).cab", "x3N(6).cab", "3N(7).cab.part", "3N(8).txt",
                           "3N(x).cab", "3N().cab", "3N 2.cab"}) {
    EXPECT_TRUE(Has(name)) << name;
  }
}

TEST_F(FindCabPathTest, OtherSectionsSurviveWhenACopyIsKept) {
  Put("3N(1).cab");
  Put("13N(5).cab");
  EXPECT_EQ(FindCabPath(Folder(), "3N.cab"), Folder() + "3N(1).cab");
  EXPECT_TRUE(Has("13N(5).cab"));
}

TEST_F(FindCabPathTest, FoldersAreSkipped) {
  plat::CreateFolder(Folder() + "3N(4).cab");
  Put("3N(1).cab");
  EXPECT_EQ(FindCabPath(Folder(), "3N.cab"), Folder() + "3N(1).cab");
  EXPECT_TRUE(plat::DirectoryExists(Folder() + "3N(4).cab"));
}

TEST_F(FindCabPathTest, ReadOnlyCopiesAreDeletedToo) {
  SKIP_READ_ONLY_CASE_AS_ROOT();
  Put("3N.cab");
  Put("3N(1).cab");
  Put("3N(2).cab");
  MakeReadOnly(Folder() + "3N.cab");
  MakeReadOnly(Folder() + "3N(1).cab");
  EXPECT_EQ(FindCabPath(Folder(), "3N.cab"), Folder() + "3N(2).cab");
  EXPECT_FALSE(Has("3N.cab"));
  EXPECT_FALSE(Has("3N(1).cab"));
}

TEST_F(FindCabPathTest, OnATieOneCopyIsKeptAndTheOtherDeleted) {
  Put("3N(2).cab");
  Put("3N(02).cab");
  const std::string found = FindCabPath(Folder(), "3N.cab");
  ASSERT_TRUE(found == Folder() + "3N(2).cab" || found == Folder() + "3N(02).cab") << found;
  EXPECT_TRUE(plat::FileExists(found));
  EXPECT_NE(Has("3N(2).cab"), Has("3N(02).cab"));
}

TEST_F(FindCabPathTest, HugeCopyNumbersAreNotCopies) {
  Put("3N.cab");
  Put("3N(12345678901234567890).cab");
  EXPECT_EQ(FindCabPath(Folder(), "3N.cab"), Folder() + "3N.cab");
  EXPECT_TRUE(Has("3N(12345678901234567890).cab"));
}

}  // namespace
}  // namespace applytest
