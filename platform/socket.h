// A small IPv4 TCP socket: the client side that the HTTP transfer needs and
// the listening side that the loopback test server needs.
//
// Windows Sockets 2.2 is started once per process at the first Open (and
// cleaned up at process exit); POSIX needs no start-up. A socket is owned by
// one thread at a time. Every wait takes a time-out in milliseconds; 0 means
// wait as long as the system lets it. An abort check, when set, is asked at
// least every kAbortPollMs during a wait and ends it as a failure, so
// another thread can stop a transfer that waits on a silent peer.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>

#include "platform/abort_check.h"

namespace plat {

// Runs `waitOnce(sliceMs)` (true when the socket became ready) in slices of
// at most kAbortPollMs until it is ready, the time-out (0: none) has passed
// or `abort` says stop. Both backends wait through it.
bool WaitInSlices(uint32_t timeoutMs, const AbortCheck& abort, const std::function<bool(uint32_t sliceMs)>& waitOnce);

class TcpSocket {
 public:
  TcpSocket() = default;
  ~TcpSocket();
  TcpSocket(TcpSocket&& other) noexcept;
  TcpSocket& operator=(TcpSocket&& other) noexcept;
  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;

  // Closes any socket held, then creates socket(AF_INET, SOCK_STREAM, 0).
  bool Open();
  bool IsOpen() const { return handle_ != kNoSocket; }
  void Close();

  // Asked during every later wait of Connect, Receive and Accept.
  void SetAbortCheck(AbortCheck abort) { abort_ = std::move(abort); }

  // Binds to INADDR_ANY (or the dotted address given) and the port; 0 picks one.
  bool Bind(uint16_t port, const char* dottedAddress = nullptr);

  // Resolves a name that is not a dotted IPv4 address (the first address of
  // the answer) and connects. False on a failed resolution, a refusal, or when
  // the time-out passes first.
  bool Connect(const std::string& host, uint16_t port, uint32_t timeoutMs);

  // One send of at most `length` bytes; the count sent, or -1 on failure.
  // A peer that has gone away never raises a signal.
  int32_t Send(const void* data, int32_t length);

  // One receive: the count received, 0 when the peer closed the connection,
  // -1 on failure or when nothing arrived within the time-out.
  int32_t Receive(void* buffer, int32_t length, uint32_t timeoutMs);

  // Listening side: Listen after Bind; Accept waits up to the time-out for
  // one connection and hands it over in `client`.
  bool Listen(int backlog);
  bool Accept(TcpSocket* client, uint32_t timeoutMs);
  // The port the socket is bound to, 0 when unknown.
  uint16_t LocalPort() const;
  // Ends sending and receiving at once, so a peer sees the close even while
  // another thread still waits on this socket.
  void ShutdownBoth();

 private:
  static constexpr intptr_t kNoSocket = -1;
  intptr_t handle_ = kNoSocket;
  AbortCheck abort_;
};

// Resolves a host name or dotted address to an IPv4 address in network
// byte order.
bool ResolveIPv4(const std::string& host, uint32_t* address);

}  // namespace plat
