// The publisher's side without the engine's run: cabinets checked by our
// decoder, cabextract and gcab; the INI and HTTP pieces; builds that are
// refused; repositories that verify finds fault with.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "apply/delta/delta_decoder.h"
#include "download/crc32.h"
#include "engine/patch_list.h"
#include "platform/file_system.h"
#include "platform/ini_profile.h"
#include "platform/path.h"
#include "platform/socket.h"
#include "platform/system_info.h"
#include "publish/cab_reader.h"
#include "publish/cab_writer.h"
#include "publish/delta_encoder.h"
#include "publish/http_serving.h"
#include "publish/manifest_writer.h"
#include "publish/repo_builder.h"
#include "publish/repo_verifier.h"
#include "tests/support/delta_writer.h"
#include "tests/support/patch_repo.h"
#include "tests/support/test_support.h"

using testsupport::Bytes;
using testsupport::FileTree;
using testsupport::TempDir;

namespace {

Bytes Random(size_t size, uint32_t seed) { return testsupport::SeededBytes(size, seed); }

Bytes Text(const std::string& text) { return testsupport::TextBytes(text); }

// Runs a shell command of the native build; its output goes to `log`.
int Shell(const std::string& command, const std::string& log) {
  return std::system((command + " >'" + log + "' 2>&1").c_str());
}

bool HaveTool(const char* path) { return !plat::IsWindowsSystem() && testsupport::PathExists(path); }

// ------------------------------------------------------------ cabinets

TEST(PublishCabWriter, EveryReaderGetsTheFilesBackInBothCompressions) {
  const std::vector<std::pair<std::string, Bytes>> files = {
      {"readme.txt", Text("Halvrecht\r\nline two\r\n")},
      {"data\\empty.bin", {}},
      {"data\\zeros.bin", Bytes(100000, 0)},
      {"bin\\engine.dll", Random(100000, 2)},
      {"data\\text\\lines.txt", Text(std::string(70000, 'a') + "tail")},
      {"a\\b\\c\\tail.bin", Random(5, 4)},
  };
  for (publish::CabCompression compression : {publish::CabCompression::kNone, publish::CabCompression::kMszip}) {
    const bool mszip = compression == publish::CabCompression::kMszip;
    SCOPED_TRACE(mszip ? "mszip" : "stored");
    TempDir dir;
    publish::CabWriter writer(compression);
    for (const auto& [name, data] : files) writer.Add(name, data);
    const std::string path = dir / "test.cab";
    std::string error;
    ASSERT_TRUE(writer.WriteTo(path, &error)) << error;
    const Bytes cabinet = testsupport::ReadFileBytes(path);
    EXPECT_EQ(writer.Build(), cabinet);
    ASSERT_GT(cabinet.size(), 44u);
    EXPECT_EQ(mszip ? 1 : 0, cabinet[42] | cabinet[43] << 8);  // the folder's compression type

    const publish::CabContents ours = publish::ExtractCabinet(path, dir.Path());
    ASSERT_TRUE(ours.ok) << ours.error;
    ASSERT_EQ(files.size(), ours.files.size());
    for (size_t i = 0; i < files.size(); ++i) {
      EXPECT_EQ(files[i].first, ours.files[i].name);
      EXPECT_EQ(files[i].second, testsupport::ReadFileBytes(ours.files[i].path)) << files[i].first;
    }
    FileTree expected;
    for (const auto& [name, data] : files) expected[name] = data;
    if (HaveTool("/usr/bin/cabextract")) {
      EXPECT_EQ(0, Shell("cabextract -q -d '" + dir.Path() + "cabextract' '" + path + "'", dir / "log"))
          << testsupport::ReadFileText(dir / "log");
      EXPECT_EQ("", testsupport::CompareClientTree(dir / "cabextract", expected, {}));
    }
    if (HaveTool("/usr/bin/gcab")) {
      ASSERT_TRUE(plat::CreateFolder(dir / "gcab"));
      EXPECT_EQ(0, Shell("gcab -x -C '" + dir.Path() + "gcab' '" + path + "'", dir / "log"))
          << testsupport::ReadFileText(dir / "log");
      EXPECT_EQ("", testsupport::CompareClientTree(dir / "gcab", expected, {}));
    }
  }
}

TEST(PublishCabWriter, FilesFromDiskAreStreamedAndCheckedForChanges) {
  TempDir dir;
  const Bytes big = Random(300000, 9);
  ASSERT_TRUE(testsupport::WriteFileBytes(dir / "big.bin", big.data(), big.size()));
  publish::CabWriter writer(publish::CabCompression::kMszip, 1);
  writer.AddFile("big.bin", dir / "big.bin");
  uint64_t reported = 0;
  writer.SetProgress([&](uint64_t bytes) { reported += bytes; });
  std::string error;
  ASSERT_TRUE(writer.WriteTo(dir / "one.cab", &error)) << error;
  EXPECT_EQ(big.size(), reported);
  const publish::CabContents read = publish::ExtractCabinet(dir / "one.cab", dir.Path());
  ASSERT_TRUE(read.ok) << read.error;
  EXPECT_EQ(big, testsupport::ReadFileBytes(read.files.at(0).path));

  // A source that is gone, and names a cabinet cannot hold, leave no file.
  publish::CabWriter missing;
  missing.AddFile("gone.bin", dir / "gone.bin");
  EXPECT_FALSE(missing.WriteTo(dir / "two.cab", &error));
  publish::CabWriter badName;
  badName.Add(std::string(257, 'n'), Text("x"));
  EXPECT_FALSE(badName.WriteTo(dir / "three.cab", &error));
  EXPECT_FALSE(testsupport::PathExists(dir / "two.cab") || testsupport::PathExists(dir / "three.cab"));
}

// ------------------------------------------------------------ INI and HTTP pieces

TEST(PublishManifest, ValuesChangeInPlaceAndEverythingElseStays) {
  struct Case {
    const char* text;
    const char* expected;
  };
  const Case cases[] = {
      {"; c\r\n[VERSION]\r\nLatestVersion=101\r\nMinimalVersion=100\r\n[DOWNLOAD]\r\nserver1=x\r\n",
       "; c\r\n[VERSION]\r\nLatestVersion=102\r\nMinimalVersion=100\r\n[DOWNLOAD]\r\nserver1=x\r\n"},
      {"[version]\nlatestversion = 7\n", "[version]\nlatestversion =102\n"},
      {"[VERSION]\r\nMinimalVersion=1\r\n\r\n[DOWNLOAD]\r\n",
       "[VERSION]\r\nMinimalVersion=1\r\nLatestVersion=102\r\n\r\n[DOWNLOAD]\r\n"},
      {"[VERSION]\r\n;LatestVersion=1\r\nOwnVersion=28", "[VERSION]\r\n;LatestVersion=1\r\nOwnVersion=28\r\nLatestVersion=102\r\n"},
      {"[DOWNLOAD]\r\nserver1=x\r\n", "[DOWNLOAD]\r\nserver1=x\r\n[VERSION]\r\nLatestVersion=102\r\n"},
      {"", "[VERSION]\r\nLatestVersion=102\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(c.expected, publish::SetIniValue(c.text, "VERSION", "LatestVersion", "102"));
  }
}

TEST(PublishHttp, RangesAndAnswersOfTheStaticServer) {
  struct RangeCase {
    const char* header;
    bool present;
    bool satisfiable;
    uint64_t first;
    uint64_t last;
  };
  const RangeCase ranges[] = {
      {"bytes=2-", true, true, 2, 9},   {"bytes=2-4", true, true, 2, 4},   {"Bytes=8-99", true, true, 8, 9},
      {"bytes=-3", true, true, 7, 9},   {"bytes=-30", true, true, 0, 9},   {"bytes=10-", true, false, 10, 9},
      {"bytes=4-2", false, false, 0, 0}, {"bytes=1-2,4-5", false, false, 0, 0}, {"items=1-2", false, false, 0, 0},
      {"", false, false, 0, 0},
  };
  for (const RangeCase& c : ranges) {
    SCOPED_TRACE(c.header);
    const publish::ByteRange range = publish::ParseRange(c.header, 10);
    EXPECT_EQ(c.present, range.present);
    EXPECT_EQ(c.satisfiable, range.satisfiable);
    if (range.satisfiable) {
      EXPECT_EQ(c.first, range.first);
      EXPECT_EQ(c.last, range.last);
    }
  }

  TempDir dir;
  ASSERT_TRUE(testsupport::WriteFileText(dir / "0123.bin", "0123456789"));
  ASSERT_TRUE(plat::CreateFolder(dir / "sub"));
  ASSERT_TRUE(testsupport::WriteFileText(dir / "sub/a b.txt", "spaced"));
  publish::StaticHttpServer server(dir.Path());
  std::string error;
  ASSERT_TRUE(server.Start(0, "127.0.0.1", &error)) << error;
  struct Exchange {
    const char* request;
    const char* statusLine;
    const char* body;
  };
  const Exchange exchanges[] = {
      {"GET /0123.bin HTTP/1.1\r\n", "HTTP/1.1 200 OK", "0123456789"},
      {"GET /0123.bin HTTP/1.0\r\nRange: bytes=7-\r\n", "HTTP/1.1 206 Partial Content", "789"},
      {"GET /0123.bin?x=1 HTTP/1.1\r\nrange: bytes=-2\r\n", "HTTP/1.1 206 Partial Content", "89"},
      {"GET /0123.bin HTTP/1.1\r\nRange: bytes=10-\r\n", "HTTP/1.1 416 Range Not Satisfiable", ""},
      {"HEAD /0123.bin HTTP/1.1\r\n", "HTTP/1.1 200 OK", ""},
      {"GET /sub/a%20b.txt HTTP/1.1\r\n", "HTTP/1.1 200 OK", "spaced"},
      {"GET /sub/../0123.bin HTTP/1.1\r\n", "HTTP/1.1 404 Not Found", ""},
      {"GET /sub HTTP/1.1\r\n", "HTTP/1.1 404 Not Found", ""},
      {"GET /missing HTTP/1.1\r\n", "HTTP/1.1 404 Not Found", ""},
      {"PUT /0123.bin HTTP/1.1\r\n", "HTTP/1.1 405 Method Not Allowed", ""},
  };
  for (const Exchange& e : exchanges) {
    SCOPED_TRACE(e.request);
    plat::TcpSocket socket;
    ASSERT_TRUE(socket.Open() && socket.Connect("127.0.0.1", server.Port(), 5000));
    const std::string request = std::string(e.request) + "Host: 127.0.0.1\r\n\r\n";
    ASSERT_TRUE(publish::SendAll(socket, request.data(), request.size()));
    std::string answer;
    char buffer[4096];
    for (int32_t n; (n = socket.Receive(buffer, sizeof buffer, 5000)) > 0;) answer.append(buffer, n);
    EXPECT_EQ(e.statusLine, answer.substr(0, answer.find("\r\n")));
    const size_t bodyAt = answer.find("\r\n\r\n");
    ASSERT_NE(std::string::npos, bodyAt);
    EXPECT_EQ(e.body, answer.substr(bodyAt + 4));
  }
}

// ------------------------------------------------------------ builds and checks

class PublishRepoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    a_["bin\\game.exe"] = Random(60000, 1);
    a_["data\\table.dat"] = Random(40000, 2);
    a_["gone.txt"] = Text("obsolete");
    b_ = a_;
    b_["bin\\game.exe"][100] ^= 1;
    b_["data\\table.dat"].resize(30000);
    b_["data\\table.dat"].insert(b_["data\\table.dat"].begin() + 5, 300, 0x42);
    b_.erase("gone.txt");
    b_["new.txt"] = Text("new");
    ASSERT_TRUE(testsupport::WriteTree(dir_ / "a", a_));
    ASSERT_TRUE(testsupport::WriteTree(dir_ / "b", b_));
  }

