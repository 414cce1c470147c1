// The system's one-call URL download (URLDownloadToFileA on Windows,
// libcurl elsewhere): follows redirects, fails on an HTTP error status, and
// leaves the target untouched unless the whole body arrived.
#pragma once

#include <string>

#include "platform/abort_check.h"

namespace plat {

// True when the URL's body is now in `localPath`. `abort` ends the download
// as a failure where the system's call lets it be asked (libcurl); the
// Windows call runs to its own time-outs.
bool UrlDownloadToFile(const std::string& url, const std::string& localPath, const AbortCheck& abort = AbortCheck());

}  // namespace plat
