// The crash harness: `patchtool patch` killed with SIGKILL at random
// moments of real runs, then started again until a run ends by itself.
// Every trial must converge on the exact client the servers describe.
//
// usage: crash_harness PATCHTOOL [--kills N] [--seed S]
//
// Two repositories take turns: the shared sample ("e2e/basic") and one made
// by the tests' repository builder (deltas applied in place and in memory,
// whole files, a new folder, four versions, a deletion list). The server
// sends bodies slowly, 16 KiB every few milliseconds, so that downloads
// take their share of a run. A trial starts from a fresh client and kills
// one to three runs, each at a moment drawn uniformly over the length of an
// uninterrupted run (measured first), so the kills fall on the start, the
// lists, downloads, extraction, patching, commits, the verification and the
// finish. Then it checks that the next run ends with status 0 and leaves
// the client byte-exact (every file of the final tree and no other but the
// engine's own), "version.dat" at the latest version, the deletion list
// applied, no finish pending, a further start finding the client current,
// and nothing changed beside the client (its temporary folder empty again).
//
// N kills in all (30 by default, the CI mode; the long campaign uses 300 or
// more). The summary counts the kills by the phase that the run's verbose
// log shows last. Exit status 0 when every trial converged. It kills with
// SIGKILL (TerminateProcess in the Windows builds, where it is built but not
// run).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/process_launch.h"
#include "tests/e2e/engine_run.h"
#include "tests/support/http_test_server.h"
#include "tests/support/patch_repo.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using testsupport::Bytes;
using testsupport::FileTree;

namespace {

constexpr uint32_t kChunkDelayMs = 3;
constexpr int kFinalRunTimeoutMs = 180000;

struct Scenario {
  std::string name;
  std::string serverFolder;  // served at /a/, /b/ and /c/
  uint32_t latest = 0;
  std::function<bool(const std::string& root)> writeClient;  // into root + "client/"
  std::function<std::string(const std::string& client)> differences;
  int runMs = 0;  // an uninterrupted run, measured before the trials
};

struct Tally {
  int trials = 0;
  int kills = 0;
  int endedBeforeKill = 0;
  std::map<std::string, int> killsByScenario;
  std::map<std::string, int> killsByPhase;
  std::vector<std::string> failures;
};

// ------------------------------------------------------------ the log

// What a run writes to the client's log, read as it grows (the verbose log
// has one file per hour).
class LogTail {
 public:
  explicit LogTail(const std::string& client) : folder_(client + "Log") {
    Read();
    text_.clear();
  }

  // Reads what was appended since the last call; true when there was some.
  bool Read() {
    bool grew = false;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder_, ec)) {
      const std::string path = entry.path().string();
      const uint64_t size = entry.file_size(ec);
      uint64_t& offset = offsets_[path];
      if (ec || size <= offset) continue;
      std::ifstream in(path, std::ios::binary);
      in.seekg(static_cast<std::streamoff>(offset));
      std::string piece(size - offset, '\0');
      in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
      piece.resize(static_cast<size_t>(in.gcount()));
      offset += piece.size();
      text_ += piece;
      grew = grew || !piece.empty();
    }
    return grew;
  }
  const std::string& Text() const { return text_; }
  std::string LastLine() const {
    std::string text = text_;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    const size_t start = text.rfind('\n');
    return start == std::string::npos ? text : text.substr(start + 1);
  }

 private:
  std::string folder_;
  std::map<std::string, uint64_t> offsets_;
  std::string text_;
};

// ------------------------------------------------------------ processes

// When to kill a run: a moment after its start, or a moment after its log
// first shows a text.
struct KillPlan {
  int afterMs = -1;     // -1: never (unless a mark is given)
  std::string mark;     // kill markDelayMs after this text appears
  int markDelayMs = 0;
};

struct RunResult {
  bool killed = false;
  int status = -1;       // exit status when not killed
  std::string lastLine;  // the last line the run logged
};

