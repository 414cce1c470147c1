// Splitting HTTP URLs into host, port and path.
#pragma once

#include <cstdint>
#include <string>

// Host, port and path of `url` (only its first 4096 characters count). The
// scheme "http://" or "https://" is matched in any letter case and skipped;
// the port is 80, or 443 for https, unless the URL names one; the path is "/"
// when the URL has none and is returned as is, without escaping. A URL with
// another scheme is parsed from its first character. Returns the port.
int32_t SplitHttpUrl(const std::string& url, std::string* host, std::string* path);

// True for a URL that begins with "https://" in any letter case.
bool IsHttpsUrl(const std::string& url);
