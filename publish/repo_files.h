// Small file helpers of the publisher's side: whole files as text, a file
// replaced in one step, CRC texts while streaming, version folder names.
#pragma once

#include <cstdint>
#include <string>

namespace publish {

// The file's bytes; false when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string* text);
// Writes `<path>.tmp` and moves it over `path`, so readers see the old or
// the new file, never a part.
bool ReplaceFile(const std::string& path, const std::string& text);
// "0x%08x" of a CRC-32 value.
std::string CrcTextOf(uint32_t crc);

// "<repo>\\<name>" for a repository folder given in the system's form.
std::string RepoPath(const std::string& repo, const std::string& name);

}  // namespace publish