  publish::BuildOptions Options(const std::string& from, const std::string& to, uint32_t version) {
    publish::BuildOptions options;
    options.fromTree = dir_ / from;
    options.toTree = dir_ / to;
    options.repo = dir_ / "repo";
    options.version = version;
    return options;
  }

  publish::BuildResult Build(const publish::BuildOptions& options, std::string* error) {
    publish::BuildSummary summary;
    return publish::BuildVersion(options, &summary, error);
  }

  // The repository checked with the client tree of its first version.
  publish::VerifyReport Verify() {
    testsupport::RemoveTree(dir_ / "scratch");
    EXPECT_TRUE(plat::CreateFolder(dir_ / "scratch"));
    publish::VerifyOptions options;
    options.repo = dir_ / "repo";
    options.clientTree = dir_ / "a";
    options.scratch = dir_ / "scratch/";
    publish::VerifyReport report;
    publish::VerifyRepository(options, &report);
    return report;
  }

  FileTree a_;
  FileTree b_;
  TempDir dir_;
};

TEST_F(PublishRepoTest, RefusedBuildsWriteNothing) {
  std::string error;
  ASSERT_EQ(publish::kBuildOk, Build(Options("a", "b", 101), &error)) << error;
  const FileTree before = testsupport::ReadTree(dir_ / "repo");

  struct Case {
    const char* what;
    FileTree extra;  // added to the new tree
    std::function<void(publish::BuildOptions&)> change;
    const char* expected;
    bool posixOnly;
  };
  const Case cases[] = {
      {"a protected name", {{"data\\Version.INI.bak", Text("x")}}, nullptr, "protected name", false},
      {"names differing in case", {{"NEW.TXT", Text("x")}}, nullptr, "letter case", true},
      {"a device name", {{"aux.txt", Text("x")}}, nullptr, "device name", true},
      {"a colon", {{"a:b.txt", Text("x")}}, nullptr, "':'", true},
      {"an old tree that is not the latest version", {}, [&](publish::BuildOptions& o) { o.fromTree = dir_ / "a"; },
       "not the repository's version 101", false},
      {"a version that is not above the latest", {}, [](publish::BuildOptions& o) { o.version = 100; },
       "not above", false},
      {"servers for an existing repository", {}, [](publish::BuildOptions& o) { o.servers = {{"http://x", 1}}; },
       "server list is kept", false},
      {"a missing tree", {}, [](publish::BuildOptions& o) { o.toTree += "-missing"; }, "no such folder", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.posixOnly && plat::IsWindowsSystem()) continue;  // Windows cannot hold such names
    testsupport::RemoveTree(dir_ / "c");
    FileTree c_ = b_;
    c_.insert(c.extra.begin(), c.extra.end());
    ASSERT_TRUE(testsupport::WriteTree(dir_ / "c", c_));
    publish::BuildOptions options = Options("b", "c", 102);
    if (c.change) c.change(options);
    EXPECT_EQ(publish::kBuildRefused, Build(options, &error));
    EXPECT_NE(std::string::npos, error.find(c.expected)) << error;
    EXPECT_TRUE(before == testsupport::ReadTree(dir_ / "repo"));
  }
}

