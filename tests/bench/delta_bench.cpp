// The three delta decoders against a copy of the file they rebuild,
// measured in the same run.
//
// Data: the shared set's archive_32m pair (33.7 MB original, 33.9 MB new,
// its reference delta), rebuilt here with the set's own generator, and an
// in-place delta made here over the same original (short MOD runs every
// few KiB: nothing but EQL and MOD, so the size stays).
//
// Each decoder is timed the way the diff patch runs it, each run paired
// with a copy of its result (medians of the pairs):
//   memory    original mapped read-only, delta loaded into a reused
//             100 MiB stream, output through the 100 MiB write buffer into
//             a new file that then replaces the result
//   memory, original loaded   the same with the original read into its
//             stream first: the fallback when it cannot be mapped, and the
//             only way before the mapping
//   file      the byte-by-byte decoder over three stdio files
//   in place  the client file mapped read-write and patched where it lies
// The reference is a copy of the decoder's result, as `cp` makes it (the
// system's file copy, copy_file_range on Linux), into a new file moved over
// the last one as the decoders' outputs are. Each ratio is decoder
// time over copy time; the target for the memory decoder is 1.5 or less.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "apply/delta/delta_decoder.h"
#include "streams/cpb_error.h"
#include "streams/file_map_stream.h"
#include "streams/virtual_memory_file_stream.h"
#include "streams/virtual_memory_stream.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kBufferSize = 100u * 1024 * 1024;
constexpr int kRounds = 7;
constexpr double kTarget = 1.5;
const std::string kData = PATCHER_TESTDATA_DIR "/jdiff/";

struct FileCloser {
  void operator()(FILE* file) const { fclose(file); }
};
using UniqueFile = std::unique_ptr<FILE, FileCloser>;

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

bool WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
  UniqueFile file(fopen(path.c_str(), "wb"));
  return file && fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
}

// The generator's arguments for a case, from the set's manifest.
std::string RegenArguments(const std::string& name) {
  std::ifstream in(kData + "MANIFEST.tsv");
  const std::string marker = "regen: python3 gen.py ";
  for (std::string line; std::getline(in, line);) {
    const size_t at = line.find(marker);
    if (line.rfind(name + "\t", 0) == 0 && at != std::string::npos) return line.substr(at + marker.size());
  }
  return "";
}

// A MOD-only delta over the original: runs of 1 to 64 changed bytes every
// 2 to 10 KiB, as a same-size update of an archive makes them.
std::vector<uint8_t> MakeInPlaceDelta(const std::vector<uint8_t>& orig) {
  std::vector<uint8_t> delta;
  uint64_t state = 0x9E3779B97F4A7C15ull;
  auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  size_t pos = 0;
  while (pos < orig.size()) {
    const size_t equal = std::min<size_t>(2048 + next() % 8192, orig.size() - pos);
    delta.insert(delta.end(), {0xA7, 0xA3, 0xFD, static_cast<uint8_t>(equal >> 8), static_cast<uint8_t>(equal)});
    pos += equal;
    const size_t n = std::min<size_t>(1 + next() % 64, orig.size() - pos);
    for (size_t i = 0; i < n; ++i, ++pos) {
      uint8_t byte = static_cast<uint8_t>(orig[pos] ^ (1 + next() % 255));
      delta.push_back(byte);
      if (byte == 0xA7) delta.push_back(0xA7);
    }
  }
  return delta;
}

// The streams of one patch task, reused from file to file.
struct Streams {
  vestrel::CVirtualMemoryStream original;
  vestrel::CVirtualMemoryStream delta;
  vestrel::CVirtualMemoryFileStream output;

  Streams() {
    original.SetBufferSize(kBufferSize);
    delta.SetBufferSize(kBufferSize);
    output.SetBufferSize(kBufferSize);
  }
};

