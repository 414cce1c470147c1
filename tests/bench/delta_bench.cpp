// Memory decoder speed on a large delta that is mostly EQL, against a plain
// copy of the same amount of data, measured in the same run.
//
// The files are made here, in a temp folder: a 256 MiB original of
// pseudo-random bytes and a new file with about 1% of it changed (short
// MOD runs every few KiB, now and then an insert or a delete), with the
// delta that turns one into the other.
//
// Timings are best of several rounds, taken in turn so that both see the
// same page cache and disk:
//   decoder    what the engine does per file: load the original and the
//              delta into reused memory streams, decode through the write
//              buffer (100 MiB, the engine's size) into the output file
//   copy       read the original into a reused block, copy it through a
//              100 MiB buffer and write the same number of bytes as the
//              new file
// The ratio is decoder time over copy time; the target is 1.5 or less.
// Before timing, the decoded file is checked against the expected one.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "apply/delta/delta_decoder.h"
#include "streams/virtual_memory_file_stream.h"
#include "streams/virtual_memory_stream.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kOriginalSize = 256u * 1024 * 1024;
constexpr uint32_t kBufferSize = 100u * 1024 * 1024;
constexpr int kRounds = 7;
constexpr double kTarget = 1.5;

struct FileCloser {
  void operator()(FILE* file) const { fclose(file); }
};
using UniqueFile = std::unique_ptr<FILE, FileCloser>;

class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return state_;
  }
  uint32_t Below(uint32_t n) { return static_cast<uint32_t>(Next() % n); }
  void Fill(uint8_t* bytes, size_t n) {
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
      const uint64_t v = Next();
      memcpy(bytes + i, &v, 8);
    }
    for (; i < n; ++i) bytes[i] = static_cast<uint8_t>(Next());
  }

 private:
  uint64_t state_;
};

void PutLength(std::vector<uint8_t>& delta, uint32_t n) {
  if (n >= 1 && n <= 252) {
    delta.push_back(static_cast<uint8_t>(n - 1));
  } else if (n >= 253 && n <= 508) {
    delta.push_back(252);
    delta.push_back(static_cast<uint8_t>(n - 253));
  } else if (n <= 0xFFFF) {
    delta.push_back(253);
    delta.push_back(static_cast<uint8_t>(n >> 8));
    delta.push_back(static_cast<uint8_t>(n));
  } else {
    delta.push_back(254);
    for (int shift = 24; shift >= 0; shift -= 8) delta.push_back(static_cast<uint8_t>(n >> shift));
  }
}

void PutOp(std::vector<uint8_t>& delta, uint8_t op) {
  delta.push_back(0xA7);
  delta.push_back(op);
}

// Data bytes with every escape doubled, which is always a valid encoding.
void PutData(std::vector<uint8_t>& delta, const uint8_t* bytes, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    delta.push_back(bytes[i]);
    if (bytes[i] == 0xA7) delta.push_back(0xA7);
  }
}

// Makes the new file and the delta from the original.
void MakeEdits(const std::vector<uint8_t>& orig, std::vector<uint8_t>* next, std::vector<uint8_t>* delta) {
  Random random(0x5EED);
  next->reserve(orig.size() + orig.size() / 64);
  uint32_t pos = 0;
  uint8_t data[512];
  while (pos < orig.size()) {
    const uint32_t equal = std::min<uint32_t>(2048 + random.Below(8192), static_cast<uint32_t>(orig.size()) - pos);
    PutOp(*delta, 0xA3);
    PutLength(*delta, equal);
    next->insert(next->end(), orig.begin() + pos, orig.begin() + pos + equal);
    pos += equal;
    if (pos >= orig.size()) break;
    const uint32_t kind = random.Below(100);
    if (kind == 0) {  // insert
      const uint32_t n = 1 + random.Below(400);
      random.Fill(data, n);
      PutOp(*delta, 0xA5);
      PutData(*delta, data, n);
      next->insert(next->end(), data, data + n);
    } else if (kind == 1) {  // delete
      const uint32_t n = std::min<uint32_t>(1 + random.Below(400), static_cast<uint32_t>(orig.size()) - pos);
      PutOp(*delta, 0xA4);
      PutLength(*delta, n);
      pos += n;
    } else {  // modify, with no MOD opcode as the reference encoder writes it
      const uint32_t n = std::min<uint32_t>(1 + random.Below(128), static_cast<uint32_t>(orig.size()) - pos);
      random.Fill(data, n);
      for (uint32_t i = 0; i < n; ++i) {
        if (data[i] == orig[pos + i]) data[i] ^= 0x55;
      }
      PutData(*delta, data, n);
      next->insert(next->end(), data, data + n);
      pos += n;
    }
  }
}

bool WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
  UniqueFile file(fopen(path.c_str(), "wb"));
  return file && fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
}

