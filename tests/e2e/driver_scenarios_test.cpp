// Patch runs against repositories written by the fixture builder: the
// decisions of the driver (which cabinet, how often, from which server)
// and the client they leave behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "download/fetch_result.h"
#include "download/http_socket.h"
#include "engine/patch_entry.h"
#include "engine/patch_main.h"
#include "engine/patch_types.h"
#include "platform/system_info.h"
#include "tests/e2e/engine_run.h"
#include "tests/support/delta_writer.h"
#include "tests/support/nginx_server.h"
#include "tests/support/patch_repo.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using testsupport::Bytes;
using testsupport::FileTree;
using testsupport::PatchRepoBuilder;
using testsupport::SectionSpec;
using testsupport::WritePatchList;

namespace {

Bytes Pattern(size_t size, uint32_t seed) {
  Bytes bytes(size);
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    bytes[i] = static_cast<uint8_t>(x >> 16);
    if (i % 97 == 0) bytes[i] = 0xA7;  // the delta format's escape byte
  }
  return bytes;
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

// Version 100 to 103: 101 has two sections (a same-size edit, a grown file,
// a replaced text and a new file in a new folder), 102 has none, 103 one.
// `deltas101` replaces deltas of 101's first section.
void DescribeVersions(PatchRepoBuilder& repo, std::map<std::string, Bytes> deltas101 = {}) {
  FileTree v101 = repo.InitialTree();
  Bytes engine = v101["bin\\engine.dll"];
  for (size_t i = 100; i < engine.size(); i += 1000) engine[i] ^= 0x5A;
  v101["bin\\engine.dll"] = engine;
  Bytes grown = v101["data\\a.dat"];
  const Bytes inserted = Pattern(3000, 9);
  grown.insert(grown.begin() + 5000, inserted.begin(), inserted.end());
  v101["data\\a.dat"] = grown;
  v101["readme.txt"] = Text("Welcome to version 101\r\n");
  v101["data\\new\\n.bin"] = Pattern(5000, 4);
  SectionSpec first{{"bin\\engine.dll", "data\\a.dat"}};
  first.deltas = std::move(deltas101);
  repo.AddVersion(101, v101, {first, SectionSpec{{"readme.txt", "data\\new\\n.bin"}}});
  repo.AddVersion(102, v101);
  FileTree v103 = v101;
  Bytes b = v103["data\\b.dat"];
  b.resize(8300);  // 700 bytes shorter
  v103["data\\b.dat"] = b;
  repo.AddVersion(103, v103, {SectionSpec{{"data\\b.dat"}}});
}

FileTree InitialTree() {
  return FileTree{{"bin\\engine.dll", Pattern(40000, 1)},
                  {"data\\a.dat", Pattern(20000, 2)},
                  {"data\\b.dat", Pattern(9000, 3)},
                  {"data\\Version.INI", Text("[local]\r\nkeep=1\r\n")},
                  {"readme.txt", Text("Welcome\r\n")}};
}

class DriverScenarioTest : public ::testing::Test {
 protected:
  DriverScenarioTest() : repo_(100, InitialTree()) {}

  void SetUp() override { ASSERT_TRUE(server_.Started()); }

  // Two servers chosen in a fixed order: "a" first, then "b"; a third,
  // "c", comes after them in either order.
  void Build(bool threeServers = false) {
    prefixes_ = {"/a/", "/b/"};
    std::vector<std::string> weights = {"1", "0"};
    if (threeServers) {
      prefixes_.push_back("/c/");
      weights.push_back("0");
    }
    std::vector<std::string> servers;
    for (const std::string& prefix : prefixes_) servers.push_back(server_.Url(prefix.substr(0, 2)));
    repo_.SetServers(servers);
    repo_.SetPodWeights(weights);
    ASSERT_TRUE(repo_.WriteServer(serverDir_.Path())) << repo_.Error();
    ASSERT_TRUE(repo_.WriteClient(clientDir_.Path())) << repo_.Error();
    ServeGood();
  }
  void ServeGood() { e2e::ServeFolder(server_, serverDir_.Path(), prefixes_); }

  e2e::RunOutcome Run(e2e::RunOptions options = e2e::RunOptions()) {
    options.timeoutMs = 60000;
    return e2e::RunPatch(clientDir_.Path(), server_.Url("/a/version.ini"), options);
  }

  // Serves other bytes at one server's copy of a file.
  void ServeAt(const std::string& path, const Bytes& bytes) {
    testsupport::HttpRoute route;
    route.body.assign(bytes.begin(), bytes.end());
    server_.Set(path, route);
  }
  void Missing(const std::string& path) {
    testsupport::HttpRoute route;
    route.status = 404;
    server_.Set(path, route);
  }

