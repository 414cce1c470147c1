#include "engine/client_check.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "download/crc32.h"
#include "engine/patch_entry.h"
#include "engine/patch_list.h"
#include "engine/patch_main.h"
#include "platform/ansi_text.h"
#include "platform/file_system.h"
#include "platform/message_sink.h"
#include "platform/process_launch.h"
#include "platform/process_paths.h"
#include "tests/engine/log_capture.h"
#include "tests/support/http_test_server.h"
#include "tests/support/patch_repo.h"
#include "tests/support/test_support.h"

using testsupport::PathExists;
using testsupport::TempDir;
using testsupport::WriteFileText;

namespace {

class ClientCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    engine().ResetForTesting();
    // The backup folder inside the client, as in a real run, one level deeper
    // so the client folder has room for a sibling outside it.
    client_ = root_.Path() + "client/";
    ASSERT_TRUE(plat::CreateFolder(client_));
    PatchStartParams params{};
    params.ownerWindow = loop_.Handle();
    params.progressMessage = 2024;
    params.errorMessage = 2025;
    snprintf(params.workingFolder, sizeof params.workingFolder, "%s", client_.c_str());
    PatchStartResults results{};
    engine().Init(params, &results);  // no manifest: only the folders are set
  }
  void TearDown() override { engine().ResetForTesting(); }

  static CPatchMain& engine() { return CPatchMain::Instance(); }

  std::vector<uintptr_t> ProgressKinds() {
    std::vector<uintptr_t> kinds;
    plat::WindowMessage m{};
    while (loop_.Get(&m, 20)) {
      if (m.message == 2024) kinds.push_back(m.wParam);
    }
    return kinds;
  }

  // Engine names use "\\"; the test writes through the C++ library, which
  // needs the system's separator.
  std::string Write(const std::string& name, const std::string& text) {
    std::string native = name;
    for (char& c : native) {
      if (c == '\\') c = '/';
    }
    EXPECT_TRUE(WriteFileText(client_ + native, text));
    return GetFileCrcText(client_ + name);
  }

  TempDir root_;
  std::string client_;
  plat::MessageLoop loop_;
};

TEST_F(ClientCheckTest, AnEmptyMapPasses) {
  LogCapture log;
  EXPECT_EQ(0u, engine().CheckSumCheck());
  EXPECT_EQ((std::vector<uintptr_t>{10, 12}), ProgressKinds());
  EXPECT_TRUE(log.Contains("CRC Check is done as well"));
}

TEST_F(ClientCheckTest, TheFirstMismatchEndsTheCheckWithTwenty) {
  LogCapture log;
  ASSERT_TRUE(plat::CreateFolder(client_ + "data"));
  ExpectedCrcMap& map = engine().ExpectedCrcsForTesting();
  map["a.txt"] = Write("a.txt", "alpha");
  map["b.txt"] = "0x12345678";
  map["data\\c.txt"] = Write("data\\c.txt", "gamma");
  EXPECT_EQ(20u, engine().CheckSumCheck());
  EXPECT_TRUE(log.Contains("[8]14:03:27 It's different CRC!, File [" + client_ + "b.txt]"));
  EXPECT_FALSE(log.Contains("FileName [" + client_ + "data\\c.txt]"));
  EXPECT_FALSE(log.Contains("CRC Check is done as well"));

  map["b.txt"] = Write("b.txt", "beta");
  EXPECT_EQ(0u, engine().CheckSumCheck());
  // A missing file has no CRC and fails, also against a list that gives
  // it none.
  for (const char* crc : {"0x0badf00d", "0xffffffff", "0xFFFFFFFF"}) {
    SCOPED_TRACE(crc);
    map["gone.txt"] = crc;
    EXPECT_EQ(20u, engine().CheckSumCheck());
  }
}

