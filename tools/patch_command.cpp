// patchtool patch CLIENT_DIR MANIFEST_URL [--flags N]: one patch run of the
// engine on a client folder, without the window. The progress the window
// would show is printed instead; the exit code tells scripts the outcome.
// patchtool repair: the same run with the repair flag, which verifies every
// file the servers' patch lists describe and heals what differs.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/patch_entry.h"
#include "platform/console.h"
#include "platform/message_sink.h"
#include "platform/process_paths.h"
#include "tools/commands.h"

namespace {

constexpr uint32_t kProgressMessage = 2024;
constexpr uint32_t kErrorMessage = 2025;
constexpr uint32_t kLauncherFlags = 5;
// Exit code of an engine error: this base plus the error code.
constexpr int kEngineErrorBase = 100;

int Usage(const char* command) {
  fprintf(stderr, "usage: patchtool %s CLIENT_DIR MANIFEST_URL [--flags N]\n", command);
  return 2;
}

const char* InitResultText(uint32_t code) {
  switch (code) {
    case 0: return "the engine runs";
    case 3: return "the manifest could not be fetched or is unusable";
    case 4: return "the client's version.dat is missing or unreadable";
    case 5: return "the client is older than the oldest version the servers can patch";
    case 6: return "the client is newer than the latest version on the servers";
    case 7: return "the client is already current";
    case 11: return "the engine could not start its worker or download manager";
    default: return "unknown result";
  }
}

const char* EngineErrorText(uint32_t code) {
  switch (code) {
    case 2: return "stopped";
    case 3: return "a section download failed";
    case 4: return "the connection was lost during a download";
    case 5: return "the disk is full";
    case 6: return "a section cabinet could not be extracted";
    case 7: return "a section cabinet is damaged";
    case 8: return "the self-update failed";
    case 9: return "a patch list could not be fetched";
    case 10: return "a patch list is unreadable or unsafe";
    case 11: return "a file to patch could not be loaded or its folder created";
    case 12: return "a patched file could not be moved into place";
    case 13: return "a patch list names an unknown file type";
    case 17: return "a patched file could not be written";
    case 18: return "a client file has the wrong size for its delta";
    case 19: return "version.dat could not be written";
    case 20: return "a client file differs from its patch list and could not be healed";
    case 21: return "a patch list has an unknown format version";
    case 22: return "the version walk left the valid range";
    default:
      if (code >= 14 && code <= 16) return "a delta could not be applied";
      return "patch failed";
  }
}

const char* StateText(uint32_t state) {
  switch (state) {
    case 1: return "self-update";
    case 2: return "self-update finished";
    case 3: return "downloading";
    case 5: return "queueing extraction";
    case 6: return "extracting";
    case 7: return "patching";
    case 8: return "committing version";
    case 9: return "verifying client";
    case 10: return "finished";
    default: return "starting";
  }
}

// Prints what the window would show for one progress event.
class ProgressPrinter {
 public:
  explicit ProgressPrinter(bool terminal) : terminal_(terminal) {}

  // Returns the run state after the event.
  uint32_t Show(uint32_t kind) {
    PatchStatus status = *PLV5_LockStatus();
    PLV5_UnlockStatus();
    // A section download that is retried starts over at 0 %; what a person
    // watches must not go back.
    total_ = std::max(total_, status.totalPercent);
    if (status.state != state_ || status.version != version_) {
      EndLine();
      state_ = status.state;
      version_ = status.version;
      printf("[%5.1f%%] version %u (%s): %s\n", total_, status.version, status.stepText, StateText(status.state));
    }
    switch (kind) {
      case 2:
        if (terminal_) {
          printf("\r  downloading %s %5.1f%%", status.downloadFile, status.downloadPercent);
          fflush(stdout);
          open_ = true;
        }
        break;
      case 3:
        EndLine();
        printf("  section cabinet %u/%u downloaded and verified\n", status.sectionsDownloaded, status.sectionCount);
        break;
      case 15:
        EndLine();
        printf("  section patched\n");
        break;
      case 18:
        EndLine();
        printf("  extracted %s\n", status.extractFile);
        break;
      case 9:
        EndLine();
        printf("  patch list read\n");
        break;
      default:
        break;
    }
    fflush(stdout);
    return status.state;
  }

