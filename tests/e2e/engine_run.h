// Runs the engine the way the launcher does, for end-to-end tests: a
// loopback server for a repository folder, one patch run on a client
// folder, and the comparison of a client with a manifest of expected files.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/http_test_server.h"

namespace e2e {

// Serves every file under `folder` at "<prefix><relative path>" for each
// prefix ("/a/"). "PORT" in version.ini becomes the server's port. With a
// chunk delay the bodies are sent slowly, 16 KiB at a time.
void ServeFolder(testsupport::HttpTestServer& server, const std::string& folder,
                 const std::vector<std::string>& prefixes, uint32_t chunkDelayMs = 0);

struct RunOutcome {
  uint32_t initResult = 0;
  bool finished = false;     // run state 10 was published
  uint32_t errorCode = 0;    // the first error message, 0 when none
  bool stoppedEarly = false; // the stop hook ended the run
  bool timedOut = false;
  std::vector<uint32_t> progressKinds;  // every progress message, in order
  uint32_t runMs = 0;                   // from PLV5_StartPatch to the end state or error
  uint32_t uninitMs = 0;                // how long the closing PLV5_Uninit took
};

struct RunOptions {
  uint32_t flags = 5;
  uint32_t keepOldManifest = 0;
  uint32_t timeoutMs = 120000;
  // Called after every progress message with its number (0-based); true
  // stops the engine there, as closing the launcher does.
  std::function<bool(size_t)> stopAfter;
  // Asked about every 50 ms whatever the engine posts; true stops the engine
  // there, as closing the launcher does.
  std::function<bool()> stopWhen;
};

// PLV5_Init, PLV5_StartPatch, then the window's loop until the run finishes,
// fails or is stopped; PLV5_Uninit in every case.
RunOutcome RunPatch(const std::string& clientFolder, const std::string& manifestUrl, const RunOptions& options);

// Files of a "path size sha256 crc32" manifest whose path starts with
// `prefix` (the prefix is cut off).
struct ExpectedFile {
  std::string path;  // "/" separators
  uint64_t size;
  std::string sha256;
};
std::vector<ExpectedFile> ReadTreeManifest(const std::string& tsvPath, const std::string& prefix);

// Differences between a folder and the expected files, one per line; empty
// when every expected file matches. Files not expected are listed unless
// their relative path starts with one of `ignored`.
std::string CompareTree(const std::string& folder, const std::vector<ExpectedFile>& expected,
                        const std::vector<std::string>& ignored);


// The four bytes of version.dat, or -1.
int64_t ReadVersionDat(const std::string& clientFolder);

}  // namespace e2e
