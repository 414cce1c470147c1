#include <curl/curl.h>

#include "platform/posix/curl_session.h"

namespace plat {

namespace {

class CurlGlobal {
 public:
  CurlGlobal() : ok_(curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK) {}
  ~CurlGlobal() {
    if (ok_) curl_global_cleanup();
  }
  bool ok() const { return ok_; }

 private:
  bool ok_;
};

}  // namespace

bool StartCurl() {
  static CurlGlobal global;
  return global.ok();
}

}  // namespace plat
