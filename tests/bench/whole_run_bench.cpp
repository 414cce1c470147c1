// A whole patch run against the tools that do its parts, measured in the
// same run.
//
//   whole_run_bench [--size-mb N]     (default 40: the CI size; 1024 for
//                                       the full run of about 1 GB)
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
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--size-mb") == 0 && i + 1 < argc) {
      sizeMb = std::strtod(argv[++i], nullptr);
    } else {
      fprintf(stderr, "usage: whole_run_bench [--size-mb N]\n");
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
  fs::copy(game + "v1", client, fs::copy_options::recursive);
  if (!Run(patchtool + " init-client " + Quoted(client) + " 1" + quiet)) return 1;
  const double clientMb = TreeBytes(game + "v1") / 1048576.0;
  printf("whole run: a client of %.0f MiB in three versions (set up in %.0f s)\n", clientMb, Seconds(setUp));

  // ---- the engine
  const double peakBefore = PeakMiB();
  e2e::RunOptions options;
  options.timeoutMs = 3600 * 1000;
  const Clock::time_point engineStart = Clock::now();
  const e2e::RunOutcome outcome = e2e::RunPatch(client, nginx.Url("/version.ini"), options);
  const double engineSeconds = Seconds(engineStart);
  const double peakAfter = PeakMiB();
  if (!outcome.finished) {
    fprintf(stderr, "whole_run_bench: the run failed (error %u)\n", outcome.errorCode);
    return 1;
  }
  const std::string differences = CompareTrees(game + "v3", client);
  if (!differences.empty()) {
    fprintf(stderr, "whole_run_bench: the client differs from version 3:\n%s", differences.substr(0, 500).c_str());
    return 1;
  }

  // ---- the tools, on what the engine fetched
  std::vector<std::string> fetched;
  std::set<std::string> seen;
  for (const testsupport::NginxRequest& request : nginx.Requests()) {
    if (request.method == "GET" && request.status == 200 && seen.insert(request.path).second) {
      fetched.push_back(request.path);
    }
  }
  std::string config;
  uint64_t fetchedBytes = 0;
  for (size_t i = 0; i < fetched.size(); ++i) {
    config += "url = \"" + nginx.Url(fetched[i]) + "\"\noutput = \"" + tools + "fetched" + std::to_string(i) + "\"\n";
    fetchedBytes += fs::file_size(repo + fetched[i].substr(1));
  }
  testsupport::WriteFileText(tools + "curl.config", config);
  Clock::time_point start = Clock::now();
  if (!Run("curl -s -f -K " + Quoted(tools + "curl.config"))) return 1;
  const double curlSeconds = Seconds(start);

  double cabSeconds = 0;
  double deltaSeconds = 0;
  size_t cabinets = 0;
  size_t deltas = 0;
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

  // The run ends at the finished state; the stop after it is shown apart.
  const double runSeconds = outcome.runMs / 1000.0;
  const double sum = curlSeconds + cabSeconds + deltaSeconds;
  const double ratio = runSeconds / sum;
  printf("  engine run %.3f s to the finished state (%.3f s with start-up and stop); tools %.3f s = curl %.3f s "
         "(%zu files, %.1f MiB) + cabextract %.3f s (%zu cabinets) + delta application %.3f s (%zu deltas); "
         "ratio %.2fx\n",
         runSeconds, engineSeconds, sum, curlSeconds, fetched.size(), fetchedBytes / 1048576.0, cabSeconds, cabinets,
         deltaSeconds, deltas, ratio);
  printf("  peak resident memory %.0f MiB before the run, %.0f MiB after (the engine's three 100 MiB streams are "
         "reserved; only what they hold is resident)\n",
         peakBefore, peakAfter);
  printf("whole run target (engine within %.1fx of the tools' sum): %s\n", kTarget, ratio <= kTarget ? "met" : "not met");
  return 0;
}