  // Requests for section cabinets, in order, with their server prefix;
  // repeats of one request in a row are one.
  std::vector<std::string> CabinetRequests() const {
    std::vector<std::string> cabs;
    for (const std::string& head : server_.Requests()) {
      const size_t start = head.find(' ') + 1;
      const std::string path = head.substr(start, head.find(' ', start) - start);
      // One failed fetch tries the server several times; count it once.
      if (path.size() > 4 && path.compare(path.size() - 4, 4, ".cab") == 0 && (cabs.empty() || cabs.back() != path)) {
        cabs.push_back(path);
      }
    }
    return cabs;
  }

  // Serves version 101's list again with its cabinet CRC texts changed.
  void ServeListWithCabinetCrcs(const std::function<std::string(const std::string&)>& change) {
    const testsupport::BuiltVersion* built = repo_.FindBuilt(101);
    ASSERT_NE(nullptr, built);
    testsupport::PatchListData list;
    list.patchVersion = 101;
    for (const testsupport::BuiltSection& section : built->sections) {
      list.sections.push_back({change(section.diffCabCrc), change(section.normalCabCrc), section.records});
    }
    for (const char* prefix : {"/a", "/b"}) ServeAt(std::string(prefix) + "/101/version.list", WritePatchList(list));
  }

  // Every line the runs so far wrote into the client's log.
  std::string LogText() const {
    std::string text;
    const fs::path folder = fs::path(clientDir_.Path()) / "Log";
    if (!fs::exists(folder)) return text;
    for (const auto& entry : fs::directory_iterator(folder)) text += testsupport::ReadFileText(entry.path().string());
    return text;
  }

  std::string Differences() const { return testsupport::CompareClientTree(clientDir_.Path(), repo_.ExpectedTree()); }

  // The versions above with a file that 104 (a list without sections) makes
  // obsolete, and the deletion list that names it.
  void BuildWithObsoleteFile() {
    FileTree initial = InitialTree();
    initial[kObsolete] = Text("obsolete");
    repo_ = PatchRepoBuilder(100, initial);
    DescribeVersions(repo_);
    FileTree last = *repo_.TreeAt(103);
    last.erase(kObsolete);
    repo_.AddVersion(104, last);
    repo_.SetDeleteList({kObsolete});
    Build();
  }
  // A file of the repository, sent only after a stall of `stallMs`.
  void ServeStalled(const std::string& relative, const std::vector<std::string>& prefixes, uint32_t stallMs) {
    testsupport::HttpRoute stalled;
    stalled.body = testsupport::ReadFileText(serverDir_.Path() + relative);
    stalled.stallAfter = 0;
    stalled.stallMs = stallMs;
    for (const std::string& prefix : prefixes) server_.Set(prefix + relative, stalled);
  }
  void ServeStalledDeleteList(const std::vector<std::string>& prefixes, uint32_t stallMs) {
    ServeStalled("delete.ini", prefixes, stallMs);
  }
  bool ObsoleteFileExists() const { return fs::exists(testsupport::ClientPath(clientDir_.Path(), kObsolete)); }
  bool FinishPending() const { return fs::exists(fs::path(clientDir_.Path()) / "backup" / "finish.pending"); }
  static constexpr char kObsolete[] = "old\\obsolete.txt";

  Bytes Corrupted(const std::string& relative) const {
    Bytes bytes = testsupport::ReadFileBytes(serverDir_.Path() + relative);
    bytes[bytes.size() / 2] ^= 0xFF;
    return bytes;
  }