TEST_F(ClientCheckTest, UpperCaseCrcTextsMatch) {
  std::string crc = Write("a.txt", "alpha");
  std::transform(crc.begin(), crc.end(), crc.begin(), [](char c) { return static_cast<char>(toupper(c)); });
  engine().ExpectedCrcsForTesting()["a.txt"] = crc;
  EXPECT_EQ(0u, engine().CheckSumCheck());
}

// A Korean name whose second byte is an ASCII capital ("쌰" is 9B 58 in
// code page 949): the key the list gives it must still name the file.
TEST_F(ClientCheckTest, Cp949NamesAreCheckedUnderTheirOwnName) {
  if (plat::AnsiCodePage() != 949) {
    GTEST_SKIP() << "the system code page is " << plat::AnsiCodePage()
                 << "; the run of this binary with LC_ALL=ko_KR.UTF-8 (ctest *_cp949) covers it";
  }
  const std::string folder = "\xB8\xCA";  // 맵
  const std::string name = folder + "\\\x9B\x58.PAK";
  ASSERT_TRUE(plat::CreateFolder(client_ + folder));
  testsupport::PatchListSection section;
  testsupport::PatchListRecord record;
  record.name = name;
  record.newCrc = Write(name, "korean");
  record.type = kFileTypeWhole;
  section.records.push_back(record);
  testsupport::PatchListData data;
  data.sections.push_back(section);
  const testsupport::Bytes bytes = testsupport::WritePatchList(data);
  ASSERT_TRUE(testsupport::WriteFileBytes(root_.Path() + "version.list", bytes.data(), bytes.size()));
  PatchList list;
  ASSERT_EQ(0u, ReadPatchListFile(root_.Path() + "version.list", 1, list, engine().ExpectedCrcsForTesting()));
  LogCapture log;
  EXPECT_EQ(0u, engine().CheckSumCheck());
  EXPECT_TRUE(log.Contains("CRC Check is done as well"));
}

TEST_F(ClientCheckTest, AStoppedEngineEndsTheCheckWithTwo) {
  engine().ExpectedCrcsForTesting()["a.txt"] = Write("a.txt", "alpha");
  PLV5_Uninit();
  EXPECT_EQ(2u, engine().CheckSumCheck());
}

TEST_F(ClientCheckTest, TheClientListingNeedsTheVerboseBit) {
  ASSERT_TRUE(plat::CreateFolder(client_ + "sub"));
  const std::string crc = Write("sub\\x.txt", "listed");
  {
    LogCapture log;
    EXPECT_EQ(0u, engine().CheckSumCheck());
    EXPECT_FALSE(log.Contains("==Client CRC List=="));
  }
  engine().SetFlagsForTesting(kFlagLogEnabled | kFlagLogVerbose);
  LogCapture log;
  EXPECT_EQ(0u, engine().CheckSumCheck());
  EXPECT_TRUE(log.Contains("==Client CRC List=="));
  EXPECT_TRUE(log.Contains("FILE [sub\\x.txt] CRC [" + crc + "]") || log.Contains("FILE [sub/x.txt] CRC [" + crc + "]"));
}

TEST(CollectFiles, SkipsDotAndDotPlusOneCharacter) {
  TempDir dir;
  for (const char* name : {".a", ".ab", "plain.txt"}) ASSERT_TRUE(WriteFileText(dir / name, "x"));
  ASSERT_TRUE(plat::CreateFolder(dir / "sub"));
  ASSERT_TRUE(WriteFileText(dir / "sub/deep.txt", "x"));
  std::vector<std::string> files;
  CollectFiles(dir.Path(), files, "*.*", true);
  std::vector<std::string> names;
  for (const std::string& f : files) names.push_back(f.substr(dir.Path().size()));
  std::sort(names.begin(), names.end());
  ASSERT_EQ(3u, names.size());
  EXPECT_EQ(".ab", names[0]);
  EXPECT_EQ("plain.txt", names[1]);
  EXPECT_TRUE(names[2] == "sub\\deep.txt" || names[2] == "sub/deep.txt") << names[2];

  files.clear();
  CollectFiles(dir.Path(), files, "*.*", false);
  EXPECT_EQ(3u, files.size());  // the folder itself is listed without recursion
}

