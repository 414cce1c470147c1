// Conformance against the shared test data: every valid cabinet extracts
// byte-exact (CRC-32 and SHA-256 of each file, in file-table order), both
// over in-memory callbacks and over the C-runtime callbacks with real files;
// every invalid cabinet is refused with the error its table names.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <set>

#include "apply/cab/fdi.h"
#include "platform/crt_io.h"
#include "tests/cab/cab_test_support.h"
#include "tests/cab/sha256.h"
#include "tests/support/test_support.h"

namespace cabtest {
namespace {

// Test names may hold only letters, digits and '_'.
std::string ParamName(const std::string& cabinet) {
  std::string name;
  for (char c : cabinet) name += (isalnum(static_cast<unsigned char>(c)) ? c : '_');
  return name;
}

std::vector<std::string> ManifestCabinets() {
  std::vector<std::string> names;
  for (const ManifestRow& row : LoadManifest()) {
    if (names.empty() || names.back() != row.cabinet) names.push_back(row.cabinet);
  }
  return names;
}

std::vector<ManifestRow> RowsOf(const std::string& cabinet) {
  std::vector<ManifestRow> rows;
  for (const ManifestRow& row : LoadManifest()) {
    if (row.cabinet == cabinet) rows.push_back(row);
  }
  return rows;
}

// The cabinet and the next one of its set when it names one that is here.
void AddCabinetWithSet(const std::string& cabinet) {
  FakeIo& io = FakeIo::Get();
  const std::vector<uint8_t> bytes = ReadCabData(cabinet);
  io.AddFile("cab/" + cabinet, bytes);
  if (cabinet == "test_read_format_cab_multi.p1.cab") {
    io.AddFile("cab/test_read_format_cab_multi.p2.cab", ReadCabData("test_read_format_cab_multi.p2.cab"));
  }
}

class ManifestCabinet : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override { FakeIo::Get().Reset(); }
  void TearDown() override { FakeIo::Get().Reset(); }
};

TEST_P(ManifestCabinet, ExtractsEveryFileByteExact) {
  const std::string cabinet = GetParam();
  const std::vector<ManifestRow> rows = RowsOf(cabinet);
  ASSERT_FALSE(rows.empty());
  AddCabinetWithSet(cabinet);

  const CopyRun run = RunCopy(cabinet, "cab/");
  ASSERT_EQ(1, run.result) << "erfOper " << run.erf.erfOper << " erfType " << run.erf.erfType;
  const std::vector<ExtractedFile>& files = run.collector.files;
  ASSERT_EQ(rows.size(), files.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(rows[i].storedName);
    EXPECT_EQ(rows[i].storedName, files[i].name);
    EXPECT_EQ(rows[i].size, files[i].size);
    EXPECT_EQ(rows[i].folder, files[i].folder);
    EXPECT_TRUE(files[i].closed);
    ASSERT_EQ(rows[i].size, files[i].data.size());
    EXPECT_EQ(rows[i].crc32, Crc32Hex(files[i].data));
    EXPECT_EQ(rows[i].sha256, Sha256Hex(files[i].data.data(), files[i].data.size()));
  }

  // Cabinet information first, an enumeration before and after the list.
  const std::vector<Event>& events = run.collector.events;
  ASSERT_GE(events.size(), 3u);
  EXPECT_EQ(fdintCABINET_INFO, events.front().type);
  EXPECT_EQ(fdintENUMERATE, events[1].type);
  EXPECT_EQ(rows.size(), events[1].iFolder);
  EXPECT_EQ(fdintENUMERATE, events.back().type);
  EXPECT_EQ(0, events.back().iFolder);

  FakeIo& io = FakeIo::Get();
  EXPECT_EQ(0, io.liveBlocks);
  EXPECT_EQ(0, io.openHandles);
  EXPECT_EQ(0, io.badCloses);
}

INSTANTIATE_TEST_SUITE_P(TestData, ManifestCabinet, ::testing::ValuesIn(ManifestCabinets()),
                         [](const ::testing::TestParamInfo<std::string>& info) { return ParamName(info.param); });

// ---------------------------------------------------------------- real files

struct RealFiles {
  std::string outDir;
  std::vector<std::string> names;  // stored names, in order
  std::vector<std::string> paths;  // where each went
};

intptr_t RealNotify(FDINOTIFICATIONTYPE type, FDINOTIFICATION* note) {
  RealFiles* real = static_cast<RealFiles*>(note->pv);
  switch (type) {
    case fdintCOPY_FILE: {
      real->names.push_back(note->psz1);
      real->paths.push_back(real->outDir + std::to_string(real->paths.size()) + ".out");
      return plat::CrtOpen(real->paths.back().c_str(), plat::kCrtOpenWriteBinary, plat::kCrtPermReadWrite);
    }
    case fdintCLOSE_FILE_INFO:
      if (note->hf) plat::CrtClose(note->hf);
      return 1;
    case fdintCABINET_INFO:
      return 0;
    default:
      return 1;
  }
}

class ManifestCabinetOnDisk : public ManifestCabinet {};

TEST_P(ManifestCabinetOnDisk, ExtractsThroughTheCRuntimeCallbacks) {
  const std::string cabinet = GetParam();
  const std::vector<ManifestRow> rows = RowsOf(cabinet);
  testsupport::TempDir temp;
  RealFiles real;
  real.outDir = temp.Path();
  ERF erf = {};
  HFDI hfdi = FDICreate(plat::CrtAlloc, plat::CrtFree, plat::CrtOpen, plat::CrtRead, plat::CrtWrite, plat::CrtClose,
                        plat::CrtSeek, cpuUNKNOWN, &erf);
  ASSERT_NE(nullptr, hfdi);

  // As the engine does: open, ask whether it is a cabinet, copy, close.
  const std::string dir = CabDataDir();
  const intptr_t hf = plat::CrtOpen((dir + cabinet).c_str(), plat::kCrtOpenReadBinary, 0);
  ASSERT_NE(-1, hf);
  FDICABINETINFO info = {};
  EXPECT_EQ(1, FDIIsCabinet(hfdi, hf, &info));
  EXPECT_EQ(rows.size(), info.cFiles);
  EXPECT_EQ(1, FDICopy(hfdi, cabinet.c_str(), dir.c_str(), 0, RealNotify, nullptr, &real))
      << "erfOper " << erf.erfOper;
  EXPECT_EQ(0, plat::CrtClose(hf));
  EXPECT_EQ(1, FDIDestroy(hfdi));

  ASSERT_EQ(rows.size(), real.paths.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(rows[i].storedName);
    EXPECT_EQ(rows[i].storedName, real.names[i]);
    const std::vector<uint8_t> data = testsupport::ReadFileBytes(real.paths[i]);
    ASSERT_EQ(rows[i].size, data.size());
    EXPECT_EQ(rows[i].crc32, Crc32Hex(data));
    EXPECT_EQ(rows[i].sha256, Sha256Hex(data.data(), data.size()));
  }
}

INSTANTIATE_TEST_SUITE_P(TestData, ManifestCabinetOnDisk, ::testing::ValuesIn(ManifestCabinets()),
                         [](const ::testing::TestParamInfo<std::string>& info) { return ParamName(info.param); });

// ---------------------------------------------------------------- no files

TEST(CabConformance, CabinetsWithoutFilesListNothingAndSucceed) {
  int seen = 0;
  for (const CabinetRow& row : LoadCabinets()) {
    if (row.group != "nofiles") continue;
    SCOPED_TRACE(row.cabinet);
    ++seen;
    FakeIo::Get().Reset();
    FakeIo::Get().AddFile("cab/" + row.cabinet, ReadCabData(row.cabinet));
    const CopyRun run = RunCopy(row.cabinet, "cab/");
    EXPECT_EQ(1, run.result);
    ASSERT_EQ(2u, run.collector.events.size());
    EXPECT_EQ(fdintCABINET_INFO, run.collector.events[0].type);
    EXPECT_EQ(fdintENUMERATE, run.collector.events[1].type);
    EXPECT_EQ(0, run.collector.events[1].iFolder);
    EXPECT_EQ(0, FakeIo::Get().liveBlocks);
  }
  EXPECT_EQ(2, seen);
  FakeIo::Get().Reset();
}

// ---------------------------------------------------------------- invalid

// The FDI error codes an INVALID.tsv row accepts ("FDI error 7 or 4", "FDI
// error 7, or 6", "FDICopy error 2").
std::set<int> ExpectedCodes(const std::string& text) {
  std::set<int> codes;
  for (const char* word : {"error ", "or "}) {
    size_t at = 0;
    while ((at = text.find(word, at)) != std::string::npos) {
      at += strlen(word);
      if (at < text.size() && isdigit(static_cast<unsigned char>(text[at]))) codes.insert(atoi(text.c_str() + at));
    }
  }
  return codes;
}

class InvalidCabinet : public ::testing::TestWithParam<InvalidRow> {
 protected:
  void SetUp() override { FakeIo::Get().Reset(); }
  void TearDown() override { FakeIo::Get().Reset(); }
};

TEST_P(InvalidCabinet, IsRefusedWithTheExpectedError) {
  const InvalidRow row = GetParam();
  const std::set<int> expected = ExpectedCodes(row.expected);
  ASSERT_FALSE(expected.empty()) << row.expected;
  FakeIo::Get().AddFile("cab/" + row.cabinet, ReadCabData(row.cabinet));

  const auto start = std::chrono::steady_clock::now();
  const CopyRun run = RunCopy(row.cabinet, "cab/");
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(0, run.result);
  EXPECT_EQ(1, run.erf.fError);
  EXPECT_TRUE(expected.count(run.erf.erfOper)) << "got error " << run.erf.erfOper << ", expected " << row.expected;
  EXPECT_LT(took.count(), 5.0) << "must fail promptly";
  EXPECT_EQ(0, FakeIo::Get().liveBlocks);
  EXPECT_EQ(0, FakeIo::Get().openHandles);
  if (run.erf.erfOper == FDIERROR_UNKNOWN_CABINET_VERSION) {
    EXPECT_TRUE(run.erf.erfType == 0x0104 || run.erf.erfType == 0x0203) << run.erf.erfType;
  }
  // No file of a cabinet refused at its header is offered.
  if (run.erf.erfOper <= FDIERROR_UNKNOWN_CABINET_VERSION) {
    EXPECT_TRUE(run.collector.events.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(TestData, InvalidCabinet, ::testing::ValuesIn(LoadInvalid()),
                         [](const ::testing::TestParamInfo<InvalidRow>& info) {
                           return ParamName(info.param.cabinet);
                         });

TEST(CabConformance, IsCabinetAgreesWithTheHeaderDefects) {
  struct Case {
    const char* cabinet;
    int result;
    int erfOper;  // -1: error record untouched
    int erfType;
  };
  const Case cases[] = {
      {"libmspack-normal_2files_1folder.cab", 1, -1, 0},
      {"bad-signature-MSCE.cab", 0, -1, 0},
      {"libmspack-bad_signature.cab", 0, -1, 0},
      {"libmspack-partial_shortheader.cab", 0, -1, 0},
      {"bad-version-1.4.cab", 0, FDIERROR_UNKNOWN_CABINET_VERSION, 0x0104},
      {"bad-version-2.3.cab", 0, FDIERROR_UNKNOWN_CABINET_VERSION, 0x0203},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cabinet);
    FakeIo& io = FakeIo::Get();
    io.Reset();
    io.AddFile("x.cab", ReadCabData(c.cabinet));
    ERF erf = {77, 88, 99};
    HFDI hfdi = CreateFakeContext(&erf);
    ASSERT_NE(nullptr, hfdi);
    const intptr_t hf = FakeIo::Open("x.cab", 0x8000, 0);
    FDICABINETINFO info = {};
    EXPECT_EQ(c.result, FDIIsCabinet(hfdi, hf, &info));
    if (c.erfOper < 0) {
      EXPECT_EQ(77, erf.erfOper);
      EXPECT_EQ(88, erf.erfType);
      EXPECT_EQ(99, erf.fError);
    } else {
      EXPECT_EQ(c.erfOper, erf.erfOper);
      EXPECT_EQ(c.erfType, erf.erfType);
      EXPECT_EQ(1, erf.fError);
    }
    FakeIo::Close(hf);
    EXPECT_EQ(1, FDIDestroy(hfdi));
  }
  FakeIo::Get().Reset();
}

}  // namespace
}  // namespace cabtest

namespace cabtest {
namespace {

// Each data block is read and decoded once when the files come in cabinet
// order, whatever the number of files: a header and a data read per block,
// a read per file entry, and a few for the cabinet header.
TEST(CabConformance, FilesInCabinetOrderAreExtractedInOneForwardPass) {
  struct Case {
    const char* cabinet;
    int files;
    int blocks;
  };
  const Case cases[] = {
      {"7zjb-archive1.zip.0.cab", 252, 1},
      {"7zjb-archive1.zip.2.cab", 252, 1},
      {"gcab-mszip-text-20mib.cab", 1, 640},
      {"cabextract-large-files-cab.cab", 1, 449},
      {"mscab-quantum-high-history.cab", 2, 128},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cabinet);
    FakeIo& io = FakeIo::Get();
    io.Reset();
    io.AddFile("cab/" + std::string(c.cabinet), ReadCabData(c.cabinet));
    const CopyRun run = RunCopy(c.cabinet, "cab/");
    ASSERT_EQ(1, run.result);
    EXPECT_EQ(c.files, static_cast<int>(run.collector.files.size()));
    EXPECT_LE(io.readCalls, 2 * c.blocks + c.files + 16);
    EXPECT_LE(io.seekCalls, c.files + c.blocks + 16);
    io.Reset();
  }
}

}  // namespace
}  // namespace cabtest
