// CTaskExtract::ExtractPatchFile on real cabinets: where files go, the
// progress it posts, what it refuses and how it fails.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "apply/task_extract.h"
#include "download/crc32.h"
#include "platform/file_system.h"
#include "tests/apply/apply_test_support.h"
#include "tests/engine/log_capture.h"

namespace applytest {
namespace {

constexpr uint32_t kVersion = 7;
constexpr uint32_t kSection = 1;

// One extraction of a cabinet placed as "<section>N.cab" (or D) in a fresh
// sandbox.
class ExtractTest : public ::testing::Test {
 protected:
  uint32_t Extract(uint32_t isDiff = 0, uint32_t section = kSection) {
    CTaskExtract task(host_, box_.Settings(), kVersion, section, isDiff, {});
    const uint32_t result = task.ExtractPatchFile();
    cabName_ = task.CabName();
    return result;
  }
  void PlaceOwnCabinet(const std::vector<CabEntry>& files, const std::string& name = "1N.cab") {
    box_.PlaceCabinetBytes(MakeCabinet(files), kVersion, name);
  }
  // Files under the sandbox other than the cabinets in the version folder.
  std::vector<std::string> WrittenFiles() const {
    std::vector<std::string> written;
    for (const std::string& file : ListFiles(box_.Root())) {
      if (file.find("/backup/" + std::to_string(kVersion) + "/") == std::string::npos) written.push_back(file);
    }
    return written;
  }
  std::vector<EngineEvent> Progress() const { return host_.EventsOfType(kEventTypeExtractProgress); }

