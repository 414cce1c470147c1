// The folder walk shared by the client verification and the self-update.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The verification's result when a file's CRC differs from the list's.
constexpr uint32_t kChecksumMismatch = 20;

// Appends the full path of every entry of folder that matches the wildcard
// pattern; with recurse, matching subfolders are walked instead of listed.
// Names "." and ".." (and any "." plus one character) are skipped, and so
// is a path of 260 bytes or more, with a level-8 line. The order is the
// file system's.
void CollectFiles(const std::string& folder, std::vector<std::string>& files, const std::string& pattern,
                  bool recurse);
