// The repository fixtures themselves: cabinets, deltas, patch lists and
// whole repositories checked by tools nobody here wrote (cabextract, where
// installed) and by our own decoders, and the nginx fixture serving one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <set>
#include <sstream>

#include "apply/cab/fdi.h"
#include "apply/delta/delta_decoder.h"
#include "download/crc32.h"
#include "download/fetch_result.h"
#include "download/http_socket.h"
#include "engine/patch_list.h"
#include "platform/crt_io.h"
#include "platform/ini_profile.h"
#include "platform/system_info.h"
#include "streams/virtual_memory_file_stream.h"
#include "publish/cab_writer.h"
#include "tests/support/delta_writer.h"
#include "tests/support/nginx_server.h"
#include "tests/support/patch_repo.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using testsupport::Bytes;
using publish::CabWriter;
using testsupport::Concat;
using testsupport::DeltaWriter;
using testsupport::FileTree;
using testsupport::PatchRepoBuilder;
using testsupport::SectionSpec;
using testsupport::Slice;
using testsupport::TempDir;

namespace {

// ------------------------------------------------------------ data

Bytes Random(size_t size, uint32_t seed) { return testsupport::SeededBytes(size, seed); }

// Records of a game table: repetitive, with opcode-like bytes in them.
Bytes Table(size_t records, uint32_t seed) {
  std::mt19937 gen(seed);
  Bytes out;
  for (size_t i = 0; i < records; ++i) {
    const uint8_t record[16] = {0xA7, 0xA3, static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8), 'I', 'T', 'E', 'M',
                                static_cast<uint8_t>(gen() % 8), 0, 0xA7, 0xA7, 0xA7, 0xA5, 0, 0};
    out.insert(out.end(), record, record + sizeof record);
  }
  return out;
}

Bytes Text(const std::string& text) { return testsupport::TextBytes(text); }

// Scattered same-size changes, some of them escape bytes and opcodes.
Bytes EditInPlace(Bytes data, uint32_t seed) {
  std::mt19937 gen(seed);
  for (int i = 0; i < 40 && !data.empty(); ++i) {
    const size_t at = gen() % data.size();
    data[at] = (i % 4 == 0) ? 0xA7 : static_cast<uint8_t>(data[at] + 1 + gen() % 200);
    if (i % 5 == 0 && at + 1 < data.size()) data[at + 1] = 0xA4;
  }
  data.front() ^= 0x5A;
  data.back() ^= 0x5A;
  return data;
}

std::string Dir(const TempDir& root, const std::string& name) {
  fs::create_directories(fs::path(root / name));
  return (fs::path(root / name) / "").string();
}

// ------------------------------------------------------------ our decoders

struct CabEntry {
  std::string name;
  Bytes data;
  uint16_t date = 0;
  uint16_t time = 0;
  uint16_t attribs = 0;
};

struct CabRead {
  int result = 0;
  ERF erf = {};
  std::vector<CabEntry> files;
};

struct FdiSink {
  std::string outDir;
  std::vector<CabEntry> files;
  std::vector<std::string> paths;
};

intptr_t FdiNotify(FDINOTIFICATIONTYPE type, FDINOTIFICATION* note) {
  auto* sink = static_cast<FdiSink*>(note->pv);
  if (type == fdintCOPY_FILE) {
    CabEntry entry;
    entry.name = note->psz1;
    entry.date = note->date;
    entry.time = note->time;
    entry.attribs = note->attribs;
    // Flat output names: the stored names are what is checked.
    sink->paths.push_back(sink->outDir + "out" + std::to_string(sink->files.size()));
    sink->files.push_back(entry);
    return plat::CrtOpen(sink->paths.back().c_str(), plat::kCrtOpenWriteBinary, plat::kCrtPermReadWrite);
  }
  if (type == fdintCLOSE_FILE_INFO) return plat::CrtClose(note->hf) == 0 ? 1 : 0;
  return 0;
}

// Every file of the cabinet through FDICopy over the C-runtime callbacks,
// as the extraction of the patcher does it.
CabRead ReadCabinet(const std::string& path, const std::string& scratch) {
  static int calls = 0;
  FdiSink sink;
  sink.outDir = (fs::path(scratch) / ("fdi" + std::to_string(++calls)) / "").string();
  fs::create_directories(fs::path(sink.outDir));
  CabRead read;
  HFDI context = FDICreate(plat::CrtAlloc, plat::CrtFree, plat::CrtOpen, plat::CrtRead, plat::CrtWrite,
                           plat::CrtClose, plat::CrtSeek, cpuUNKNOWN, &read.erf);
  if (!context) return read;
  const fs::path cabinet(path);
  const std::string folder = (cabinet.parent_path() / "").string();
  const std::string name = cabinet.filename().string();
  read.result = FDICopy(context, name.c_str(), folder.c_str(), 0, FdiNotify, nullptr, &sink);
  FDIDestroy(context);
  for (size_t i = 0; i < sink.files.size(); ++i) {
    sink.files[i].data = testsupport::ReadFileBytes(sink.paths[i]);
    read.files.push_back(sink.files[i]);
  }
  return read;
}

std::vector<std::pair<std::string, Bytes>> NamesAndData(const CabRead& read) {
  std::vector<std::pair<std::string, Bytes>> out;
  for (const CabEntry& entry : read.files) out.emplace_back(entry.name, entry.data);
  return out;
}

struct Decoded {
  uint32_t result = 0;
  Bytes output;
};

Decoded DecodeMemory(const Bytes& original, const Bytes& delta, const std::string& scratch) {
  static int calls = 0;
  const std::string out = (fs::path(scratch) / ("memory" + std::to_string(++calls))).string();
  vestrel::CVirtualMemoryFileStream output;
  output.SetBufferSize(4096);
  output.SetFileName(out);
  Decoded decoded;
  decoded.result = CDeltaDecoder().DecodeMemory(original.data(), static_cast<uint32_t>(original.size()),
                                                delta.data(), static_cast<uint32_t>(delta.size()), output, nullptr);
  decoded.output = testsupport::ReadFileBytes(out);
  return decoded;
}

