// The fetch procedures: every HTTP file fetch of the engine goes through
// these. Each runs on the calling thread (the download thread, or the
// launcher's thread for single files) and shares only the cancel flag.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "download/fetch_result.h"

// Moves one URL into one local file: creates the file's folders, then makes
// up to three passes, each trying the socket transfer, the URL moniker (only
// when not resuming) and the WinInet transfer, until one succeeds or is
// canceled. Returns 0, 2 (canceled, also when the cancel flag is already set
// before a pass), 3 (the folder could not be created) or the last
// transfer's code.
uint32_t GetFileFromServerV5(const std::string& url, const std::string& localFile, int32_t resume,
                             const TransferProgress& progress);

// GetFileFromServerV5 of "<server>/<relativeName>" for each server in order;
// returns the first 0 or 2, and 3 when the list is empty or all failed.
uint32_t GetFileFromServers(const std::vector<std::string>& serverUrls, const std::string& relativeName,
                            const std::string& localFile, int32_t resume, const TransferProgress& progress);

// Deletes every file that the pattern ("folder\\*.*") lists and every
// subfolder with its contents; failures are ignored.
void ClearFolder(const std::string& folderPattern);

// ClearFolder of the folder's contents, then the folder itself.
void RemoveFolderTree(const std::string& folder);
