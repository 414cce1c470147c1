// The writer of "version.list", the patch list of one version: the header,
// the two cabinet CRC texts of every section, then every section's file
// records (format version 2, little-endian, no padding; a text is a length
// byte and that many bytes).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace publish {

struct PatchListRecord {
  char lead = '\\';     // stored before the name; readers drop it unread
  std::string name;     // client-relative, '\\' separators
  std::string oldCrc;   // "0x%08x" of the file before the version
  std::string newCrc;   // "0x%08x" of the file after it
  uint8_t type = 1;     // 1: a delta in the D cabinet; 2: the whole file
  uint64_t orgSize = 0;
  uint64_t newSize = 0;
};

struct PatchListSection {
  std::string diffCabCrc;    // CRC text of the section's D cabinet
  std::string normalCabCrc;  // CRC text of the section's N cabinet
  std::vector<PatchListRecord> records;
};

struct PatchListData {
  uint32_t systemVersion = 2;
  uint32_t patchVersion = 0;
  uint8_t buildType = 1;
  std::vector<PatchListSection> sections;
};

// The bytes of a "version.list". Empty, with an error text, when a text
// (lead and name together, or a CRC text) is longer than 255 bytes.
std::vector<uint8_t> WritePatchList(const PatchListData& list, std::string* error = nullptr);

}  // namespace publish
