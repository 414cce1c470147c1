// The system's one-call URL download (URLDownloadToFileA on Windows,
// libcurl elsewhere): follows redirects, fails on an HTTP error status, and
// leaves the target untouched unless the whole body arrived.
#pragma once

#include <string>

namespace plat {

// True when the URL's body is now in `localPath`.
bool UrlDownloadToFile(const std::string& url, const std::string& localPath);

}  // namespace plat