Decoded DecodeInPlace(const Bytes& original, const Bytes& delta) {
  Decoded decoded;
  decoded.output = original;
  uint32_t size = 0;
  decoded.result = CDeltaDecoder().DecodeInPlace(decoded.output.data(), static_cast<uint32_t>(decoded.output.size()),
                                                 delta.data(), static_cast<uint32_t>(delta.size()), &size);
  decoded.output.resize(size);
  return decoded;
}

// ------------------------------------------------------------ cabextract

constexpr char kCabextract[] = "/usr/bin/cabextract";

bool HaveCabextract() { return !plat::IsWindowsSystem() && testsupport::PathExists(kCabextract); }

struct Command {
  int status = -1;
  std::string output;
};

Command RunCommand(const std::string& command, const std::string& scratch) {
  const std::string log = (fs::path(scratch) / "command.log").string();
  Command result;
  result.status = std::system((command + " >'" + log + "' 2>&1").c_str());
  result.output = testsupport::ReadFileText(log);
  return result;
}

// "name size date time" of every file that `cabextract -l` lists.
std::vector<std::string> CabextractListing(const std::string& cabinet, const std::string& scratch) {
  const Command listed = RunCommand(std::string(kCabextract) + " -l '" + cabinet + "'", scratch);
  EXPECT_EQ(0, listed.status) << listed.output;
  std::vector<std::string> rows;
  std::istringstream lines(listed.output);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t bar1 = line.find(" | ");
    const size_t bar2 = line.find(" | ", bar1 == std::string::npos ? 0 : bar1 + 3);
    if (bar1 == std::string::npos || bar2 == std::string::npos) continue;
    std::string size = line.substr(0, bar1);
    size.erase(0, size.find_first_not_of(' '));
    if (size.empty() || size.find_first_not_of("0123456789") != std::string::npos) continue;
    rows.push_back(line.substr(bar2 + 3) + " " + size + " " + line.substr(bar1 + 3, bar2 - bar1 - 3));
  }
  return rows;
}

// Checks a cabinet with cabextract: test pass, listing, extracted bytes.
void CheckWithCabextract(const std::string& cabinet, const std::vector<std::pair<std::string, Bytes>>& intended,
                         const std::string& scratch) {
  if (!HaveCabextract()) return;
  SCOPED_TRACE("cabextract " + cabinet);
  const Command tested = RunCommand(std::string(kCabextract) + " -t '" + cabinet + "'", scratch);
  EXPECT_EQ(0, tested.status) << tested.output;
  EXPECT_NE(std::string::npos, tested.output.find("All done, no errors.")) << tested.output;

  std::vector<std::string> expectedRows;
  for (const auto& [name, data] : intended) {
    std::string shown = name;
    for (char& c : shown) c = c == '\\' ? '/' : c;
    expectedRows.push_back(shown + " " + std::to_string(data.size()) + " 01.01.2020 12:00:00");
  }
  EXPECT_EQ(expectedRows, CabextractListing(cabinet, scratch));

  static int calls = 0;
  const std::string out = (fs::path(scratch) / ("cabextract" + std::to_string(++calls))).string();
  const Command extracted = RunCommand(std::string(kCabextract) + " -q -d '" + out + "' '" + cabinet + "'", scratch);
  ASSERT_EQ(0, extracted.status) << extracted.output;
  FileTree expected;
  for (const auto& [name, data] : intended) expected[name] = data;
  EXPECT_EQ("", testsupport::CompareClientTree(out, expected, {}));
}

// ============================================================ CabWriter

class CabWriterTest : public ::testing::Test {
 protected:
  std::string Write(const CabWriter& writer, const std::string& name) {
    const std::string path = dir_ / name;
    std::string error;
    EXPECT_TRUE(writer.WriteTo(path, &error)) << error;
    return path;
  }
  TempDir dir_;
};

TEST_F(CabWriterTest, FilesSpanningBlocksAreReadByCabextractAndOurDecoder) {
  const std::vector<std::pair<std::string, Bytes>> files = {
      {"readme.txt", Text("Halvrecht\r\nline two\r\n")},
      {"data\\empty.bin", {}},
      {"data\\maps\\exact.dat", Random(32768, 1)},
      {"bin\\engine.dll", Random(100000, 2)},
      {"data\\table.tbl", Table(4000, 3)},
      {"a\\b\\c\\tail.bin", Random(5, 4)},
  };
  CabWriter writer;
  uint64_t total = 0;
  for (const auto& [name, data] : files) {
    writer.Add(name, data);
    total += data.size();
  }
  const std::string path = Write(writer, "spanning.cab");
  const Bytes cabinet = testsupport::ReadFileBytes(path);

  // The folder entry: blocks of at most 32 KiB, stored (type 0); the header
  // gives the file's length.
  ASSERT_GT(cabinet.size(), 44u);
  EXPECT_EQ(cabinet.size(), static_cast<size_t>(cabinet[8] | cabinet[9] << 8 | cabinet[10] << 16 | cabinet[11] << 24));
  EXPECT_EQ((total + 32767) / 32768, static_cast<uint64_t>(cabinet[40] | cabinet[41] << 8));
  EXPECT_EQ(0, cabinet[42] | cabinet[43] << 8);

  const CabRead read = ReadCabinet(path, dir_.Path());
  ASSERT_EQ(1, read.result) << read.erf.erfOper;
  EXPECT_EQ(files, NamesAndData(read));
  for (const CabEntry& entry : read.files) {
    EXPECT_EQ(CabWriter::kDate, entry.date);
    EXPECT_EQ(CabWriter::kTime, entry.time);
    EXPECT_EQ(CabWriter::kAttributes, entry.attribs);
  }
  CheckWithCabextract(path, files, dir_.Path());
}

