// The shared sample's whole run (e2e "basic": 100 -> 103, five sections of
// diff cabinets) from nginx on loopback, with the engine in this process
// and the patch log's messages timed as the threads write them. It shows
// where a short run waits:
//   start-up   PLV5_Init to PLV5_StartPatch (the manifest fetch)
//   run        PLV5_StartPatch to the finished state
//   stop       PLV5_Uninit
// against the CPU time the process spent meanwhile, and the hand-offs
// between the threads, per section:
//   cabinet on disk -> extraction start   (from the later of the transfer's
//                                          end and the task thread's
//                                          previous task end)
//   extraction end  -> patch start
// Targets: the whole run under 0.3 s, each hand-off under 5 ms.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "engine/patch_log.h"
#include "tests/e2e/engine_run.h"
#include "tests/support/nginx_server.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace {

constexpr int kRounds = 7;
constexpr double kRunTargetS = 0.3;
constexpr double kHandOffTargetMs = 5.0;
constexpr uint32_t kVerboseFlags = 7;  // log on, verbose, stale versions removed

using Clock = std::chrono::steady_clock;

// Times of the messages that mark the steps, in the order they came.
struct Marks {
  std::mutex lock;
  Clock::time_point initStart, startPatch, uninitCalled, uninitDone;
  std::vector<Clock::time_point> onDisk, extractStart, extractEnd, patchStart, patchEnd;

  void See(const char* message) {
    const Clock::time_point now = Clock::now();
    std::lock_guard<std::mutex> guard(lock);
    auto starts = [message](const char* prefix) { return strncmp(message, prefix, strlen(prefix)) == 0; };
    if (starts("PLV5_StartPatch() begins")) startPatch = now;
    else if (starts("PLV5_Uninit() called")) uninitCalled = now;
    else if (starts("PV5::PLV5_Uninit() finished")) uninitDone = now;
    // The download manager's line for a finished transfer, in code page 949.
    else if (starts("\xC6\xC4\xC0\xCF \xB4\xD9\xBF\xEE\xB7\xCE\xB5\xE5 \xC1\xBE\xB7\xE1")) onDisk.push_back(now);
    else if (starts("CTaskExtract::Process() :")) extractStart.push_back(now);
    else if (starts("PV5::ExtractPatchFile() finished.")) extractEnd.push_back(now);
    else if (starts("CTaskPatch::Process() Ended")) patchEnd.push_back(now);
    else if (starts("CTaskPatch::Process() :")) patchStart.push_back(now);
  }
};

double Ms(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

double CpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

double Max(const std::vector<double>& v) { return v.empty() ? 0 : *std::max_element(v.begin(), v.end()); }

}  // namespace

int main() {
  if (!testsupport::NginxServer::Available()) {
    printf("sample run: skipped, nginx is not installed\n");
    return 0;
  }
  const std::string scenario = testsupport::TestDataDir() + "e2e/basic/";
  testsupport::TempDir served;
  testsupport::CopyTree(scenario + "server", served.Path());
  testsupport::NginxServer nginx;
  if (!nginx.Start(served.Path(), {"/a/", "/b/", "/c/"})) {
    fprintf(stderr, "sample_run_bench: nginx did not start: %s\n", nginx.Error().c_str());
    return 1;
  }
  {
    std::string manifest = testsupport::ReadFileText(served.Path() + "version.ini");
    for (size_t at = manifest.find("PORT"); at != std::string::npos; at = manifest.find("PORT", at)) {
      manifest.replace(at, 4, std::to_string(nginx.Port()));
    }
    testsupport::WriteFileText(served.Path() + "version.ini", manifest);
  }
  const auto expected = e2e::ReadTreeManifest(scenario + "expected.tsv", "client/");
  const std::vector<std::string> ignored = {"version.ini", "localinfo.dat", "backup/", "Log/"};

  std::vector<double> whole, startUp, run, stop, cpu, toExtract, toPatch;
  for (int round = 0; round < kRounds; ++round) {
    testsupport::TempDir sandbox;
    testsupport::CopyTree(scenario + "sandbox", sandbox.Path());
    const std::string client = sandbox.Path() + "client" + static_cast<char>(fs::path::preferred_separator);
    Marks marks;
    LogSetObserverForTesting([&marks](uint32_t, const char* message) { marks.See(message); });
    e2e::RunOptions options;
    options.flags = kVerboseFlags;
    options.timeoutMs = 60000;
    const double cpuStart = CpuSeconds();
    marks.initStart = Clock::now();
    const e2e::RunOutcome outcome = e2e::RunPatch(client, nginx.Url("/a/version.ini"), options);
    const Clock::time_point end = Clock::now();
    cpu.push_back(CpuSeconds() - cpuStart);
    LogSetObserverForTesting(nullptr);
    const std::string differences = e2e::CompareTree(client, expected, ignored);
    if (!outcome.finished || !differences.empty()) {
      fprintf(stderr, "sample_run_bench: the run failed (error %u)\n%s\n", outcome.errorCode,
              differences.substr(0, 400).c_str());
      return 1;
    }
    const size_t sections = marks.patchEnd.size();
    if (sections == 0 || marks.onDisk.size() != sections || marks.extractStart.size() != sections ||
        marks.extractEnd.size() != sections || marks.patchStart.size() != sections) {
      fprintf(stderr, "sample_run_bench: the log did not mark every step of %zu sections\n", sections);
      return 1;
    }
    whole.push_back(Ms(marks.initStart, end) / 1000.0);
    startUp.push_back(Ms(marks.initStart, marks.startPatch));
    run.push_back(Ms(marks.startPatch, marks.uninitCalled));
    stop.push_back(Ms(marks.uninitCalled, marks.uninitDone));
    for (size_t k = 0; k < sections; ++k) {
      // The task thread runs one task at a time: an extraction can start
      // no earlier than the previous section's patch task ended.
      const Clock::time_point ready = k == 0 ? marks.onDisk[k] : std::max(marks.onDisk[k], marks.patchEnd[k - 1]);
      toExtract.push_back(Ms(ready, marks.extractStart[k]));
      toPatch.push_back(Ms(marks.extractEnd[k], marks.patchStart[k]));
    }
  }

  const double wall = Median(whole);
  printf("sample run (e2e basic, 5 sections, nginx on loopback), median of %d: %.3f s wall, %.3f s CPU, "
         "wall/CPU %.1fx\n",
         kRounds, wall, Median(cpu), wall / std::max(Median(cpu), 1e-6));
  printf("  start-up %.1f ms, run %.1f ms, stop %.1f ms\n", Median(startUp), Median(run), Median(stop));
  printf("  hand-offs over %zu sections: cabinet on disk -> extraction start median %.2f ms, max %.2f ms; "
         "extraction end -> patch start median %.2f ms, max %.2f ms\n",
         toExtract.size(), Median(toExtract), Max(toExtract), Median(toPatch), Max(toPatch));
  const bool handOffsMet = Max(toExtract) < kHandOffTargetMs && Max(toPatch) < kHandOffTargetMs;
  printf("sample run target (whole run under %.1f s): %s; hand-off target (each under %.0f ms): %s\n", kRunTargetS,
         wall < kRunTargetS ? "met" : "not met", kHandOffTargetMs, handOffsMet ? "met" : "not met");
  return 0;
}
