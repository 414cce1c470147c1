// The patch list "version.list" of one version: sections, the CRC texts of
// each section's diff and normal cabinet, and per section the client files
// it changes.
//
// Format (little-endian, no padding): u32 system version (only 2), u32
// patch version, u8 build type, u32 section count N; N times the two
// cabinet CRC texts (diff, normal); N times a u32 file count followed by
// file records (name, old CRC, new CRC, u8 type, u64 old size, u64 new
// size). A text is a length byte and that many bytes; a stored file name
// carries one leading character that is not part of the name.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "engine/patch_file.h"

// LoadPatchList results.
constexpr uint32_t kListStopped = 2;
constexpr uint32_t kListFetchFailed = 9;
constexpr uint32_t kListUnreadable = 10;
constexpr uint32_t kListBadSystemVersion = 21;

struct SectionPlanEntry {
  uint32_t section;  // 1..N
  uint32_t IsDiff;   // 1: the diff cabinet; 0: the normal cabinet
};

struct InFlightDownload {
  uint32_t requestNumber;
  uint32_t section;
};

struct PatchList {
  uint32_t dwPatchSystemVersion = 0;
  uint32_t dwPatchVersion = 0;
  uint8_t btBuildType = 0;
  uint32_t dwSectionNum = 0;
  std::vector<std::vector<PatchFileInfo>> sectionFiles;  // index = section - 1, accepted records only
  std::vector<std::string> diffCabCrcs;                  // index = section - 1
  std::vector<std::string> normalCabCrcs;                // index = section - 1
  std::vector<uint32_t> sectionProgress;                 // index = section - 1; non-zero: done
  std::vector<SectionPlanEntry> plan;                    // sections still to do, in order
  uint32_t acceptedFiles = 0;                            // files of all sections after filtering
  // The driver's bookkeeping of the version.
  std::vector<InFlightDownload> inFlight;  // requested and not yet reported
  uint32_t downloadedSections = 0;         // cabinets downloaded and verified (and skipped sections)
  uint32_t extractedFiles = 0;             // extract-done events (and skipped sections)
  uint32_t patchedSections = 0;            // sections patched (and skipped sections)
  // Whether a phase has a section under way whose percent is not yet in
  // its counter: set by its progress events, cleared when the counter moves.
  bool downloadUnderWay = false;
  bool extractUnderWay = false;
  bool patchUnderWay = false;
  uint32_t planCursor = 0;                 // next plan entry to request
};

// Lower-cased file name -> the new CRC text of the latest list naming it.
using ExpectedCrcMap = std::map<std::string, std::string>;

// Reads a local "version.list" into list (reset first), logging its
// contents. Protected files are dropped (level 2); every accepted file's
// new CRC goes into expected under its lower-cased name. Returns 0,
// kListUnreadable when the file cannot be opened, a read fails or comes up
// short, or a file name is absolute, has a drive letter or climbs out with
// "..", and kListBadSystemVersion when the format version is not 2.
// `version` only names the version in log lines. With keepProtected the
// protected records stay in the list (for tools that show a list whole).
uint32_t ReadPatchListFile(const std::string& path, uint32_t version, PatchList& list, ExpectedCrcMap& expected,
                           bool keepProtected = false);
