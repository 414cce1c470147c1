#include "engine/patch_list.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "engine/progress_records.h"
#include "tests/engine/log_capture.h"
#include "tests/support/test_support.h"

using testsupport::TempDir;

namespace {

// Builds list files byte by byte, as a list writer would.
class ListBuilder {
 public:
  ListBuilder& U8(uint8_t v) {
    bytes_.push_back(v);
    return *this;
  }
  ListBuilder& U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return *this;
  }
  ListBuilder& U64(uint64_t v) {
    for (int i = 0; i < 8; ++i) bytes_.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return *this;
  }
  ListBuilder& Text(const std::string& t) {
    U8(static_cast<uint8_t>(t.size()));
    bytes_.insert(bytes_.end(), t.begin(), t.end());
    return *this;
  }
  ListBuilder& Header(uint32_t system, uint32_t version, uint8_t build, uint32_t sections) {
    return U32(system).U32(version).U8(build).U32(sections);
  }
  ListBuilder& File(const std::string& name, const std::string& oldCrc, const std::string& newCrc, uint8_t type,
                    uint64_t orgSize, uint64_t newSize) {
    return Text("\\" + name).Text(oldCrc).Text(newCrc).U8(type).U64(orgSize).U64(newSize);
  }
  const std::vector<uint8_t>& Bytes() const { return bytes_; }
  std::string WriteTo(const TempDir& dir, const std::string& name) const {
    EXPECT_TRUE(testsupport::WriteFileBytes(dir.Path() + name, bytes_.data(), bytes_.size()));
    return dir.Path() + name;
  }

 private:
  std::vector<uint8_t> bytes_;
};

ListBuilder TwoSectionList() {
  ListBuilder b;
  b.Header(2, 13, 1, 2)
      .Text("0x11111111")
      .Text("0x22222222")
      .Text("0x33333333")
      .Text("0x44444444")
      .U32(2)
      .File("data\\map.pak", "0xaaaaaaaa", "0xbbbbbbbb", kFileTypeDelta, 5000, 6000)
      .File("Data\\Version.INI", "0x0", "0x1", kFileTypeWhole, 1, 2)
      .U32(1)
      .File("game.exe", "0xcccccccc", "0xDDDDDDDD", kFileTypeWhole, 0, 4096);
  return b;
}

TEST(PatchListReader, ReadsSectionsCrcsAndAcceptedFiles) {
  TempDir dir;
  LogCapture log;
  PatchList list;
  ExpectedCrcMap expected{{"game.exe", "0xold"}};
  ASSERT_EQ(0u, ReadPatchListFile(TwoSectionList().WriteTo(dir, "version.list"), 13, list, expected));
  EXPECT_EQ(13u, list.dwPatchVersion);
  EXPECT_EQ(1u, list.btBuildType);
  ASSERT_EQ(2u, list.dwSectionNum);
  EXPECT_EQ((std::vector<std::string>{"0x11111111", "0x33333333"}), list.diffCabCrcs);
  EXPECT_EQ((std::vector<std::string>{"0x22222222", "0x44444444"}), list.normalCabCrcs);
  ASSERT_EQ(2u, list.sectionFiles.size());
  ASSERT_EQ(1u, list.sectionFiles[0].size());  // the version record is dropped
  const PatchFileInfo& f = list.sectionFiles[0][0];
  EXPECT_EQ("data\\map.pak", f.name);
  EXPECT_EQ("0xaaaaaaaa", f.oldCrc);
  EXPECT_EQ("0xbbbbbbbb", f.newCrc);
  EXPECT_EQ(kFileTypeDelta, f.btFileType);
  EXPECT_EQ(5000u, f.OrgFileSize);
  EXPECT_EQ(6000u, f.NewFileSize);
  EXPECT_EQ(2u, list.acceptedFiles);
  // The expected CRCs follow the latest list, keyed by lower-cased name.
  EXPECT_EQ((ExpectedCrcMap{{"data\\map.pak", "0xbbbbbbbb"}, {"game.exe", "0xDDDDDDDD"}}), expected);

  EXPECT_TRUE(log.Contains("[1]14:03:27 Cab file CRC : Section [2] File CRC [0x44444444]\r\n"));
  EXPECT_TRUE(log.Contains("[1]14:03:27 Name [data\\map.pak], OldCRC [0xaaaaaaaa], NewCRC [0xbbbbbbbb], FileType [1], "
                           "OrgSize [4.88kb], NewSize [5.86kb]\r\n"));
  EXPECT_TRUE(log.Contains("[2]14:03:27 Ignore file was included in patch [13] filename [Data\\Version.INI]\r\n"));
}