// Runs patchtool on the client with the verbose log, killed as planned
// unless it ends before.
RunResult RunPatchtool(const std::string& patchtool, const std::string& root, const std::string& url,
                       const KillPlan& plan) {
  const std::string client = root + "client/";
  const std::string output = root + "../patchtool.out";
  LogTail log(client);
  plat::ChildProcess child;
  RunResult result;
  // The engine's temporary folder ("delete.ini") is the trial's own; the
  // harness keeps its own.
  const std::string harnessTemp = fs::temp_directory_path().string();
  plat::SetEnvironmentValue("TMPDIR", root + "tmp");
  const bool started = child.Start({patchtool, "patch", client, url, "--flags", "7"}, std::string(), output, output);
  plat::SetEnvironmentValue("TMPDIR", harnessTemp);
  if (!started) return result;

  using Clock = std::chrono::steady_clock;
  auto deadline = Clock::now() + std::chrono::milliseconds(plan.afterMs >= 0 ? plan.afterMs : kFinalRunTimeoutMs);
  bool marked = false;
  for (;;) {
    if (child.Wait(0, &result.status)) {
      log.Read();
      result.lastLine = log.LastLine();
      return result;
    }
    if (!plan.mark.empty() && !marked && log.Read() && log.Text().find(plan.mark) != std::string::npos) {
      marked = true;
      deadline = Clock::now() + std::chrono::milliseconds(plan.markDelayMs);
    }
    if (Clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  child.Kill();
  child.Wait(10000, &result.status);
  log.Read();
  result.killed = true;
  result.lastLine = log.LastLine();
  return result;
}

// Where the run stood, from its last log line.
std::string Phase(const std::string& line) {
  struct Rule {
    const char* phase;
    std::vector<const char*> marks;
  };
  static const std::vector<Rule> kRules = {
      {"finish", {"delete.ini", "Patch is finished", "Deleted File", "Uninit", "\xBC\xF6\xC7\xE0"}},
      {"start", {"version.ini", "Patch Exp Version", "ProcSelfUpdate", "zulpatch", "PLV5_StartPatch"}},
      {"verify", {"CheckSumCheck", "check CRC", "CRC List", "FILE [", "CRC Check", "Heal"}},
      {"extract", {"ExtractPatchFile", "CTaskExtract"}},
      // A section's end is followed by its record, the commit of its
      // version and the next version step, none of which writes a line.
      {"commit", {"Process() Ended"}},
      {"download", {"Request Download", "GetFileFromServerV5", "getting file", "Successed to download", "Downloaded"}},
      // "패치" (patch) and "할당" (allocation) mark the delta lines.
      {"patch",
       {"iff patch", "ile patch", "DiffPatch", "FilePatch", "E[Thread", "Curr:", "FileSize", "Total", "Last Patched",
        "\xC6\xD0\xC4\xA1", "\xC7\xD2\xB4\xE7"}},
      {"lists",
       {"Patch file list", "version.list", "Cab file CRC", "Name [", "Files Information", "Section [", "Skip patch",
        "are different", "Patch System", "PatchVersion", "Build Type", "Section Count", "Empty section",
        "patched section"}},
  };
  for (const Rule& rule : kRules) {
    for (const char* mark : rule.marks) {
      if (line.find(mark) != std::string::npos) return rule.phase;
    }
  }
  return line.empty() ? "start" : "other";
}

// ------------------------------------------------------------ scenarios

Bytes Pattern(size_t size, uint32_t seed) {
  Bytes bytes(size);
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    // Runs of repeated bytes make the data compress the way game files do.
    bytes[i] = (i / 64) % 3 == 0 ? static_cast<uint8_t>(i / 64) : static_cast<uint8_t>(x >> 16);
  }
  return bytes;
}

void Edit(Bytes& bytes, size_t every, uint8_t mask) {
  for (size_t i = every / 2; i < bytes.size(); i += every) bytes[i] ^= mask;
}

std::unique_ptr<Scenario> SharedSample() {
  auto s = std::make_unique<Scenario>();
  const std::string data = testsupport::TestDataDir() + "e2e/basic/";
  s->name = "shared sample";
  s->serverFolder = data + "server";
  s->latest = 103;
  s->writeClient = [data](const std::string& root) {
    testsupport::CopyTree(data + "sandbox", root);
    return fs::is_directory(root + "client");
  };
  s->differences = [data](const std::string& client) {
    return e2e::CompareTree(client, e2e::ReadTreeManifest(data + "expected.tsv", "client/"),
                            {"version.ini", "localinfo.dat", "backup/", "Log/"});
  };
  return s;
}

// Versions 200 to 204 of a client of a few megabytes: same-size edits that
// are patched in place, grown and shrunk files patched in memory, whole
// files in the diff cabinet, a new folder, a version without sections and a
// file that the deletion list removes at the end.
std::unique_ptr<Scenario> BuiltRepository(const std::string& serverFolder, std::string* error) {
  FileTree tree = {{"bin\\game.dll", Pattern(600000, 1)},    {"bin\\net.dll", Pattern(200000, 2)},
                   {"data\\world.pak", Pattern(6000000, 3)}, {"data\\items.tbl", Pattern(50000, 4)},
                   {"data\\old\\legacy.bin", Pattern(30000, 5)}, {"ui\\skin.bmp", Pattern(300000, 6)},
                   {"readme.txt", Bytes{'v', '2', '0', '0', '\r', '\n'}}};
  auto repo = std::make_shared<testsupport::PatchRepoBuilder>(200, tree);
  Edit(tree["bin\\game.dll"], 4096, 0x21);
  Bytes& world = tree["data\\world.pak"];
  const Bytes inserted = Pattern(40000, 7);
  world.insert(world.begin() + 2700000, inserted.begin(), inserted.end());
  tree["data\\new\\quest.pak"] = Pattern(2000000, 8);
  tree["readme.txt"] = Bytes{'v', '2', '0', '1', '\r', '\n'};
  repo->AddVersion(201, tree,
                   {testsupport::SectionSpec{{"bin\\game.dll", "data\\world.pak"}},
                    testsupport::SectionSpec{{"data\\new\\quest.pak", "readme.txt"}}});
  tree["data\\items.tbl"].resize(42000);
  Edit(tree["bin\\net.dll"], 10000, 0x42);
  Edit(tree["ui\\skin.bmp"], 777, 0x13);
  testsupport::SectionSpec section202{{"data\\items.tbl", "bin\\net.dll", "ui\\skin.bmp"}};
  section202.wholeInDiff = {"ui\\skin.bmp"};
  repo->AddVersion(202, tree, {section202});
  repo->AddVersion(203, tree);
  Edit(tree["bin\\game.dll"], 9000, 0x08);
  Edit(tree["data\\world.pak"], 30000, 0x77);
  Bytes& quest = tree["data\\new\\quest.pak"];
  quest.erase(quest.begin() + 1000, quest.begin() + 9000);
  tree.erase("data\\old\\legacy.bin");
  repo->AddVersion(204, tree,
                   {testsupport::SectionSpec{{"bin\\game.dll", "data\\world.pak"}},
                    testsupport::SectionSpec{{"data\\new\\quest.pak"}}});
  repo->SetDeleteList({"data\\old\\legacy.bin"});
  // ServeFolder puts each trial's server port in place of PORT.
  repo->SetServers({"http://127.0.0.1:PORT/a", "http://127.0.0.1:PORT/b"});
  if (!repo->WriteServer(serverFolder)) {
    *error = repo->Error();
    return nullptr;
  }
  auto s = std::make_unique<Scenario>();
  s->name = "builder repository";
  s->serverFolder = serverFolder;
  s->latest = 204;
  s->writeClient = [repo](const std::string& root) { return repo->WriteClient(root + "client/"); };
  s->differences = [repo](const std::string& client) {
    return testsupport::CompareClientTree(client, repo->ExpectedTree());
  };
  return s;
}

// ------------------------------------------------------------ trials

// Everything under the trial's root but the client and its temp folder.
FileTree Beside(const std::string& root) {
  FileTree tree = testsupport::ReadTree(root);
  for (auto it = tree.begin(); it != tree.end();) {
    const bool inside = it->first.rfind("client\\", 0) == 0 || it->first.rfind("tmp\\", 0) == 0;
    it = inside ? tree.erase(it) : std::next(it);
  }
  return tree;
}

// One trial: `kills` killed runs, then the run that must finish, and the
// checks. Returns what went wrong, empty when the trial converged.
std::string Trial(Scenario& s, const std::string& patchtool, std::mt19937& rng, int kills, Tally& tally) {
  testsupport::TempDir work;
  const std::string root = work.Path() + "trial/";
  const std::string client = root + "client/";
  fs::create_directories(root + "tmp");
  if (!s.writeClient(root)) return "the client could not be written";
  testsupport::WriteFileText(root + "beside.txt", "a file next to the client");
  const FileTree before = Beside(root);
  testsupport::HttpTestServer server;
  e2e::ServeFolder(server, s.serverFolder, {"/a/", "/b/", "/c/"}, kChunkDelayMs);
  const std::string url = server.Url("/a/version.ini");

  // Half the kills come at any moment of a run; the others are aimed a few
  // milliseconds past a phase's first line, for the short phases a uniform
  // moment seldom meets.
  static const char* const kAims[] = {"Request Download Section", "ExtractPatchFile() Cab", "Tried to diff patch",
                                      "Process() Ended",          "CheckSumCheck() begins", "Patch is finished"};
  std::uniform_int_distribution<int> moment(0, s.runMs + s.runMs / 10);
  std::string phases;
  for (int k = 0; k < kills; ++k) {
    KillPlan plan;
    if (rng() % 2 == 0) {
      plan.afterMs = moment(rng);
    } else {
      plan.mark = kAims[rng() % (sizeof kAims / sizeof kAims[0])];
      plan.markDelayMs = static_cast<int>(rng() % 5);
    }
    const RunResult run = RunPatchtool(patchtool, root, url, plan);
    if (!run.killed) {
      ++tally.endedBeforeKill;
      continue;
    }
    ++tally.kills;
    ++tally.killsByScenario[s.name];
    const std::string phase = Phase(run.lastLine);
    ++tally.killsByPhase[phase];
    if (getenv("CRASH_HARNESS_LINES") != nullptr) fprintf(stderr, "%s <- %s\n", phase.c_str(), run.lastLine.c_str());
    phases += " " + phase;
  }
  const std::string where = s.name + ", kills at" + (phases.empty() ? " none" : phases) + ": ";
  const RunResult last = RunPatchtool(patchtool, root, url, KillPlan());
  const std::string output = testsupport::ReadFileText(work.Path() + "patchtool.out");
  if (last.killed || last.status != 0) {
    return where + "the run after the kills ended with " + std::to_string(last.status) + "\n" + output;
  }
  const std::string differences = s.differences(client);
  if (!differences.empty()) return where + "the client differs:\n" + differences;
  if (testsupport::ReadClientVersion(client) != s.latest) return where + "version.dat is not the latest version";
  if (fs::exists(client + "backup/finish.pending")) return where + "a finish is still pending";
  if (Beside(root) != before) return where + "something beside the client changed";
  if (!fs::is_empty(root + "tmp")) return where + "the temporary folder is not empty";
  const RunResult again = RunPatchtool(patchtool, root, url, KillPlan());
  const std::string current = testsupport::ReadFileText(work.Path() + "patchtool.out");
  if (again.status != 0 || current.find("the client is already current") == std::string::npos) {
    return where + "a further start did not find the client current:\n" + current;
  }
  return std::string();
}

// An uninterrupted run: its length sets the range of the kill moments.
bool Calibrate(Scenario& s, const std::string& patchtool, Tally& tally) {
  std::mt19937 unused;
  const auto start = std::chrono::steady_clock::now();
  const std::string failure = Trial(s, patchtool, unused, 0, tally);
  if (!failure.empty()) {
    tally.failures.push_back("uninterrupted run of the " + failure);
    return false;
  }
  // The trial ran twice (the run and the start that finds it current); the
  // second is short, so half is a fair bound for one run.
  s.runMs = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count() / 2);
  printf("%s: an uninterrupted run takes about %d ms\n", s.name.c_str(), s.runMs);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: crash_harness PATCHTOOL [--kills N] [--seed S]\n");
    return 2;
  }
  const std::string patchtool = fs::absolute(argv[1]).string();
  int killsWanted = 30;
  uint32_t seed = static_cast<uint32_t>(std::chrono::system_clock::now().time_since_epoch().count());
  for (int i = 2; i + 1 < argc; i += 2) {
    if (strcmp(argv[i], "--kills") == 0) {
      killsWanted = atoi(argv[i + 1]);
    } else if (strcmp(argv[i], "--seed") == 0) {
      seed = static_cast<uint32_t>(strtoul(argv[i + 1], nullptr, 10));
    } else {
      fprintf(stderr, "crash_harness: unknown option %s\n", argv[i]);
      return 2;
    }
  }
  printf("crash harness: %d kills, seed %u\n", killsWanted, seed);
  fflush(stdout);

  testsupport::TempDir repository;
  std::string error;
  std::vector<std::unique_ptr<Scenario>> scenarios;
  scenarios.push_back(SharedSample());
  scenarios.push_back(BuiltRepository(repository.Path(), &error));
  if (!scenarios.back()) {
    fprintf(stderr, "crash_harness: the repository could not be built: %s\n", error.c_str());
    return 1;
  }

  Tally tally;
  bool calibrated = true;
  for (auto& s : scenarios) calibrated = Calibrate(*s, patchtool, tally) && calibrated;
  std::mt19937 rng(seed);
  const auto start = std::chrono::steady_clock::now();
  for (size_t next = 0; calibrated && tally.kills < killsWanted; ++next) {
    Scenario& s = *scenarios[next % scenarios.size()];
    const int kills = std::min(killsWanted - tally.kills, 1 + static_cast<int>(rng() % 3));
    ++tally.trials;
    const std::string failure = Trial(s, patchtool, rng, kills, tally);
    if (!failure.empty()) {
      tally.failures.push_back("trial " + std::to_string(tally.trials) + " (" + failure + ")");
      fprintf(stderr, "FAILED %s\n", tally.failures.back().c_str());
    }
    if (tally.trials % 10 == 0) {
      printf("  %d trials, %d kills\n", tally.trials, tally.kills);
      fflush(stdout);
    }
  }
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count();

  printf("crash harness: %d kills in %d trials, %zu did not converge (%lld s, seed %u)\n", tally.kills,
         tally.trials, tally.failures.size(), static_cast<long long>(seconds), seed);
  for (const auto& [name, count] : tally.killsByScenario) printf("  %s: %d kills\n", name.c_str(), count);
  printf("  kills by phase:");
  for (const auto& [phase, count] : tally.killsByPhase) printf(" %s %d", phase.c_str(), count);
  printf("\n  runs that ended before their kill moment: %d\n", tally.endedBeforeKill);
  for (const std::string& failure : tally.failures) printf("  FAILED %s\n", failure.c_str());
  return tally.failures.empty() && calibrated ? 0 : 1;
}
