// Repositories made by the publisher's builder, served by its HTTP server
// and taken by the real engine: clients at every version end byte-exact at
// the latest one; the same inputs give the same repository.
#include <gtest/gtest.h>

#include <random>

#include "engine/patch_list.h"
#include "publish/http_serving.h"
#include "publish/repo_builder.h"
#include "tests/e2e/engine_run.h"
#include "tests/support/patch_repo.h"
#include "tests/support/test_support.h"

using testsupport::Bytes;
using testsupport::FileTree;

namespace {

Bytes Random(size_t size, uint32_t seed) { return testsupport::SeededBytes(size, seed); }

Bytes Text(const std::string& text) { return testsupport::TextBytes(text); }

Bytes Edited(Bytes data, size_t at, const Bytes& insert, size_t remove) {
  data.erase(data.begin() + static_cast<ptrdiff_t>(at), data.begin() + static_cast<ptrdiff_t>(at + remove));
  data.insert(data.begin() + static_cast<ptrdiff_t>(at), insert.begin(), insert.end());
  return data;
}

// Three versions of a small client. From 100 to 101 the executable changes
// in place, the pack grows, a text changes, "sound\\" is renamed "audio\\"
// (a section of whole files only), a file disappears and the empty file
// gets bytes; from 101 to 102 the pack shrinks, the executable grows, the
// file becomes empty again and new files appear.
std::vector<FileTree> Versions() {
  FileTree a;
  a["bin\\game.exe"] = Random(200000, 1);
  a["data\\pack.pak"] = Random(300000, 2);
  a["data\\text.txt"] = Text(std::string(20000, 'x') + "version one\r\n");
  a["sound\\a.wav"] = Random(50000, 3);
  a["sound\\b.wav"] = Random(40000, 4);
  a["old\\legacy.bin"] = Random(1000, 5);
  a["empty.txt"] = {};
  FileTree b = a;
  b["bin\\game.exe"][1000] ^= 0x55;
  b["bin\\game.exe"][150000] = 0xA7;
  b["data\\pack.pak"] = Edited(a["data\\pack.pak"], 100000, Random(30000, 6), 0);
  b["data\\text.txt"] = Text(std::string(20000, 'x') + "version two\r\n");
  b["audio\\a.wav"] = b["sound\\a.wav"];
  b["audio\\b.wav"] = b["sound\\b.wav"];
  b.erase("sound\\a.wav");
  b.erase("sound\\b.wav");
  b.erase("old\\legacy.bin");
  b["empty.txt"] = Text("no longer empty");
  FileTree c = b;
  c["data\\pack.pak"] = Edited(b["data\\pack.pak"], 5000, {}, 60000);
  c["bin\\game.exe"] = Edited(b["bin\\game.exe"], 200000, Random(9000, 7), 0);
  c["empty.txt"] = {};
  c["new\\fresh.bin"] = Random(70000, 8);
  c["readme.txt"] = Text("Halvrecht\r\n");
  return {a, b, c};
}

class PublishRoundTripTest : public ::testing::Test {
 protected:
  void SetUp() override {
    versions_ = Versions();
    for (size_t i = 0; i < versions_.size(); ++i) {
      ASSERT_TRUE(testsupport::WriteTree(Tree(i), versions_[i]));
    }
  }

  std::string Tree(size_t index) const { return dir_ / ("tree" + std::to_string(index)); }

  // Builds versions 101 and 102 into `repo`.
  void Build(const std::string& repo, const std::vector<publish::ManifestServer>& servers) {
    for (size_t i = 1; i < versions_.size(); ++i) {
      publish::BuildOptions options;
      options.fromTree = Tree(i - 1);
      options.toTree = Tree(i);
      options.repo = repo;
      options.version = static_cast<uint32_t>(100 + i);
      options.sectionBytes = 128 * 1024;
      options.jobs = 2;
      options.servers = i == 1 ? servers : std::vector<publish::ManifestServer>();
      publish::BuildSummary summary;
      std::string error;
      ASSERT_EQ(publish::kBuildOk, publish::BuildVersion(options, &summary, &error)) << error;
      summaries_.push_back(summary);
    }
  }

  std::vector<FileTree> versions_;
  std::vector<publish::BuildSummary> summaries_;
  testsupport::TempDir dir_;
};

TEST_F(PublishRoundTripTest, ClientsAtEveryVersionEndExactAtTheLatest) {
  publish::StaticHttpServer server(dir_ / "repo");
  std::string error;
  ASSERT_TRUE(server.Start(0, "127.0.0.1", &error)) << error;
  const std::string base = "http://127.0.0.1:" + std::to_string(server.Port());
  ASSERT_NO_FATAL_FAILURE(Build(dir_ / "repo", {{base, 1}}));

  // What the builder chose: deltas (the same-size ones in place), whole files,
  // the renamed folder in a section of its own, two deletions.
  ASSERT_EQ(2u, summaries_.size());
  EXPECT_EQ(4u, summaries_[0].changed);
  EXPECT_EQ(2u, summaries_[0].added);
  EXPECT_EQ(3u, summaries_[0].deleted);
  EXPECT_LE(2u, summaries_[0].deltas);
  EXPECT_EQ(2u, summaries_[0].inPlaceDeltas);
  EXPECT_LE(3u, summaries_[0].sections);
  PatchList list;
  ExpectedCrcMap expected;
  ASSERT_EQ(0u, ReadPatchListFile(dir_ / "repo/101/version.list", 101, list, expected));
  ASSERT_FALSE(list.sectionFiles.empty());
  for (const PatchFileInfo& file : list.sectionFiles[0]) {
    EXPECT_EQ(0, file.name.rfind("audio\\", 0)) << file.name;
    EXPECT_EQ(2, file.btFileType) << file.name;
  }

  for (uint32_t start : {100u, 101u}) {
    SCOPED_TRACE("client at version " + std::to_string(start));
    const std::string client = dir_ / ("client" + std::to_string(start) + "/");
    testsupport::PatchRepoBuilder layout(start, versions_[start - 100]);
    ASSERT_TRUE(layout.WriteClient(client)) << layout.Error();
    const e2e::RunOutcome outcome = e2e::RunPatch(client, base + "/version.ini", e2e::RunOptions());
    ASSERT_EQ(0u, outcome.initResult);
    EXPECT_EQ(0u, outcome.errorCode);
    EXPECT_TRUE(outcome.finished);
    EXPECT_EQ("", testsupport::CompareClientTree(client, versions_[2]));
    EXPECT_EQ(102, testsupport::ReadClientVersion(client));
  }
}

TEST_F(PublishRoundTripTest, TheSameInputsGiveTheSameRepository) {
  ASSERT_NO_FATAL_FAILURE(Build(dir_ / "one", {}));
  summaries_.clear();
  ASSERT_NO_FATAL_FAILURE(Build(dir_ / "two", {}));
  const FileTree one = testsupport::ReadTree(dir_ / "one");
  EXPECT_TRUE(one.count("version.ini") && one.count("delete.ini") && one.count("102\\1D.cab"));
  EXPECT_TRUE(one == testsupport::ReadTree(dir_ / "two"));
}

}  // namespace