TEST_F(ClientCheckTest, TheDeletionListDeletesOnlySafeListedFiles) {
  testsupport::HttpTestServer server;
  ASSERT_TRUE(server.Started());
  testsupport::HttpRoute route;
  route.body =
      "[DELETE]\r\nFile1=old\\gone.pak\r\nFile3=not-reached.txt\r\n";
  server.Set("/s/delete.ini", route);
  engine().SetDownloadUrlsForTesting({server.Url("/s")});
  ASSERT_TRUE(plat::CreateFolder(client_ + "old"));
  Write("old\\gone.pak", "obsolete");
  ASSERT_TRUE(plat::SetAttributes(client_ + "old\\gone.pak", plat::kAttrReadOnly));
  Write("not-reached.txt", "keep");
  LogCapture log;
  engine().ProcessDeleteList();
  EXPECT_FALSE(PathExists(client_ + "old/gone.pak"));
  EXPECT_TRUE(PathExists(client_ + "old"));  // folders stay
  EXPECT_TRUE(PathExists(client_ + "not-reached.txt"));
  EXPECT_TRUE(log.Contains("Deleted File [" + client_ + "old\\gone.pak]"));
}

// Clients patched side by side on one machine fetch their deletion lists
// at the same time: a list in the shared temporary folder (as every run
// once fetched it there) is neither applied nor removed, and what a run
// that died left in this client's download folder is replaced.
TEST_F(ClientCheckTest, EachClientFetchesTheDeletionListIntoItsOwnFolder) {
  const std::string others = "[DELETE]\r\nFile1=keep.txt\r\n";
  const std::string shared = plat::TempFolder() + "delete.ini";
  ASSERT_TRUE(WriteFileText(shared, others));
  ASSERT_TRUE(plat::CreateFolder(client_ + "backup"));
  ASSERT_TRUE(WriteFileText(client_ + "backup/delete.ini", "[DELETE]\r\nFile1=stale.txt\r\n"));
  testsupport::HttpTestServer server;
  ASSERT_TRUE(server.Started());
  testsupport::HttpRoute route;
  route.body = "[DELETE]\r\nFile1=gone.txt\r\n";
  server.Set("/s/delete.ini", route);
  engine().SetDownloadUrlsForTesting({server.Url("/s")});
  Write("gone.txt", "obsolete");
  Write("keep.txt", "another client's list names me");
  Write("stale.txt", "only a dead run's list names me");
  EXPECT_TRUE(engine().ProcessDeleteList());
  EXPECT_FALSE(PathExists(client_ + "gone.txt"));
  EXPECT_TRUE(PathExists(client_ + "keep.txt"));
  EXPECT_TRUE(PathExists(client_ + "stale.txt"));
  EXPECT_EQ(others, testsupport::ReadFileText(shared));
  EXPECT_FALSE(PathExists(client_ + "backup/delete.ini"));
  plat::RemoveFile(shared);
}

TEST_F(ClientCheckTest, TheDeletionListNeverReachesOutsideTheClient) {
  testsupport::HttpTestServer server;
  ASSERT_TRUE(server.Started());
  ASSERT_TRUE(WriteFileText(root_ / "outside.txt", "precious"));
  const std::string absolute = root_.Path() + "outside.txt";
  testsupport::HttpRoute route;
  route.body = "[DELETE]\r\nFile1=..\\outside.txt\r\nFile2=sub/../../outside.txt\r\nFile3=" + absolute +
               "\r\nFile4=C:\\outside.txt\r\nFile5=missing.txt\r\nFile6=ok.txt\r\n";
  server.Set("/s/delete.ini", route);
  engine().SetDownloadUrlsForTesting({server.Url("/s")});
  Write("ok.txt", "obsolete");
  LogCapture log;
  engine().ProcessDeleteList();
  EXPECT_EQ("precious", testsupport::ReadFileText(root_ / "outside.txt"));
  EXPECT_FALSE(PathExists(client_ + "ok.txt"));
  EXPECT_TRUE(log.Contains("Deleted File [" + client_ + "missing.txt]"));
  EXPECT_TRUE(log.Contains("[8]14:03:27 Refused to delete a file outside the client : ..\\outside.txt"));
  EXPECT_FALSE(log.Contains("Deleted File [" + client_ + "..\\outside.txt]"));
}