// Block lengths that are not a multiple of 4 take the checksum's special
// folding of the last bytes; a decoder that checks sums refuses any error.
TEST_F(CabWriterTest, EveryBlockLengthCarriesAValidChecksum) {
  for (size_t size : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 32767u, 32769u, 65538u, 65539u}) {
    SCOPED_TRACE("data of " + std::to_string(size) + " bytes");
    CabWriter writer;
    writer.Add("first.bin", Random(size / 2, static_cast<uint32_t>(size)));
    writer.Add("dir\\second.bin", Random(size - size / 2, static_cast<uint32_t>(size) + 1));
    const std::string path = Write(writer, "sum" + std::to_string(size) + ".cab");
    const CabRead read = ReadCabinet(path, dir_.Path());
    EXPECT_EQ(1, read.result) << read.erf.erfOper;
    ASSERT_EQ(2u, read.files.size());
    EXPECT_EQ(size, read.files[0].data.size() + read.files[1].data.size());
    if (HaveCabextract()) {
      const Command tested = RunCommand(std::string(kCabextract) + " -t '" + path + "'", dir_.Path());
      EXPECT_EQ(0, tested.status) << tested.output;
    }
  }
}

TEST_F(CabWriterTest, ADamagedDataByteFailsTheChecksum) {
  CabWriter writer;
  writer.Add("a.bin", Random(70000, 9));
  Bytes cabinet = writer.Build();
  ASSERT_FALSE(cabinet.empty());
  // In the second data block, well past its 8-byte block header.
  const size_t firstData = 36 + 8 + 16 + 6;
  cabinet[firstData + 8 + 32768 + 8 + 100] ^= 0x01;
  const std::string path = dir_ / "damaged.cab";
  ASSERT_TRUE(testsupport::WriteFileBytes(path, cabinet.data(), cabinet.size()));
  const CabRead read = ReadCabinet(path, dir_.Path());
  EXPECT_EQ(0, read.result);
  EXPECT_EQ(FDIERROR_CORRUPT_CABINET, read.erf.erfOper);
  if (HaveCabextract()) {
    const Command tested = RunCommand(std::string(kCabextract) + " -t '" + path + "'", dir_.Path());
    EXPECT_NE(0, tested.status) << tested.output;
  }
}

TEST_F(CabWriterTest, CabinetsWithoutDataAreValid) {
  CabWriter none;
  const CabRead noFiles = ReadCabinet(Write(none, "none.cab"), dir_.Path());
  EXPECT_EQ(1, noFiles.result) << noFiles.erf.erfOper;
  EXPECT_TRUE(noFiles.files.empty());

  CabWriter emptyFiles;
  emptyFiles.Add("one.txt", {});
  emptyFiles.Add("two\\two.txt", {});
  const std::string path = Write(emptyFiles, "empty-files.cab");
  const CabRead read = ReadCabinet(path, dir_.Path());
  ASSERT_EQ(1, read.result) << read.erf.erfOper;
  ASSERT_EQ(2u, read.files.size());
  EXPECT_EQ("two\\two.txt", read.files[1].name);
  EXPECT_TRUE(read.files[1].data.empty());
  CheckWithCabextract(path, {{"one.txt", {}}, {"two\\two.txt", {}}}, dir_.Path());
}

TEST_F(CabWriterTest, NamesACabinetCannotHoldAreRefused) {
  CabWriter writer;
  writer.Add("", Random(3, 1));
  std::string error;
  EXPECT_TRUE(writer.Build(&error).empty());
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(writer.WriteTo(dir_ / "bad.cab", &error));
  EXPECT_FALSE(testsupport::PathExists(dir_ / "bad.cab"));
}

// ============================================================ patch list

TEST(PatchListWriterTest, BytesFollowTheListFormat) {
  testsupport::PatchListData list;
  list.patchVersion = 0x01020304;
  list.buildType = 7;
  testsupport::PatchListSection section;
  section.diffCabCrc = "0xd";
  section.normalCabCrc = "0xnn";
  section.records.push_back({'*', "a\\b", "0x1", "0x22", 1, 0x0102030405060708ull, 5});
  list.sections = {section, {}};
  const Bytes expected = {
      2, 0, 0, 0,  4, 3, 2, 1,  7,  2, 0, 0, 0,           // header
      3, '0', 'x', 'd',  4, '0', 'x', 'n', 'n',            // section 1 cabinets
      0,  0,                                               // section 2 cabinets (empty texts)
      1, 0, 0, 0,                                          // section 1: one record
      4, '*', 'a', '\\', 'b',  3, '0', 'x', '1',  4, '0', 'x', '2', '2',  1,
      8, 7, 6, 5, 4, 3, 2, 1,  5, 0, 0, 0, 0, 0, 0, 0,
      0, 0, 0, 0,                                          // section 2: no records
  };
  EXPECT_EQ(expected, testsupport::WritePatchList(list));

  list.sections[0].records[0].name = std::string(255, 'x');  // 256 with the lead
  std::string error;
  EXPECT_TRUE(testsupport::WritePatchList(list, &error).empty());
  EXPECT_FALSE(error.empty());
}

