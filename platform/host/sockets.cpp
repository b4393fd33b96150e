// The handheld's network on Linux: POSIX sockets on the build machine, with every wait bounded
// by poll so that a silent peer costs a time-out, never a hang. Errors come back as the
// platform's WinSock codes.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/handheld/network.h"
#include "platform/sockets.h"

namespace handheld::net {
namespace {

int wsaError(int error) {
  switch (error) {
    case ECONNREFUSED: return ce::WsaeConnRefused;
    case ETIMEDOUT: return ce::WsaeTimedOut;
    case ECONNRESET: return ce::WsaeConnReset;
    case EPIPE: return ce::WsaeConnAborted;
    case ECONNABORTED: return ce::WsaeConnAborted;
    case ENETUNREACH: return ce::WsaeNetUnreach;
    case EHOSTUNREACH: return ce::WsaeHostUnreach;
    case ENETDOWN: return ce::WsaeNetDown;
    case EMFILE:
    case ENFILE: return ce::WsaeMfile;
    case EISCONN: return ce::WsaeIsConn;
    case ENOTCONN: return ce::WsaeNotConn;
    case EBADF: return ce::WsaeNotSock;
    case EFAULT: return ce::WsaeFault;
    default: return ce::WsaeInval;
  }
}

// Waits until the socket is ready for `events`; WsaeTimedOut when `timeoutMs` passes first.
// Signals that interrupt the wait do not lengthen it.
int await(int fd, short events, int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    pollfd p{fd, events, 0};
    const int n = ::poll(&p, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
    if (n > 0) return 0;
    if (n == 0) return ce::WsaeTimedOut;
    if (errno != EINTR) return wsaError(errno);
  }
}

}  // namespace

int open(Handle& handle) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return wsaError(errno);
  handle = fd;
  return 0;
}

int connect(Handle handle, std::uint32_t address, std::uint16_t port, int timeoutMs) {
  const int fd = static_cast<int>(handle);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = port;
  to.sin_addr.s_addr = address;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) return 0;
  if (errno != EINPROGRESS && errno != EINTR) return wsaError(errno);
  if (const int waited = await(fd, POLLOUT, timeoutMs)) return waited;
  int error = 0;
  socklen_t length = sizeof error;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return wsaError(errno);
  return error == 0 ? 0 : wsaError(error);
}

int send(Handle handle, const char* buffer, int length, int timeoutMs, int& sent) {
  const int fd = static_cast<int>(handle);
  sent = 0;
  while (sent < length) {
    const ssize_t n = ::send(fd, buffer + sent, static_cast<size_t>(length - sent), MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<int>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (const int waited = await(fd, POLLOUT, timeoutMs)) return sent > 0 ? 0 : waited;
      continue;
    }
    return sent > 0 ? 0 : wsaError(errno);
  }
  return 0;
}

int receive(Handle handle, char* buffer, int length, int timeoutMs, int& received) {
  const int fd = static_cast<int>(handle);
  received = 0;
  for (;;) {
    const ssize_t n = ::recv(fd, buffer, static_cast<size_t>(length), 0);
    if (n >= 0) {
      received = static_cast<int>(n);
      return 0;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return wsaError(errno);
    if (const int waited = await(fd, POLLIN, timeoutMs)) return waited;
  }
}

void close(Handle handle) { ::close(static_cast<int>(handle)); }

int resolve(const std::string& name, std::vector<std::uint32_t>& addresses) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  const int status = ::getaddrinfo(name.c_str(), nullptr, &hints, &list);
  if (status != 0) return status == EAI_AGAIN ? int(ce::WsaeNetDown) : int(ce::WsaHostNotFound);
  addresses.clear();
  for (addrinfo* a = list; a; a = a->ai_next) {
    if (a->ai_family != AF_INET) continue;
    std::uint32_t address = reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr.s_addr;
    bool seen = false;
    for (std::uint32_t known : addresses) seen = seen || known == address;
    if (!seen) addresses.push_back(address);
  }
  ::freeaddrinfo(list);
  return addresses.empty() ? int(ce::WsaNoData) : 0;
}

}  // namespace handheld::net
