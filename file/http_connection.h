// One TCP connection to the HTTP server, alive for one request: made, used and closed.
#pragma once
#include <cstdint>

#include "platform/sockets.h"

namespace kestrel {

class HttpConnection {
 public:
  // Opens a stream socket and connects it to `server`. Whether that worked is kept: socket()
  // says whether there is a socket at all, error() why the connect failed (0 when it did not).
  explicit HttpConnection(const ce::SOCKADDR_IN& server);
  virtual ~HttpConnection();
  HttpConnection(const HttpConnection&) = delete;
  HttpConnection& operator=(const HttpConnection&) = delete;

  ce::SOCKET socket() const { return socket_; }
  bool connected() const { return connected_; }
  int error() const { return error_; }

  // Sends all `length` bytes; false when the connection broke or the peer stopped taking them.
  bool sendAll(const char* bytes, std::uint32_t length);
  // One receive of at most `length` bytes: the count, 0 when the server has closed, -1 on a
  // failure (error() then says which; ce::WsaeTimedOut when nothing came in time).
  std::int32_t receive(char* buffer, std::uint32_t length);

 private:
  std::int32_t socket_ = ce::InvalidSocket;
  const ce::SOCKADDR_IN& server_;
  bool connected_ = false;
  int error_ = 0;
};

}  // namespace kestrel