TEST(PatchListWriterTest, OurReaderReadsEveryField) {
  TempDir dir;
  testsupport::PatchListData list;
  list.patchVersion = 101;
  list.sections.resize(3);
  list.sections[0] = {"0x0000000a", "0x0000000b",
                      {{'\\', "data\\maps\\map01.dat", "0xe5744339", "0x446bc925", 1, 122880, 127951},
                       {'*', "data\\Version.INI", "0xfdac7521", "0xb6b77623", 2, 72, 72},
                       {'*', "bin\\big.pak", "0x00000000", "0x12345678", 2, 0, 5000000000ull}}};
  list.sections[1] = {"0x0000000c", "0x0000000d", {}};
  list.sections[2] = {"0x0000000e", "0x0000000f", {{'\\', "Readme.TXT", "0x1", "0x2", 1, 1, 2}}};
  const Bytes bytes = testsupport::WritePatchList(list);
  const std::string path = dir / "version.list";
  ASSERT_TRUE(testsupport::WriteFileBytes(path, bytes.data(), bytes.size()));

  for (bool keepProtected : {false, true}) {
    SCOPED_TRACE(keepProtected ? "protected kept" : "protected dropped");
    PatchList read;
    ExpectedCrcMap expected;
    ASSERT_EQ(0u, ReadPatchListFile(path, 101, read, expected, keepProtected));
    EXPECT_EQ(2u, read.dwPatchSystemVersion);
    EXPECT_EQ(101u, read.dwPatchVersion);
    EXPECT_EQ(1u, read.btBuildType);
    ASSERT_EQ(3u, read.dwSectionNum);
    EXPECT_EQ((std::vector<std::string>{"0x0000000a", "0x0000000c", "0x0000000e"}), read.diffCabCrcs);
    EXPECT_EQ((std::vector<std::string>{"0x0000000b", "0x0000000d", "0x0000000f"}), read.normalCabCrcs);
    ASSERT_EQ(3u, read.sectionFiles.size());
    ASSERT_EQ(keepProtected ? 3u : 2u, read.sectionFiles[0].size());
    const PatchFileInfo& big = read.sectionFiles[0].back();
    EXPECT_EQ("bin\\big.pak", big.name);
    EXPECT_EQ("0x00000000", big.oldCrc);
    EXPECT_EQ("0x12345678", big.newCrc);
    EXPECT_EQ(2, big.btFileType);
    EXPECT_EQ(0u, big.OrgFileSize);
    EXPECT_EQ(5000000000ull, big.NewFileSize);
    EXPECT_EQ("data\\maps\\map01.dat", read.sectionFiles[0][0].name);
    EXPECT_EQ(122880u, read.sectionFiles[0][0].OrgFileSize);
    EXPECT_TRUE(read.sectionFiles[1].empty());
    ASSERT_EQ(1u, read.sectionFiles[2].size());
    EXPECT_EQ("Readme.TXT", read.sectionFiles[2][0].name);
    EXPECT_EQ("0x2", expected["readme.txt"]);
  }
}

// ============================================================ builder

// A client at 100 and a server at 103: 101 with two sections (same-size
// edits, growth, a forced whole file, a new file in a new folder, a
// block moved back, a protected extra record), 102 with two sections (a
// file shrinks, a new file, an in-place edit of the executable, a deleted
// file), 103 with no section at all.
class RepoBuilderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    engine_ = Random(200 * 1024, 50);
    map_ = Random(120 * 1024, 51);
    items_ = Table(2560, 52);
    readme_ = Text("Halvrecht\r\nversion 100\r\n");
    exe_ = Random(60 * 1024, 53);
    FileTree v100 = {{"bin\\engine.dll", engine_},
                     {"data\\maps\\map01.dat", map_},
                     {"data\\items.tbl", items_},
                     {"readme.txt", readme_},
                     {"data\\Version.INI", Text("[Version]\r\nClient=100\r\n")},
                     {"data\\old\\legacy.pak", Random(3000, 54)},
                     {"halvrecht.exe", exe_},
                     {"empty.cfg", {}}};
    FileTree v101 = v100;
    v101["bin\\engine.dll"] = Concat({Slice(engine_, 150000, 20000), Slice(engine_, 0, 150000), Text("grown"),
                                      Slice(engine_, 170000, engine_.size() - 170000)});
    v101["data\\maps\\map01.dat"] = EditInPlace(map_, 55);
    v101["data\\items.tbl"] = Concat({items_, Table(100, 56)});
    v101["readme.txt"] = Text("Halvrecht\r\nversion 101\r\n");
    v101["data\\sound\\new\\ambient01.wav"] = Random(49152, 57);
    FileTree v102 = v101;
    v102["halvrecht.exe"] = EditInPlace(exe_, 58);
    v102["data\\maps\\map01.dat"] = Slice(v101["data\\maps\\map01.dat"], 1000, 100000);
    v102["data\\effects\\fx_new.pak"] = Random(57344, 59);
    v102.erase("data\\old\\legacy.pak");

    repo_ = std::make_unique<PatchRepoBuilder>(100, v100);
    SectionSpec s1;
    s1.files = {"data\\maps\\map01.dat", "data\\items.tbl", "readme.txt"};
    s1.wholeInDiff = {"readme.txt"};
    testsupport::ExtraRecord version;
    version.name = "data\\Version.INI";
    version.content = Text("[Version]\r\nClient=101\r\n");
    version.position = 1;
    s1.extras = {version};
    SectionSpec s2;
    s2.files = {"bin\\engine.dll", "data\\sound\\new\\ambient01.wav"};
    repo_->AddVersion(101, v101, {s1, s2});
    repo_->AddVersion(102, v102, {SectionSpec{{"halvrecht.exe", "data\\maps\\map01.dat"}},
                                  SectionSpec{{"data\\effects\\fx_new.pak"}}});
    repo_->AddVersion(103, v102);
    repo_->SetServers({"http://127.0.0.1:PORT/a", "http://127.0.0.1:PORT/b", "http://127.0.0.1:PORT/c"});
    repo_->SetPodWeights({"60", "30", "10"});
    repo_->SetDeleteList({"data\\old\\legacy.pak", "ui\\never-existed.bmp"});
    server_ = Dir(dir_, "server");
    client_ = Dir(dir_, "client");
    scratch_ = Dir(dir_, "scratch");
  }

  std::string Server(const std::string& relative) const { return repo_->ServerPath(relative); }

  PatchList ReadList(uint32_t version, bool keepProtected = false) {
    return ReadListOf(*repo_, version, keepProtected);
  }

  static PatchList ReadListOf(const PatchRepoBuilder& repo, uint32_t version, bool keepProtected = false) {
    PatchList list;
    ExpectedCrcMap expected;
    const std::string path = repo.ServerPath(std::to_string(version) + "/version.list");
    EXPECT_EQ(0u, ReadPatchListFile(path, version, list, expected, keepProtected));
    return list;
  }

  // Applies every version's sections to the client folder as a sound
  // patcher does, with our own decoders: returns what went wrong.
  std::string Walk(bool normalCabinets) {
    for (uint32_t version = 101; version <= 103; ++version) {
      const PatchList list = ReadList(version);
      for (uint32_t s = 1; s <= list.dwSectionNum; ++s) {
        const std::string cab = Server(std::to_string(version) + "/" + std::to_string(s) +
                                       (normalCabinets ? "N.cab" : "D.cab"));
        const CabRead read = ReadCabinet(cab, scratch_);
        if (read.result != 1) return cab + ": FDI error " + std::to_string(read.erf.erfOper);
        std::map<std::string, Bytes> entries;
        for (const CabEntry& entry : read.files) entries[entry.name] = entry.data;
        for (const PatchFileInfo& file : list.sectionFiles[s - 1]) {
          if (!entries.count(file.name)) return cab + " lacks " + file.name;
          Bytes result = entries[file.name];
          const std::string target = testsupport::ClientPath(client_, file.name);
          if (!normalCabinets && file.btFileType == 1) {
            const Bytes old = testsupport::ReadFileBytes(target);
            if (old.size() != file.OrgFileSize || testsupport::CrcText(old) != file.oldCrc) {
              return file.name + " is not the file its delta was made from";
            }
            const Decoded decoded = DecodeMemory(old, result, scratch_);
            if (decoded.result != kDeltaOk) return file.name + ": delta result " + std::to_string(decoded.result);
            result = decoded.output;
          }
          if (result.size() != file.NewFileSize || testsupport::CrcText(result) != file.newCrc) {
            return file.name + " does not match its record after version " + std::to_string(version);
          }
          fs::create_directories(fs::path(target).parent_path());
          testsupport::WriteFileBytes(target, result.data(), result.size());
        }
      }
    }
    for (const char* name : {"data\\old\\legacy.pak", "ui\\never-existed.bmp"}) {
      std::error_code ec;
      fs::remove(fs::path(testsupport::ClientPath(client_, name)), ec);
    }
    return "";
  }

  TempDir dir_;
  std::unique_ptr<PatchRepoBuilder> repo_;
  std::string server_;
  std::string client_;
  std::string scratch_;
  Bytes engine_, map_, items_, readme_, exe_;
};

