// patchtool serve REPO [--port N] [--bind ADDR]: serves a repository folder
// over HTTP with byte ranges, to try it on one machine. Runs until it is
// stopped (Ctrl-C). Not for production: any static web server or CDN is.
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/clock.h"
#include "platform/file_system.h"
#include "publish/http_serving.h"
#include "tools/commands.h"
#include "tools/tool_options.h"

int ServeCommand(int argc, char** argv) {
  std::string repo;
  std::string bind = "127.0.0.1";
  uint32_t port = 8080;
  for (int i = 0; i < argc; ++i) {
    if (strcmp(argv[i], "--port") == 0 && i + 1 < argc && ParseU32(argv[i + 1], &port) && port <= 65535) {
      ++i;
    } else if (strcmp(argv[i], "--bind") == 0 && i + 1 < argc) {
      bind = argv[++i];
    } else if (repo.empty() && argv[i][0] != '-') {
      repo = argv[i];
    } else {
      repo.clear();
      break;
    }
  }
  if (repo.empty()) {
    fprintf(stderr, "usage: patchtool serve REPO [--port N] [--bind ADDR]\n");
    return 2;
  }
  if (!plat::DirectoryExists(repo)) {
    fprintf(stderr, "patchtool serve: no such folder: %s\n", repo.c_str());
    return 1;
  }
  publish::StaticHttpServer server(repo, [](const std::string& line) {
    printf("%s\n", line.c_str());
    fflush(stdout);
  });
  std::string error;
  if (!server.Start(static_cast<uint16_t>(port), bind, &error)) {
    fprintf(stderr, "patchtool serve: %s\n", error.c_str());
    return 1;
  }
  printf("serving %s at http://%s:%u/ (manifest: http://%s:%u/version.ini); stop with Ctrl-C\n", repo.c_str(),
         bind.c_str(), server.Port(), bind.c_str(), server.Port());
  fflush(stdout);
  for (;;) plat::SleepMs(1000);
}
