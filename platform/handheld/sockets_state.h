// The machine's part of WinSock: its sockets (small numbers standing for the backend's), the
// start-up count and the storage of gethostbyname's answer.
#pragma once
#include <array>
#include <map>
#include <string>
#include <vector>

#include "platform/handheld/network.h"
#include "platform/sockets.h"

namespace handheld {

struct SocketState {
  SocketState() = default;
  SocketState(const SocketState&) = delete;
  SocketState& operator=(const SocketState&) = delete;
  // Sockets still open when the machine goes away are closed with it.
  ~SocketState() {
    for (auto& [socket, handle] : open) net::close(handle);
  }

  std::map<ce::SOCKET, net::Handle> open;
  // Socket numbers count up per machine in steps of four, as the platform's handles do.
  ce::SOCKET next = 0x100;
  int startups = 0;
  int cleanups = 0;
  int created = 0;
  int live = 0;  // WSAStartup calls not yet matched by WSACleanup

  // gethostbyname's last answer: it stays valid until the next call.
  std::string hostName;
  std::vector<std::array<char, 4>> addressBytes;
  std::vector<char*> addressList;
  char* noAliases[1] = {nullptr};
  ce::HOSTENT entry;
};

}  // namespace handheld