  PatchRepoBuilder repo_;
  std::vector<std::string> prefixes_;
  testsupport::HttpTestServer server_;
  testsupport::TempDir serverDir_;
  testsupport::TempDir clientDir_;
};

TEST_F(DriverScenarioTest, APristineClientTakesEveryDiffCabinetOnce) {
  DescribeVersions(repo_);
  Build();
  const e2e::RunOutcome outcome = Run();
  ASSERT_EQ(0u, outcome.initResult);
  ASSERT_EQ(0u, outcome.errorCode);
  ASSERT_TRUE(outcome.finished);
  EXPECT_EQ("", Differences());
  EXPECT_EQ(103, testsupport::ReadClientVersion(clientDir_.Path()));
  EXPECT_EQ((std::vector<std::string>{"/a/101/1D.cab", "/a/101/2D.cab", "/a/103/1D.cab"}), CabinetRequests());
  // The empty version 102 costs its list and nothing else.
  EXPECT_EQ(1, server_.RequestCount("/a/102/version.list"));
}

TEST_F(DriverScenarioTest, AChangedClientFileSendsItsSectionToTheNormalCabinet) {
  DescribeVersions(repo_);
  Build();
  // The player's copy differs from what the deltas were made from.
  Bytes mine = repo_.InitialTree().at("data\\a.dat");
  mine[10] ^= 1;
  ASSERT_TRUE(testsupport::WriteFileBytes(testsupport::ClientPath(clientDir_.Path(), "data\\a.dat"), mine.data(),
                                          mine.size()));
  const e2e::RunOutcome outcome = Run();
  ASSERT_TRUE(outcome.finished) << outcome.errorCode;
  EXPECT_EQ("", Differences());
  EXPECT_EQ((std::vector<std::string>{"/a/101/1N.cab", "/a/101/2D.cab", "/a/103/1D.cab"}), CabinetRequests());
}

TEST_F(DriverScenarioTest, ACabinetAlreadyDownloadedIsNotFetchedAgain) {
  DescribeVersions(repo_);
  Build();
  fs::create_directories(fs::path(clientDir_.Path()) / "backup" / "101");
  fs::copy_file(fs::path(serverDir_.Path()) / "101" / "2D.cab", fs::path(clientDir_.Path()) / "backup" / "101" / "2D.cab");
  const e2e::RunOutcome outcome = Run();
  ASSERT_TRUE(outcome.finished) << outcome.errorCode;
  EXPECT_EQ("", Differences());
  EXPECT_EQ((std::vector<std::string>{"/a/101/1D.cab", "/a/103/1D.cab"}), CabinetRequests());
}

TEST_F(DriverScenarioTest, AWrongCrcIsFetchedOnceMoreFromTheNextServer) {
  DescribeVersions(repo_);
  Build();
  ServeAt("/a/101/1D.cab", Corrupted("101/1D.cab"));
  const e2e::RunOutcome outcome = Run();
  ASSERT_TRUE(outcome.finished) << outcome.errorCode;
  EXPECT_EQ("", Differences());
  EXPECT_EQ((std::vector<std::string>{"/a/101/1D.cab", "/b/101/1D.cab", "/a/101/2D.cab", "/a/103/1D.cab"}),
            CabinetRequests());
}

TEST_F(DriverScenarioTest, CabinetCrcTextsMatchInAnyLetterCase) {
  DescribeVersions(repo_);
  Build();
  ServeListWithCabinetCrcs([](const std::string& crc) {
    std::string upper = crc;
    for (size_t i = 2; i < upper.size(); ++i) upper[i] = static_cast<char>(toupper(static_cast<unsigned char>(upper[i])));
    return upper;
  });
  const e2e::RunOutcome outcome = Run();
  ASSERT_TRUE(outcome.finished) << outcome.errorCode;
  EXPECT_EQ("", Differences());
  EXPECT_EQ((std::vector<std::string>{"/a/101/1D.cab", "/a/101/2D.cab", "/a/103/1D.cab"}), CabinetRequests());
}

// The text of a CRC that could not be computed never matches: a list that
// gives it must not let a cabinet that is not there pass as downloaded.
TEST_F(DriverScenarioTest, AnUnknownCabinetCrcNeverMatches) {
  DescribeVersions(repo_);
  Build();
  ServeListWithCabinetCrcs([](const std::string&) { return std::string("0xffffffff"); });
  const e2e::RunOutcome outcome = Run();
  EXPECT_EQ(3u, outcome.errorCode);
  EXPECT_EQ((std::vector<std::string>{"/a/101/1D.cab", "/b/101/1D.cab"}), CabinetRequests());
  EXPECT_EQ(100, testsupport::ReadClientVersion(clientDir_.Path()));
}

TEST_F(DriverScenarioTest, TwoWrongCrcsInARowEndTheRunWithThree) {
  DescribeVersions(repo_);
  Build();
  ServeAt("/a/101/2D.cab", Corrupted("101/2D.cab"));
  ServeAt("/b/101/2D.cab", Corrupted("101/2D.cab"));
  const e2e::RunOutcome outcome = Run();
  EXPECT_FALSE(outcome.finished);
  EXPECT_EQ(3u, outcome.errorCode);
  EXPECT_EQ(100, testsupport::ReadClientVersion(clientDir_.Path()));
  EXPECT_FALSE(fs::exists(fs::path(clientDir_.Path()) / "backup" / "101" / "2D.cab"));
}

// With three servers the attempt limit would allow a third request: only
// the wrong-CRC retry count ends the run after the second.
TEST_F(DriverScenarioTest, TwoWrongCrcsInARowEndTheRunAlsoWhenAThirdServerIsLeft) {
  DescribeVersions(repo_);
  Build(true);
  for (const char* prefix : {"/a/", "/b/", "/c/"}) ServeAt(std::string(prefix) + "101/2D.cab", Corrupted("101/2D.cab"));
  const e2e::RunOutcome outcome = Run();
  EXPECT_EQ(3u, outcome.errorCode);
  size_t requests = 0;
  for (const std::string& cab : CabinetRequests()) requests += cab.find("/101/2D.cab") != std::string::npos ? 1 : 0;
  EXPECT_EQ(2u, requests);
}

TEST_F(DriverScenarioTest, AMissingDiffCabinetFallsBackToTheNormalOne) {
  DescribeVersions(repo_);
  Build();
  Missing("/a/101/1D.cab");
  Missing("/b/101/1D.cab");
  const e2e::RunOutcome outcome = Run();
  ASSERT_TRUE(outcome.finished) << outcome.errorCode;
  EXPECT_EQ("", Differences());
  EXPECT_EQ((std::vector<std::string>{"/a/101/1D.cab", "/a/101/1N.cab", "/a/101/2D.cab", "/a/103/1D.cab"}),
            CabinetRequests());
}

TEST_F(DriverScenarioTest, ANormalCabinetMissingEverywhereEndsTheRunWithThree) {
  DescribeVersions(repo_);
  Build();
  for (const char* path : {"/a/103/1D.cab", "/b/103/1D.cab", "/a/103/1N.cab", "/b/103/1N.cab"}) Missing(path);
  const e2e::RunOutcome outcome = Run();
  EXPECT_EQ(3u, outcome.errorCode);
  // Version 101 stays committed (the empty 102 writes no "version.dat");
  // 103's normal cabinet is tried on each server once.
  EXPECT_EQ(101, testsupport::ReadClientVersion(clientDir_.Path()));
  EXPECT_EQ((std::vector<std::string>{"/a/101/1D.cab", "/a/101/2D.cab", "/a/103/1D.cab", "/a/103/1N.cab",
                                      "/b/103/1N.cab"}),
            CabinetRequests());
}

TEST_F(DriverScenarioTest, AStoppedVersionResumesAtItsFirstUnfinishedSection) {
  DescribeVersions(repo_);
  Build();
  // Stop as soon as the first section of 101 is recorded as patched. The
  // second section's cabinet stalls until then, so the engine cannot finish
  // the version before the stop, however slow the test's own thread is.
  ServeStalled("101/2D.cab", prefixes_, 60000);
  const std::string sectionRecord = clientDir_.Path() + "backup/101/prg_section.list";
  e2e::RunOptions first;
  first.stopWhen = [&] { return fs::exists(sectionRecord); };
  const e2e::RunOutcome interrupted = Run(first);
  ASSERT_TRUE(interrupted.stoppedEarly);
  EXPECT_EQ(100, testsupport::ReadClientVersion(clientDir_.Path()));
  const size_t before = CabinetRequests().size();

  ServeGood();
  const e2e::RunOutcome resumed = Run();
  ASSERT_TRUE(resumed.finished) << resumed.errorCode;
  EXPECT_EQ("", Differences());
  const std::vector<std::string> all = CabinetRequests();
  const std::vector<std::string> second(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
  for (const std::string& path : second) EXPECT_NE("/a/101/1D.cab", path);
  EXPECT_FALSE(fs::exists(sectionRecord));
}

// A file progress count resumes a section only below the section's file
// count (section 1 of 101 has two files): a section stopped after its
// first file goes on with the next, whose new contents the diff test must
// not hold against the diff cabinet; any other count is corrupt or stale,
// and the diff test and the patch alike start again at the first file.
TEST_F(DriverScenarioTest, AFileProgressCountResumesOnlyBelowTheFileCount) {
  struct Case {
    uint32_t recorded;
    bool firstFilePatched;
    const char* logged;  // the list's line for a count it cannot resume from
  };
  const Case cases[] = {
      {1, true, nullptr},
      {2, false, "Last Patched progress [2] is bigger than file count [2] : ver [101] section [1]"},
      {0xFFFFFFFF, false, "Last Patched progress [-1] is bigger than file count [2] : ver [101] section [1]"},
  };
  DescribeVersions(repo_);
  Build();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.recorded);
    testsupport::RemoveTree(clientDir_.Path());
    ASSERT_TRUE(repo_.WriteClient(clientDir_.Path())) << repo_.Error();
    if (c.firstFilePatched) {
      const Bytes patched = repo_.TreeAt(101)->at("bin\\engine.dll");
      ASSERT_TRUE(testsupport::WriteFileBytes(testsupport::ClientPath(clientDir_.Path(), "bin\\engine.dll"),
                                              patched.data(), patched.size()));
    }
    fs::create_directories(fs::path(clientDir_.Path()) / "backup" / "101");
    const uint8_t record[4] = {static_cast<uint8_t>(c.recorded), static_cast<uint8_t>(c.recorded >> 8),
                               static_cast<uint8_t>(c.recorded >> 16), static_cast<uint8_t>(c.recorded >> 24)};
    ASSERT_TRUE(testsupport::WriteFileBytes(clientDir_.Path() + "backup/101/prg_f1.list", record, 4));
    const size_t before = CabinetRequests().size();
    const e2e::RunOutcome outcome = Run();
    ASSERT_TRUE(outcome.finished) << outcome.errorCode;
    EXPECT_EQ("", Differences());
    const std::vector<std::string> all = CabinetRequests();
    EXPECT_EQ((std::vector<std::string>{"/a/101/1D.cab", "/a/101/2D.cab", "/a/103/1D.cab"}),
              std::vector<std::string>(all.begin() + static_cast<std::ptrdiff_t>(before), all.end()));
    EXPECT_FALSE(fs::exists(fs::path(clientDir_.Path()) / "backup" / "101" / "prg_f1.list"));
    if (c.logged) {
      EXPECT_NE(std::string::npos, LogText().find(c.logged));
    }
  }
}

