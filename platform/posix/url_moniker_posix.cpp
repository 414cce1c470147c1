#include <curl/curl.h>

#include <cstdio>

#include "platform/file_system.h"
#include "platform/path.h"
#include "platform/posix/curl_session.h"
#include "platform/url_moniker.h"

namespace plat {

namespace {

size_t WriteToFile(char* data, size_t size, size_t count, void* file) {
  uint32_t done = 0;
  const size_t n = size * count;
  return static_cast<File*>(file)->Write(data, static_cast<uint32_t>(n), &done) ? n : 0;
}

struct Watch {
  const AbortCheck& abort;
  const std::function<void()>& bodyArrived;
  curl_off_t seen = 0;
};

// libcurl asks this at least once a second, also while nothing arrives.
int AskAbort(void* data, curl_off_t, curl_off_t now, curl_off_t, curl_off_t) {
  Watch& watch = *static_cast<Watch*>(data);
  if (now > watch.seen) {
    watch.seen = now;
    if (watch.bodyArrived) watch.bodyArrived();
  }
  return watch.abort && watch.abort() ? 1 : 0;
}

}  // namespace

bool UrlDownloadToFile(const std::string& url, const std::string& localPath, const AbortCheck& abort,
                       const std::function<void()>& bodyArrived) {
  if (!StartCurl()) return false;
  // The body goes to a side file first, so a failed download leaves the
  // target as it was.
  const std::string partPath = localPath + ".moniker";
  File part;
  if (!part.Open(partPath, File::kWrite, File::kShareNone, File::kCreateAlways)) return false;

  CURL* easy = curl_easy_init();
  if (!easy) {
    part.Close();
    RemoveFile(partPath);
    return false;
  }
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &AskAbort);
  Watch watch{abort, bodyArrived};
  curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &watch);
  curl_easy_setopt(easy, CURLOPT_FAILONERROR, 1L);
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_NOPROXY, "127.0.0.1,localhost");
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, 60L);
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, 30L);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &WriteToFile);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &part);
  const CURLcode result = curl_easy_perform(easy);
  curl_easy_cleanup(easy);
  part.Close();
  if (result != CURLE_OK || !MoveReplace(partPath, localPath)) {
    RemoveFile(partPath);
    return false;
  }
  return true;
}

}  // namespace plat
