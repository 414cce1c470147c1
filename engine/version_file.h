// The client's local version "version.dat": exactly four bytes, the
// version as a little-endian u32, in the working folder. Beside it, in the
// download folder, the record of a finish still to do.
#pragma once

#include <cstdint>
#include <string>

// folder ends in a separator. On a missing file version is left as it was;
// on a short file it becomes 0. Failures are logged at level 8.
bool GetVerFile(const std::string& folder, uint32_t* version);
// Replaces the file with the four bytes of version, crash-safely: a crash
// at any moment leaves the old version or the new one.
bool SetVerFile(const std::string& folder, uint32_t version);

// "finish.pending" in the download folder (ending in a separator): a patch
// run began and its finish (the client verification and the deletion list)
// has not completed yet. It holds, as a little-endian u32, the version from
// which on the patch lists' files must be verified: files of every version
// above it may have been touched. Written crash-safely before a run touches
// the client; removed when the verification passed and the deletion list
// was applied. A record too short to read counts as pending from 0.
bool GetPendingFinish(const std::string& downloadFolder, uint32_t* baseVersion);
bool SetPendingFinish(const std::string& downloadFolder, uint32_t baseVersion);
void ClearPendingFinish(const std::string& downloadFolder);