// A section whose only record is a protected file has no file to resume
// from: its count of 0 is not below its 0 files, and says so.
TEST_F(DriverScenarioTest, ASectionWithoutAcceptedFilesHasNoResumePoint) {
  FileTree v101 = repo_.InitialTree();
  SectionSpec section;
  testsupport::ExtraRecord version;
  version.name = "data\\Version.INI";
  version.content = Text("[local]\r\nkeep=2\r\n");
  section.extras = {version};
  repo_.AddVersion(101, v101, {section});
  Build();
  const e2e::RunOutcome outcome = Run();
  ASSERT_TRUE(outcome.finished) << outcome.errorCode;
  EXPECT_EQ("", Differences());
  EXPECT_NE(std::string::npos,
            LogText().find("Last Patched progress [0] is bigger than file count [0] : ver [101] section [1]"));
}

// A run that ended between the record of the last section and the commit
// finds every section done: the version is committed, not failed for ever.
TEST_F(DriverScenarioTest, AVersionPatchedButNotCommittedIsCommitted) {
  DescribeVersions(repo_);
  Build();
  ASSERT_TRUE(testsupport::WriteTree(clientDir_.Path(), *repo_.TreeAt(101)));
  fs::create_directories(fs::path(clientDir_.Path()) / "backup" / "101");
  const uint8_t allDone[2] = {1, 1};
  ASSERT_TRUE(testsupport::WriteFileBytes(clientDir_.Path() + "backup/101/prg_section.list", allDone, 2));
  const e2e::RunOutcome outcome = Run();
  ASSERT_TRUE(outcome.finished) << outcome.errorCode;
  EXPECT_EQ("", Differences());
  EXPECT_EQ((std::vector<std::string>{"/a/103/1D.cab"}), CabinetRequests());
  EXPECT_FALSE(fs::exists(fs::path(clientDir_.Path()) / "backup" / "101" / "prg_section.list"));
}

