// Download speed: one 256 MiB file from nginx on loopback, fetched by the
// engine's fetch procedure (the default transport, as the engine fetches a
// section) and by curl into a file, in turn, measured in the same run.
// Prints curl's time over ours, the median of the pairs; the target is
// 1.0 or more.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "download/fetch.h"
#include "download/fetch_result.h"
#include "tests/support/nginx_server.h"
#include "tests/support/test_support.h"

namespace {

constexpr size_t kFileSize = 256u * 1024 * 1024;
constexpr int kRounds = 5;
constexpr double kTarget = 1.0;

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main() {
  if (!testsupport::NginxServer::Available() || std::system("curl --version >/dev/null 2>&1") != 0) {
    printf("download: skipped, nginx or curl is not installed\n");
    return 0;
  }
  testsupport::TempDir served;
  testsupport::TempDir local;
  {
    std::string bytes(kFileSize, '\0');
    uint64_t x = 0x243F6A8885A308D3ull;
    for (size_t i = 0; i + 8 <= bytes.size(); i += 8) {
      x ^= x << 13;
      x ^= x >> 7;
      x ^= x << 17;
      bytes.replace(i, 8, reinterpret_cast<const char*>(&x), 8);
    }
    if (!testsupport::WriteFileText(served.Path() + "big.bin", bytes)) {
      fprintf(stderr, "download_bench: cannot write the served file\n");
      return 1;
    }
  }
  testsupport::NginxServer nginx;
  if (!nginx.Start(served.Path())) {
    fprintf(stderr, "download_bench: nginx did not start: %s\n", nginx.Error().c_str());
    return 1;
  }
  const std::string url = nginx.Url("/big.bin");
  const std::string ours = local.Path() + "ours.bin";
  const std::string theirs = local.Path() + "curl.bin";
  const std::string curl = "curl -s -f -o \"" + theirs + "\" \"" + url + "\"";

  std::vector<double> oursTimes, curlTimes, ratios;
  for (int round = 0; round < kRounds; ++round) {
    double oursTime = 0;
    double curlTime = 0;
    for (int turn = 0; turn < 2; ++turn) {
      const Clock::time_point start = Clock::now();
      if ((round + turn) % 2 == 0) {
        if (GetFileFromServerV5(url, ours, 0, TransferProgress()) != kFetchOk) {
          fprintf(stderr, "download_bench: our fetch failed\n");
          return 1;
        }
        oursTime = Seconds(start);
      } else {
        if (std::system(curl.c_str()) != 0) {
          fprintf(stderr, "download_bench: curl failed\n");
          return 1;
        }
        curlTime = Seconds(start);
      }
    }
    oursTimes.push_back(oursTime);
    curlTimes.push_back(curlTime);
    ratios.push_back(curlTime / oursTime);
  }
  if (testsupport::ReadFileText(ours) != testsupport::ReadFileText(served.Path() + "big.bin")) {
    fprintf(stderr, "download_bench: our copy differs from the served file\n");
    return 1;
  }
  const double ratio = Median(ratios);
  const double mib = kFileSize / 1048576.0;
  printf("download of %.0f MiB from nginx on loopback, median of %d pairs: ours %.3f s (%.0f MiB/s), curl %.3f s "
         "(%.0f MiB/s), curl/ours %.2f\n",
         mib, kRounds, Median(oursTimes), mib / Median(oursTimes), Median(curlTimes), mib / Median(curlTimes), ratio);
  printf("download target (curl/ours %.1f or more): %s\n", kTarget, ratio >= kTarget ? "met" : "not met");
  return 0;
}
