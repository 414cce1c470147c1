// A whole patch run against the tools that do its parts, measured in the
// same run.
//
//   whole_run_bench [--size-mb N] [--rounds N]
//       --size-mb   per version; 40 by default (the CI size), 1024 for the
//                   full run of about 1 GB
//       --rounds    how many times both sides run (3); medians are compared
//
// The synthetic game of the demo (scripts/synthetic_game.py) is written in
// three versions of about N MB each; `patchtool build` makes the patch
// repository of versions 2 and 3, which nginx serves on loopback. The
// engine (in this process, as the launcher runs it) brings a copy of
// version 1 up to version 3. Then the same work is done by the tools:
//   curl         every file the engine fetched, from the same nginx
//   cabextract   every cabinet it fetched
//   jpatch       each delta of those cabinets applied to its original by
//                our memory decoder (the original mapped, as the engine
//                does), into a new file
// The ratio is the engine's run over the sum of the three; the target is
// 1.2 or less. The run does more than the tools (CRC checks of the client
// before and after, progress records, moves into place), so the ratio says
// what the engine's own steps and waits cost. The peak memory is this
// process's resident high-water mark, taken before and after the run.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include <unistd.h>

#include "apply/delta/delta_decoder.h"
#include "engine/patch_list.h"
#include "streams/cpb_error.h"
#include "streams/file_map_stream.h"
#include "streams/virtual_memory_file_stream.h"
#include "streams/virtual_memory_stream.h"
#include "tests/e2e/engine_run.h"
#include "tests/support/nginx_server.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace {

constexpr double kTarget = 1.2;
constexpr double kGameMbAtScale1 = 220.0;
constexpr uint32_t kStreamSize = 100u * 1024 * 1024;

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

bool Run(const std::string& command) {
  if (std::system(command.c_str()) == 0) return true;
  fprintf(stderr, "whole_run_bench: failed: %s\n", command.c_str());
  return false;
}

// The resident high-water mark in MiB, 0 where the system does not say.
double PeakMiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::strtod(line.c_str() + 6, nullptr) / 1024.0;
  }
  return 0;
}

uint64_t TreeBytes(const fs::path& root) {
  uint64_t total = 0;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) total += entry.file_size();
  }
  return total;
}

// Reads every file under `root` once, into the page cache.
void ReadTree(const fs::path& root) {
  std::vector<char> block(1 << 20);
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream file(entry.path(), std::ios::binary);
    while (file.read(block.data(), static_cast<std::streamsize>(block.size())) || file.gcount() > 0) {
    }
  }
}

// Files of `expected` that the client lacks or has with other bytes.
std::string CompareTrees(const fs::path& expected, const fs::path& client) {
  std::string differences;
  for (const auto& entry : fs::recursive_directory_iterator(expected)) {
    if (!entry.is_regular_file()) continue;
    const fs::path relative = fs::relative(entry.path(), expected);
    const fs::path mine = client / relative;
    if (!fs::exists(mine) || fs::file_size(mine) != entry.file_size() ||
        testsupport::ReadFileText(mine.string()) != testsupport::ReadFileText(entry.path().string())) {
      differences += relative.string() + "\n";
    }
  }
  return differences;
}

