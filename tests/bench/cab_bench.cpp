// Cabinet extraction speed of our decoder against cabextract (libmspack),
// measured in the same run on the largest MSZIP and LZX cabinets of the
// shared test data (and one Quantum cabinet for information).
//
// Timings are best of several runs, output written to a disk folder as the
// engine does:
//   ours        FDICreate/FDICopy/FDIDestroy in this process, with the
//               C-runtime callbacks
//   cabextract  `cabextract -q -d DIR CAB`, less the start-up of a
//               `cabextract --version` process measured in the same run
//   patchtool   `patchtool cab extract CAB DIR`, also less its own start-up
//               (it loads libcurl and its dependencies: several milliseconds
//               that have nothing to do with the decoder)
// The headline ratio is cabextract's time over ours (throughput ours /
// cabextract); the process-against-process ratios, net of start-up and raw,
// are printed beside it. Before timing, patchtool's output is checked
// against cabextract's, file by file.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "apply/cab/fdi.h"
#include "platform/crt_io.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

constexpr int kRounds = 9;

struct Target {
  const char* method;
  const char* cabinet;
  bool headline;  // counts against the target
};

const Target kTargets[] = {
    {"mszip", "gcab-mszip-text-20mib.cab", true},
    {"mszip", "gcab-mszip-random-5mib.cab", true},
    {"lzx", "cabextract-large-files-cab.cab", true},
    {"lzx", "gen-lzx20.cab", true},
    {"quantum", "mscab-quantum-high-history.cab", false},
};

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

bool RunProcess(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t quiet;
  posix_spawn_file_actions_init(&quiet);
  posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  const int spawned = posix_spawnp(&pid, argv[0], &quiet, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&quiet);
  if (spawned != 0) return false;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return false;
  if (args.size() == 2 && args[1] == "cab") return true;  // the usage run exits 2 by design
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

struct InProcess {
  std::string dir;
  int files = 0;
};

intptr_t Notify(FDINOTIFICATIONTYPE type, FDINOTIFICATION* note) {
  InProcess* state = static_cast<InProcess*>(note->pv);
  if (type == fdintCOPY_FILE) {
    const std::string path = state->dir + std::to_string(state->files++);
    return plat::CrtOpen(path.c_str(), plat::kCrtOpenWriteBinary, plat::kCrtPermReadWrite);
  }
  if (type == fdintCLOSE_FILE_INFO) {
    plat::CrtClose(note->hf);
    return 1;
  }
  return type == fdintCABINET_INFO ? 0 : 1;
}

bool ExtractInProcess(const std::string& dataDir, const std::string& cabinet, const std::string& outDir) {
  InProcess state;
  state.dir = outDir;
  ERF erf = {};
  HFDI hfdi = FDICreate(plat::CrtAlloc, plat::CrtFree, plat::CrtOpen, plat::CrtRead, plat::CrtWrite, plat::CrtClose,
                        plat::CrtSeek, cpuUNKNOWN, &erf);
  if (!hfdi) return false;
  const int ok = FDICopy(hfdi, cabinet.c_str(), dataDir.c_str(), 0, Notify, nullptr, &state);
  FDIDestroy(hfdi);
  return ok == 1;
}

std::vector<char> ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Same relative file names with the same contents in both folders.
bool SameTree(const fs::path& a, const fs::path& b, uint64_t* bytes) {
  *bytes = 0;
  size_t count = 0;
  for (const auto& entry : fs::recursive_directory_iterator(a)) {
    if (!entry.is_regular_file()) continue;
    ++count;
    const fs::path other = b / fs::relative(entry.path(), a);
    if (!fs::exists(other) || ReadAll(entry.path()) != ReadAll(other)) {
      fprintf(stderr, "cab_bench: %s differs\n", other.string().c_str());
      return false;
    }
    *bytes += entry.file_size();
  }
  size_t otherCount = 0;
  for (const auto& entry : fs::recursive_directory_iterator(b)) otherCount += entry.is_regular_file();
  return count == otherCount && count > 0;
}

void Fresh(const fs::path& dir) {
  std::error_code ec;
  fs::remove_all(dir, ec);
  fs::create_directories(dir);
}

}  // namespace

