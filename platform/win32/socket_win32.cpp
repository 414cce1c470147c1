#include <winsock2.h>
#include <ws2tcpip.h>

#include <mutex>

#include "platform/socket.h"

namespace plat {

namespace {

SOCKET AsSocket(intptr_t handle) { return static_cast<SOCKET>(handle); }

// Windows Sockets stays started for the life of the process once the first
// socket needed it; WSACleanup runs at exit only if the start-up succeeded.
class WinsockSession {
 public:
  WinsockSession() {
    WSADATA data;
    started_ = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~WinsockSession() {
    if (started_) ::WSACleanup();
  }
  bool started() const { return started_; }

 private:
  bool started_ = false;
};

bool StartWinsock() {
  static WinsockSession session;
  return session.started();
}

bool SelectOnce(SOCKET s, bool forWrite, uint32_t timeoutMs) {
  fd_set ready;
  fd_set failed;
  FD_ZERO(&ready);
  FD_ZERO(&failed);
  FD_SET(s, &ready);
  FD_SET(s, &failed);
  timeval tv{static_cast<long>(timeoutMs / 1000), static_cast<long>((timeoutMs % 1000) * 1000)};
  const int n = ::select(0, forWrite ? nullptr : &ready, forWrite ? &ready : nullptr, &failed,
                         timeoutMs == 0 ? nullptr : &tv);
  // A failed socket ends the wait too: the caller's connect or receive
  // then reports the failure.
  return n > 0;
}

// select() with a time-out in ms (0 = none); true when the socket is ready
// before the time-out and before the abort check said stop.
bool WaitFor(SOCKET s, bool forWrite, uint32_t timeoutMs, const AbortCheck& abort) {
  return WaitInSlices(timeoutMs, abort, [s, forWrite](uint32_t sliceMs) { return SelectOnce(s, forWrite, sliceMs); });
}

}  // namespace

bool TcpSocket::Open() {
  StartWinsock();
  Close();
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) return false;
  handle_ = static_cast<intptr_t>(s);
  return true;
}

void TcpSocket::Close() {
  if (handle_ != kNoSocket) {
    ::closesocket(AsSocket(handle_));
    handle_ = kNoSocket;
  }
}

bool TcpSocket::Bind(uint16_t port, const char* dottedAddress) {
  if (handle_ == kNoSocket) return false;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = dottedAddress ? ::inet_addr(dottedAddress) : htonl(INADDR_ANY);
  return ::bind(AsSocket(handle_), reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
}

bool ResolveIPv4(const std::string& host, uint32_t* address) {
  if (!StartWinsock()) return false;
  const unsigned long dotted = ::inet_addr(host.c_str());
  if (dotted != INADDR_NONE) {
    *address = dotted;
    return true;
  }
  const hostent* answer = ::gethostbyname(host.c_str());
  if (answer == nullptr || answer->h_addrtype != AF_INET || answer->h_addr_list[0] == nullptr) return false;
  *address = *reinterpret_cast<const uint32_t*>(answer->h_addr_list[0]);
  return true;
}

bool TcpSocket::Connect(const std::string& host, uint16_t port, uint32_t timeoutMs) {
  if (handle_ == kNoSocket) return false;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  uint32_t address = 0;
  if (!ResolveIPv4(host, &address)) return false;
  addr.sin_addr.s_addr = address;

  const SOCKET s = AsSocket(handle_);
  // A non-blocking connect is the only way to bound the wait.
  u_long nonBlocking = 1;
  ::ioctlsocket(s, FIONBIO, &nonBlocking);
  bool connected = ::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
  if (!connected && ::WSAGetLastError() == WSAEWOULDBLOCK && WaitFor(s, true, timeoutMs, abort_)) {
    int error = 0;
    int len = sizeof(error);
    connected = ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &len) == 0 && error == 0;
  }
  nonBlocking = 0;
  ::ioctlsocket(s, FIONBIO, &nonBlocking);
  return connected;
}

int32_t TcpSocket::Send(const void* data, int32_t length) {
  if (handle_ == kNoSocket || length < 0) return -1;
  const int sent = ::send(AsSocket(handle_), static_cast<const char*>(data), length, 0);
  return sent == SOCKET_ERROR ? -1 : sent;
}

int32_t TcpSocket::Receive(void* buffer, int32_t length, uint32_t timeoutMs) {
  if (handle_ == kNoSocket || length < 0) return -1;
  if (!WaitFor(AsSocket(handle_), false, timeoutMs, abort_)) return -1;
  const int got = ::recv(AsSocket(handle_), static_cast<char*>(buffer), length, 0);
  return got == SOCKET_ERROR ? -1 : got;
}

bool TcpSocket::Listen(int backlog) { return handle_ != kNoSocket && ::listen(AsSocket(handle_), backlog) == 0; }

bool TcpSocket::Accept(TcpSocket* client, uint32_t timeoutMs) {
  if (handle_ == kNoSocket || !WaitFor(AsSocket(handle_), false, timeoutMs, abort_)) return false;
  const SOCKET s = ::accept(AsSocket(handle_), nullptr, nullptr);
  if (s == INVALID_SOCKET) return false;
  client->Close();
  client->handle_ = static_cast<intptr_t>(s);
  return true;
}

uint16_t TcpSocket::LocalPort() const {
  if (handle_ == kNoSocket) return 0;
  sockaddr_in addr{};
  int len = sizeof(addr);
  if (::getsockname(AsSocket(handle_), reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
  return ntohs(addr.sin_port);
}

void TcpSocket::ShutdownBoth() {
  if (handle_ != kNoSocket) ::shutdown(AsSocket(handle_), SD_BOTH);
}

}  // namespace plat