bool Load(vestrel::CVirtualMemoryStream& stream, const std::string& path) {
  try {
    stream.LoadFromFile(path);
    return true;
  } catch (vestrel::_CPB_ERROR error) {
    fprintf(stderr, "delta_bench: loading %s failed with %d\n", path.c_str(), static_cast<int>(error));
    return false;
  }
}

bool DecodeMemory(Streams& s, bool mapOriginal, const std::string& orig, const std::string& patch,
                  const std::string& out) {
  const std::string temp = out + ".part";
  if (!Load(s.delta, patch)) return false;
  s.output.SetFileName(temp);
  uint32_t result = 0;
  if (mapOriginal) {
    vestrel::TFileMapStream mapped(orig, plat::MapAccess::kRead);
    if (!mapped.IsOpen()) return false;
    result = CDeltaDecoder().DecodeMemory(mapped.GetMemory(), mapped.GetSize(), s.delta.GetMemory(),
                                          s.delta.GetDataSize(), s.output, nullptr);
  } else {
    if (!Load(s.original, orig)) return false;
    result = CDeltaDecoder().DecodeMemory(s.original, s.delta, s.output, nullptr);
  }
  std::error_code ec;
  fs::rename(temp, out, ec);
  return result == kDeltaOk && !ec;
}

bool DecodeFile(const std::string& orig, const std::string& patch, const std::string& out) {
  UniqueFile original(fopen(orig.c_str(), "rb"));
  UniqueFile delta(fopen(patch.c_str(), "rb"));
  UniqueFile output(fopen(out.c_str(), "wb"));
  if (!original || !delta || !output) return false;
  return CDeltaDecoder().DecodeFile(original.get(), delta.get(), output.get()) == kDeltaOk;
}

// MOD bytes store the same values every time, so the file can be patched
// again and again.
bool DecodeInPlace(Streams& s, const std::string& patch, const std::string& target) {
  if (!Load(s.delta, patch)) return false;
  vestrel::TFileMapStream mapped(target);
  return mapped.IsOpen() && CDeltaDecoder().DecodeInPlace(mapped, s.delta) == kDeltaOk;
}

// Made apart and moved in, as the decoders' outputs are: both pay for
// replacing the last round's file.
bool Copy(const std::string& from, const std::string& to) {
  std::error_code ec;
  const std::string temp = to + ".part";
  if (!fs::copy_file(from, temp, fs::copy_options::overwrite_existing, ec) || ec) return false;
  fs::rename(temp, to, ec);
  return !ec;
}

struct Timing {
  std::vector<double> decoder, copy, ratio;

  static double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
  }
};

// One decode and one copy of `result`, in the order the round asks, so
// neither always meets the other's writes still going to disk. The ratio
// is taken pair by pair: the machine's pace drifts as dirty pages build up,
// and both of a pair see the same.
bool Pair(int round, const std::function<bool()>& decode, const std::string& result, const std::string& copy,
          Timing* t) {
  double decoder = 0;
  double copied = 0;
  for (int turn = 0; turn < 2; ++turn) {
    const auto start = std::chrono::steady_clock::now();
    if ((round + turn) % 2 == 0) {
      if (!Copy(result, copy)) return false;
      copied = Seconds(start);
    } else {
      if (!decode()) return false;
      decoder = Seconds(start);
    }
  }
  t->decoder.push_back(decoder);
  t->copy.push_back(copied);
  t->ratio.push_back(decoder / copied);
  return true;
}

bool SameFile(const std::string& a, const std::string& b) { return ReadAll(a) == ReadAll(b); }

}  // namespace