bool SameAs(const std::string& path, const std::vector<uint8_t>& expected) {
  UniqueFile file(fopen(path.c_str(), "rb"));
  if (!file) return false;
  std::vector<uint8_t> chunk(1 << 20);
  size_t at = 0;
  for (;;) {
    const size_t got = fread(chunk.data(), 1, chunk.size(), file.get());
    if (got == 0) break;
    if (at + got > expected.size() || memcmp(chunk.data(), expected.data() + at, got) != 0) return false;
    at += got;
  }
  return at == expected.size();
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// The engine's per-file path through reused streams.
struct Decoder {
  vestrel::CVirtualMemoryStream original;
  vestrel::CVirtualMemoryStream delta;
  vestrel::CVirtualMemoryFileStream output;

  Decoder() {
    original.SetBufferSize(kOriginalSize);
    delta.SetBufferSize(kBufferSize);
    output.SetBufferSize(kBufferSize);
  }

  bool Run(const std::string& orig, const std::string& patch, const std::string& out) {
    try {
      original.LoadFromFile(orig);
      delta.LoadFromFile(patch);
    } catch (vestrel::_CPB_ERROR error) {
      fprintf(stderr, "delta_bench: load failed with %d\n", static_cast<int>(error));
      return false;
    }
    output.SetFileName(out);
    uint64_t written = 0;
    return CDeltaDecoder().DecodeMemory(original, delta, output, &written) == kDeltaOk;
  }
};

// The reference: the same reads and writes with a plain copy between them.
struct Copy {
  std::vector<uint8_t> block = std::vector<uint8_t>(kOriginalSize);
  std::vector<uint8_t> buffer = std::vector<uint8_t>(kBufferSize);

  bool Run(const std::string& orig, const std::string& out, size_t outputSize) {
    UniqueFile in(fopen(orig.c_str(), "rb"));
    if (!in || fread(block.data(), 1, block.size(), in.get()) != block.size()) return false;
    UniqueFile file(fopen(out.c_str(), "wb"));
    if (!file) return false;
    setvbuf(file.get(), nullptr, _IONBF, 0);
    size_t done = 0;
    while (done < outputSize) {
      const size_t n = std::min(buffer.size(), outputSize - done);
      const size_t from = done % block.size();
      const size_t first = std::min(n, block.size() - from);
      memcpy(buffer.data(), block.data() + from, first);
      memcpy(buffer.data() + first, block.data(), n - first);
      if (fwrite(buffer.data(), 1, n, file.get()) != n) return false;
      done += n;
    }
    return true;
  }
};

}  // namespace

int main() {
  const fs::path dir = fs::temp_directory_path() / ("delta-bench-" + std::to_string(std::random_device{}()));
  std::error_code ec;
  fs::create_directories(dir, ec);
  const std::string orig = (dir / "orig").string();
  const std::string patch = (dir / "delta.jdf").string();
  const std::string outDecoder = (dir / "out.decoder").string();
  const std::string outCopy = (dir / "out.copy").string();

  int status = 0;
  {
    std::vector<uint8_t> original(kOriginalSize);
    Random(42).Fill(original.data(), original.size());
    std::vector<uint8_t> expected;
    std::vector<uint8_t> delta;
    MakeEdits(original, &expected, &delta);
    if (!WriteAll(orig, original) || !WriteAll(patch, delta)) {
      fprintf(stderr, "delta_bench: cannot write the inputs to %s\n", dir.string().c_str());
      fs::remove_all(dir, ec);
      return 1;
    }
    printf("delta decoder, best of %d: original %.0f MiB, new %.0f MiB, delta %.2f MiB\n", kRounds,
           original.size() / 1048576.0, expected.size() / 1048576.0, delta.size() / 1048576.0);
    const size_t outputSize = expected.size();

    Decoder decoder;
    Copy copy;
    if (!decoder.Run(orig, patch, outDecoder) || !SameAs(outDecoder, expected)) {
      fprintf(stderr, "delta_bench: the decoded file is wrong\n");
      status = 1;
    } else {
      expected = std::vector<uint8_t>();  // the memory is better spent on the page cache
      double bestDecoder = 1e30;
      double bestCopy = 1e30;
      for (int round = 0; round < kRounds && status == 0; ++round) {
        // Each goes first in every other round: neither always finds the
        // other's writes still being flushed to disk.
        for (int turn = 0; turn < 2; ++turn) {
          const auto start = std::chrono::steady_clock::now();
          if ((round + turn) % 2 == 0) {
            if (!copy.Run(orig, outCopy, outputSize)) status = 1;
            bestCopy = std::min(bestCopy, Seconds(start));
          } else {
            if (!decoder.Run(orig, patch, outDecoder)) status = 1;
            bestDecoder = std::min(bestDecoder, Seconds(start));
          }
        }
      }
      if (status != 0) {
        fprintf(stderr, "delta_bench: a timed run failed\n");
      } else {
        const double mib = outputSize / 1048576.0;
        const double ratio = bestDecoder / bestCopy;
        printf("memory decoder %.3f s (%.0f MiB/s)  read+memcpy+write %.3f s (%.0f MiB/s)  ratio %.2fx\n",
               bestDecoder, mib / bestDecoder, bestCopy, mib / bestCopy, ratio);
        printf("delta target (memory decoder within %.1fx of the copy): %s\n", kTarget,
               ratio <= kTarget ? "met" : "not met");
      }
    }
  }
  fs::remove_all(dir, ec);
  return status;
}
