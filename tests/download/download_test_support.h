// Shared pieces of the download tests: patterned bodies, a progress
// recorder and short socket time-outs.
#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "download/fetch_result.h"
#include "download/http_socket.h"

namespace dltest {

// Bytes that differ from position to position, so a shifted or stale byte
// shows.
inline std::string Pattern(size_t size, unsigned seed = 7) {
  std::string out(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    out[i] = static_cast<char>(x >> 16);
  }
  return out;
}

class ProgressLog {
 public:
  TransferProgress Callback() {
    return [this](int32_t done, int32_t total) {
      std::lock_guard<std::mutex> lock(lock_);
      calls_.emplace_back(done, total);
    };
  }
  std::vector<std::pair<int32_t, int32_t>> Calls() const {
    std::lock_guard<std::mutex> lock(lock_);
    return calls_;
  }

 private:
  mutable std::mutex lock_;
  std::vector<std::pair<int32_t, int32_t>> calls_;
};

// Short time-outs and a short no-progress bound for the lifetime of a test
// that makes a server stall; the defaults come back after. Only such tests
// take them: on a loaded machine a good server can be slower than a short
// time-out, and a test of something else would then fail for it.
class ShortSocketTimeouts {
 public:
  explicit ShortSocketTimeouts(uint32_t connectMs = 2000, uint32_t receiveMs = 300,
                               uint32_t noProgressMs = kDefaultNoProgressLimitMs) {
    SetSocketTimeouts(connectMs, receiveMs);
    SetFetchNoProgressLimit(noProgressMs);
  }
  ~ShortSocketTimeouts() {
    SetSocketTimeouts(kDefaultConnectTimeoutMs, kDefaultReceiveTimeoutMs);
    SetFetchNoProgressLimit(kDefaultNoProgressLimitMs);
  }
};

}  // namespace dltest
