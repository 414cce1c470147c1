#include <windows.h>
#include <urlmon.h>

#include <memory>
#include <mutex>
#include <thread>

#include "platform/url_moniker.h"

namespace plat {

namespace {

// One download on a thread of its own: URLDownloadToFileA cannot be told to
// stop, so a caller that must stop leaves it behind, and the thread then
// removes what it wrote instead of handing it over.
struct MonikerJob {
  std::string url;
  std::string partPath;
  std::mutex lock;
  bool done = false;
  bool ok = false;
  bool abandoned = false;
};

}  // namespace

bool UrlDownloadToFile(const std::string& url, const std::string& localPath, const AbortCheck& abort) {
  // The body goes to a side file first, so a failed or abandoned download
  // leaves the target as it was.
  auto job = std::make_shared<MonikerJob>();
  job->url = url;
  job->partPath = localPath + ".moniker";
  std::thread([job] {
    const bool ok = ::URLDownloadToFileA(nullptr, job->url.c_str(), job->partPath.c_str(), 0, nullptr) == S_OK;
    std::lock_guard<std::mutex> guard(job->lock);
    job->done = true;
    job->ok = ok;
    if (job->abandoned) ::DeleteFileA(job->partPath.c_str());
  }).detach();
  for (;;) {
    {
      std::lock_guard<std::mutex> guard(job->lock);
      if (job->done) break;
      if (abort && abort()) {
        job->abandoned = true;
        return false;
      }
    }
    ::Sleep(20);
  }
  if (!job->ok || !::MoveFileExA(job->partPath.c_str(), localPath.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    ::DeleteFileA(job->partPath.c_str());
    return false;
  }
  return true;
}

}  // namespace plat