TEST(PatchListReader, OnlyFormatVersionTwoIsAccepted) {
  TempDir dir;
  for (uint32_t system : {1u, 3u}) {
    LogCapture log;
    ListBuilder b;
    b.Header(system, 1, 0, 0);
    PatchList list;
    ExpectedCrcMap expected;
    EXPECT_EQ(kListBadSystemVersion, ReadPatchListFile(b.WriteTo(dir, "v.list"), 1, list, expected));
    EXPECT_TRUE(log.Contains("[8]14:03:27 Invalid Patch system version : " + std::to_string(system) + "\r\n"));
  }
}

// Every prefix of a valid list is a truncated list: none may be accepted.
TEST(PatchListReader, EveryTruncationIsRefused) {
  TempDir dir;
  const std::vector<uint8_t> whole = TwoSectionList().Bytes();
  for (size_t cut = 0; cut < whole.size(); ++cut) {
    SCOPED_TRACE(cut);
    ASSERT_TRUE(testsupport::WriteFileBytes(dir.Path() + "cut.list", whole.data(), cut));
    PatchList list;
    ExpectedCrcMap expected;
    EXPECT_EQ(kListUnreadable, ReadPatchListFile(dir.Path() + "cut.list", 1, list, expected));
  }
  PatchList list;
  ExpectedCrcMap expected;
  EXPECT_EQ(kListUnreadable, ReadPatchListFile(dir.Path() + "absent.list", 1, list, expected));
}

TEST(PatchListReader, HugeSectionCountIsRefusedWithoutReadingOn) {
  TempDir dir;
  ListBuilder b;
  b.Header(2, 1, 0, 0xFFFFFFF0u).Text("0x1").Text("0x2");
  PatchList list;
  ExpectedCrcMap expected;
  EXPECT_EQ(kListUnreadable, ReadPatchListFile(b.WriteTo(dir, "big.list"), 1, list, expected));
}

TEST(PatchListReader, NamesOutsideTheClientAreRefused) {
  TempDir dir;
  for (const char* name : {"\\windows\\evil.dll", "/etc/passwd", "C:\\evil.dll", "c:evil", "..\\evil.dll",
                           "data/../../evil.dll", "data\\..", ""}) {
    SCOPED_TRACE(name);
    LogCapture log;
    ListBuilder b;
    b.Header(2, 1, 0, 1).Text("0x1").Text("0x2").U32(1).File(name, "0x0", "0x1", kFileTypeWhole, 0, 1);
    PatchList list;
    ExpectedCrcMap expected;
    EXPECT_EQ(kListUnreadable, ReadPatchListFile(b.WriteTo(dir, "evil.list"), 1, list, expected));
    EXPECT_TRUE(log.Contains("[8]14:03:27 Unsafe file name in patch list ["));
    EXPECT_TRUE(expected.empty());
  }
  EXPECT_TRUE(IsSafeRelativePath("data\\..file\\x..y"));
}

TEST(PatchListHelpers, ProtectedNamesAndCrcComparison) {
  EXPECT_TRUE(IsProtectedFile("VERSION.INI"));
  EXPECT_TRUE(IsProtectedFile("sub\\old_version.dat.bak"));
  EXPECT_FALSE(IsProtectedFile("version.txt"));
  EXPECT_TRUE(CrcTextEquals("0xABCDEF01", "0xabcdef01"));
  EXPECT_FALSE(CrcTextEquals("0xabcdef01", "0xabcdef02"));
  // A file or cabinet matches its list's CRC in any letter case, but never
  // through the text of a CRC that could not be computed.
  const struct {
    const char* actual;
    const char* expected;
    bool matches;
  } crcs[] = {
      {"0xabcdef01", "0xABCDEF01", true},  {"0xabcdef01", "0xabcdef02", false},
      {"0xffffffff", "0xffffffff", false}, {"0xffffffff", "0xFFFFFFFF", false},
      {"0xabcdef01", "0xffffffff", false}, {"0xffffffff", "", false},
  };
  for (const auto& c : crcs) {
    SCOPED_TRACE(std::string(c.actual) + " " + c.expected);
    EXPECT_EQ(c.matches, CrcTextMatches(c.actual, c.expected));
  }
  TempDir dir;
  ASSERT_TRUE(testsupport::WriteFileText(dir.Path() + "five", "12345"));
  EXPECT_EQ(5u, GetFileSize64(dir.Path() + "five"));
  EXPECT_EQ(0u, GetFileSize64(dir.Path() + "none"));
}

