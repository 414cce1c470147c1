// patchtool build: one more version of a patch repository from two client
// trees (publish/repo_builder.h). A progress bar on a terminal, a summary
// at the end.
//
// Exit status: 0 built; 1 a file could not be read or written; 2 a wrong
// command line or input the builder refuses (nothing was written).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "engine/patcher_version.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "publish/repo_builder.h"
#include "tools/commands.h"
#include "tools/tool_options.h"

namespace {

constexpr char kUsage[] =
    "usage: patchtool build --from OLD_TREE --to NEW_TREE --repo REPO --version N [--base-version M]\n"
    "                       [--section-size MB] [--compression none|mszip|lzx] [--level 1-9] [--jobs J]\n"
    "                       [--server URL [--weight W]]...\n";

int Usage(const char* problem = nullptr) {
  if (problem) fprintf(stderr, "patchtool build: %s\n", problem);
  fputs(kUsage, stderr);
  return 2;
}

// A bar redrawn in place, about ten times a second at most.
class ProgressBar {
 public:
  explicit ProgressBar(bool terminal) : terminal_(terminal) {}
  ~ProgressBar() { End(); }

  void Show(const publish::BuildProgress& progress) {
    if (!terminal_) return;
    const uint32_t now = plat::TickCount();
    const bool phaseChanged = phase_ != progress.phase;
    if (!phaseChanged && progress.done < progress.total && now - last_ < 100) return;
    if (phaseChanged && open_) End();
    last_ = now;
    phase_ = progress.phase;
    const double share = progress.total ? static_cast<double>(progress.done) / progress.total : 1.0;
    const int filled = static_cast<int>(share * 30);
    fprintf(stderr, "\r  %-17s [%s%s] %3d%%  %7.1f MiB", progress.phase, std::string(filled, '#').c_str(),
            std::string(30 - filled, '.').c_str(), static_cast<int>(share * 100), progress.done / 1048576.0);
    fflush(stderr);
    open_ = true;
  }

  void End() {
    if (open_) fputc('\n', stderr);
    open_ = false;
  }

 private:
  bool terminal_;
  bool open_ = false;
  std::string phase_;
  uint32_t last_ = 0;
};

double MiB(uint64_t bytes) { return bytes / 1048576.0; }

}  // namespace

int BuildCommand(int argc, char** argv) {
  publish::BuildOptions options;
  options.ownVersion = kPatcherVersion;
  options.jobs = std::max(1u, std::thread::hardware_concurrency());
  bool haveVersion = false;
  for (int i = 0; i < argc; ++i) {
    const std::string arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    if (!value) return Usage(("a value must follow " + arg).c_str());
    ++i;
    uint32_t number = 0;
    if (arg == "--from") {
      options.fromTree = value;
    } else if (arg == "--to") {
      options.toTree = value;
    } else if (arg == "--repo") {
      options.repo = value;
    } else if (arg == "--version" && ParseU32(value, &number)) {
      options.version = number;
      haveVersion = true;
    } else if (arg == "--base-version" && ParseU32(value, &number)) {
      options.baseVersion = number;
      options.baseVersionGiven = true;
    } else if (arg == "--section-size" && ParseU32(value, &number) && number > 0 && number <= 2048) {
      options.sectionBytes = uint64_t{number} << 20;
    } else if (arg == "--level" && ParseU32(value, &number) && number >= 1 && number <= 9) {
      options.level = static_cast<int>(number);
    } else if (arg == "--jobs" && ParseU32(value, &number) && number >= 1 && number <= 64) {
      options.jobs = number;
    } else if (arg == "--compression") {
      if (strcmp(value, "none") == 0) {
        options.compression = publish::CabCompression::kNone;
      } else if (strcmp(value, "mszip") == 0) {
        options.compression = publish::CabCompression::kMszip;
      } else if (strcmp(value, "lzx") == 0) {
        fprintf(stderr, "patchtool build: LZX compression is not supported for writing; use mszip or none\n");
        return 2;
      } else {
        return Usage("--compression takes none, mszip or lzx");
      }
    } else if (arg == "--server") {
      options.servers.push_back(publish::ManifestServer{value, 1});
    } else if (arg == "--weight" && ParseU32(value, &number) && number > 0 && !options.servers.empty()) {
      options.servers.back().weight = number;
    } else {
      return Usage(("unknown option or bad value: " + arg + " " + value).c_str());
    }
  }
  if (options.fromTree.empty() || options.toTree.empty() || options.repo.empty() || !haveVersion) {
    return Usage("--from, --to, --repo and --version are needed");
  }

  ProgressBar bar(plat::StdoutIsTerminal());
  publish::BuildSummary summary;
  std::string error;
  const uint32_t start = plat::TickCount();
  const publish::BuildResult result =
      publish::BuildVersion(options, &summary, &error, [&](const publish::BuildProgress& p) { bar.Show(p); });
  bar.End();
  if (result != publish::kBuildOk) {
    fprintf(stderr, "patchtool build: %s%s\n", result == publish::kBuildRefused ? "refused: " : "", error.c_str());
    if (result == publish::kBuildRefused) fprintf(stderr, "nothing was written\n");
    return result == publish::kBuildRefused ? 2 : 1;
  }
  for (const std::string& note : summary.notes) printf("note: %s\n", note.c_str());
  printf("version %u %s from version %u into %s%s\n", summary.version, summary.rebuilt ? "rebuilt" : "built",
         summary.previous, options.repo.c_str(), summary.newRepository ? " (a new repository)" : "");
  printf("  %zu section(s): %zu file(s) changed (%zu as deltas, %zu of them in place), %zu new, %zu deleted\n",
         summary.sections, summary.changed, summary.deltas, summary.inPlaceDeltas, summary.added, summary.deleted);
  printf("  D cabinets %.1f MiB, N cabinets %.1f MiB, for %.1f MiB of changed files in a client of %.1f MiB\n",
         MiB(summary.diffCabBytes), MiB(summary.normalCabBytes), MiB(summary.changedBytes), MiB(summary.clientBytes));
  printf("  %.1f s\n", (plat::TickCount() - start) / 1000.0);
  return 0;
}
