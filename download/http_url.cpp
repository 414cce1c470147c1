#include "download/http_url.h"

#include <cctype>
#include <cstdlib>

namespace {

constexpr size_t kMaxUrl = 4096;

bool StartsWithNoCase(const std::string& text, const char* prefix) {
  for (size_t i = 0; prefix[i] != '\0'; ++i) {
    if (i >= text.size() || std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  }
  return true;
}

// The leading decimal digits as a port; 0 when there are none, and 0 for a
// number that no port can have.
int32_t ParsePort(const std::string& text) {
  int32_t port = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    port = port * 10 + (c - '0');
    if (port > 65535) return 0;
  }
  return port;
}

}  // namespace

bool IsHttpsUrl(const std::string& url) { return StartsWithNoCase(url, "https://"); }

int32_t SplitHttpUrl(const std::string& url, std::string* host, std::string* path) {
  *path = "/";
  host->clear();
  int32_t port = 80;
  const std::string copy = url.substr(0, kMaxUrl);

  std::string rest = copy;
  if (StartsWithNoCase(copy, "http://")) {
    rest = copy.substr(7);
  } else if (IsHttpsUrl(copy)) {
    rest = copy.substr(8);
    port = 443;
  }

  const size_t i = rest.find_first_of(":/");
  if (i != std::string::npos && rest[i] == ':') {
    *host = rest.substr(0, i);
    port = ParsePort(rest.substr(i + 1));
    const size_t slash = rest.find('/', i);
    if (slash != std::string::npos) *path = rest.substr(slash);
  } else if (i != std::string::npos) {
    *host = rest.substr(0, i);
    *path = rest.substr(i);
  }
  if (host->empty()) *host = rest;
  return port;
}
