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

// File types of a record.
constexpr uint8_t kFileTypeDelta = 1;  // the diff cabinet carries a delta
constexpr uint8_t kFileTypeWhole = 2;  // the diff cabinet carries the whole file

// LoadPatchList results.
constexpr uint32_t kListStopped = 2;
constexpr uint32_t kListFetchFailed = 9;
constexpr uint32_t kListUnreadable = 10;
constexpr uint32_t kListBadSystemVersion = 21;

struct PatchFileInfo {
  std::string name;    // relative to the working folder, stored name without its first character
  std::string newCrc;  // "0x%08x" after the patch
  std::string oldCrc;  // "0x%08x" before the patch
  uint8_t btFileType = 0;
  uint64_t OrgFileSize = 0;
  uint64_t NewFileSize = 0;
};

struct SectionPlanEntry {
  uint32_t section;  // 1..N
  uint32_t IsDiff;   // 1: the diff cabinet; 0: the normal cabinet
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

// True for the engine's own version records ("version.ini", "version.dat"
// anywhere in the lower-cased name), which a list must never patch.
bool IsProtectedFile(const std::string& name);

// CRC texts compared without regard to letter case.
bool CrcTextEquals(const std::string& a, const std::string& b);

// Size of an existing file; 0 when it cannot be opened.
uint64_t GetFileSize64(const std::string& path);

// The name lower-cased as the engine keys file names (ASCII letters only;
// other bytes, lead and trail bytes of double-byte characters among them,
// stay as they are).
std::string LowerFileName(const std::string& name);

// True when a relative name stays inside its folder: not absolute, no
// drive letter, no ".." component (either separator), not empty.
bool IsSafeRelativePath(const std::string& name);
