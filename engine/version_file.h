// The client's local version "version.dat": exactly four bytes, the
// version as a little-endian u32, in the working folder.
#pragma once

#include <cstdint>
#include <string>

// folder ends in a separator. On a missing file version is left as it was;
// on a short file it becomes 0. Failures are logged at level 8.
bool GetVerFile(const std::string& folder, uint32_t* version);
// Replaces the file with the four bytes of version.
bool SetVerFile(const std::string& folder, uint32_t version);
