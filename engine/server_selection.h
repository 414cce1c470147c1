// The choice of download servers from the manifest's server list.
//
// Up to three servers are taken, one after another, each by a weighted draw
// among the servers not yet taken. The draw is driven by the calendar time
// in seconds, so every start of the patcher spreads its players over the
// servers in proportion to their weights without any random state.
//
// Weights: weight n belongs to server n and is the leading decimal integer
// of its text (0 when there is none). When no weight text is given at all,
// every server weighs 1. A server with a weight of 0 or below (or without a
// weight because the list is shorter) is never drawn while any remaining
// server has a positive weight; once none has, the remaining servers are
// drawn as if each weighed 1. So a manifest with servers always yields
// min(3, servers) distinct URLs, and a draw never divides by zero.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr size_t kMaxDownloadServers = 3;

// The leading decimal integer of a weight text, with an optional sign and
// leading blanks; 0 when it has none. Values beyond the 32-bit range are
// clamped to it.
int32_t ParseServerWeight(const std::string& text);

// The chosen base URLs in the order drawn, each with one trailing "/"
// removed. nowSeconds is the calendar time (time()) of the draw.
std::vector<std::string> SelectDownloadServers(const std::vector<std::string>& servers,
                                               const std::vector<std::string>& weightTexts, uint64_t nowSeconds);