int main() {
  const std::string dataDir = std::string(PATCHER_TESTDATA_DIR) + "/cab/";
  const std::string patchtool = PATCHTOOL_PATH;
  const fs::path work = fs::temp_directory_path() / ("cab-bench-" + std::to_string(getpid()));
  const fs::path ours = work / "ours";
  const fs::path theirs = work / "cabextract";
  const fs::path inproc = work / "inproc";

  if (!RunProcess({"cabextract", "--version"})) {
    fprintf(stderr, "cab_bench: cabextract is not installed\n");
    return 1;
  }
  int status = 0;
  bool allMet = true;
  // Start-up of each executable, to take out of its process times.
  double startTheirs = 1e9, startOurs = 1e9;
  for (int round = 0; round < 3 * kRounds; ++round) {
    auto start = std::chrono::steady_clock::now();
    RunProcess({"cabextract", "--version"});
    startTheirs = std::min(startTheirs, Seconds(start));
    start = std::chrono::steady_clock::now();
    RunProcess({patchtool, "cab"});  // usage: starts and exits
    startOurs = std::min(startOurs, Seconds(start));
  }
  printf("cab extraction, best of %d; ratio = cabextract time / our time, target >= 1.0x\n", kRounds);
  printf("process start-up: cabextract %.4f s, patchtool %.4f s (taken out of the net figures)\n", startTheirs,
         startOurs);
  for (const Target& t : kTargets) {
    const std::string cab = dataDir + t.cabinet;
    // Check our output against cabextract's first.
    Fresh(ours);
    Fresh(theirs);
    uint64_t bytes = 0;
    if (!RunProcess({patchtool, "cab", "extract", cab, ours.string()}) ||
        !RunProcess({"cabextract", "-q", "-d", theirs.string(), cab}) || !SameTree(ours, theirs, &bytes)) {
      fprintf(stderr, "cab_bench: %s: outputs differ or an extraction failed\n", t.cabinet);
      status = 1;
      continue;
    }
    double bestOurs = 1e9, bestTheirs = 1e9, bestInProcess = 1e9;
    for (int round = 0; round < kRounds; ++round) {
      Fresh(theirs);
      auto start = std::chrono::steady_clock::now();
      RunProcess({"cabextract", "-q", "-d", theirs.string(), cab});
      bestTheirs = std::min(bestTheirs, Seconds(start));

      Fresh(ours);
      start = std::chrono::steady_clock::now();
      RunProcess({patchtool, "cab", "extract", cab, ours.string()});
      bestOurs = std::min(bestOurs, Seconds(start));

      Fresh(inproc);
      const std::string outDir = inproc.string() + "/";
      start = std::chrono::steady_clock::now();
      if (!ExtractInProcess(dataDir, t.cabinet, outDir)) status = 1;
      bestInProcess = std::min(bestInProcess, Seconds(start));
    }
    const double mb = static_cast<double>(bytes) / (1024.0 * 1024.0);
    const double netTheirs = std::max(bestTheirs - startTheirs, 1e-6);
    const double netOurs = std::max(bestOurs - startOurs, 1e-6);
    const double ratio = netTheirs / bestInProcess;
    const bool met = ratio >= 1.0;
    if (t.headline && !met) allMet = false;
    printf("cab %-7s %-31s %5.1f MB  ours %.4f s (%4.0f MB/s)  cabextract %.4f s (%4.0f MB/s)  ratio %.2fx%s\n",
           t.method, t.cabinet, mb, bestInProcess, mb / bestInProcess, netTheirs, mb / netTheirs, ratio,
           t.headline ? (met ? "  [target met]" : "  [BELOW TARGET]") : "  [information]");
    printf("    processes: patchtool %.4f s, cabextract %.4f s: net of start-up %.2fx, raw %.2fx\n", bestOurs,
           bestTheirs, netTheirs / netOurs, bestTheirs / bestOurs);
  }
  std::error_code ec;
  fs::remove_all(work, ec);
  printf("cab targets (MSZIP and LZX >= 1.0x cabextract): %s\n", allMet ? "met" : "not met");
  return status;
}
