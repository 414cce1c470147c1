#include "engine/server_selection.h"

#include <limits>

namespace {

struct Candidate {
  const std::string* url;
  uint64_t weight;  // what the draw uses: 0 for a weight that is not positive
};

// One draw over the remaining candidates: r = now mod total + 1, then walk
// while r exceeds the candidate's weight. With a zero total every candidate
// counts as 1 for this draw.
size_t Draw(const std::vector<Candidate>& remaining, uint64_t nowSeconds) {
  uint64_t total = 0;
  for (const Candidate& c : remaining) total += c.weight;
  const bool uniform = total == 0;
  if (uniform) total = remaining.size();

  uint64_t r = nowSeconds % total + 1;
  for (size_t i = 0; i < remaining.size(); ++i) {
    const uint64_t weight = uniform ? 1 : remaining[i].weight;
    if (r <= weight) return i;
    r -= weight;
  }
  return 0;  // unreachable while r <= total; kept so the walk can never run off
}

}  // namespace

int32_t ParseServerWeight(const std::string& text) {
  size_t at = 0;
  while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    negative = text[at] == '-';
    ++at;
  }
  int64_t value = 0;
  constexpr int64_t kLimit = static_cast<int64_t>(std::numeric_limits<int32_t>::max()) + 1;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    value = value * 10 + (text[at] - '0');
    if (value > kLimit) value = kLimit;
  }
  if (negative) return static_cast<int32_t>(-value);
  return static_cast<int32_t>(value >= kLimit ? kLimit - 1 : value);
}

std::vector<std::string> SelectDownloadServers(const std::vector<std::string>& servers,
                                               const std::vector<std::string>& weightTexts, uint64_t nowSeconds) {
  std::vector<Candidate> remaining;
  remaining.reserve(servers.size());
  for (size_t n = 0; n < servers.size(); ++n) {
    uint64_t weight = 1;
    if (!weightTexts.empty()) {
      const int32_t parsed = n < weightTexts.size() ? ParseServerWeight(weightTexts[n]) : 0;
      weight = parsed > 0 ? static_cast<uint64_t>(parsed) : 0;
    }
    remaining.push_back(Candidate{&servers[n], weight});
  }

  std::vector<std::string> chosen;
  while (chosen.size() < kMaxDownloadServers && !remaining.empty()) {
    const size_t pick = Draw(remaining, nowSeconds);
    std::string url = *remaining[pick].url;
    if (!url.empty() && url.back() == '/') url.pop_back();
    chosen.push_back(std::move(url));
    remaining.erase(remaining.begin() + static_cast<std::ptrdiff_t>(pick));
  }
  return chosen;
}
