// HTTP GET through the system's HTTP client (WinInet, or libcurl in its
// place), the fallback transfer of the fetch procedure. It never resumes:
// it writes the file from its first byte and refuses to overwrite a local
// file that already holds data. Runs on the calling thread.
#pragma once

#include <cstdint>
#include <string>

#include "download/fetch_result.h"

// Fetches `url` into `localPath`; `resume` is only logged. Returns a fetch
// result code. TLS is used for port 443 and for https URLs.
int32_t GetFileByInet(const std::string& localPath, const std::string& url, int32_t resume,
                      const TransferProgress& progress);