TEST_F(DriverScenarioTest, AListNamingAFileOutsideTheClientStopsTheRunWithTen) {
  DescribeVersions(repo_);
  Build();
  testsupport::PatchListData list;
  list.patchVersion = 101;
  testsupport::PatchListSection section;
  section.diffCabCrc = "0x00000000";
  section.normalCabCrc = "0x00000000";
  testsupport::PatchListRecord hostile;
  hostile.name = "..\\escaped.txt";
  hostile.type = 2;
  section.records.push_back(hostile);
  list.sections.push_back(section);
  ServeAt("/a/101/version.list", testsupport::WritePatchList(list));
  const e2e::RunOutcome outcome = Run();
  EXPECT_EQ(10u, outcome.errorCode);
  EXPECT_TRUE(CabinetRequests().empty());
  EXPECT_FALSE(fs::exists(fs::path(clientDir_.Path()).parent_path().parent_path() / "escaped.txt"));
}

// The deletion list is part of the finish: when it cannot be had, the
// finish stays pending and the next start, with nothing left to patch,
// verifies the client and applies the list.
TEST_F(DriverScenarioTest, ADeletionListThatFailedIsAppliedByTheNextStart) {
  BuildWithObsoleteFile();
  testsupport::HttpRoute serverError;
  serverError.status = 503;
  for (const char* prefix : {"/a/", "/b/"}) server_.Set(std::string(prefix) + "delete.ini", serverError);
  const e2e::RunOutcome first = Run();
  ASSERT_TRUE(first.finished) << first.errorCode;
  EXPECT_EQ(104, testsupport::ReadClientVersion(clientDir_.Path()));
  EXPECT_TRUE(ObsoleteFileExists());
  EXPECT_TRUE(FinishPending());

  e2e::ServeFolder(server_, serverDir_.Path(), {"/a/", "/b/"});
  const size_t cabinetsBefore = CabinetRequests().size();
  const e2e::RunOutcome second = Run();
  EXPECT_EQ(0u, second.initResult);
  ASSERT_TRUE(second.finished) << second.errorCode;
  EXPECT_EQ("", Differences());
  EXPECT_FALSE(FinishPending());
  EXPECT_EQ(cabinetsBefore, CabinetRequests().size());  // a finish fetches lists, no cabinets
  EXPECT_EQ(7u, Run().initResult);
}

