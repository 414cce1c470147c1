// Per-section overhead of a patch run: one version of 300 small sections
// served on loopback, patched by the engine, against the same transfers
// and the same extraction and patching done one after another without the
// engine (no events, threads or polling in between), measured in the same
// run. The difference per section is what the engine's stepping costs;
// the target is under 5 ms.
#include <cstdio>
#include <filesystem>
#include <string>

#include "apply/task_extract.h"
#include "download/fetch.h"
#include "platform/clock.h"
#include "tests/e2e/engine_run.h"
#include "tests/support/patch_repo.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using testsupport::Bytes;
using testsupport::FileTree;

namespace {

constexpr uint32_t kSections = 300;
constexpr size_t kFileSize = 4096;
constexpr double kTargetMs = 5.0;
constexpr int kRounds = 3;

class QuietHost : public TaskHost {
 public:
  bool Stopping() const override { return false; }
  void PostTaskEvent(const EngineEvent&) override {}
  using TaskHost::PostTaskEvent;
};

Bytes FileBytes(uint32_t seed) {
  Bytes bytes(kFileSize);
  uint32_t x = seed * 2654435761u + 7;
  for (auto& b : bytes) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>(x >> 16);
  }
  return bytes;
}

std::string Name(uint32_t i) { return "data\\f" + std::to_string(i) + ".bin"; }

// The reference: every section's cabinet fetched and applied in turn.
uint32_t DirectRun(const testsupport::PatchRepoBuilder& repo, const std::string& serverUrl,
                   const std::string& client) {
  EngineSettings settings;
  settings.workingFolder = client;
  settings.downloadFolder = client + "backup\\";
  settings.tempFolder = client + "backup\\temp\\";
  settings.outputFolder = client + "backup\\output\\";
  fs::create_directories(fs::path(client) / "backup" / "temp");
  fs::create_directories(fs::path(client) / "backup" / "output");
  QuietHost host;
  // The engine's stop cancelled transfers process-wide; these are new ones.
  ClearTransferCancel();
  const testsupport::BuiltVersion* built = repo.FindBuilt(101);
  const uint32_t start = plat::TickCount();
  for (uint32_t s = 1; s <= kSections; ++s) {
    const std::string cab = std::to_string(s) + "D.cab";
    GetFileFromServerV5(serverUrl + "/101/" + cab, settings.downloadFolder + "101\\" + cab, 1, TransferProgress());
    std::vector<PatchFileInfo> files;
    for (const auto& r : built->sections[s - 1].records) {
      files.push_back(PatchFileInfo{r.name, r.newCrc, r.oldCrc, r.type, r.orgSize, r.newSize});
    }
    CTaskExtract task(host, settings, 101, s, 1, files);
    task.Process();
  }
  return plat::TickCount() - start;
}

}  // namespace

int main() {
  FileTree v100, v101;
  std::vector<testsupport::SectionSpec> sections;
  for (uint32_t i = 1; i <= kSections; ++i) {
    v100[Name(i)] = FileBytes(i);
    Bytes changed = v100[Name(i)];
    for (size_t at = 100; at < changed.size(); at += 700) changed[at] ^= 0x33;
    v101[Name(i)] = changed;
    sections.push_back(testsupport::SectionSpec{{Name(i)}});
  }
  testsupport::PatchRepoBuilder repo(100, v100);
  repo.AddVersion(101, v101, sections);
  testsupport::HttpTestServer server;
  testsupport::TempDir serverDir;
  repo.SetServers({server.Url("/a")});
  if (!server.Started() || !repo.WriteServer(serverDir.Path())) {
    fprintf(stderr, "patch_run_bench: cannot set up the repository: %s\n", repo.Error().c_str());
    return 1;
  }
  e2e::ServeFolder(server, serverDir.Path(), {"/a/"});

  uint32_t bestEngine = UINT32_MAX, bestDirect = UINT32_MAX;
  for (int round = 0; round < kRounds; ++round) {
    testsupport::TempDir engineClient, directClient;
    repo.WriteClient(engineClient.Path());
    repo.WriteClient(directClient.Path());
    e2e::RunOptions options;
    options.flags = 0;  // no log: the log is not what is measured
    const e2e::RunOutcome outcome = e2e::RunPatch(engineClient.Path(), server.Url("/a/version.ini"), options);
    if (!outcome.finished ||
        testsupport::CompareClientTree(engineClient.Path(), repo.ExpectedTree()) != "") {
      fprintf(stderr, "patch_run_bench: the engine run failed (error %u)\n", outcome.errorCode);
      return 1;
    }
    const uint32_t direct = DirectRun(repo, server.Url("/a"), directClient.Path());
    if (testsupport::CompareClientTree(directClient.Path(), repo.ExpectedTree()) != "") {
      fprintf(stderr, "patch_run_bench: the direct run did not patch the client:\n%s\n",
              testsupport::CompareClientTree(directClient.Path(), repo.ExpectedTree()).substr(0, 500).c_str());
      return 1;
    }
    bestEngine = std::min(bestEngine, outcome.runMs);
    bestDirect = std::min(bestDirect, direct);
  }
  const double overhead = (static_cast<double>(bestEngine) - bestDirect) / kSections;
  printf("patch run, %u sections of one %zu-byte delta file: engine %u ms, direct %u ms, ratio %.2f\n", kSections,
         kFileSize, bestEngine, bestDirect, static_cast<double>(bestEngine) / bestDirect);
  printf("per-section overhead of the engine: %.2f ms (target under %.1f ms) %s\n", overhead, kTargetMs,
         overhead < kTargetMs ? "ok" : "OVER TARGET");
  return 0;
}
