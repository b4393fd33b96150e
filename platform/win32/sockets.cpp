// The handheld's network on Windows: WinSock (ws2_32) on the build machine, so the win32 build's
// tests talk to the same servers as the host build's. Every wait is bounded by select; the
// system's WinSock codes are the platform's, so they pass through as they are. The system's
// WinSock is started once, at the first use: whether the program on the handheld called
// WSAStartup is the handheld's business, not the build machine's.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>

#include "platform/handheld/network.h"

namespace handheld::net {
namespace {

bool started() {
  static const bool ok = [] {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return ok;
}

// Waits until the socket is readable (or writable); WSAETIMEDOUT when `timeoutMs` passes first.
int await(SOCKET s, bool forWriting, int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(end - std::chrono::steady_clock::now());
    const long long us = left.count() > 0 ? left.count() : 0;
    timeval tv{static_cast<long>(us / 1000000), static_cast<long>(us % 1000000)};
    fd_set ready, failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(s, &ready);
    FD_SET(s, &failed);
    const int n = ::select(0, forWriting ? nullptr : &ready, forWriting ? &ready : nullptr, &failed, &tv);
    if (n > 0) return 0;
    if (n == 0) return WSAETIMEDOUT;
    if (::WSAGetLastError() != WSAEINTR) return ::WSAGetLastError();
  }
}

}  // namespace

int open(Handle& handle) {
  if (!started()) return WSASYSNOTREADY;
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return ::WSAGetLastError();
  u_long nonBlocking = 1;
  if (::ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
    const int error = ::WSAGetLastError();
    ::closesocket(s);
    return error;
  }
  handle = static_cast<Handle>(s);
  return 0;
}

int connect(Handle handle, std::uint32_t address, std::uint16_t port, int timeoutMs) {
  const SOCKET s = static_cast<SOCKET>(handle);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = port;
  to.sin_addr.s_addr = address;
  if (::connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) return 0;
  const int error = ::WSAGetLastError();
  if (error != WSAEWOULDBLOCK && error != WSAEINPROGRESS) return error;
  // A refused connect shows in the exception set; a completed one as writable.
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  const auto left = std::chrono::duration_cast<std::chrono::microseconds>(end - std::chrono::steady_clock::now());
  timeval tv{static_cast<long>(left.count() / 1000000), static_cast<long>(left.count() % 1000000)};
  fd_set writable, failed;
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(s, &writable);
  FD_SET(s, &failed);
  const int n = ::select(0, nullptr, &writable, &failed, &tv);
  if (n == 0) return WSAETIMEDOUT;
  if (n < 0) return ::WSAGetLastError();
  int soError = 0;
  int length = sizeof soError;
  if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &length) != 0) return ::WSAGetLastError();
  if (soError != 0) return soError;
  return FD_ISSET(s, &failed) ? WSAECONNREFUSED : 0;
}

int send(Handle handle, const char* buffer, int length, int timeoutMs, int& sent) {
  const SOCKET s = static_cast<SOCKET>(handle);
  sent = 0;
  while (sent < length) {
    const int n = ::send(s, buffer + sent, length - sent, 0);
    if (n > 0) {
      sent += n;
      continue;
    }
    const int error = ::WSAGetLastError();
    if (n < 0 && error == WSAEWOULDBLOCK) {
      if (const int waited = await(s, true, timeoutMs)) return sent > 0 ? 0 : waited;
      continue;
    }
    return sent > 0 ? 0 : error;
  }
  return 0;
}

int receive(Handle handle, char* buffer, int length, int timeoutMs, int& received) {
  const SOCKET s = static_cast<SOCKET>(handle);
  received = 0;
  for (;;) {
    const int n = ::recv(s, buffer, length, 0);
    if (n >= 0) {
      received = n;
      return 0;
    }
    const int error = ::WSAGetLastError();
    if (error != WSAEWOULDBLOCK) return error;
    if (const int waited = await(s, false, timeoutMs)) return waited;
  }
}

void close(Handle handle) { ::closesocket(static_cast<SOCKET>(handle)); }

int resolve(const std::string& name, std::vector<std::uint32_t>& addresses) {
  if (!started()) return WSASYSNOTREADY;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (::getaddrinfo(name.c_str(), nullptr, &hints, &list) != 0) return WSAHOST_NOT_FOUND;
  addresses.clear();
  for (addrinfo* a = list; a; a = a->ai_next) {
    if (a->ai_family != AF_INET) continue;
    const std::uint32_t address = reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr.s_addr;
    bool seen = false;
    for (std::uint32_t known : addresses) seen = seen || known == address;
    if (!seen) addresses.push_back(address);
  }
  ::freeaddrinfo(list);
  return addresses.empty() ? WSANO_DATA : 0;
}

}  // namespace handheld::net
