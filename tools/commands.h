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
int FetchCommand(int argc, char** argv);
int CabCommand(int argc, char** argv);
int JpatchCommand(int argc, char** argv);
int JdiffCommand(int argc, char** argv);
int PatchCommand(int argc, char** argv);
int RepairCommand(int argc, char** argv);
int BuildCommand(int argc, char** argv);
int VerifyCommand(int argc, char** argv);
int ServeCommand(int argc, char** argv);
int InitClientCommand(int argc, char** argv);

// The table that main() dispatches on, in the order `patchtool` lists them.
#define PATCHTOOL_COMMANDS \
  {"crc", "crc FILE...            print the CRC text of each file", CrcCommand}, \
  {"list", "list FILE              show a version.list in readable form", ListCommand}, \
  {"fetch", "fetch URL FILE [--resume] [--transport socket|inet|moniker|all]  download one file", FetchCommand}, \
  {"cab", "cab list CAB | cab extract CAB DIR   list or extract a cabinet", CabCommand}, \
  {"jpatch", "jpatch ORIG DELTA OUT [--mode memory|inplace|file]  apply a JojoDiff delta", JpatchCommand}, \
  {"jdiff", "jdiff ORIG NEW DELTA [--inplace]  write the JojoDiff delta from ORIG to NEW", JdiffCommand}, \
  {"patch", "patch CLIENT_DIR MANIFEST_URL [--flags N]  bring a client to the latest version", PatchCommand}, \
  {"repair", "repair CLIENT_DIR MANIFEST_URL [--flags N]  verify a client against the latest version and heal it", \
   RepairCommand}, \
  {"build", "build --from OLD_TREE --to NEW_TREE --repo REPO --version N [--base-version M] [--section-size MB]\n" \
            "        [--compression none|mszip|lzx] [--level 1-9] [--jobs J] [--server URL [--weight W]]...\n" \
            "                         add version N (the NEW_TREE) to a patch repository", BuildCommand}, \
  {"verify", "verify REPO [--from-client DIR]  check a repository's lists, cabinets and deltas", VerifyCommand}, \
  {"serve", "serve REPO [--port N] [--bind ADDR]  serve a repository over HTTP (default 127.0.0.1:8080)", ServeCommand}, \
  {"init-client", "init-client TREE VERSION  write the version.dat a shipped client starts with", InitClientCommand},
