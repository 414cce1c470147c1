// The parts of TcpSocket that need no system call: ownership of the
// handle and the sliced wait, which both backends keep the same way.
#include "platform/socket.h"

#include <algorithm>

#include "platform/clock.h"

namespace plat {

bool WaitInSlices(uint32_t timeoutMs, const AbortCheck& abort, const std::function<bool(uint32_t sliceMs)>& waitOnce) {
  if (!abort) return waitOnce(timeoutMs);
  const uint32_t start = TickCount();
  for (;;) {
    if (abort()) return false;
    uint32_t slice = kAbortPollMs;
    if (timeoutMs != 0) {
      const uint32_t waited = TickCount() - start;
      if (waited >= timeoutMs) return false;
      slice = std::min(slice, timeoutMs - waited);
    }
    if (waitOnce(slice)) return true;
  }
}

TcpSocket::~TcpSocket() { Close(); }

TcpSocket::TcpSocket(TcpSocket&& other) noexcept : handle_(other.handle_), abort_(std::move(other.abort_)) {
  other.handle_ = kNoSocket;
}

TcpSocket& TcpSocket::operator=(TcpSocket&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    abort_ = std::move(other.abort_);
    other.handle_ = kNoSocket;
  }
  return *this;
}

}  // namespace plat