TEST_F(RepoBuilderTest, ServerTreeAndManifest) {
  ASSERT_TRUE(repo_->WriteServer(server_)) << repo_->Error();
  for (const char* name : {"version.ini", "delete.ini", "101/version.list", "101/1D.cab", "101/1N.cab", "101/2D.cab",
                           "101/2N.cab", "102/version.list", "102/1D.cab", "102/1N.cab", "102/2D.cab", "102/2N.cab",
                           "103/version.list"}) {
    EXPECT_TRUE(testsupport::PathExists(Server(name))) << name;
  }
  EXPECT_FALSE(testsupport::PathExists(Server("103/1D.cab")));
  EXPECT_FALSE(testsupport::PathExists(Server("101/3D.cab")));

  const std::string ini = Server("version.ini");
  EXPECT_EQ(103u, plat::ReadProfileInt("VERSION", "LatestVersion", -1, ini));
  EXPECT_EQ(100u, plat::ReadProfileInt("VERSION", "MinimalVersion", -1, ini));
  EXPECT_EQ(28u, plat::ReadProfileInt("VERSION", "OwnVersion", -1, ini));
  char value[512];
  for (const auto& [key, expected] : {std::pair{"server1", "http://127.0.0.1:PORT/a"},
                                      std::pair{"server3", "http://127.0.0.1:PORT/c"}}) {
    plat::ReadProfileString("DOWNLOAD", key, "", value, sizeof value, ini);
    EXPECT_STREQ(expected, value);
  }
  EXPECT_EQ(0u, plat::ReadProfileString("DOWNLOAD", "server4", "", value, sizeof value, ini));
  EXPECT_EQ(30u, plat::ReadProfileInt("DOWNLOAD_POD", "POD2", -1, ini));
  plat::ReadProfileString("DELETE", "File1", "", value, sizeof value, Server("delete.ini"));
  EXPECT_STREQ("data\\old\\legacy.pak", value);

  repo_->SetMinimalVersion(101);
  repo_->SetLatestVersion(102);
  repo_->SetOwnVersion(31);
  ASSERT_TRUE(repo_->WriteServer(server_)) << repo_->Error();
  EXPECT_EQ(102u, plat::ReadProfileInt("VERSION", "LatestVersion", -1, ini));
  EXPECT_EQ(101u, plat::ReadProfileInt("VERSION", "MinimalVersion", -1, ini));
  EXPECT_EQ(31u, plat::ReadProfileInt("VERSION", "OwnVersion", -1, ini));
}

TEST_F(RepoBuilderTest, ListsDescribeTheCabinetsAndTheTrees) {
  ASSERT_TRUE(repo_->WriteServer(server_)) << repo_->Error();
  for (uint32_t version = 101; version <= 103; ++version) {
    SCOPED_TRACE("version " + std::to_string(version));
    const PatchList list = ReadList(version, true);
    EXPECT_EQ(version, list.dwPatchVersion);
    ASSERT_EQ(version == 103 ? 0u : 2u, list.dwSectionNum);
    const FileTree& before = *repo_->TreeAt(version - 1);
    const FileTree& after = *repo_->TreeAt(version);
    for (uint32_t s = 1; s <= list.dwSectionNum; ++s) {
      const std::string stem = std::to_string(version) + "/" + std::to_string(s);
      EXPECT_EQ(GetFileCrcText(Server(stem + "D.cab")), list.diffCabCrcs[s - 1]);
      EXPECT_EQ(GetFileCrcText(Server(stem + "N.cab")), list.normalCabCrcs[s - 1]);
      for (const PatchFileInfo& file : list.sectionFiles[s - 1]) {
        SCOPED_TRACE(file.name);
        if (IsProtectedFile(file.name)) continue;
        const Bytes& now = after.at(file.name);
        EXPECT_EQ(now.size(), file.NewFileSize);
        EXPECT_EQ(testsupport::CrcText(now), file.newCrc);
        const auto old = before.find(file.name);
        if (old == before.end()) {
          EXPECT_EQ(2, file.btFileType);
          EXPECT_EQ(0u, file.OrgFileSize);
          EXPECT_EQ("0x00000000", file.oldCrc);
        } else {
          EXPECT_EQ(file.name == "readme.txt" ? 2 : 1, file.btFileType);
          EXPECT_EQ(old->second.size(), file.OrgFileSize);
          EXPECT_EQ(testsupport::CrcText(old->second), file.oldCrc);
        }
      }
    }
  }
  // The protected extra record sits where it was asked to, and the reader
  // drops it without keepProtected.
  const PatchList kept = ReadList(101, true);
  ASSERT_EQ(4u, kept.sectionFiles[0].size());
  EXPECT_EQ("data\\Version.INI", kept.sectionFiles[0][1].name);
  EXPECT_EQ(2, kept.sectionFiles[0][1].btFileType);
  EXPECT_EQ(testsupport::CrcText(repo_->InitialTree().at("data\\Version.INI")), kept.sectionFiles[0][1].oldCrc);
  EXPECT_EQ(3u, ReadList(101).sectionFiles[0].size());

  // Each stored name has a lead character that is not part of it; both
  // kinds occur, so a reader that kept it would miss files.
  const Bytes raw = testsupport::ReadFileBytes(Server("101/version.list"));
  std::set<char> leads;
  for (const auto& files : kept.sectionFiles) {
    for (const PatchFileInfo& file : files) {
      const auto at = std::search(raw.begin(), raw.end(), file.name.begin(), file.name.end());
      ASSERT_NE(raw.end(), at) << file.name;
      ASSERT_GE(at - raw.begin(), 2);
      EXPECT_EQ(file.name.size() + 1, *(at - 2)) << file.name;
      leads.insert(static_cast<char>(*(at - 1)));
    }
  }
  EXPECT_EQ((std::set<char>{'*', '\\'}), leads);
}

