// Checks a patch repository the way clients will meet it: the manifest,
// every version's list from MinimalVersion + 1 to LatestVersion, both
// cabinets of every section (present, the CRC the list gives, readable by
// our decoder, holding every listed file under its listed name with the
// listed size and CRC), every delta applied to the file it was made from
// and giving the listed CRC, and the deletion list.
//
// A delta can only be applied when its original is known: given the client
// tree of the MinimalVersion, every file is; without it, only files that
// an earlier version of the repository delivered whole. Deltas whose
// original is unknown are counted, not reported.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace publish {

struct VerifyOptions {
  std::string repo;
  std::string clientTree;  // the client at MinimalVersion; empty: none
  std::string scratch;     // an existing empty folder for extracted files
};

struct VerifyReport {
  std::vector<std::string> problems;  // empty: the repository is sound
  uint32_t latest = 0;
  uint32_t minimal = 0;
  size_t versions = 0;
  size_t sections = 0;
  size_t cabinets = 0;
  size_t files = 0;              // file records checked
  size_t deltasApplied = 0;
  size_t deltasUnchecked = 0;    // original unknown
};

// Fills the report; true when it has no problems. `progress` (may be
// empty) hears about each version as it starts.
bool VerifyRepository(const VerifyOptions& options, VerifyReport* report,
                      const std::function<void(uint32_t version)>& progress = {});

}  // namespace publish
