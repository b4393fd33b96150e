// WinSock of the handheld. The machine decides what the platform decides: whether there is a
// network, how long a wait may last, which names its own hosts table answers, and which socket
// numbers a program sees. The bytes themselves travel through the build machine's sockets
// (handheld::net, provided by the backend).
#include <algorithm>
#include <bit>
#include <cstring>

#include "platform/files.h"
#include "platform/handheld/machine.h"
#include "platform/handheld/names.h"
#include "platform/handheld/network.h"
#include "platform/handheld/state.h"
#include "platform/sockets.h"

namespace handheld {
namespace {

SocketState& sockets() { return current().state().sockets; }

int timeoutMs() { return current().config().netTimeoutSeconds * 1000; }

// The backend's handle behind a socket number; null (and WsaeNotSock) when it is not one.
const net::Handle* find(ce::SOCKET s) {
  auto& open = sockets().open;
  auto it = open.find(s);
  if (it == open.end()) {
    ce::WSASetLastError(ce::WsaeNotSock);
    return nullptr;
  }
  return &it->second;
}

// 0 is success; anything else becomes the last error and the call's failure.
bool succeeded(int error) {
  if (error == 0) return true;
  ce::WSASetLastError(error);
  return false;
}

// Four decimal parts from 0 to 255, nothing else.
bool dottedAddress(const char* text, std::uint32_t& address) {
  std::uint8_t bytes[4];
  const char* p = text;
  for (int i = 0; i < 4; ++i) {
    if (*p < '0' || *p > '9') return false;
    unsigned value = 0;
    int digits = 0;
    while (*p >= '0' && *p <= '9') {
      value = value * 10 + static_cast<unsigned>(*p++ - '0');
      if (++digits > 3 || value > 255) return false;
    }
    bytes[i] = static_cast<std::uint8_t>(value);
    if (i < 3 && *p++ != '.') return false;
  }
  if (*p != '\0') return false;
  std::memcpy(&address, bytes, 4);  // the bytes in the order written: network order
  return true;
}

}  // namespace

SocketCounters socketCounters() {
  const SocketState& s = sockets();
  return {s.startups, s.cleanups, s.created, s.open.size()};
}

}  // namespace handheld

