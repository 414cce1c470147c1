// halvrecht-launcher as a player or a script runs it, on a copy of the
// shared sample client against a loopback server: natively, and as a
// Windows program under Wine.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

#include "launcher/patch_wrapper.h"
#include "launcher/startup.h"
#include "platform/named_event.h"
#include "platform/process_launch.h"
#include "platform/system_info.h"
#include "tests/e2e/engine_run.h"
#include "tests/launcher/launcher_test_support.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;

// A path of the build as this test binary's file calls take it.
std::string BuiltFile(std::string path) {
  if (plat::IsWindowsSystem() && !path.empty() && path[0] == '/') path = "Z:" + path;
  return path;
}

// The value of `"name":` in a JSON line, or -1.
double JsonNumber(const std::string& line, const std::string& name) {
  const size_t at = line.find("\"" + name + "\":");
  return at == std::string::npos ? -1.0 : std::strtod(line.c_str() + at + name.size() + 3, nullptr);
}

// Lines without their CR LF or LF ends (Wine's console output has CR LF).
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line.substr(0, line.find('\r')));
  return lines;
}

class ConsoleRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    launchertest::IsolateFolders();
    ASSERT_TRUE(server_.Started());
    scenario_ = testsupport::TestDataDir() + "e2e/basic/";
    e2e::ServeFolder(server_, scenario_ + "server", {"/a/", "/b/", "/c/"});
    testsupport::CopyTree(scenario_ + "sandbox/client", client_.Path());
    WriteSettings(server_.Url("/a/version.ini"));
    // The native launcher hands a Windows program to this runner.
    plat::SetEnvironmentValue("HALVRECHT_RUNNER", standIn_);
  }

  void WriteSettings(const std::string& versionUrl) {
    ASSERT_TRUE(testsupport::WriteFileText(client_ / "localinfo.dat", "[URL]\nVersionUrl=" + versionUrl + "\n"));
  }

  struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
  };

  void Start(plat::ChildProcess& launcher, const std::vector<std::string>& arguments, const std::string& name) {
    std::vector<std::string> argv = {launcherPath_};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    ASSERT_TRUE(launcher.Start(argv, client_.Path(), logs_ / (name + ".out"), logs_ / (name + ".err")));
  }

  Outcome Finish(plat::ChildProcess& launcher, const std::string& name) {
    Outcome outcome;
    EXPECT_TRUE(launcher.Wait(180000, &outcome.status)) << name << " did not end";
    outcome.out = testsupport::ReadFileText(logs_ / (name + ".out"));
    outcome.err = testsupport::ReadFileText(logs_ / (name + ".err"));
    return outcome;
  }

  Outcome Run(const std::vector<std::string>& arguments, const std::string& name) {
    plat::ChildProcess launcher;
    Start(launcher, arguments, name);
    return Finish(launcher, name);
  }

  // The stand-in game's record, once it has written one.
  std::string WaitForRecord() {
    const std::string record = client_ / "stand_in_record.txt";
    for (int i = 0; i < 300 && !testsupport::PathExists(record); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return testsupport::ReadFileText(record);
  }

  // The client folder as the stand-in prints it: no trailing separator.
  std::string ClientFolder() const {
    std::string folder = fs::path(client_.Path()).lexically_normal().string();
    while (!folder.empty() && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
    return folder;
  }

  testsupport::HttpTestServer server_;
  std::string scenario_;
  testsupport::TempDir client_;
  testsupport::TempDir logs_;
  const std::string launcherPath_ = BuiltFile(LAUNCHER_PATH);
  const std::string standIn_ = BuiltFile(STAND_IN_PATH);
};

TEST_F(ConsoleRunTest, PatchesTheSampleAndStartsTheGame) {
  // Hold the patch run back, so a second copy surely meets the first.
  std::unique_ptr<plat::NamedEvent> wait;
  ASSERT_EQ(plat::NamedEvent::Result::kCreated, plat::NamedEvent::Create(kWaitEventName, &wait));
  // Under Wine the patched "halvrecht.exe" of the sample is no real program;
  // the Windows start is checked below with the stand-in in its place.
  std::vector<std::string> arguments = {"--json"};
  if (plat::IsWindowsSystem()) arguments.push_back("--no-launch");
  plat::ChildProcess first;
  Start(first, arguments, "first");
  for (int i = 0; i < 600 && !plat::NamedEventExists(kSingleInstanceEventName); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  const Outcome second = Run({}, "second");
  EXPECT_EQ(1, second.status);
  EXPECT_NE(std::string::npos, second.err.find("Patcher is already running.")) << second.err;
  wait.reset();

  const Outcome run = Finish(first, "first");
  ASSERT_EQ(0, run.status) << run.err << run.out.substr(run.out.size() > 2000 ? run.out.size() - 2000 : 0);
  EXPECT_EQ("", e2e::CompareTree(client_.Path(), e2e::ReadTreeManifest(scenario_ + "expected.tsv", "client/"),
                                 {"version.ini", "localinfo.dat", "backup/", "Log/", "stand_in_record.txt"}));
  EXPECT_EQ(103, e2e::ReadVersionDat(client_.Path()));

  // What a person watches: the version being worked on and a total that
  // never goes back, ending at "Ready to Play!".
  double total = 0;
  double bar = 0;
  double version = 0;
  int progress = 0;
  std::vector<std::string> lines = Lines(run.out);
  for (const std::string& line : lines) {
    if (line.find("\"event\":\"progress\"") == std::string::npos) continue;
    ++progress;
    EXPECT_GE(JsonNumber(line, "total"), total) << line;
    EXPECT_GE(JsonNumber(line, "bar"), bar) << line;
    EXPECT_GE(JsonNumber(line, "version"), version) << line;
    total = JsonNumber(line, "total");
    bar = JsonNumber(line, "bar");
    version = JsonNumber(line, "version");
    if (JsonNumber(line, "kind") == 19) {
      EXPECT_GE(version, 101) << line;
    }
  }
  EXPECT_GT(progress, 20);
  EXPECT_EQ(103, version);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ("{\"event\":\"ready\",\"status\":\"Ready to Play!\",\"bar\":100}", lines[lines.size() - 2]);
  EXPECT_EQ("{\"event\":\"exit\",\"status\":0}", lines.back());

  if (!plat::IsWindowsSystem()) {
    // "halvrecht.exe" is a Windows program: it went to the runner.
    const std::string record = WaitForRecord();
    EXPECT_NE(std::string::npos, record.find("halvrecht.exe -a FF\n")) << record;
    EXPECT_NE(std::string::npos, record.find("folder " + ClientFolder() + "\n")) << record;
    fs::remove(client_ / "stand_in_record.txt");
  }

  // A current client: the game itself starts, from the client folder.
  fs::copy_file(standIn_, client_ / "halvrecht.exe", fs::copy_options::overwrite_existing);
  const Outcome again = Run({}, "again");
  EXPECT_EQ(0, again.status) << again.err;
  EXPECT_NE(std::string::npos, again.out.find("Ready to Play!")) << again.out;
  const std::string record = WaitForRecord();
  EXPECT_NE(std::string::npos, record.find("\narguments -a FF\n")) << record;
  EXPECT_NE(std::string::npos, record.find("folder " + ClientFolder() + "\n")) << record;

  // A current client with a file gone: --repair brings it back.
  fs::remove(client_ / "data/maps/map01.dat");
  const Outcome repaired = Run({"--repair", "--no-launch"}, "repair");
  EXPECT_EQ(0, repaired.status) << repaired.err;
  EXPECT_EQ("", e2e::CompareTree(client_.Path(), e2e::ReadTreeManifest(scenario_ + "expected.tsv", "client/"),
                                 {"version.ini", "localinfo.dat", "backup/", "Log/", "stand_in_record.txt"}));
}

TEST_F(ConsoleRunTest, AWrongManifestUrlStopsWithItsText) {
  WriteSettings(server_.Url("/missing/version.ini"));
  const Outcome run = Run({}, "wrong");
  EXPECT_EQ(3, run.status);
  EXPECT_NE(std::string::npos, run.err.find("Failed to download version.ini.")) << run.err;
  EXPECT_EQ(100, e2e::ReadVersionDat(client_.Path()));

  const Outcome usage = Run({"--bogus"}, "usage");
  EXPECT_EQ(64, usage.status);
  EXPECT_NE(std::string::npos, usage.err.find("usage: halvrecht-launcher")) << usage.err;
}

}  // namespace