TEST_F(ClientCheckTest, AMissingDeletionListIsNoError) {
  std::string deadUrl;
  {
    // A port that was just free: nothing listens there any more.
    testsupport::HttpTestServer server;
    ASSERT_TRUE(server.Started());
    deadUrl = server.Url("/s");
  }
  engine().SetDownloadUrlsForTesting({deadUrl});
  LogCapture log;
  // Not an error, but still to do: a later start tries again.
  EXPECT_FALSE(engine().ProcessDeleteList());
  EXPECT_TRUE(log.Contains("[1]14:03:27 Failed to download file : delete.ini"));
  EXPECT_TRUE(ProgressKinds().empty());
}

// Whether the list counts as applied decides whether a later start must
// try it again: only a list read whole, or a server saying it has none.
TEST_F(ClientCheckTest, TheDeletionListIsDoneOnlyWhenReadOrAbsent) {
  struct Case {
    const char* what;
    int status;
    const char* body;
    bool applied;
    bool deleted;
  };
  const Case cases[] = {
      {"a list", 200, "[DELETE]\r\nFile1=old.pak\r\n", true, true},
      {"an empty list", 200, "[Delete]\r\n", true, false},
      {"no list on the server", 404, "", true, false},
      {"a server error", 503, "", false, false},
      {"an error page", 200, "<html><body>busy</body></html>", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testsupport::HttpTestServer server;
    ASSERT_TRUE(server.Started());
    testsupport::HttpRoute route;
    route.status = c.status;
    route.body = c.body;
    server.Set("/s/delete.ini", route);
    engine().SetDownloadUrlsForTesting({server.Url("/s")});
    Write("old.pak", "obsolete");
    EXPECT_EQ(c.applied, engine().ProcessDeleteList());
    EXPECT_EQ(c.deleted, !PathExists(client_ + "old.pak"));
  }
}

// The engine's version records and the launcher's own settings outlive any
// list: without them no later start could patch the client.
TEST_F(ClientCheckTest, TheDeletionListSparesThePatchersOwnFiles) {
  testsupport::HttpTestServer server;
  ASSERT_TRUE(server.Started());
  testsupport::HttpRoute route;
  route.body = "[DELETE]\r\nFile1=version.dat\r\nFile2=Version.INI\r\nFile3=LocalInfo.dat\r\n"
               "File4=data\\old.version.dat\r\nFile5=gone.pak\r\n";
  server.Set("/s/delete.ini", route);
  engine().SetDownloadUrlsForTesting({server.Url("/s")});
  ASSERT_TRUE(plat::CreateFolder(client_ + "data"));
  for (const char* name : {"version.dat", "version.ini", "localinfo.dat", "data\\old.version.dat", "gone.pak"}) {
    Write(name, "x");
  }
  testsupport::ScopedCurrentDir inClient(client_);
  LogCapture log;
  EXPECT_TRUE(engine().ProcessDeleteList());
  for (const char* kept : {"version.dat", "version.ini", "localinfo.dat", "data/old.version.dat"}) {
    EXPECT_TRUE(PathExists(client_ + kept)) << kept;
  }
  EXPECT_FALSE(PathExists(client_ + "gone.pak"));
  EXPECT_TRUE(log.Contains("[8]14:03:27 Refused to delete a file the patcher needs : version.dat"));
  EXPECT_TRUE(log.Contains("[8]14:03:27 Refused to delete a file the patcher needs : LocalInfo.dat"));
}

}  // namespace