TEST_F(RepoBuilderTest, CabinetsCarryWhatTheListsPromise) {
  ASSERT_TRUE(repo_->WriteServer(server_)) << repo_->Error();
  int inPlace = 0;
  for (uint32_t version = 101; version <= 102; ++version) {
    const PatchList list = ReadList(version, true);
    const FileTree& before = *repo_->TreeAt(version - 1);
    const FileTree& after = *repo_->TreeAt(version);
    for (uint32_t s = 1; s <= list.dwSectionNum; ++s) {
      const std::string stem = std::to_string(version) + "/" + std::to_string(s);
      SCOPED_TRACE(stem);
      const CabRead diff = ReadCabinet(Server(stem + "D.cab"), scratch_);
      const CabRead normal = ReadCabinet(Server(stem + "N.cab"), scratch_);
      ASSERT_EQ(1, diff.result) << diff.erf.erfOper;
      ASSERT_EQ(1, normal.result) << normal.erf.erfOper;
      const std::vector<PatchFileInfo>& files = list.sectionFiles[s - 1];
      ASSERT_EQ(files.size(), diff.files.size());
      ASSERT_EQ(files.size(), normal.files.size());
      for (size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(files[i].name);
        EXPECT_EQ(files[i].name, diff.files[i].name);
        EXPECT_EQ(files[i].name, normal.files[i].name);
        if (IsProtectedFile(files[i].name)) continue;
        const Bytes& now = after.at(files[i].name);
        EXPECT_TRUE(normal.files[i].data == now);
        if (files[i].btFileType == 2) {
          EXPECT_TRUE(diff.files[i].data == now);
          continue;
        }
        const Bytes& old = before.at(files[i].name);
        const Bytes& delta = diff.files[i].data;
        const Decoded memory = DecodeMemory(old, delta, scratch_);
        EXPECT_EQ(kDeltaOk, memory.result);
        EXPECT_TRUE(memory.output == now);
        EXPECT_EQ("", testsupport::ReadStrict(delta, old.size()).error);
        const int canInPlace = CDeltaDecoder().CanPatchInPlace(delta.data(), static_cast<uint32_t>(delta.size()));
        EXPECT_EQ(old.size() == now.size() ? 1 : 0, canInPlace);
        if (canInPlace) {
          ++inPlace;
          const Decoded patched = DecodeInPlace(old, delta);
          EXPECT_EQ(kDeltaOk, patched.result);
          EXPECT_TRUE(patched.output == now);
        }
      }
      const testsupport::BuiltSection& built = repo_->FindBuilt(version)->sections[s - 1];
      CheckWithCabextract(Server(stem + "D.cab"), built.diffEntries, scratch_);
      CheckWithCabextract(Server(stem + "N.cab"), built.normalEntries, scratch_);
      EXPECT_EQ(built.diffEntries, NamesAndData(diff));
    }
  }
  EXPECT_EQ(2, inPlace);  // map01.dat in 101, halvrecht.exe in 102
}

TEST_F(RepoBuilderTest, WalkingEitherCabinetKindEndsWithTheExpectedClient) {
  ASSERT_TRUE(repo_->WriteServer(server_)) << repo_->Error();
  for (bool normal : {false, true}) {
    SCOPED_TRACE(normal ? "N cabinets" : "D cabinets");
    fs::remove_all(fs::path(client_));
    ASSERT_TRUE(repo_->WriteClient(client_)) << repo_->Error();
    EXPECT_EQ(100, testsupport::ReadClientVersion(client_));
    EXPECT_EQ(4u, testsupport::ReadFileBytes(testsupport::ClientPath(client_, "version.dat")).size());
    EXPECT_EQ("", testsupport::CompareClientTree(client_, repo_->InitialTree()));
    EXPECT_NE("", testsupport::CompareClientTree(client_, repo_->ExpectedTree()));
    ASSERT_EQ("", Walk(normal));
    EXPECT_EQ("", testsupport::CompareClientTree(client_, repo_->ExpectedTree()));
  }
  // The client keeps its own protected file; the deleted one is gone.
  EXPECT_TRUE(repo_->ExpectedTree().at("data\\Version.INI") == repo_->InitialTree().at("data\\Version.INI"));
  EXPECT_EQ(0u, repo_->ExpectedTree().count("data\\old\\legacy.pak"));
}

