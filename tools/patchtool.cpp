// patchtool: command-line tools for people who run patch servers.
#include <cstdio>
#include <cstring>

#include "tools/commands.h"

namespace {

const PatchtoolCommand kCommands[] = {PATCHTOOL_COMMANDS};

int Usage() {
  fprintf(stderr, "usage: patchtool COMMAND [ARGS...]\n\ncommands:\n");
  for (const PatchtoolCommand& command : kCommands) fprintf(stderr, "  %s\n", command.usage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  for (const PatchtoolCommand& command : kCommands) {
    if (strcmp(argv[1], command.name) == 0) return command.run(argc - 2, argv + 2);
  }
  fprintf(stderr, "patchtool: unknown command '%s'\n", argv[1]);
  return Usage();
}
