// patchtool list FILE: a version.list in readable form.
#include <cstdio>

#include "engine/patch_list.h"
#include "tools/commands.h"

int ListCommand(int argc, char** argv) {
  if (argc != 1) {
    fprintf(stderr, "usage: patchtool list FILE\n");
    return 2;
  }
  PatchList list;
  ExpectedCrcMap expected;
  const uint32_t result = ReadPatchListFile(argv[0], 0, list, expected, true);
  if (result == kListBadSystemVersion) {
    fprintf(stderr, "patchtool: %s: format version %u is not 2\n", argv[0], list.dwPatchSystemVersion);
    return 1;
  }
  if (result != 0) {
    fprintf(stderr, "patchtool: %s: cannot be read (missing, truncated, or a file name outside the client)\n",
            argv[0]);
    return 1;
  }
  printf("format %u, patch version %u, build type %u, %u section(s)\n", list.dwPatchSystemVersion,
         list.dwPatchVersion, list.btBuildType, list.dwSectionNum);
  for (uint32_t s = 0; s < list.dwSectionNum; ++s) {
    printf("section %u: diff cab %s, normal cab %s, %zu file(s)\n", s + 1, list.diffCabCrcs[s].c_str(),
           list.normalCabCrcs[s].c_str(), list.sectionFiles[s].size());
    for (const PatchFileInfo& f : list.sectionFiles[s]) {
      printf("  %-5s %s -> %s  %llu -> %llu bytes  %s%s\n",
             f.btFileType == kFileTypeDelta ? "delta" : (f.btFileType == kFileTypeWhole ? "whole" : "?"),
             f.oldCrc.c_str(), f.newCrc.c_str(), static_cast<unsigned long long>(f.OrgFileSize),
             static_cast<unsigned long long>(f.NewFileSize), f.name.c_str(),
             IsProtectedFile(f.name) ? "  (protected: never patched)" : "");
    }
  }
  return 0;
}
