// Subcommands of patchtool. Each takes the arguments after its own name
// and returns the process exit code.
#pragma once

struct PatchtoolCommand {
  const char* name;
  const char* usage;
  int (*run)(int argc, char** argv);
};

int CrcCommand(int argc, char** argv);
int ListCommand(int argc, char** argv);

// The table that main() dispatches on, in the order `patchtool` lists them.
#define PATCHTOOL_COMMANDS \
  {"crc", "crc FILE...            print the CRC text of each file", CrcCommand}, \
  {"list", "list FILE              show a version.list in readable form", ListCommand},