  void EndLine() {
    if (open_) printf("\n");
    open_ = false;
  }

 private:
  bool terminal_;
  bool open_ = false;
  uint32_t state_ = 0;
  uint32_t version_ = 0;
  float total_ = 0.0f;
};

// One engine run of `command` with the launcher's parameters; `addedFlags`
// are set whatever --flags says.
int RunEngineCommand(const char* command, uint32_t addedFlags, int argc, char** argv) {
  if (argc < 2) return Usage(command);
  uint32_t flags = kLauncherFlags;
  for (int i = 2; i < argc; ++i) {
    if (strcmp(argv[i], "--flags") == 0 && i + 1 < argc) {
      char* end = nullptr;
      flags = static_cast<uint32_t>(strtoul(argv[++i], &end, 0));
      if (end == nullptr || *end != '\0') return Usage(command);
    } else {
      return Usage(command);
    }
  }
  flags |= addedFlags;
  const std::string client = argv[0];
  const std::string manifestUrl = argv[1];

  // The launcher runs from the client folder, so the log lands in its Log/.
  if (!plat::SetCurrentFolder(client)) {
    fprintf(stderr, "patchtool: cannot enter the client folder %s\n", client.c_str());
    printf("failed: the client folder cannot be used\n");
    return 1;
  }
  const std::string workingFolder = plat::CurrentFolder();

  plat::MessageLoop window;
  PatchStartParams params{};
  params.ownerWindow = window.Handle();
  params.progressMessage = kProgressMessage;
  params.errorMessage = kErrorMessage;
  if (manifestUrl.size() >= sizeof params.manifestUrl || workingFolder.size() + 1 >= sizeof params.workingFolder) {
    printf("failed: the manifest URL or the client folder is too long\n");
    return 2;
  }
  snprintf(params.manifestUrl, sizeof params.manifestUrl, "%s", manifestUrl.c_str());
  snprintf(params.workingFolder, sizeof params.workingFolder, "%s", workingFolder.c_str());
  snprintf(params.versionSection, sizeof params.versionSection, "VERSION");
  snprintf(params.downloadSection, sizeof params.downloadSection, "DOWNLOAD");
  params.flags = flags;

  PatchStartResults results{};
  const uint32_t init = PLV5_Init(params, &results);
  printf("client version %u, latest %u, minimal %u: %s\n", results.localVersion, results.latestVersion,
         results.minimalVersion, InitResultText(init));
  if (init == 7) {
    PLV5_Uninit();
    printf("finished: the client is current at version %u\n", results.localVersion);
    return 0;
  }
  if (init != 0) {
    PLV5_Uninit();
    printf("failed: init result %u, %s\n", init, InitResultText(init));
    return static_cast<int>(init);
  }
  if (PLV5_StartPatch() != 1) {
    PLV5_Uninit();
    printf("failed: the patch run could not start (folders or thread)\n");
    return 1;
  }

  ProgressPrinter printer(plat::StdoutIsTerminal());
  for (;;) {
    plat::WindowMessage message{};
    if (!window.Get(&message, 1000)) continue;
    if (message.message == kErrorMessage) {
      printer.EndLine();
      PLV5_Uninit();
      const uint32_t code = static_cast<uint32_t>(message.wParam);
      printf("failed: engine error %u, %s\n", code, EngineErrorText(code));
      return kEngineErrorBase + static_cast<int>(code);
    }
    if (message.message == kProgressMessage && printer.Show(static_cast<uint32_t>(message.wParam)) == 10) {
      printer.EndLine();
      PLV5_Uninit();
      printf("finished: the client is current at version %u\n", results.latestVersion);
      return 0;
    }
  }
}

}  // namespace

int PatchCommand(int argc, char** argv) { return RunEngineCommand("patch", 0, argc, argv); }

int RepairCommand(int argc, char** argv) { return RunEngineCommand("repair", kFlagRepair, argc, argv); }
