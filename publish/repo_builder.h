// Turns two client trees into one more version of a patch repository: the
// version's folder with its "version.list" and, per section, a D cabinet
// (deltas, or whole files where a delta does not pay or the file is new)
// and an N cabinet (whole files); "delete.ini" with every file that has
// disappeared from the client; and "version.ini" raised to the version.
//
// Repository layout (a folder any static web server can serve):
//   version.ini          manifest: [VERSION] LatestVersion, MinimalVersion,
//                        OwnVersion; [DOWNLOAD] server1..3; [DOWNLOAD_POD]
//   delete.ini           [DELETE] File1, File2, ...: names gone from the
//                        latest client, sorted
//   <V>/version.list     one per version from MinimalVersion + 1 to
//                        LatestVersion (versions without changes: a list
//                        of no sections, which the patcher skips)
//   <V>/<S>D.cab, <S>N.cab
//
// The old tree must be the repository's latest version (the tree of the
// version before when the latest version is built again). Everything is
// checked before the first byte is written; a refused build writes
// nothing. The new version is assembled in "<repo>/.build-<V>" and moved
// into place, and "version.ini" is written last, so clients never see a
// version whose files are not all there. Output depends only on the
// inputs: sorted names, fixed cabinet dates, no clock anywhere.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "publish/cab_writer.h"
#include "publish/delta_encoding.h"
#include "publish/manifest_writer.h"

namespace publish {

struct BuildOptions {
  std::string fromTree;   // the client at the version before
  std::string toTree;     // the client at `version`
  std::string repo;       // the repository folder (created when missing)
  uint32_t version = 0;
  // A new repository only: the version of fromTree, which becomes the
  // MinimalVersion (version - 1 when not given).
  bool baseVersionGiven = false;
  uint32_t baseVersion = 0;
  uint64_t sectionBytes = uint64_t{64} << 20;  // whole-file bytes per section
  CabCompression compression = CabCompression::kMszip;
  int level = 6;
  unsigned jobs = 1;
  // A new repository only: its servers (empty: kDefaultServer).
  std::vector<ManifestServer> servers;
  uint32_t ownVersion = 0;  // OwnVersion of a new manifest
  DeltaEncoder encoder = OurDeltaEncoder();  // empty: changed files are shipped whole
};

// The server a new repository names when none is given: what
// `patchtool serve` answers on by default.
constexpr char kDefaultServer[] = "http://127.0.0.1:8080";

struct BuildProgress {
  const char* phase;  // "comparing", "encoding deltas", "writing cabinets"
  uint64_t done;      // bytes
  uint64_t total;
};

struct BuildSummary {
  uint32_t version = 0;
  uint32_t previous = 0;     // the version of the old tree
  bool newRepository = false;
  bool rebuilt = false;      // the latest version was built again
  size_t sections = 0;
  size_t added = 0;          // files new in the version
  size_t changed = 0;        // files whose bytes changed
  size_t deltas = 0;         // changed files shipped as deltas
  size_t inPlaceDeltas = 0;  // of them, deltas the patcher applies in place
  size_t deleted = 0;        // files gone in this version
  uint64_t clientBytes = 0;  // size of the new client
  uint64_t changedBytes = 0; // whole-file bytes of what the version ships
  uint64_t diffCabBytes = 0;
  uint64_t normalCabBytes = 0;
  std::vector<std::string> notes;  // things worth telling, not errors
};

enum BuildResult { kBuildOk = 0, kBuildFailed = 1, kBuildRefused = 2 };

// kBuildRefused: the input is wrong (nothing was written); kBuildFailed: a
// file could not be read or written (the repository is as it was, apart
// from the staging folder, which the next build removes).
BuildResult BuildVersion(const BuildOptions& options, BuildSummary* summary, std::string* error,
                         const std::function<void(const BuildProgress&)>& progress = {});

}  // namespace publish