// Applies every delta of version `version`'s diff cabinets, extracted
// under `extracted`, to its original in `previous`; outputs go to `out`.
bool ApplyDeltas(const std::string& repo, uint32_t version, const std::string& extracted, const std::string& previous,
                 const std::string& out, size_t* count) {
  PatchList list;
  ExpectedCrcMap expected;
  if (ReadPatchListFile(repo + std::to_string(version) + "/version.list", version, list, expected) != 0) return false;
  vestrel::CVirtualMemoryStream delta;
  vestrel::CVirtualMemoryFileStream output;
  delta.SetBufferSize(kStreamSize);
  output.SetBufferSize(kStreamSize);
  for (const auto& section : list.sectionFiles) {
    for (const PatchFileInfo& file : section) {
      if (file.btFileType != 1) continue;
      std::string name = file.name;
      std::replace(name.begin(), name.end(), '\\', '/');
      try {
        delta.LoadFromFile(extracted + name);
      } catch (vestrel::_CPB_ERROR) {
        fprintf(stderr, "whole_run_bench: no delta %s%s\n", extracted.c_str(), name.c_str());
        return false;
      }
      vestrel::TFileMapStream original(previous + name, plat::MapAccess::kRead);
      output.SetFileName(out + std::to_string(++*count));
      const uint32_t result =
          original.IsOpen()
              ? CDeltaDecoder().DecodeMemory(original.GetMemory(), original.GetSize(), delta.GetMemory(),
                                             delta.GetDataSize(), output, nullptr)
              : CDeltaDecoder().DecodeMemory(nullptr, 0, delta.GetMemory(), delta.GetDataSize(), output, nullptr);
      if (result != kDeltaOk) return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  double sizeMb = 40;
  int rounds = 3;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--size-mb") == 0 && i + 1 < argc) {
      sizeMb = std::strtod(argv[++i], nullptr);
    } else if (strcmp(argv[i], "--rounds") == 0 && i + 1 < argc && std::atoi(argv[i + 1]) > 0) {
      rounds = std::atoi(argv[++i]);
    } else {
      fprintf(stderr, "usage: whole_run_bench [--size-mb N] [--rounds N]\n");
      return 2;
    }
  }
  if (!testsupport::NginxServer::Available() || std::system("curl --version >/dev/null 2>&1") != 0 ||
      std::system("cabextract --version >/dev/null 2>&1") != 0) {
    printf("whole run: skipped, nginx, curl or cabextract is not installed\n");
    return 0;
  }
  testsupport::TempDir work;
  const std::string game = work.Path() + "game/";
  const std::string repo = work.Path() + "repo/";
  const std::string client = work.Path() + "client/";
  const std::string tools = work.Path() + "tools/";
  const std::string patchtool = Quoted(PATCHTOOL_PATH);
  fs::create_directories(repo);
  fs::create_directories(tools);

  // ---- the game, its repository and the server
  const Clock::time_point setUp = Clock::now();
  char scale[32];
  snprintf(scale, sizeof scale, "%.4f", sizeMb / kGameMbAtScale1);
  if (!Run(Quoted(PYTHON_PATH) + " " + Quoted(SYNTHETIC_GAME) + " " + Quoted(game) + " --scale " + scale)) return 1;
  testsupport::NginxServer nginx;
  if (!nginx.Start(repo)) {
    fprintf(stderr, "whole_run_bench: nginx did not start: %s\n", nginx.Error().c_str());
    return 1;
  }
  const std::string quiet = " >/dev/null";
  if (!Run(patchtool + " build --from " + Quoted(game + "v1") + " --to " + Quoted(game + "v2") + " --repo " +
           Quoted(repo) + " --version 2 --jobs 2 --server " + nginx.Url("") + quiet) ||
      !Run(patchtool + " build --from " + Quoted(game + "v2") + " --to " + Quoted(game + "v3") + " --repo " +
           Quoted(repo) + " --version 3 --jobs 2" + quiet)) {
    return 1;
  }
  const double clientMb = TreeBytes(game + "v1") / 1048576.0;
  printf("whole run: a client of %.0f MiB in three versions (set up in %.0f s), %d rounds\n", clientMb,
         Seconds(setUp), rounds);

  // Each round patches a fresh copy of version 1, then lets the tools do
  // the same work; the medians of the rounds are compared, because one
  // round's writes of a gigabyte vary with the kernel's write-back.
  std::vector<double> engineRuns;
  std::vector<double> curlRuns;
  std::vector<double> cabRuns;
  std::vector<double> deltaRuns;
  std::vector<double> engineSyncs;
  std::vector<double> toolSyncs;
  std::vector<std::string> fetched;
  uint64_t fetchedBytes = 0;
  size_t cabinets = 0;
  size_t deltas = 0;
  double peakBefore = 0;
  double peakAfter = 0;
  for (int round = 0; round < rounds; ++round) {
    // ---- the engine
    fs::remove_all(client);
    fs::copy(game + "v1", client, fs::copy_options::recursive);
    if (!Run(patchtool + " init-client " + Quoted(client) + " 1" + quiet)) return 1;
    // Each side starts with nothing of the other's (or the set-up's) writes
    // pending: gigabytes of dirty pages flushed during one side only would
    // slow that side's writes and weigh on the ratio.
    sync();
    // The tools' originals are the game's files, written and read by the
    // set-up. A copy made by copy_file_range and then synced is slow to
    // read the first time on this machine, though its pages are resident (a
    // delta over a 112 MiB copy took 0.13-0.35 s, 0.04 s once the copy had
    // been read): the client is read once, so both sides start from
    // originals read before.
    ReadTree(client);
    // And each side writes into memory that the other side's last results
    // have just given back. On a virtual machine, memory left free for a
    // few seconds returns to the host, and the next writes into it cost up
    // to ten times as much: freed just before a side, it is equally warm
    // for both.
    fs::remove_all(tools);
    // The tools run in this process too: only the first round's high-water
    // mark is the engine's.
    if (round == 0) peakBefore = PeakMiB();
    e2e::RunOptions options;
    options.timeoutMs = 3600 * 1000;
    const e2e::RunOutcome outcome = e2e::RunPatch(client, nginx.Url("/version.ini"), options);
    if (round == 0) peakAfter = PeakMiB();
    if (!outcome.finished) {
      fprintf(stderr, "whole_run_bench: the run failed (error %u)\n", outcome.errorCode);
      return 1;
    }
    // The run ends at the finished state; the stop after it is not counted.
    engineRuns.push_back(outcome.runMs / 1000.0);
    Clock::time_point start = Clock::now();
    sync();
    engineSyncs.push_back(Seconds(start));
    const std::string differences = CompareTrees(game + "v3", client);
    if (!differences.empty()) {
      fprintf(stderr, "whole_run_bench: the client differs from version 3:\n%s", differences.substr(0, 500).c_str());
      return 1;
    }

    // ---- the tools, on what the engine fetched
    fs::remove_all(client);
    if (round == 0) {
      std::set<std::string> seen;
      for (const testsupport::NginxRequest& request : nginx.Requests()) {
        if (request.method == "GET" && request.status == 200 && seen.insert(request.path).second) {
          fetched.push_back(request.path);
          fetchedBytes += fs::file_size(repo + request.path.substr(1));
        }
      }
    }
    fs::create_directories(tools);
    std::string config;
    for (size_t i = 0; i < fetched.size(); ++i) {
      config += "url = \"" + nginx.Url(fetched[i]) + "\"\noutput = \"" + tools + "fetched" + std::to_string(i) + "\"\n";
    }
    testsupport::WriteFileText(tools + "curl.config", config);
    sync();
    start = Clock::now();
    if (!Run("curl -s -f -K " + Quoted(tools + "curl.config"))) return 1;
    curlRuns.push_back(Seconds(start));

    double cabSeconds = 0;
    double deltaSeconds = 0;
    cabinets = 0;
    deltas = 0;
    for (uint32_t version = 2; version <= 3; ++version) {
      std::string cabs;
      for (const std::string& path : fetched) {
        if (path.rfind("/" + std::to_string(version) + "/", 0) == 0 && path.size() > 4 &&
            path.compare(path.size() - 4, 4, ".cab") == 0) {
          cabs += " " + Quoted(repo + path.substr(1));
          ++cabinets;
        }
      }
      const std::string extracted = tools + "v" + std::to_string(version) + "/";
      start = Clock::now();
      if (!cabs.empty() && !Run("cabextract -q -d " + Quoted(extracted) + cabs)) return 1;
      cabSeconds += Seconds(start);
      start = Clock::now();
      if (!ApplyDeltas(repo, version, extracted, game + "v" + std::to_string(version - 1) + "/", tools + "out",
                       &deltas)) {
        fprintf(stderr, "whole_run_bench: applying the deltas of version %u failed\n", version);
        return 1;
      }
      deltaSeconds += Seconds(start);
    }
    cabRuns.push_back(cabSeconds);
    deltaRuns.push_back(deltaSeconds);
    start = Clock::now();
    sync();
    toolSyncs.push_back(Seconds(start));
    printf("  round %d: engine %.3f s (+ %.3f s to disk), tools %.3f s (+ %.3f s to disk)\n", round + 1,
           engineRuns.back(), engineSyncs.back(), curlRuns.back() + cabSeconds + deltaSeconds, toolSyncs.back());
  }

  const double runSeconds = Median(engineRuns);
  const double curlSeconds = Median(curlRuns);
  const double cabSeconds = Median(cabRuns);
  const double deltaSeconds = Median(deltaRuns);
  const double sum = curlSeconds + cabSeconds + deltaSeconds;
  const double ratio = runSeconds / sum;
  printf("  medians: engine run %.3f s to the finished state; tools %.3f s = curl %.3f s (%zu files, %.1f MiB) + "
         "cabextract %.3f s (%zu cabinets) + delta application %.3f s (%zu deltas); ratio %.2fx\n",
         runSeconds, sum, curlSeconds, fetched.size(), fetchedBytes / 1048576.0, cabSeconds, cabinets, deltaSeconds,
         deltas, ratio);
  // The engine starts writing each replaced file to disk when it moves it
  // into place, and its version record waits for that; the tools' outputs
  // stay in memory. With the time each side's writes then take to reach
  // the disk (sync), both have their results stored.
  const double durableRatio = (runSeconds + Median(engineSyncs)) / (sum + Median(toolSyncs));
  printf("  with each side's writes on disk: engine %.3f s, tools %.3f s; ratio %.2fx\n",
         runSeconds + Median(engineSyncs), sum + Median(toolSyncs), durableRatio);
  printf("  peak resident memory %.0f MiB before the first run, %.0f MiB after (the engine's three 100 MiB streams are "
         "reserved; only what they hold is resident)\n",
         peakBefore, peakAfter);
  printf("whole run target (engine within %.1fx of the tools' sum): %s\n", kTarget, ratio <= kTarget ? "met" : "not met");
  return 0;
}