TEST_F(PublishRepoTest, VerifyFindsWhatIsWrong) {
  std::string error;
  ASSERT_EQ(publish::kBuildOk, Build(Options("a", "b", 101), &error)) << error;
  publish::VerifyReport report = Verify();
  EXPECT_TRUE(report.problems.empty()) << report.problems.front();
  EXPECT_EQ(2u, report.deltasApplied);
  EXPECT_EQ(0u, report.deltasUnchecked);
  const std::string repo = dir_ / "repo/";
  const Bytes pristineList = testsupport::ReadFileBytes(repo + "101/version.list");
  const Bytes pristineCab = testsupport::ReadFileBytes(repo + "101/1D.cab");

  // A text of the list replaced by another of the same length.
  auto replaceInList = [&](const std::string& from, const std::string& to) {
    Bytes list = pristineList;
    const std::string text(list.begin(), list.end());
    const size_t at = text.find(from);
    ASSERT_NE(std::string::npos, at) << from;
    std::copy(to.begin(), to.end(), list.begin() + static_cast<ptrdiff_t>(at));
    ASSERT_TRUE(testsupport::WriteFileBytes(repo + "101/version.list", list.data(), list.size()));
  };
  // The D cabinet with the executable's delta replaced, and the list's
  // CRC of the cabinet made to agree.
  auto replaceDelta = [&](const Bytes& delta) {
    publish::CabWriter writer(publish::CabCompression::kMszip);
    const publish::CabContents contents = publish::ExtractCabinet(repo + "101/1D.cab", dir_.Path(), "x");
    for (const publish::CabEntry& entry : contents.files) {
      writer.Add(entry.name, entry.name == "bin\\game.exe" ? delta : testsupport::ReadFileBytes(entry.path));
    }
    const Bytes cab = writer.Build();
    ASSERT_TRUE(testsupport::WriteFileBytes(repo + "101/1D.cab", cab.data(), cab.size()));
    replaceInList(testsupport::CrcText(pristineCab), testsupport::CrcText(cab));
  };
  testsupport::DeltaWriter outOfRange;
  outOfRange.Eql(70000);
  struct Case {
    const char* what;
    std::function<void()> damage;
    const char* expected;
  };
  const Case cases[] = {
      {"a flipped byte in a cabinet",
       [&] {
         Bytes cab = pristineCab;
         cab[cab.size() / 2] ^= 0xFF;
         testsupport::WriteFileBytes(repo + "101/1D.cab", cab.data(), cab.size());
       },
       "101/1D.cab: CRC"},
      {"a wrong CRC in a list", [&] { replaceInList(testsupport::CrcText(b_["new.txt"]), "0xdeadbeef"); },
       "new.txt: N cabinet: CRC"},
      {"a delta that does not apply", [&] { replaceDelta(outOfRange.Delta()); }, "the delta does not apply"},
      {"a delta that gives other bytes",
       [&] {
         Bytes other;
         CDeltaEncoder().EncodeBytes(a_["bin\\game.exe"], Random(60000, 3), &other);
         replaceDelta(other);
       },
       "the delta gives CRC"},
      {"a missing version", [&] { testsupport::RemoveTree(repo + "101"); }, "101/version.list: missing"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testsupport::CopyTree(repo, dir_ / "saved");
    c.damage();
    report = Verify();
    std::string all;
    for (const std::string& problem : report.problems) all += problem + "\n";
    EXPECT_NE(std::string::npos, all.find(c.expected)) << all;
    testsupport::RemoveTree(repo);
    testsupport::CopyTree(dir_ / "saved", repo);
    testsupport::RemoveTree(dir_ / "saved");
  }
}

TEST_F(PublishRepoTest, VersionsDeletionsAndRebuildsAcrossBuilds) {
  // A new repository from version 97: versions 98 to 100 change nothing.
  std::string error;
  publish::BuildOptions first = Options("a", "b", 101);
  first.baseVersionGiven = true;
  first.baseVersion = 97;
  ASSERT_EQ(publish::kBuildOk, Build(first, &error)) << error;
  const std::string repo = dir_ / "repo/";
  for (uint32_t v : {98u, 99u, 100u}) {
    PatchList list;
    ExpectedCrcMap expected;
    ASSERT_EQ(0u, ReadPatchListFile(repo + std::to_string(v) + "/version.list", v, list, expected));
    EXPECT_EQ(0u, list.dwSectionNum) << v;
  }
  EXPECT_EQ(97u, plat::ReadProfileInt("VERSION", "MinimalVersion", 0, repo + "version.ini"));

  // Version 102 brings "GONE.TXT" back (letter case aside) and drops
  // "new.txt": the deletion list keeps what is still gone.
  FileTree c = b_;
  c["GONE.TXT"] = Text("back");
  c.erase("new.txt");
  ASSERT_TRUE(testsupport::WriteTree(dir_ / "c", c));
  ASSERT_EQ(publish::kBuildOk, Build(Options("b", "c", 102), &error)) << error;
  EXPECT_EQ(std::vector<std::string>{"new.txt"}, publish::ReadDeleteList(repo + "delete.ini"));
  EXPECT_EQ(102u, plat::ReadProfileInt("VERSION", "LatestVersion", 0, repo + "version.ini"));

  // Building the latest version again gives the same repository.
  const FileTree built = testsupport::ReadTree(repo);
  publish::BuildSummary summary;
  ASSERT_EQ(publish::kBuildOk, publish::BuildVersion(Options("b", "c", 102), &summary, &error)) << error;
  EXPECT_TRUE(summary.rebuilt);
  EXPECT_TRUE(built == testsupport::ReadTree(repo));
  EXPECT_TRUE(Verify().problems.empty());
}

}  // namespace
