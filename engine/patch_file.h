// A client file as a patch list names it, and the file helpers that the
// engine and the patch tasks share: protected names, path safety, CRC
// texts and sizes.
#pragma once

#include <cstdint>
#include <string>

// File types of a record.
constexpr uint8_t kFileTypeDelta = 1;  // the diff cabinet carries a delta
constexpr uint8_t kFileTypeWhole = 2;  // the diff cabinet carries the whole file

struct PatchFileInfo {
  std::string name;    // relative to the working folder, stored name without its first character
  std::string newCrc;  // "0x%08x" after the patch
  std::string oldCrc;  // "0x%08x" before the patch
  uint8_t btFileType = 0;
  uint64_t OrgFileSize = 0;
  uint64_t NewFileSize = 0;
};

// True for the engine's own version records ("version.ini", "version.dat"
// anywhere in the lower-cased name), which a list must never patch.
bool IsProtectedFile(const std::string& name);

// CRC texts compared without regard to letter case.
bool CrcTextEquals(const std::string& a, const std::string& b);

// Whether a file with the CRC text `actual` is what a list's `expected`
// asks for: the texts are equal without regard to letter case and neither
// is "0xffffffff", the text of a CRC that could not be computed (so a
// missing or unreadable file or cabinet never passes as verified). Every
// check of a file or cabinet against a list goes through this.
bool CrcTextMatches(const std::string& actual, const std::string& expected);

// Size of an existing file; 0 when it cannot be opened.
uint64_t GetFileSize64(const std::string& path);

// The name lower-cased as the engine keys file names: in the system's ANSI
// code page, so the bytes of a double-byte character are never changed.
std::string LowerFileName(const std::string& name);

// True when a relative name stays inside its folder: not absolute, no
// drive letter, no ".." component (either separator), not empty.
bool IsSafeRelativePath(const std::string& name);