namespace ce {

using namespace handheld;

int WSAStartup(WORD versionRequested, WSADATA* data) {
  SocketState& s = sockets();
  ++s.startups;
  if (!current().config().network) return WsaSysNotReady;
  if (!data) return WsaeFault;
  // The handheld has WinSock 1.1; a request below 1.1 cannot be met.
  const WORD offered = 0x0101;
  const int major = versionRequested & 0xFF, minor = versionRequested >> 8;
  if (major < 1 || (major == 1 && minor < 1)) return WsaVerNotSupported;
  *data = WSADATA{};
  data->wVersion = offered;
  data->wHighVersion = offered;
  std::strcpy(data->szDescription, "WinSock 1.1");
  std::strcpy(data->szSystemStatus, "Running");
  data->iMaxSockets = 100;
  data->iMaxUdpDg = 0;
  ++s.live;
  return 0;
}

int WSACleanup() {
  SocketState& s = sockets();
  ++s.cleanups;
  if (s.live == 0) {
    WSASetLastError(WsaNotInitialised);
    return SocketError;
  }
  --s.live;
  return 0;
}

int WSAGetLastError() { return static_cast<int>(GetLastError()); }
void WSASetLastError(int error) { SetLastError(static_cast<DWORD>(error)); }

SOCKET socket(int family, int type, int protocol) {
  if (!current().config().network) {
    WSASetLastError(WsaeNetDown);
    return InvalidSocket;
  }
  if (family != AfInet) {
    WSASetLastError(WsaeAfNoSupport);
    return InvalidSocket;
  }
  // Only stream sockets are modelled: the boot loader needs nothing else.
  if (type != SockStream || (protocol != 0 && protocol != 6)) {
    WSASetLastError(WsaeInval);
    return InvalidSocket;
  }
  net::Handle handle = 0;
  if (!succeeded(net::open(handle))) return InvalidSocket;
  SocketState& s = sockets();
  const SOCKET number = s.next;
  s.next += 4;
  ++s.created;
  s.open.emplace(number, handle);
  return number;
}

int connect(SOCKET s, const SOCKADDR_IN* address, int length) {
  const net::Handle* handle = find(s);
  if (!handle) return SocketError;
  if (!address || length < static_cast<int>(sizeof(SOCKADDR_IN))) {
    WSASetLastError(WsaeFault);
    return SocketError;
  }
  if (address->sin_family != AfInet) {
    WSASetLastError(WsaeAfNoSupport);
    return SocketError;
  }
  return succeeded(net::connect(*handle, address->sin_addr, address->sin_port, timeoutMs())) ? 0 : SocketError;
}

int send(SOCKET s, const char* buffer, int length, int flags) {
  const net::Handle* handle = find(s);
  if (!handle) return SocketError;
  if (length < 0 || (!buffer && length > 0)) {
    WSASetLastError(WsaeFault);
    return SocketError;
  }
  int sent = 0;
  return succeeded(net::send(*handle, buffer, length, timeoutMs(), sent)) ? sent : SocketError;
}

int recv(SOCKET s, char* buffer, int length, int flags) {
  const net::Handle* handle = find(s);
  if (!handle) return SocketError;
  if (length < 0 || (!buffer && length > 0)) {
    WSASetLastError(WsaeFault);
    return SocketError;
  }
  if (length == 0) return 0;
  int received = 0;
  return succeeded(net::receive(*handle, buffer, length, timeoutMs(), received)) ? received : SocketError;
}

int closesocket(SOCKET s) {
  auto& open = sockets().open;
  auto it = open.find(s);
  if (it == open.end()) {
    WSASetLastError(WsaeNotSock);
    return SocketError;
  }
  net::close(it->second);
  open.erase(it);
  return 0;
}

HOSTENT* gethostbyname(const char* name) {
  if (!name) {
    WSASetLastError(WsaeFault);
    return nullptr;
  }
  const Config& config = current().config();
  if (!config.network) {
    WSASetLastError(WsaeNetDown);
    return nullptr;
  }
  // The resolver answers names; a dotted address is not one (inet_addr reads those).
  std::uint32_t dotted = 0;
  if (*name == '\0' || dottedAddress(name, dotted)) {
    WSASetLastError(WsaHostNotFound);
    return nullptr;
  }
  std::vector<std::array<char, 4>> found;
  auto own = std::find_if(config.hosts.begin(), config.hosts.end(),
                          [&](const HostEntry& h) { return equalNoCase(utf8ToUtf16(h.name), utf8ToUtf16(name)); });
  if (own != config.hosts.end()) {
    for (const auto& a : own->addresses) found.push_back({char(a[0]), char(a[1]), char(a[2]), char(a[3])});
  } else {
    std::vector<std::uint32_t> addresses;
    if (!succeeded(net::resolve(name, addresses))) return nullptr;
    for (std::uint32_t a : addresses) {
      std::array<char, 4> bytes;
      std::memcpy(bytes.data(), &a, 4);
      found.push_back(bytes);
    }
  }
  if (found.empty()) {
    WSASetLastError(WsaNoData);
    return nullptr;
  }
  SocketState& s = sockets();
  s.hostName = name;
  s.addressBytes = std::move(found);
  s.addressList.clear();
  for (auto& bytes : s.addressBytes) s.addressList.push_back(bytes.data());
  s.addressList.push_back(nullptr);
  s.entry = HOSTENT{};
  s.entry.h_name = s.hostName.data();
  s.entry.h_aliases = s.noAliases;
  s.entry.h_addrtype = AfInet;
  s.entry.h_length = 4;
  s.entry.h_addr_list = s.addressList.data();
  return &s.entry;
}

DWORD inet_addr(const char* text) {
  std::uint32_t address = 0;
  return text && dottedAddress(text, address) ? address : InaddrNone;
}

WORD htons(WORD value) {
  if constexpr (std::endian::native == std::endian::big) return value;
  return static_cast<WORD>((value >> 8) | (value << 8));
}

DWORD htonl(DWORD value) {
  if constexpr (std::endian::native == std::endian::big) return value;
  return ((value & 0xFF) << 24) | ((value & 0xFF00) << 8) | ((value >> 8) & 0xFF00) | (value >> 24);
}

DWORD ntohl(DWORD value) { return htonl(value); }

}  // namespace ce
