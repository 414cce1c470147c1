// libFuzzer target: the split of a URL into host, port and path that the
// socket transfer connects with. The port is one a socket can take (0 for
// none) and the path begins with "/".
#include <string>

#include "download/http_url.h"
#include "tests/fuzz/fuzz_target.h"

PATCHER_FUZZ_TARGET(url) {
  const std::string url(reinterpret_cast<const char*>(data), size);
  std::string host;
  std::string path;
  const int32_t port = SplitHttpUrl(url, &host, &path);
  FUZZ_CHECK(port >= 0 && port <= 65535);
  FUZZ_CHECK(!path.empty() && path[0] == '/');
  FUZZ_CHECK(host.size() <= 4096 && path.size() <= 4096);
  IsHttpsUrl(url);
  return 0;
}
