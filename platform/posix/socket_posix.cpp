#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/socket.h"

namespace plat {

namespace {

int AsFd(intptr_t handle) { return static_cast<int>(handle); }

// Waits for the events on the socket; true when one came before the time-out
// and before the abort check said stop.
bool WaitFor(int fd, short events, uint32_t timeoutMs, const AbortCheck& abort) {
  return WaitInSlices(timeoutMs, abort, [fd, events](uint32_t sliceMs) {
    pollfd p{fd, events, 0};
    const int wait = sliceMs == 0 ? -1 : static_cast<int>(sliceMs);
    for (;;) {
      const int n = poll(&p, 1, wait);
      if (n < 0 && errno == EINTR) continue;
      return n > 0;
    }
  });
}

}  // namespace

bool TcpSocket::Open() {
  Close();
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  handle_ = fd;
  return true;
}

void TcpSocket::Close() {
  if (handle_ != kNoSocket) {
    close(AsFd(handle_));
    handle_ = kNoSocket;
  }
}

bool TcpSocket::Bind(uint16_t port, const char* dottedAddress) {
  if (handle_ == kNoSocket) return false;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = dottedAddress ? inet_addr(dottedAddress) : htonl(INADDR_ANY);
  if (port != 0) {
    const int on = 1;
    setsockopt(AsFd(handle_), SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
  }
  return bind(AsFd(handle_), reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
}

bool ResolveIPv4(const std::string& host, uint32_t* address) {
  const in_addr_t dotted = inet_addr(host.c_str());
  if (dotted != INADDR_NONE) {
    *address = dotted;
    return true;
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* answer = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &answer) != 0 || answer == nullptr) return false;
  *address = reinterpret_cast<sockaddr_in*>(answer->ai_addr)->sin_addr.s_addr;
  freeaddrinfo(answer);
  return true;
}

bool TcpSocket::Connect(const std::string& host, uint16_t port, uint32_t timeoutMs) {
  if (handle_ == kNoSocket) return false;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  if (!ResolveIPv4(host, &addr.sin_addr.s_addr)) return false;

  const int fd = AsFd(handle_);
  const int flags = fcntl(fd, F_GETFL, 0);
  // A non-blocking connect is the only portable way to bound the wait.
  fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  int rc = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
  bool connected = rc == 0;
  if (!connected && errno == EINPROGRESS && WaitFor(fd, POLLOUT, timeoutMs, abort_)) {
    int error = 0;
    socklen_t len = sizeof(error);
    connected = getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0;
  }
  fcntl(fd, F_SETFL, flags);
  return connected;
}

int32_t TcpSocket::Send(const void* data, int32_t length) {
  if (handle_ == kNoSocket || length < 0) return -1;
  for (;;) {
    const ssize_t sent = send(AsFd(handle_), data, static_cast<size_t>(length), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    return sent < 0 ? -1 : static_cast<int32_t>(sent);
  }
}

int32_t TcpSocket::Receive(void* buffer, int32_t length, uint32_t timeoutMs) {
  if (handle_ == kNoSocket || length < 0) return -1;
  if (!WaitFor(AsFd(handle_), POLLIN, timeoutMs, abort_)) return -1;
  for (;;) {
    const ssize_t got = recv(AsFd(handle_), buffer, static_cast<size_t>(length), 0);
    if (got < 0 && errno == EINTR) continue;
    return got < 0 ? -1 : static_cast<int32_t>(got);
  }
}

bool TcpSocket::Listen(int backlog) { return handle_ != kNoSocket && listen(AsFd(handle_), backlog) == 0; }

bool TcpSocket::Accept(TcpSocket* client, uint32_t timeoutMs) {
  if (handle_ == kNoSocket || !WaitFor(AsFd(handle_), POLLIN, timeoutMs, abort_)) return false;
  const int fd = accept4(AsFd(handle_), nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return false;
  client->Close();
  client->handle_ = fd;
  return true;
}

uint16_t TcpSocket::LocalPort() const {
  if (handle_ == kNoSocket) return 0;
  sockaddr_in addr{};
  socklen_t len = sizeof(addr);
  if (getsockname(AsFd(handle_), reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
  return ntohs(addr.sin_port);
}

void TcpSocket::ShutdownBoth() {
  if (handle_ != kNoSocket) shutdown(AsFd(handle_), SHUT_RDWR);
}

}  // namespace plat
