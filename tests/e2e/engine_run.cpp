#include "tests/e2e/engine_run.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine/patch_entry.h"
#include "platform/clock.h"
#include "platform/message_sink.h"
#include "tests/cab/sha256.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace e2e {

namespace {

constexpr uint32_t kProgress = 2024;
constexpr uint32_t kError = 2025;

std::string Relative(const fs::path& file, const fs::path& root) {
  return fs::relative(file, root).generic_string();
}

}  // namespace

void ServeFolder(testsupport::HttpTestServer& server, const std::string& folder,
                 const std::vector<std::string>& prefixes, uint32_t chunkDelayMs) {
  const fs::path root(folder);
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    const std::string relative = Relative(entry.path(), root);
    std::string body = testsupport::ReadFileText(entry.path().string());
    if (relative == "version.ini") {
      for (size_t at = body.find("PORT"); at != std::string::npos; at = body.find("PORT", at)) {
        body.replace(at, 4, std::to_string(server.Port()));
      }
    }
    for (const std::string& prefix : prefixes) {
      testsupport::HttpRoute route;
      route.body = body;
      route.chunkDelayMs = chunkDelayMs;
      server.Set(prefix + relative, route);
    }
  }
}

RunOutcome RunPatch(const std::string& clientFolder, const std::string& manifestUrl, const RunOptions& options) {
  RunOutcome outcome;
  // The launcher runs in the client folder: the log goes to its Log/.
  testsupport::ScopedCurrentDir inClient(clientFolder);
  plat::MessageLoop window;
  PatchStartParams params{};
  params.ownerWindow = window.Handle();
  params.progressMessage = kProgress;
  params.errorMessage = kError;
  snprintf(params.manifestUrl, sizeof params.manifestUrl, "%s", manifestUrl.c_str());
  snprintf(params.workingFolder, sizeof params.workingFolder, "%s", clientFolder.c_str());
  snprintf(params.versionSection, sizeof params.versionSection, "VERSION");
  snprintf(params.downloadSection, sizeof params.downloadSection, "DOWNLOAD");
  params.flags = options.flags;
  params.keepOldManifest = options.keepOldManifest;
  PatchStartResults results{};
  outcome.initResult = PLV5_Init(params, &results);
  const uint32_t start = plat::TickCount();
  if (outcome.initResult != 0 || PLV5_StartPatch() != 1) {
    PLV5_Uninit();
    return outcome;
  }
  for (;;) {
    if (plat::TickCount() - start > options.timeoutMs) {
      outcome.timedOut = true;
      // The log says where the run stood; a hung test is otherwise silent.
      for (const auto& entry : fs::directory_iterator(fs::path(clientFolder) / "Log")) {
        const std::string text = testsupport::ReadFileText(entry.path().string());
        fprintf(stderr, "--- end of %s ---\n%s\n", entry.path().string().c_str(),
                text.substr(text.size() > 4000 ? text.size() - 4000 : 0).c_str());
      }
      break;
    }
    if (options.stopWhen && options.stopWhen()) {
      outcome.stoppedEarly = true;
      break;
    }
    plat::WindowMessage message{};
    if (!window.Get(&message, 50)) continue;
    if (message.message == kError) {
      outcome.errorCode = static_cast<uint32_t>(message.wParam);
      break;
    }
    if (message.message != kProgress) continue;
    outcome.progressKinds.push_back(static_cast<uint32_t>(message.wParam));
    const uint32_t state = PLV5_LockStatus()->state;
    PLV5_UnlockStatus();
    if (state == 10) {
      outcome.finished = true;
      break;
    }
    if (options.stopAfter && options.stopAfter(outcome.progressKinds.size() - 1)) {
      outcome.stoppedEarly = true;
      break;
    }
  }
  outcome.runMs = plat::TickCount() - start;
  const uint32_t stopStart = plat::TickCount();
  PLV5_Uninit();
  outcome.uninitMs = plat::TickCount() - stopStart;
  return outcome;
}

std::vector<ExpectedFile> ReadTreeManifest(const std::string& tsvPath, const std::string& prefix) {
  std::vector<ExpectedFile> files;
  for (const std::vector<std::string>& row : testsupport::ReadTsv(tsvPath)) {
    if (row.size() < 3 || row[0].compare(0, prefix.size(), prefix) != 0) continue;
    files.push_back(ExpectedFile{row[0].substr(prefix.size()), std::stoull(row[1]), row[2]});
  }
  return files;
}

std::string CompareTree(const std::string& folder, const std::vector<ExpectedFile>& expected,
                        const std::vector<std::string>& ignored) {
  std::ostringstream diff;
  const fs::path root(folder);
  std::vector<std::string> wanted;
  for (const ExpectedFile& file : expected) {
    wanted.push_back(file.path);
    const fs::path path = root / fs::path(file.path);
    if (!fs::is_regular_file(path)) {
      diff << "missing: " << file.path << "\n";
      continue;
    }
    const std::vector<uint8_t> bytes = testsupport::ReadFileBytes(path.string());
    if (bytes.size() != file.size || cabtest::Sha256Hex(bytes.data(), bytes.size()) != file.sha256) {
      diff << "different: " << file.path << " (" << bytes.size() << " bytes, expected " << file.size << ")\n";
    }
  }
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    const std::string relative = Relative(entry.path(), root);
    bool known = false;
    for (const std::string& w : wanted) known = known || w == relative;
    for (const std::string& prefix : ignored) known = known || relative.compare(0, prefix.size(), prefix) == 0;
    if (!known) diff << "unexpected: " << relative << "\n";
  }
  return diff.str();
}

int64_t ReadVersionDat(const std::string& clientFolder) {
  const std::vector<uint8_t> bytes = testsupport::ReadFileBytes(clientFolder + "version.dat");
  if (bytes.size() < 4) return -1;
  return static_cast<int64_t>(bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24);
}

}  // namespace e2e