// The launcher stops the engine as soon as it sees the end state: the
// deletion list, even a slow one, is applied before that state.
TEST_F(DriverScenarioTest, AStopRightAfterTheEndStateLeavesNoFinishUndone) {
  BuildWithObsoleteFile();
  ServeStalledDeleteList({"/a/"}, 1000);
  const e2e::RunOutcome first = Run();
  ASSERT_TRUE(first.finished) << first.errorCode;
  EXPECT_FALSE(FinishPending());
  EXPECT_FALSE(ObsoleteFileExists());
  EXPECT_EQ(7u, Run().initResult);
  EXPECT_EQ("", Differences());
}

// Closing the launcher while the deletion list is stuck at a silent server
// ends the engine at once, and the finish it leaves is done by the next start.
TEST_F(DriverScenarioTest, AStopWhileTheDeletionListStallsEndsAtOnce) {
  BuildWithObsoleteFile();
  ServeStalledDeleteList({"/a/", "/b/"}, 60000);
  e2e::RunOptions options;
  options.stopWhen = [this] { return server_.RequestCount("/a/delete.ini") > 0; };
  const e2e::RunOutcome first = Run(options);
  EXPECT_TRUE(first.stoppedEarly);
  EXPECT_FALSE(first.finished);
  // The downloader's cancel waits its second; nothing waits for the server.
  EXPECT_LT(first.uninitMs, 5000u);
  EXPECT_TRUE(FinishPending());
  EXPECT_TRUE(ObsoleteFileExists());

  ServeGood();
  const e2e::RunOutcome second = Run();
  ASSERT_TRUE(second.finished) << second.errorCode;
  EXPECT_EQ("", Differences());
  EXPECT_FALSE(FinishPending());
}

// A delta that builds a file of the right size with the wrong bytes passes
// every check until the verification; the file is then healed from its
// normal cabinet before the run may end.
TEST_F(DriverScenarioTest, AWrongFileFoundByTheVerificationIsHealed) {
  Bytes wrong = repo_.InitialTree().at("bin\\engine.dll");
  for (size_t i = 100; i < wrong.size(); i += 1000) wrong[i] ^= 0x5A;
  wrong[7] ^= 1;  // the one byte the real delta leaves alone
  testsupport::DeltaWriter delta;
  delta.Mod(wrong);
  DescribeVersions(repo_, {{"bin\\engine.dll", delta.Take()}});
  Build();
  const e2e::RunOutcome outcome = Run();
  ASSERT_TRUE(outcome.finished) << outcome.errorCode;
  EXPECT_EQ("", Differences());
  EXPECT_EQ((std::vector<std::string>{"/a/101/1D.cab", "/a/101/2D.cab", "/a/103/1D.cab", "/a/101/1N.cab"}),
            CabinetRequests());
  EXPECT_FALSE(FinishPending());
}

