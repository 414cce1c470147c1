// patchtool: command-line tools for people who run patch servers.
#include <cstdio>
#include <cstring>

#include "engine/patcher_version.h"
#include "tools/commands.h"

namespace {

const PatchtoolCommand kCommands[] = {PATCHTOOL_COMMANDS};

void PrintUsage(FILE* out) {
  fprintf(out, "usage: patchtool COMMAND [ARGS...]\n       patchtool COMMAND --help\n       patchtool --version\n\ncommands:\n");
  for (const PatchtoolCommand& command : kCommands) fprintf(out, "  %s\n", command.usage);
}

bool IsHelp(const char* arg) { return strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0; }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    PrintUsage(stderr);
    return 2;
  }
  if (IsHelp(argv[1])) {
    PrintUsage(stdout);
    return 0;
  }
  if (strcmp(argv[1], "--version") == 0) {
    printf("patchtool, Halvrecht patcher version %u\n", kPatcherVersion);
    return 0;
  }
  for (const PatchtoolCommand& command : kCommands) {
    if (strcmp(argv[1], command.name) != 0) continue;
    // Asking for help anywhere after the command is never a usage error.
    for (int i = 2; i < argc; ++i) {
      if (IsHelp(argv[i])) {
        printf("usage: patchtool %s\n", command.usage);
        return 0;
      }
    }
    return command.run(argc - 2, argv + 2);
  }
  fprintf(stderr, "patchtool: unknown command '%s'\n", argv[1]);
  PrintUsage(stderr);
  return 2;
}
