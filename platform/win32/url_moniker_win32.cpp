#include <windows.h>
#include <urlmon.h>

#include "platform/url_moniker.h"

namespace plat {

bool UrlDownloadToFile(const std::string& url, const std::string& localPath, const AbortCheck& /*abort*/) {
  return ::URLDownloadToFileA(nullptr, url.c_str(), localPath.c_str(), 0, nullptr) == S_OK;
}

}  // namespace plat