// A repair of a current client checks every file the lists above the
// minimal version name and fetches only the cabinets of the damaged ones:
// a flipped byte, a cut file and a missing file.
TEST_F(DriverScenarioTest, ARepairHealsDamagedFilesWithOnlyTheirCabinets) {
  DescribeVersions(repo_);
  Build();
  ASSERT_TRUE(testsupport::WriteTree(clientDir_.Path(), repo_.ExpectedTree()));
  const uint8_t current[4] = {103, 0, 0, 0};
  ASSERT_TRUE(testsupport::WriteFileBytes(clientDir_.Path() + "version.dat", current, 4));
  Bytes flipped = repo_.ExpectedTree().at("data\\a.dat");
  flipped[1234] ^= 0x10;
  Bytes cut = repo_.ExpectedTree().at("data\\b.dat");
  cut.resize(cut.size() / 2);
  ASSERT_TRUE(testsupport::WriteFileBytes(testsupport::ClientPath(clientDir_.Path(), "data\\a.dat"), flipped.data(),
                                          flipped.size()));
  ASSERT_TRUE(
      testsupport::WriteFileBytes(testsupport::ClientPath(clientDir_.Path(), "data\\b.dat"), cut.data(), cut.size()));
  fs::remove(testsupport::ClientPath(clientDir_.Path(), "data\\new\\n.bin"));

  e2e::RunOptions repair;
  repair.flags = 5 | kFlagRepair;
  // The files were written a moment ago; a player's were not.
  CPatchMain::Instance().SetCrcStampStepForTesting(-3'600'000'000'000);
  const e2e::RunOutcome outcome = Run(repair);
  const uint64_t reads = CPatchMain::Instance().CrcReadsForTesting();
  CPatchMain::Instance().SetCrcStampStepForTesting(CFileCrcCache::kStampStepNs);
  EXPECT_EQ(0u, outcome.initResult);
  ASSERT_TRUE(outcome.finished) << outcome.errorCode;
  EXPECT_EQ("", Differences());
  // The check, the heal's walk and the check after it read every file once,
  // and each of the three healed files once more.
  EXPECT_LE(reads, repo_.ExpectedTree().size() + 3);
  EXPECT_EQ((std::vector<std::string>{"/a/101/1N.cab", "/a/101/2N.cab", "/a/103/1N.cab"}), CabinetRequests());
  for (const char* list : {"/a/101/version.list", "/a/102/version.list", "/a/103/version.list"}) {
    EXPECT_EQ(1, server_.RequestCount(list)) << list;
  }
  // Whole again: a second repair fetches no cabinet.
  ASSERT_TRUE(Run(repair).finished);
  EXPECT_EQ(3u, CabinetRequests().size());
}

// nginx as the patch server: a real peer with its own idea of HTTP.
// A file of the servers that fails in one way, and what a run may end in
// then besides success: the init result for the manifest, the error code
// for the others (none for the deletion list, whose failure leaves the
// finish to the next start).
struct MatrixTarget {
  const char* name;
  const char* file;
  bool initFails;
  std::vector<uint32_t> codes;
  // A client file that may stay when the fault is taken for the file's
  // real content (a 404 deletion list is no list, a short one lists less).
  const char* mayRemain = nullptr;
};

struct MatrixFault {
  const char* name;
  std::function<void(testsupport::HttpRoute&)> plan;
};

class FaultMatrixTest : public DriverScenarioTest, public ::testing::WithParamInterface<MatrixTarget> {};

// The sanitizer builds look for memory and thread faults on the paths the
// matrix takes, not for other results: they run three of its faults, the
// native and Windows builds all of them.
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define PATCHER_SANITIZED_BUILD 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define PATCHER_SANITIZED_BUILD 1
#endif
#ifdef PATCHER_SANITIZED_BUILD
constexpr bool kShortMatrix = true;
#else
constexpr bool kShortMatrix = false;
#endif

