// The handheld's network: the build machine's own sockets, reached through the backend of the
// build (POSIX sockets on Linux, WinSock on Windows). The handheld decides whether there is a
// network and how long a wait may last; the backend only moves bytes. Every call returns 0 or
// one of the platform's WinSock error codes (ce::WsaError).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace handheld::net {

using Handle = std::intptr_t;

// A new IPv4 stream socket.
int open(Handle& handle);
// Connects to `address` (the four bytes in network order, as in SOCKADDR_IN) and `port`
// (network order); gives up with WsaeTimedOut after `timeoutMs` without an answer.
int connect(Handle handle, std::uint32_t address, std::uint16_t port, int timeoutMs);
// Sends what the socket takes within `timeoutMs`; `sent` is the count.
int send(Handle handle, const char* buffer, int length, int timeoutMs, int& sent);
// Receives what has arrived, waiting at most `timeoutMs` for the first byte; `received` 0
// means the peer has closed.
int receive(Handle handle, char* buffer, int length, int timeoutMs, int& received);
void close(Handle handle);
// The IPv4 addresses of `name` (network order), in the resolver's order.
int resolve(const std::string& name, std::vector<std::uint32_t>& addresses);

}  // namespace handheld::net

namespace handheld {

// What the current machine's WinSock has seen, for tests: WSAStartup and WSACleanup calls, the
// sockets made and those still open.
struct SocketCounters {
  int startups = 0;
  int cleanups = 0;
  int created = 0;
  std::size_t open = 0;
};
SocketCounters socketCounters();

}  // namespace handheld
