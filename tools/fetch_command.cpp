// patchtool fetch URL FILE [--resume] [--transport socket|inet|moniker|all]:
// one fetch the way the patcher makes it, with a progress bar on a terminal,
// then the result code and its meaning.
#include <cstdio>
#include <cstring>
#include <string>

#include "download/fetch.h"
#include "download/http_inet.h"
#include "download/http_socket.h"
#include "platform/console.h"
#include "platform/url_moniker.h"
#include "tools/commands.h"

namespace {

constexpr int kBarWidth = 40;

void DrawBar(int32_t done, int32_t total) {
  if (total > 0) {
    const double share = done >= total ? 1.0 : static_cast<double>(done) / total;
    const int filled = static_cast<int>(share * kBarWidth);
    printf("\r[%-*.*s] %5.1f%%  %d / %d bytes", kBarWidth, filled,
           "########################################", share * 100.0, done, total);
  } else {
    printf("\r%d bytes", done);
  }
  fflush(stdout);
}

int FetchUsage() {
  fprintf(stderr, "usage: patchtool fetch URL FILE [--resume] [--transport socket|inet|moniker|all]\n");
  return 2;
}

}  // namespace

int FetchCommand(int argc, char** argv) {
  if (argc < 2) return FetchUsage();
  const std::string url = argv[0];
  const std::string file = argv[1];
  int32_t resume = 0;
  std::string transport = "all";
  for (int i = 2; i < argc; ++i) {
    if (strcmp(argv[i], "--resume") == 0) {
      resume = 1;
    } else if (strcmp(argv[i], "--transport") == 0 && i + 1 < argc) {
      transport = argv[++i];
    } else {
      return FetchUsage();
    }
  }

  const bool terminal = plat::StdoutIsTerminal();
  const TransferProgress progress = terminal ? TransferProgress(&DrawBar) : TransferProgress();
  int32_t result = kFetchOpenFailed;
  if (transport == "all") {
    result = static_cast<int32_t>(GetFileFromServerV5(url, file, resume, progress));
  } else if (transport == "socket") {
    result = GetFileBySocket(url, resume, file, progress);
  } else if (transport == "inet") {
    result = GetFileByInet(file, url, resume, progress);
  } else if (transport == "moniker") {
    result = plat::UrlDownloadToFile(url, file) ? kFetchOk : kFetchOpenFailed;
  } else {
    return FetchUsage();
  }
  if (terminal) printf("\n");
  printf("result %d: %s\n", result, FetchResultText(result));
  return result == kFetchOk ? 0 : 1;
}