int main() {
  const fs::path dir = fs::temp_directory_path() /
                       ("delta-bench-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  std::error_code ec;
  fs::create_directories(dir, ec);
  const std::string args = RegenArguments("archive_32m");
  std::string command = args;
  const size_t outdir = command.find("OUTDIR");
  if (args.empty() || outdir == std::string::npos) {
    fprintf(stderr, "delta_bench: archive_32m is not in %sMANIFEST.tsv\n", kData.c_str());
    return 1;
  }
  command.replace(outdir, 6, "\"" + dir.string() + "\"");
  command = "cd \"" + kData + "\" && \"" PYTHON_PATH "\" gen.py " + command + " >/dev/null";
  if (std::system(command.c_str()) != 0) {
    fprintf(stderr, "delta_bench: the generator could not rebuild archive_32m\n");
    fs::remove_all(dir, ec);
    return 1;
  }
  const std::string orig = (dir / "orig").string();
  const std::string expected = (dir / "new").string();
  const std::string patch = kData + "archive_32m/delta.jdf";
  const std::string inPlacePatch = (dir / "inplace.jdf").string();
  const std::string inPlaceTarget = (dir / "inplace.target").string();
  const std::string out = (dir / "out").string();
  const std::string copy = (dir / "copy").string();

  int status = 0;
  Streams streams;
  const double mib = static_cast<double>(fs::file_size(expected, ec)) / 1048576.0;
  printf("delta decoders on archive_32m (%.1f MiB out), median of %d pairs, against a copy of the result:\n", mib, kRounds);
  struct Mode {
    const char* name;
    std::function<bool()> decode;
  };
  const std::vector<uint8_t> original = ReadAll(orig);
  const std::vector<uint8_t> inPlaceDelta = MakeInPlaceDelta(original);
  if (!WriteAll(inPlacePatch, inPlaceDelta) || !WriteAll(inPlaceTarget, original)) status = 1;
  const Mode modes[] = {
      {"memory", [&] { return DecodeMemory(streams, true, orig, patch, out); }},
      {"memory, original loaded", [&] { return DecodeMemory(streams, false, orig, patch, out); }},
      {"file", [&] { return DecodeFile(orig, patch, out); }},
      {"in place", [&] { return DecodeInPlace(streams, inPlacePatch, inPlaceTarget); }},
  };
  constexpr size_t kModes = sizeof modes / sizeof modes[0];
  // Every mode once before timing, each result checked.
  for (const Mode& mode : modes) {
    const bool inPlace = &mode == &modes[kModes - 1];
    if (status == 0 && (!mode.decode() || (!inPlace && !SameFile(out, expected)))) {
      fprintf(stderr, "delta_bench: the %s decoder failed or rebuilt a wrong file\n", mode.name);
      status = 1;
    }
  }
  Timing timings[kModes];
  for (int round = 0; round < kRounds && status == 0; ++round) {
    for (size_t m = 0; m < kModes && status == 0; ++m) {
      const bool inPlace = m == kModes - 1;
      if (!Pair(round, modes[m].decode, inPlace ? inPlaceTarget : out, copy, &timings[m])) {
        fprintf(stderr, "delta_bench: a timed %s run failed\n", modes[m].name);
        status = 1;
      }
    }
  }
  double memoryRatio = 0;
  for (size_t m = 0; m < kModes && status == 0; ++m) {
    const Timing& t = timings[m];
    const double decoder = Timing::Median(t.decoder);
    const double ratio = Timing::Median(t.ratio);
    if (m == 0) memoryRatio = ratio;
    printf("  %-24s %.3f s (%4.0f MiB/s)  copy %.3f s  ratio %.2fx\n", modes[m].name, decoder,
           (m == kModes - 1 ? original.size() / 1048576.0 : mib) / decoder, Timing::Median(t.copy), ratio);
  }
  if (status == 0) {
    printf("  (in place: a %.2f MiB delta of MOD runs every few KiB over the same original)\n",
           inPlaceDelta.size() / 1048576.0);
  }
  if (memoryRatio > 0) {
    printf("delta target (memory decoder within %.1fx of the copy): %s\n", kTarget,
           memoryRatio <= kTarget ? "met" : "not met");
  }
  fs::remove_all(dir, ec);
  return status;
}
