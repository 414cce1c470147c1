// Our delta encoder on the JojoDiff reference pairs, measured in one run:
//   size   the total of our deltas against the reference tool's own
//          (MANIFEST.tsv, variant default), and the worst pairs by ratio;
//          the target is a total within 1.15 times the reference's
//   speed  encoding the 32 MiB pair (archive_32m) file to file, against a
//          plain read of both inputs through the same file calls, best of
//          several rounds taken in turn; the target is under 2 s
// The pairs that the data set does not store are rebuilt first with its
// own generator, into a temp folder removed at the end.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "publish/delta_encoder.h"

namespace fs = std::filesystem;

namespace {

constexpr int kRounds = 5;
constexpr double kSizeTarget = 1.15;
constexpr double kSecondsTarget = 2.0;
const std::string kData = PATCHER_TESTDATA_DIR "/jdiff/";

struct Pair {
  std::string name;
  std::string dir;  // holds orig and new
  uint64_t theirs = 0;
  bool stored = true;
};

// The default rows of the manifest, except the 4 GiB pair.
std::vector<Pair> ReadPairs(const std::string& regenDir) {
  std::ifstream in(kData + "MANIFEST.tsv");
  std::vector<Pair> pairs;
  std::string line;
  std::getline(in, line);  // the header
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    std::istringstream split(line);
    for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
    if (fields.size() < 23 || fields[1] != "default" || std::stoull(fields[5]) > kDeltaMaxFileSize) continue;
    Pair pair;
    pair.name = fields[0];
    pair.theirs = std::stoull(fields[9]);
    pair.stored = fields[22] == "stored";
    pair.dir = (pair.stored ? kData : regenDir + "/") + pair.name + "/";
    pairs.push_back(pair);
  }
  return pairs;
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Reads a whole file the way the encoder does, in blocks of 1 MiB.
bool ReadAll(const std::string& path, std::vector<uint8_t>& block) {
  plat::File file;
  if (!file.Open(path, plat::File::kRead, plat::File::kShareRead, plat::File::kOpenExisting)) return false;
  uint32_t done = 0;
  do {
    if (!file.Read(block.data(), static_cast<uint32_t>(block.size()), &done)) return false;
  } while (done == block.size());
  return true;
}

}  // namespace

int main() {
  const fs::path work = fs::temp_directory_path() / ("encoder-bench-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  std::error_code ec;
  fs::create_directories(work, ec);
  const std::string regenDir = (work / "regen").string();
  const std::string delta = (work / "delta").string();
  int status = 0;

  const std::string regen = std::string("\"") + CMAKE_PATH + "\" \"-DPYTHON=" + PYTHON_PATH + "\" \"-DDATA=" + kData +
                            "\" \"-DOUT=" + regenDir + "\" -P \"" + REGEN_SCRIPT + "\" >/dev/null";
  if (std::system(regen.c_str()) != 0) {
    fprintf(stderr, "encoder_bench: the generator could not rebuild the large pairs\n");
    fs::remove_all(work, ec);
    return 1;
  }

  // ---- size
  const CDeltaEncoder encoder;
  uint64_t ours = 0;
  uint64_t theirs = 0;
  struct Worst {
    std::string name;
    uint64_t ours = 0, theirs = 0;
    double ratio = 0;
  } worst, worstLarge;  // worstLarge: pairs whose reference delta has 1 KiB or more
  const std::vector<Pair> pairs = ReadPairs(regenDir);
  for (const Pair& pair : pairs) {
    const DeltaEncodeResult result = encoder.EncodeFiles(pair.dir + "orig", pair.dir + "new", delta);
    if (result.status != DeltaEncodeStatus::kOk) {
      fprintf(stderr, "encoder_bench: %s failed with status %u\n", pair.name.c_str(), static_cast<unsigned>(result.status));
      status = 1;
      continue;
    }
    ours += result.deltaSize;
    theirs += pair.theirs;
    const double ratio = static_cast<double>(result.deltaSize) / static_cast<double>(std::max<uint64_t>(pair.theirs, 1));
    if (ratio > worst.ratio) worst = {pair.name, result.deltaSize, pair.theirs, ratio};
    if (pair.theirs >= 1024 && ratio > worstLarge.ratio) worstLarge = {pair.name, result.deltaSize, pair.theirs, ratio};
  }
  const double sizeRatio = static_cast<double>(ours) / static_cast<double>(std::max<uint64_t>(theirs, 1));
  printf("delta encoder, %zu reference pairs: ours %llu bytes, reference %llu bytes, ratio %.3f\n", pairs.size(),
         static_cast<unsigned long long>(ours), static_cast<unsigned long long>(theirs), sizeRatio);
  printf("worst pair %s: %llu against %llu bytes (%.2fx); worst with a reference delta of 1 KiB or more %s: %llu against %llu (%.2fx)\n",
         worst.name.c_str(), static_cast<unsigned long long>(worst.ours), static_cast<unsigned long long>(worst.theirs),
         worst.ratio, worstLarge.name.c_str(), static_cast<unsigned long long>(worstLarge.ours),
         static_cast<unsigned long long>(worstLarge.theirs), worstLarge.ratio);
  printf("size target (total within %.2fx of the reference): %s\n", kSizeTarget, sizeRatio <= kSizeTarget ? "met" : "not met");

  // ---- speed
  const std::string orig = regenDir + "/archive_32m/orig";
  const std::string next = regenDir + "/archive_32m/new";
  std::vector<uint8_t> block(1u << 20);
  double bestEncode = 1e30;
  double bestRead = 1e30;
  uint64_t size = 0;
  for (int round = 0; round < kRounds && status == 0; ++round) {
    for (int turn = 0; turn < 2; ++turn) {
      const auto start = std::chrono::steady_clock::now();
      if ((round + turn) % 2 == 0) {
        if (!ReadAll(orig, block) || !ReadAll(next, block)) status = 1;
        bestRead = std::min(bestRead, Seconds(start));
      } else {
        const DeltaEncodeResult result = encoder.EncodeFiles(orig, next, delta);
        if (result.status != DeltaEncodeStatus::kOk) status = 1;
        size = result.deltaSize;
        bestEncode = std::min(bestEncode, Seconds(start));
      }
    }
  }
  if (status == 0) {
    uint64_t origSize = 0;
    uint64_t newSize = 0;
    plat::FileSize(orig, &origSize);
    plat::FileSize(next, &newSize);
    const double mib = static_cast<double>(origSize + newSize) / 1048576.0;
    printf("archive_32m (%.1f MiB in, delta %llu bytes), best of %d: encode %.3f s (%.0f MiB/s)  plain read %.3f s (%.0f MiB/s)  ratio %.1fx\n",
           mib, static_cast<unsigned long long>(size), kRounds, bestEncode, mib / bestEncode, bestRead, mib / bestRead,
           bestEncode / bestRead);
    printf("speed target (the 32 MiB pair in under %.0f s): %s\n", kSecondsTarget, bestEncode < kSecondsTarget ? "met" : "not met");
  } else {
    fprintf(stderr, "encoder_bench: a timed run failed\n");
  }
  fs::remove_all(work, ec);
  return status;
}
