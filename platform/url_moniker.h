// The system's one-call URL download (URLDownloadToFileA on Windows,
// libcurl elsewhere): follows redirects, fails on an HTTP error status, and
// leaves the target untouched unless the whole body arrived.
#pragma once

#include <functional>
#include <string>

#include "platform/abort_check.h"

namespace plat {

// True when the URL's body is now in `localPath`. `abort`, asked at least
// every kAbortPollMs, ends the download as a failure: libcurl ends it; the
// Windows call, which has no way to be asked, runs on a thread of its own
// that the waiting thread leaves behind, and it removes its side file when
// it returns. `bodyArrived`, when given, is called on the calling thread,
// before `abort` is asked, whenever body bytes have come since its last
// call, so that a caller's no-progress bound sees a download that is slow
// but alive.
bool UrlDownloadToFile(const std::string& url, const std::string& localPath, const AbortCheck& abort = AbortCheck(),
                       const std::function<void()>& bodyArrived = std::function<void()>());

}  // namespace plat