TEST_F(RepoBuilderTest, DefectsOnRequest) {
  const Bytes givenDelta = [&] {
    DeltaWriter writer;
    writer.Eql(static_cast<uint32_t>(exe_.size() - 1));
    writer.Mod(Bytes{0x42});
    return writer.Take();
  }();
  FileTree v101 = repo_->InitialTree();
  v101["halvrecht.exe"].back() = 0x42;
  v101["data\\new.bin"] = Random(100, 60);
  PatchRepoBuilder repo(100, repo_->InitialTree());
  SectionSpec s1;
  s1.files = {"halvrecht.exe"};
  s1.deltas["halvrecht.exe"] = givenDelta;
  s1.writeDiffCab = false;
  SectionSpec s2;
  s2.files = {"data\\new.bin"};
  s2.alterDiffCab = [](Bytes& cabinet) { cabinet[cabinet.size() - 10] ^= 0xFF; };
  repo.AddVersion(101, v101, {s1, s2});
  repo.AddVersion(102, v101).writeList = false;
  ASSERT_TRUE(repo.WriteServer(server_)) << repo.Error();

  // An omitted cabinet is still listed with the CRC it would have had.
  EXPECT_FALSE(testsupport::PathExists(repo.ServerPath("101/1D.cab")));
  EXPECT_TRUE(testsupport::PathExists(repo.ServerPath("101/1N.cab")));
  const PatchList list = ReadListOf(repo, 101);
  EXPECT_EQ(testsupport::CrcText(repo.FindBuilt(101)->sections[0].diffCab), list.diffCabCrcs[0]);
  EXPECT_TRUE(repo.FindBuilt(101)->sections[0].diffEntries[0].second == givenDelta);
  // An altered cabinet passes the CRC check but not the decoder.
  EXPECT_EQ(GetFileCrcText(repo.ServerPath("101/2D.cab")), list.diffCabCrcs[1]);
  const CabRead broken = ReadCabinet(repo.ServerPath("101/2D.cab"), scratch_);
  EXPECT_EQ(0, broken.result);
  EXPECT_EQ(FDIERROR_CORRUPT_CABINET, broken.erf.erfOper);
  EXPECT_FALSE(testsupport::PathExists(repo.ServerPath("102/version.list")));
  EXPECT_TRUE(testsupport::PathExists(repo.ServerPath("102")));

  // Changes after writing: the list then disagrees with the cabinet.
  ASSERT_TRUE(repo.CorruptServerFile("101/2N.cab"));
  EXPECT_NE(GetFileCrcText(repo.ServerPath("101/2N.cab")), list.normalCabCrcs[1]);
  ASSERT_TRUE(repo.OverwriteServerFile("101/1N.cab", Text("not a cabinet")));
  EXPECT_EQ("not a cabinet", testsupport::ReadFileText(repo.ServerPath("101/1N.cab")));
  ASSERT_TRUE(repo.RemoveServerFile("101/1N.cab"));
  EXPECT_FALSE(testsupport::PathExists(repo.ServerPath("101/1N.cab")));
  EXPECT_FALSE(repo.RemoveServerFile("101/1N.cab"));
}

