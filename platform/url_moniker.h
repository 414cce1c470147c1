// The system's one-call URL download (URLDownloadToFileA on Windows,
// libcurl elsewhere): follows redirects, fails on an HTTP error status, and
// leaves the target untouched unless the whole body arrived.
#pragma once

#include <string>

#include "platform/abort_check.h"

namespace plat {

// True when the URL's body is now in `localPath`. `abort`, asked at least
// every kAbortPollMs, ends the download as a failure: libcurl ends it; the
// Windows call, which has no way to be asked, runs on a thread of its own
// that the waiting thread leaves behind, and it removes its side file when
// it returns.
bool UrlDownloadToFile(const std::string& url, const std::string& localPath, const AbortCheck& abort = AbortCheck());

}  // namespace plat
