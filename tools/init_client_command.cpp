// patchtool init-client TREE VERSION: writes the "version.dat" a shipped
// client starts with, so its first patch run begins at VERSION.
#include <cstdio>
#include <string>

#include "engine/version_file.h"
#include "platform/file_system.h"
#include "tools/commands.h"
#include "tools/tool_options.h"

int InitClientCommand(int argc, char** argv) {
  uint32_t version = 0;
  if (argc != 2 || !ParseU32(argv[1], &version)) {
    fprintf(stderr, "usage: patchtool init-client TREE VERSION\n");
    return 2;
  }
  std::string folder = argv[0];
  if (!plat::DirectoryExists(folder)) {
    fprintf(stderr, "patchtool init-client: no such folder: %s\n", folder.c_str());
    return 1;
  }
  if (folder.back() != '/' && folder.back() != '\\') folder += folder.find('\\') != std::string::npos ? '\\' : '/';
  if (!SetVerFile(folder, version)) {
    fprintf(stderr, "patchtool init-client: cannot write %sversion.dat\n", folder.c_str());
    return 1;
  }
  printf("%sversion.dat: version %u\n", folder.c_str(), version);
  return 0;
}