  FakeHost host_;
  Sandbox box_;
  std::string cabName_;
};

// Checks the whole event sequence of a good extraction: two opening
// progress events, one per extracted file rising by 100/n, then the end.
void ExpectGoodEvents(const FakeHost& host, const std::string& cabName, uint32_t cabFiles, uint32_t extracted,
                      uint32_t section = kSection) {
  const std::vector<EngineEvent> events = host.Events();
  ASSERT_EQ(events.size(), 3u + extracted);
  EXPECT_EQ(events[0].type, kEventTypeExtractProgress);
  EXPECT_EQ(events[0].value, 0u);
  EXPECT_EQ(events[0].sectionOrCode, section);
  EXPECT_EQ(events[0].text, "");
  EXPECT_EQ(events[1].type, kEventTypeExtractProgress);
  EXPECT_EQ(events[1].value, 0u);
  EXPECT_EQ(events[1].text, cabName);
  const std::vector<uint32_t> steps = ProgressSteps(cabFiles, extracted);
  for (uint32_t i = 0; i < extracted; ++i) {
    EXPECT_EQ(events[2 + i].type, kEventTypeExtractProgress);
    EXPECT_EQ(events[2 + i].value, steps[i]) << "file " << i;
    EXPECT_EQ(events[2 + i].sectionOrCode, section);
    EXPECT_EQ(events[2 + i].text, cabName);
  }
  const EngineEvent& last = events.back();
  EXPECT_EQ(last.type, kEventTypeExtractDone);
  EXPECT_EQ(last.value, 0u);
  EXPECT_EQ(last.sectionOrCode, section);
  EXPECT_EQ(last.text, cabName);
}

TEST(ExtractScenarioTest, EveryScenarioCabinetExtractsWithProgressAndEnd) {
  for (const std::vector<std::string>& row : ReadTsv(E2eDir() + "server.tsv")) {
    if (row.size() < 5 || (row[4] != "cab-D" && row[4] != "cab-N")) continue;
    const std::string& serverPath = row[0];  // "101/1D.cab"
    SCOPED_TRACE(serverPath);
    const uint32_t version = static_cast<uint32_t>(std::stoul(serverPath.substr(0, serverPath.find('/'))));
    const std::string cabName = serverPath.substr(serverPath.find('/') + 1);
    const uint32_t section = static_cast<uint32_t>(std::stoul(cabName));
    const bool isDiff = cabName.find('D') != std::string::npos;

    FakeHost host;
    Sandbox box;
    box.PlaceCabinet(E2eDir() + "server/" + serverPath, version, cabName);
    CTaskExtract task(host, box.Settings(), version, section, isDiff ? 1 : 0, {});
    ASSERT_EQ(task.ExtractPatchFile(), 0u);
    EXPECT_EQ(task.CabName(), cabName);

    uint32_t cabFiles = 0;
    uint32_t extracted = 0;
    for (const ListRow& list : LoadListRows()) {
      if (list.version != version || list.section != section) continue;
      ++cabFiles;
      SCOPED_TRACE(list.name);
      if (list.isProtected) {
        EXPECT_FALSE(Exists(box.Temp(list.name)));
        continue;
      }
      ++extracted;
      if (isDiff && list.type == kFileTypeDelta) {
        EXPECT_EQ(ReadFile(box.Temp(list.name)).size(), list.deltaSize);
      } else {
        EXPECT_EQ(GetFileCrcText(box.Temp(list.name)), list.newCrc);
      }
    }
    ExpectGoodEvents(host, cabName, cabFiles, extracted, section);
  }
}

std::string DecodeEscapes(const std::string& escaped) {
  std::string bytes;
  for (size_t i = 0; i < escaped.size(); ++i) {
    if (escaped[i] == '%' && i + 2 < escaped.size()) {
      bytes += static_cast<char>(std::stoi(escaped.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      bytes += escaped[i];
    }
  }
  return bytes;
}

bool IsAscii(const std::string& text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

TEST(ExtractSharedCabinetsTest, EveryFileOfTheGoodCabinetsArrives) {
  struct Stored {
    std::string name;
    uint32_t size;
    std::string crc;
  };
  std::map<std::string, std::vector<Stored>> manifest;
  const std::string cabDir = testsupport::TestDataDir() + "cab/";
  for (const std::vector<std::string>& row : ReadTsv(cabDir + "MANIFEST.tsv")) {
    manifest[row[0]].push_back(Stored{DecodeEscapes(row[1]), static_cast<uint32_t>(std::stoul(row[2])), row[3]});
  }
  int tested = 0;
  for (const std::vector<std::string>& row : ReadTsv(cabDir + "CABINETS.tsv")) {
    const std::string& cabinet = row[0];
    if (row[1] == "span") continue;
    const std::vector<Stored>& files = manifest[cabinet];
    bool usable = true;
    size_t longest = 0;
    for (const Stored& file : files) {
      // Non-ASCII names depend on the system code page on Windows, and a
      // protected name is left out on purpose.
      usable = usable && IsSafeRelativePath(file.name) && !IsProtectedFile(file.name) && IsAscii(file.name);
      longest = std::max(longest, file.name.size());
    }
    if (!usable) continue;
    SCOPED_TRACE(cabinet);
    FakeHost host;
    Sandbox box;
    box.PlaceCabinet(cabDir + cabinet, kVersion, "1N.cab");
    CTaskExtract task(host, box.Settings(), kVersion, kSection, 0, {});
    if (box.Settings().tempFolder.size() + longest >= 260) {
      // A name too long for a path buffer (the 255-character name) is refused.
      EXPECT_EQ(task.ExtractPatchFile(), 6u);
      continue;
    }
    ASSERT_EQ(task.ExtractPatchFile(), 0u);
    const uint32_t count = static_cast<uint32_t>(std::stoul(row[2]));
    ExpectGoodEvents(host, "1N.cab", count, count);
    for (const Stored& file : files) {
      SCOPED_TRACE(file.name);
      const std::string path = box.Temp(file.name);
      uint64_t size = 0;
      ASSERT_TRUE(plat::FileSize(path, &size));
      EXPECT_EQ(size, file.size);
      EXPECT_EQ(GetFileCrcText(path), "0x" + file.crc);
    }
    ++tested;
  }
  EXPECT_GE(tested, 40);
}

TEST_F(ExtractTest, ProtectedNamesAreLeftOutAndNestedNamesMakeFolders) {
  PlaceOwnCabinet({{"Version.INI", Bytes("[VERSION]")},
                   {"a.txt", Bytes("alpha")},
                   {"sub/version.dat", Bytes("\x01\x02\x03\x04")},
                   {"dir/deeper/b.txt", Bytes("beta")},
                   {"dir\\c.txt", Bytes("gamma")}});
  LogCapture log;
  ASSERT_EQ(Extract(), 0u);
  EXPECT_EQ(ReadFile(box_.Temp("a.txt")), Bytes("alpha"));
  EXPECT_EQ(ReadFile(box_.Temp("dir\\deeper\\b.txt")), Bytes("beta"));
  EXPECT_EQ(ReadFile(box_.Temp("dir\\c.txt")), Bytes("gamma"));
  EXPECT_FALSE(Exists(box_.Temp("Version.INI")));
  EXPECT_FALSE(Exists(box_.Temp("sub\\version.dat")));
  EXPECT_EQ(WrittenFiles().size(), 3u);
  ExpectGoodEvents(host_, "1N.cab", 5, 3);
  EXPECT_TRUE(log.Contains("[2]"));
}

TEST_F(ExtractTest, ReadOnlyFileAtTheOutputPathIsOverwritten) {
  SKIP_READ_ONLY_CASE_AS_ROOT();
  WriteText(box_.Temp("a.txt"), "old contents, longer than the new");
  MakeReadOnly(box_.Temp("a.txt"));
  PlaceOwnCabinet({{"a.txt", Bytes("new")}});
  ASSERT_EQ(Extract(), 0u);
  EXPECT_EQ(ReadFile(box_.Temp("a.txt")), Bytes("new"));
}

TEST_F(ExtractTest, DiffSectionUsesTheDiffCabinet) {
  PlaceOwnCabinet({{"n.txt", Bytes("normal")}}, "3N.cab");
  PlaceOwnCabinet({{"d.txt", Bytes("diff")}}, "3D.cab");
  ASSERT_EQ(Extract(1, 3), 0u);
  EXPECT_EQ(cabName_, "3D.cab");
  EXPECT_TRUE(Exists(box_.Temp("d.txt")));
  EXPECT_FALSE(Exists(box_.Temp("n.txt")));
}

TEST_F(ExtractTest, NumberedCopyOfTheCabinetIsUsed) {
  box_.PlaceCabinetBytes(Bytes("an interrupted download"), kVersion, "1N.cab");
  PlaceOwnCabinet({{"a.txt", Bytes("from the copy")}}, "1N(2).cab");
  ASSERT_EQ(Extract(), 0u);
  EXPECT_EQ(cabName_, "1N(2).cab");
  EXPECT_EQ(ReadFile(box_.Temp("a.txt")), Bytes("from the copy"));
  EXPECT_FALSE(Exists(box_.VersionFolder(kVersion) + "1N.cab"));
  ExpectGoodEvents(host_, "1N(2).cab", 1, 1);
}

TEST_F(ExtractTest, EmptyCabinetEndsAtOnce) {
  PlaceOwnCabinet({});
  ASSERT_EQ(Extract(), 0u);
  ExpectGoodEvents(host_, "1N.cab", 0, 0);
}

TEST_F(ExtractTest, HostileNamesAbortWithNothingWrittenOutsideTemp) {
  const char* const hostile[] = {"../evil.txt",      "..\\evil.txt",   "sub/../../evil.txt", "sub\\..\\..\\evil.txt",
                                 "a/../../../x.txt", "..",             "/abs.txt",           "\\abs.txt",
                                 "C:evil.txt",       "C:\\evil.txt",   "c:/evil.txt",        "sub/..\\..\\evil.txt"};
  for (const char* name : hostile) {
    SCOPED_TRACE(name);
    FakeHost host;
    Sandbox box;
    box.PlaceCabinetBytes(MakeCabinet({{"good.txt", Bytes("good")}, {name, Bytes("EVIL")}}), kVersion, "1N.cab");
    LogCapture log;
    CTaskExtract task(host, box.Settings(), kVersion, kSection, 0, {});
    EXPECT_EQ(task.ExtractPatchFile(), 6u);
    // The file before the hostile one is there; nothing else anywhere.
    std::vector<std::string> written;
    for (const std::string& file : ListFiles(box.Root())) {
      if (file.find("/backup/7/") == std::string::npos) written.push_back(file);
    }
    EXPECT_EQ(written, std::vector<std::string>{"client/backup/temp/good.txt"});
    EXPECT_TRUE(log.Contains("[8]"));
    EXPECT_TRUE(log.Contains("unsafe name [" + std::string(name) + "]"));
    EXPECT_TRUE(log.Contains("PV5::ExtractPatchFile() ERROR! FDICopy failed! file [1N.cab]"));
    EXPECT_TRUE(host.EventsOfType(kEventTypeError).empty());
    EXPECT_TRUE(host.EventsOfType(kEventTypeExtractDone).empty());
  }
}

TEST_F(ExtractTest, OutputPathOf260BytesOrMoreIsRefused) {
  const size_t room = 260 - box_.Settings().tempFolder.size();
  ASSERT_LT(room, 250u);
  const std::string exact(room, 'x');  // a path of exactly 260 bytes
  LogCapture log;
  PlaceOwnCabinet({{exact, Bytes("long")}});
  EXPECT_EQ(Extract(), 6u);
  EXPECT_TRUE(log.Contains("path too long"));
  EXPECT_TRUE(WrittenFiles().empty());
  EXPECT_TRUE(host_.EventsOfType(kEventTypeError).empty());

  FakeHost host;
  Sandbox box;
  box.PlaceCabinetBytes(MakeCabinet({{std::string(room - 1, 'y'), Bytes("fits")}}), kVersion, "1N.cab");
  CTaskExtract task(host, box.Settings(), kVersion, kSection, 0, {});
  const uint32_t result = task.ExtractPatchFile();
  // 259 bytes fit the buffer; whether the system takes so long a name is
  // its own matter, but it is never refused as too long.
  if (result == 0) {
    EXPECT_EQ(ReadFile(box.Temp(std::string(room - 1, 'y'))), Bytes("fits"));
  }
}

TEST_F(ExtractTest, CabinetPathOf260BytesOrMoreIsRefused) {
  EngineSettings& settings = box_.MutableSettings();
  settings.downloadFolder = box_.Root() + std::string(260, 'd') + "\\";
  LogCapture log;
  EXPECT_EQ(Extract(), 6u);
  EXPECT_TRUE(log.Contains("path too long"));
  EXPECT_EQ(host_.Events().size(), 2u);
}

TEST_F(ExtractTest, StopBeforeTheFirstFileExtractsNothing) {
  PlaceOwnCabinet({{"a.txt", Bytes("alpha")}});
  host_.stop = true;
  LogCapture log;
  EXPECT_EQ(Extract(), 6u);
  EXPECT_TRUE(log.Contains("PV5::ExtractPatchFile() ERROR! FDICopy failed! file [1N.cab]"));
  EXPECT_TRUE(WrittenFiles().empty());
}

TEST_F(ExtractTest, StopDuringTheCopyEndsAtTheNextNotification) {
  PlaceOwnCabinet({{"a.txt", Bytes("alpha")}, {"b.txt", Bytes("beta")}, {"c.txt", Bytes("gamma")}});
  host_.onEvent = [this](const EngineEvent& event) {
    if (event.type == kEventTypeExtractProgress && event.value > 0) host_.stop = true;
  };
  LogCapture log;
  EXPECT_EQ(Extract(), 6u);
  EXPECT_TRUE(log.Contains("PV5::ExtractPatchFile() ERROR! FDICopy failed! file [1N.cab]"));
  // The file being written when the stop came is complete and closed.
  EXPECT_EQ(ReadFile(box_.Temp("a.txt")), Bytes("alpha"));
  EXPECT_FALSE(Exists(box_.Temp("b.txt")));
  EXPECT_TRUE(host_.EventsOfType(kEventTypeExtractDone).empty());
  EXPECT_TRUE(plat::RemoveFile(box_.Temp("a.txt")));
}

TEST_F(ExtractTest, NotACabinetGivesSixAndWritesNothing) {
  box_.PlaceCabinetBytes(Bytes(std::string(100, 'z')), kVersion, "1N.cab");
  LogCapture log;
  EXPECT_EQ(Extract(), 6u);
  EXPECT_TRUE(log.Contains("PV5::ExtractPatchFile() ERROR! file [1N.cab]"));
  EXPECT_TRUE(WrittenFiles().empty());
  EXPECT_EQ(host_.Events().size(), 2u);
}

TEST_F(ExtractTest, UnknownCabinetVersionGivesSix) {
  box_.PlaceCabinet(testsupport::TestDataDir() + "cab/bad-version-1.4.cab", kVersion, "1N.cab");
  EXPECT_EQ(Extract(), 6u);
  EXPECT_TRUE(WrittenFiles().empty());
}

TEST_F(ExtractTest, CorruptCabinetGivesSix) {
  box_.PlaceCabinet(testsupport::TestDataDir() + "cab/bad-checksum-stored-payload.cab", kVersion, "1N.cab");
  LogCapture log;
  EXPECT_EQ(Extract(), 6u);
  EXPECT_TRUE(log.Contains("FDICopy failed!"));
}

TEST_F(ExtractTest, MissingCabinetGivesSix) {
  LogCapture log;
  EXPECT_EQ(Extract(), 6u);
  EXPECT_TRUE(log.Contains("PV5::_open() ERROR! file [1N.cab]"));
  EXPECT_EQ(host_.Events().size(), 2u);
}

TEST_F(ExtractTest, OutputThatCannotBeOpenedReportsSix) {
  ASSERT_TRUE(plat::CreateFolder(box_.Temp("a.txt")));
  PlaceOwnCabinet({{"a.txt", Bytes("alpha")}});
  LogCapture log;
  EXPECT_EQ(Extract(), 6u);
  EXPECT_TRUE(log.Contains("iFd== -1 && errno== "));
  const std::vector<EngineEvent> errors = host_.EventsOfType(kEventTypeError);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].sectionOrCode, 6u);
}

TEST_F(ExtractTest, OutputFolderThatCannotBeMadeReportsSix) {
  WriteText(box_.Temp("sub"), "a file where a folder should be");
  PlaceOwnCabinet({{"sub/deeper/a.txt", Bytes("alpha")}});
  LogCapture log;
  EXPECT_EQ(Extract(), 6u);
  EXPECT_TRUE(log.Contains("Failed to RecCreateDirectoryFile : Path ["));
  const std::vector<EngineEvent> errors = host_.EventsOfType(kEventTypeError);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].sectionOrCode, 6u);
}

}  // namespace
}  // namespace applytest