TEST_F(RepoBuilderTest, InconsistentLayoutsAreRefused) {
  const FileTree v100 = repo_->InitialTree();
  FileTree changed = v100;
  changed["readme.txt"] = Text("changed");
  FileTree shrunk = v100;
  shrunk.erase("halvrecht.exe");
  FileTree protectedChange = v100;
  protectedChange["data\\Version.INI"] = Text("other");
  FileTree slash = v100;
  slash["data/slash.txt"] = Text("x");

  struct Case {
    std::string name;
    std::function<void(PatchRepoBuilder&)> setUp;
    std::string mention;
  };
  const std::vector<Case> cases = {
      {"changed file in no section", [&](PatchRepoBuilder& r) { r.AddVersion(101, changed); }, "readme.txt"},
      {"file shipped twice",
       [&](PatchRepoBuilder& r) {
         r.AddVersion(101, changed, {SectionSpec{{"readme.txt"}}, SectionSpec{{"readme.txt"}}});
       },
       "twice"},
      {"section names a missing file",
       [&](PatchRepoBuilder& r) { r.AddVersion(101, v100, {SectionSpec{{"nope.bin"}}}); }, "nope.bin"},
      {"vanished file not on the deletion list", [&](PatchRepoBuilder& r) { r.AddVersion(101, shrunk); },
       "halvrecht.exe"},
      {"protected file changes",
       [&](PatchRepoBuilder& r) { r.AddVersion(101, protectedChange, {SectionSpec{{"data\\Version.INI"}}}); },
       "protected"},
      {"versions do not rise",
       [&](PatchRepoBuilder& r) {
         r.AddVersion(101, v100);
         r.AddVersion(101, v100);
       },
       "rise"},
      {"slash in a name", [&](PatchRepoBuilder& r) { r.AddVersion(101, slash, {SectionSpec{{"data/slash.txt"}}}); },
       "data/slash.txt"},
      {"deleted file still in the final tree",
       [&](PatchRepoBuilder& r) {
         r.AddVersion(101, v100);
         r.SetDeleteList({"readme.txt"});
       },
       "deletion list"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PatchRepoBuilder repo(100, v100);
    c.setUp(repo);
    EXPECT_FALSE(repo.WriteServer(Dir(dir_, "refused")));
    EXPECT_NE(std::string::npos, repo.Error().find(c.mention)) << repo.Error();
    EXPECT_FALSE(testsupport::PathExists(dir_ / "refused/version.ini"));
  }
}

TEST(ClientTreeTest, ComparisonNamesEveryDifferenceAndIgnoresTheEngineFiles) {
  TempDir dir;
  const FileTree expected = {{"a.txt", Text("a")}, {"sub\\b.bin", Random(100, 1)}, {"sub\\deep\\c.bin", {}}};
  ASSERT_TRUE(testsupport::WriteTree(dir.Path(), expected));
  EXPECT_EQ("", testsupport::CompareClientTree(dir.Path(), expected));
  EXPECT_TRUE(testsupport::ReadTree(dir.Path()) == expected);

  FileTree engineFiles = {{"version.ini", Text("[VERSION]")}, {"version.dat", Bytes{1, 0, 0, 0}},
                          {"backup\\101\\1D.cab", Text("x")}, {"Log\\Patch_2024.log", Text("log")}};
  ASSERT_TRUE(testsupport::WriteTree(dir.Path(), engineFiles));
  EXPECT_EQ("", testsupport::CompareClientTree(dir.Path(), expected));
  EXPECT_EQ(1, testsupport::ReadClientVersion(dir.Path()));

  FileTree damaged = {{"a.txt", Text("A")}, {"extra.txt", Text("e")}, {"backupfile.txt", Text("b")}};
  ASSERT_TRUE(testsupport::WriteTree(dir.Path(), damaged));
  fs::remove(fs::path(testsupport::ClientPath(dir.Path(), "sub\\deep\\c.bin")));
  const std::string differences = testsupport::CompareClientTree(dir.Path(), expected);
  EXPECT_NE(std::string::npos, differences.find("differs: a.txt (size 1, " + testsupport::CrcText(Text("A")) +
                                                " instead of size 1, " + testsupport::CrcText(Text("a")) + ")"))
      << differences;
  EXPECT_NE(std::string::npos, differences.find("unexpected: extra.txt")) << differences;
  EXPECT_NE(std::string::npos, differences.find("unexpected: backupfile.txt")) << differences;
  EXPECT_NE(std::string::npos, differences.find("missing: sub\\deep\\c.bin")) << differences;
  EXPECT_EQ(std::string::npos, differences.find("version")) << differences;
  EXPECT_EQ(std::string::npos, differences.find("Log")) << differences;
  EXPECT_EQ(4, std::count(differences.begin(), differences.end(), '\n')) << differences;

  ASSERT_TRUE(testsupport::WriteTree(dir.Path(), {{"version.dat", Bytes{1, 0, 0}}}));
  EXPECT_EQ(-1, testsupport::ReadClientVersion(dir.Path()));
}

// ============================================================ nginx

TEST_F(RepoBuilderTest, NginxServesTheRepositoryUnderEachPrefix) {
  if (!testsupport::NginxServer::Available()) GTEST_SKIP() << "nginx runs only beside the native tests";
  testsupport::NginxServer nginx;
  ASSERT_TRUE(nginx.Start(server_, {"/a/", "/b/", "/c/"})) << nginx.Error();
  repo_->SetServers({nginx.Url("/a"), nginx.Url("/b"), nginx.Url("/c")});
  ASSERT_TRUE(repo_->WriteServer(server_)) << repo_->Error();

  const std::string local = scratch_ + "1D.cab";
  ASSERT_EQ(kFetchOk, GetFileBySocket(nginx.Url("/b/101/1D.cab"), 0, local, nullptr));
  EXPECT_TRUE(testsupport::ReadFileBytes(local) == repo_->FindBuilt(101)->sections[0].diffCab);
  ASSERT_EQ(kFetchOk, GetFileBySocket(nginx.Url("/c/version.ini"), 0, scratch_ + "version.ini", nullptr));
  EXPECT_EQ(testsupport::ReadFileText(repo_->ServerPath("version.ini")),
            testsupport::ReadFileText(scratch_ + "version.ini"));
  char server2[512];
  plat::ReadProfileString("DOWNLOAD", "server2", "", server2, sizeof server2, scratch_ + "version.ini");
  EXPECT_EQ(nginx.Url("/b"), server2);
  EXPECT_EQ(kFetchOpenFailed, GetFileBySocket(nginx.Url("/a/101/9D.cab"), 0, scratch_ + "9D.cab", nullptr));
  EXPECT_EQ(kFetchOpenFailed, GetFileBySocket(nginx.Url("/101/1D.cab"), 0, scratch_ + "root.cab", nullptr));

  const std::vector<testsupport::NginxRequest> requests = nginx.Requests(4);
  ASSERT_EQ(4u, requests.size());
  EXPECT_EQ("/b/101/1D.cab", requests[0].path);
  EXPECT_EQ(200, requests[0].status);
  EXPECT_EQ("GET", requests[0].method);
  EXPECT_EQ("/c/version.ini", requests[1].path);
  EXPECT_EQ(404, requests[2].status);
  EXPECT_EQ("/101/1D.cab", requests[3].path);
  EXPECT_EQ(404, requests[3].status);

  // A resumed transfer asks for the rest with a range.
  const Bytes& cabinet = repo_->FindBuilt(101)->sections[1].normalCab;
  const std::string partial = scratch_ + "2N.cab";
  ASSERT_TRUE(testsupport::WriteFileBytes(partial, cabinet.data(), 1000));
  ASSERT_EQ(kFetchOk, GetFileBySocket(nginx.Url("/a/101/2N.cab"), 1, partial, nullptr));
  EXPECT_TRUE(testsupport::ReadFileBytes(partial) == cabinet);
  const std::vector<testsupport::NginxRequest> all = nginx.Requests(5);
  ASSERT_EQ(5u, all.size());
  EXPECT_EQ(206, all[4].status);
  EXPECT_NE("", all[4].range);

  nginx.Stop();
  EXPECT_FALSE(nginx.Running());
  EXPECT_NE(kFetchOk, GetFileBySocket(nginx.Url("/a/version.ini"), 0, scratch_ + "after.ini", nullptr));
}

TEST(NginxServerTest, ServesAFolderAtTheRoot) {
  if (!testsupport::NginxServer::Available()) GTEST_SKIP() << "nginx runs only beside the native tests";
  TempDir dir;
  const Bytes body = Random(300000, 70);
  ASSERT_TRUE(testsupport::WriteTree(dir / "www", {{"12\\3N.cab", body}}));
  testsupport::NginxServer nginx;
  ASSERT_TRUE(nginx.Start(dir / "www")) << nginx.Error();
  ASSERT_EQ(kFetchOk, GetFileBySocket(nginx.Url("/12/3N.cab"), 0, dir / "got.cab", nullptr));
  EXPECT_TRUE(testsupport::ReadFileBytes(dir / "got.cab") == body);
  const std::vector<testsupport::NginxRequest> requests = nginx.Requests(1);
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ("/12/3N.cab", requests[0].path);
  EXPECT_EQ(200, requests[0].status);
}

}  // namespace