// Every fault of every server at once ends the run within the bounds (here
// short ones: 500 ms to receive, 1.5 s without data per file) in success or
// the file's own code, and a run against good servers then converges.
TEST_P(FaultMatrixTest, EachFaultEndsInSuccessOrItsCodeAndAGoodServerConverges) {
  const MatrixTarget& target = GetParam();
  BuildWithObsoleteFile();
  std::string good = testsupport::ReadFileText(serverDir_.Path() + target.file);
  for (size_t at = good.find("PORT"); at != std::string::npos; at = good.find("PORT", at)) {
    good.replace(at, 4, std::to_string(server_.Port()));
  }
  const size_t half = good.size() / 2;
  const MatrixFault faults[] = {
      {"dropped connection", [&](testsupport::HttpRoute& r) { r.dropAfter = static_cast<int64_t>(half); }},
      {"stall before the body",
       [](testsupport::HttpRoute& r) {
         r.stallAfter = 0;
         r.stallMs = 60000;
       }},
      {"stall during the body",
       [&](testsupport::HttpRoute& r) {
         r.stallAfter = static_cast<int64_t>(half);
         r.stallMs = 60000;
       }},
      {"404", [](testsupport::HttpRoute& r) { r.status = 404; }},
      {"500", [](testsupport::HttpRoute& r) { r.status = 500; }},
      {"length too long",
       [&](testsupport::HttpRoute& r) {
         r.contentLength = false;
         r.extraHeaders = "Content-Length: " + std::to_string(good.size() + 100) + "\r\n";
       }},
      {"length too short",
       [&](testsupport::HttpRoute& r) {
         r.contentLength = false;
         r.extraHeaders = "Content-Length: " + std::to_string(half) + "\r\n";
       }},
      {"200 to a range",
       [&](testsupport::HttpRoute& r) {
         r.dropAfter = static_cast<int64_t>(half);
         r.dropRequests = 1;
         r.honorRange = false;
       }},
      {"wrong bytes",
       [](testsupport::HttpRoute& r) {
         for (char& c : r.body) c = static_cast<char>(c ^ 0x5A);
       }},
      {"endless head", [](testsupport::HttpRoute& r) { r.endlessHead = true; }},
  };
  const bool resumed = std::string(target.file).find(".cab") != std::string::npos;
  for (const MatrixFault& fault : faults) {
    SCOPED_TRACE(fault.name);
    const std::string name = fault.name;
    if (!resumed && name == "200 to a range") continue;
    if (kShortMatrix && name != "stall during the body" && name != "length too short" && name != "endless head") continue;
    // Each fault meets the client as it was before any run.
    fs::remove_all(clientDir_.Path());
    ASSERT_TRUE(repo_.WriteClient(clientDir_.Path())) << repo_.Error();
    ServeGood();
    testsupport::HttpRoute route;
    route.body = good;
    fault.plan(route);
    for (const std::string& prefix : prefixes_) server_.Set(prefix + target.file, route);
    SetSocketTimeouts(2000, 500);
    SetFetchNoProgressLimit(1500);
    const e2e::RunOutcome outcome = Run();
    SetSocketTimeouts(kDefaultConnectTimeoutMs, kDefaultReceiveTimeoutMs);
    SetFetchNoProgressLimit(kDefaultNoProgressLimitMs);
    EXPECT_FALSE(outcome.timedOut);
    const uint32_t code = target.initFails ? outcome.initResult : outcome.errorCode;
    const bool known = std::find(target.codes.begin(), target.codes.end(), code) != target.codes.end();
    EXPECT_TRUE(outcome.finished || (code != 0 && known)) << "init " << outcome.initResult << " error " << outcome.errorCode;
    if (outcome.initResult != 0) {
      // Nothing was begun: the client is as it was.
      EXPECT_EQ(100, testsupport::ReadClientVersion(clientDir_.Path()));
      continue;
    }
    if (!outcome.finished || FinishPending()) {
      ServeGood();
      const e2e::RunOutcome again = Run();
      EXPECT_TRUE(again.finished) << "init " << again.initResult << " error " << again.errorCode;
    }
    std::string differences = Differences();
    if (target.mayRemain != nullptr) {
      const size_t at = differences.find(std::string("unexpected: ") + target.mayRemain + " ");
      if (at != std::string::npos) differences.erase(at, differences.find('\n', at) + 1 - at);
    }
    EXPECT_EQ("", differences);
    EXPECT_FALSE(FinishPending());
  }
}

INSTANTIATE_TEST_SUITE_P(ServerFiles, FaultMatrixTest,
                         ::testing::Values(MatrixTarget{"manifest", "version.ini", true, {3}},
                                           MatrixTarget{"list", "101/version.list", false, {9, 10, 21}},
                                           MatrixTarget{"cabinet", "101/1D.cab", false, {3, 4}},
                                           MatrixTarget{"deletion_list", "delete.ini", false, {}, "old\\obsolete.txt"}),
                         [](const ::testing::TestParamInfo<MatrixTarget>& info) { return std::string(info.param.name); });

TEST_F(DriverScenarioTest, PatchesFromNginx) {
  if (!testsupport::NginxServer::Available()) GTEST_SKIP() << "nginx runs only beside the native build";
  DescribeVersions(repo_);
  testsupport::NginxServer nginx;
  ASSERT_TRUE(nginx.Start(serverDir_.Path(), {"/a/", "/b/", "/c/"})) << nginx.Error();
  repo_.SetServers({nginx.Url("/a"), nginx.Url("/b"), nginx.Url("/c")});
  repo_.SetDeleteList({});
  ASSERT_TRUE(repo_.WriteServer(serverDir_.Path())) << repo_.Error();
  ASSERT_TRUE(repo_.WriteClient(clientDir_.Path())) << repo_.Error();
  e2e::RunOptions options;
  options.timeoutMs = 60000;
  const e2e::RunOutcome outcome = e2e::RunPatch(clientDir_.Path(), nginx.Url("/a/version.ini"), options);
  ASSERT_TRUE(outcome.finished) << outcome.errorCode;
  EXPECT_EQ("", Differences());
  EXPECT_EQ(103, testsupport::ReadClientVersion(clientDir_.Path()));
}

}  // namespace