TEST(ProgressRecords, SectionRecordLoadSaveAndShortFiles) {
  TempDir dir;
  std::string download = dir.Path();
  ASSERT_TRUE(std::filesystem::create_directory(dir.Path() + "13"));

  SectionProgressRecord record;
  record.Init(download, 13, 4);
  std::vector<uint32_t> flags;
  EXPECT_FALSE(record.Load(flags));  // no record yet

  EXPECT_FALSE(record.Save({1, 0, 1}));  // wrong count: nothing written
  EXPECT_FALSE(testsupport::PathExists(dir.Path() + "13/prg_section.list"));

  const uint8_t raw[] = {0, 2, 255, 1, 9};  // one byte beyond the count is ignored
  ASSERT_TRUE(testsupport::WriteFileBytes(dir.Path() + "13/prg_section.list", raw, sizeof raw));
  ASSERT_TRUE(record.Load(flags));
  EXPECT_EQ((std::vector<uint32_t>{0, 2, 255, 1}), flags);
  ASSERT_TRUE(record.Save(flags));
  EXPECT_EQ((std::vector<uint8_t>{0, 1, 1, 1}), testsupport::ReadFileBytes(dir.Path() + "13/prg_section.list"));

  // A record shorter than the count means no section is done.
  ASSERT_TRUE(testsupport::WriteFileBytes(dir.Path() + "13/prg_section.list", raw + 1, 3));
  ASSERT_TRUE(record.Load(flags));
  EXPECT_EQ((std::vector<uint32_t>{0, 0, 0, 0}), flags);

  record.Delete();
  EXPECT_FALSE(testsupport::PathExists(dir.Path() + "13/prg_section.list"));
  SectionProgressRecord none;
  none.Init(download, 13, 0);
  EXPECT_FALSE(none.Load(flags));
}

TEST(ProgressRecords, FileRecordReadWrite) {
  TempDir dir;
  ASSERT_TRUE(std::filesystem::create_directory(dir.Path() + "13"));
  FileProgressRecord record;
  record.Init(dir.Path(), 13, 3);
  EXPECT_EQ(0u, record.Read());
  record.Write(4);
  EXPECT_EQ((std::vector<uint8_t>{4, 0, 0, 0}), testsupport::ReadFileBytes(dir.Path() + "13/prg_f3.list"));
  EXPECT_EQ(4u, record.Read());
  record.Write(0x01020304);
  EXPECT_EQ(0x01020304u, record.Read());
  const uint8_t shortRecord[] = {7, 0};
  ASSERT_TRUE(testsupport::WriteFileBytes(dir.Path() + "13/prg_f3.list", shortRecord, 2));
  EXPECT_EQ(0u, record.Read());
  record.Delete();
  EXPECT_FALSE(testsupport::PathExists(dir.Path() + "13/prg_f3.list"));
}

}  // namespace

#include "engine/version_file.h"

namespace {

TEST(VersionFile, FourLittleEndianBytes) {
  TempDir dir;
  LogCapture log;
  uint32_t version = 77;
  EXPECT_FALSE(GetVerFile(dir.Path(), &version));
  EXPECT_EQ(77u, version);  // untouched when the file is missing
  EXPECT_TRUE(log.Contains("[8]14:03:27 GetVerFile:Failed to CreateFile : File [" + dir.Path() + "version.dat]"));

  ASSERT_TRUE(SetVerFile(dir.Path(), 0x0A0B0C0D));
  EXPECT_EQ((std::vector<uint8_t>{0x0D, 0x0C, 0x0B, 0x0A}), testsupport::ReadFileBytes(dir.Path() + "version.dat"));
  ASSERT_TRUE(GetVerFile(dir.Path(), &version));
  EXPECT_EQ(0x0A0B0C0Du, version);

  const uint8_t five[] = {13, 0, 0, 0, 99};
  ASSERT_TRUE(testsupport::WriteFileBytes(dir.Path() + "version.dat", five, 5));
  ASSERT_TRUE(GetVerFile(dir.Path(), &version));
  EXPECT_EQ(13u, version);

  ASSERT_TRUE(testsupport::WriteFileBytes(dir.Path() + "version.dat", five, 3));
  EXPECT_FALSE(GetVerFile(dir.Path(), &version));
  EXPECT_EQ(0u, version);
  EXPECT_TRUE(log.Contains("[8]14:03:27 GetVerFile:Failed to ReadFile : File [" + dir.Path() + "version.dat]"));

  EXPECT_FALSE(SetVerFile(dir.Path() + "missing\\", 1));
  EXPECT_TRUE(log.Contains("[8]14:03:27 SetVerFile:Failed to CreateFile : File ["));
}

}  // namespace
