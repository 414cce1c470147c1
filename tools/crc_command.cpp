// patchtool crc FILE...: the CRC text of each file, as patch lists carry it.
#include <cstdio>

#include "download/crc32.h"
#include "tools/commands.h"

int CrcCommand(int argc, char** argv) {
  if (argc < 1) {
    fprintf(stderr, "usage: patchtool crc FILE...\n");
    return 2;
  }
  int status = 0;
  CCrc32Dynamic crc32;
  crc32.BuildTable();
  for (int i = 0; i < argc; ++i) {
    uint32_t crc = 0;
    const uint32_t result = crc32.ComputeFileCrc(argv[i], crc);
    if (result != 0) {
      // The text stays what the engine would store for it.
      printf("%s  %s\n", kCrcUnknownText, argv[i]);
      fprintf(stderr, "patchtool: cannot read %s (error %u)\n", argv[i], result);
      status = 1;
    } else {
      printf("0x%08x  %s\n", crc, argv[i]);
    }
  }
  return status;
}
