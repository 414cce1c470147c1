// patchtool verify REPO [--from-client DIR]: checks a patch repository
// (publish/repo_verifier.h). Exit status 0 when it is sound, 1 with one
// line per problem, 2 for a wrong command line.
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/folders.h"
#include "platform/process_paths.h"
#include "platform/clock.h"
#include "publish/repo_verifier.h"
#include "tools/commands.h"

int VerifyCommand(int argc, char** argv) {
  publish::VerifyOptions options;
  for (int i = 0; i < argc; ++i) {
    if (strcmp(argv[i], "--from-client") == 0 && i + 1 < argc) {
      options.clientTree = argv[++i];
    } else if (options.repo.empty() && argv[i][0] != '-') {
      options.repo = argv[i];
    } else {
      options.repo.clear();
      break;
    }
  }
  if (options.repo.empty()) {
    fprintf(stderr, "usage: patchtool verify REPO [--from-client DIR]\n");
    return 2;
  }
  // Extracted files go to a folder of our own under the system's temp folder.
  char name[64];
  snprintf(name, sizeof name, "patchtool-verify-%u\\", plat::TickCount());
  options.scratch = plat::TempFolder() + name;
  if (!RecCreateDirectory(options.scratch)) {
    fprintf(stderr, "patchtool verify: cannot create %s\n", options.scratch.c_str());
    return 1;
  }
  publish::VerifyReport report;
  const bool sound = publish::VerifyRepository(options, &report, [](uint32_t version) {
    fprintf(stderr, "checking version %u\n", version);
  });
  DeleteFolder(options.scratch);
  for (const std::string& problem : report.problems) printf("problem: %s\n", problem.c_str());
  printf("%s: versions %u to %u, %zu list(s), %zu section(s), %zu cabinet(s), %zu file record(s), %zu delta(s) applied",
         options.repo.c_str(), report.minimal, report.latest, report.versions, report.sections, report.cabinets,
         report.files, report.deltasApplied);
  if (report.deltasUnchecked > 0) {
    printf(", %zu not checked (their originals are unknown: give --from-client)", report.deltasUnchecked);
  }
  printf("\n%s\n", sound ? "the repository is sound" : "the repository has problems");
  return sound ? 0 : 1;
}
