#include "file/http_connection.h"

#include <algorithm>

namespace kestrel {

HttpConnection::HttpConnection(const ce::SOCKADDR_IN& server) : server_(server) {
  socket_ = ce::socket(ce::AfInet, ce::SockStream, 0);
  if (socket_ == ce::InvalidSocket) {
    error_ = ce::WSAGetLastError();
    return;
  }
  connected_ = ce::connect(socket_, &server_, static_cast<int>(sizeof server_)) == 0;
  if (!connected_) error_ = ce::WSAGetLastError();
}

HttpConnection::~HttpConnection() {
  if (socket_ != ce::InvalidSocket) ce::closesocket(socket_);
}

bool HttpConnection::sendAll(const char* bytes, std::uint32_t length) {
  while (length > 0) {
    const int piece = static_cast<int>(std::min<std::uint32_t>(length, 0x10000));
    const int sent = ce::send(socket_, bytes, piece, 0);
    if (sent <= 0) {
      error_ = sent < 0 ? ce::WSAGetLastError() : static_cast<int>(ce::WsaeConnAborted);
      return false;
    }
    bytes += sent;
    length -= static_cast<std::uint32_t>(sent);
  }
  return true;
}

std::int32_t HttpConnection::receive(char* buffer, std::uint32_t length) {
  const int got = ce::recv(socket_, buffer, static_cast<int>(std::min<std::uint32_t>(length, 0x7FFFFFFF)), 0);
  if (got < 0) {
    error_ = ce::WSAGetLastError();
    return -1;
  }
  return got;
}

}  // namespace kestrel
