// WinSock 1.1: the stream sockets, name resolution and byte-order helpers the HTTP source uses.
// Names are the platform's; constants are CamelCase so that they never meet the system headers'
// macros (AF_INET, INVALID_SOCKET, s_addr, h_addr are macros there).
//
// The handheld's network is the build machine's loopback. Whether the handheld has a network at
// all, and how long a connect or a receive may wait without progress, come from handheld.ini
// (`network`, `net_timeout`); a wait that runs out fails with WsaeTimedOut instead of blocking
// the device's only thread for good.
#pragma once
#include "platform/types.h"

namespace ce {

using SOCKET = std::int32_t;
constexpr SOCKET InvalidSocket = -1;
constexpr int SocketError = -1;

constexpr int AfInet = 2;
constexpr int SockStream = 1;
// inet_addr's answer for text that is not a dotted IPv4 address.
constexpr DWORD InaddrNone = 0xFFFFFFFFu;

// An IPv4 socket address, 16 bytes as the platform lays it out. Port and address are in
// network byte order: sin_addr holds the four address bytes in the order they are written.
struct SOCKADDR_IN {
  std::int16_t sin_family = 0;
  WORD sin_port = 0;
  DWORD sin_addr = 0;
  char sin_zero[8] = {};
};
static_assert(sizeof(SOCKADDR_IN) == 16);

// The resolver's answer. h_addr_list ends with a null entry; each entry points at h_length
// (4) address bytes. It belongs to the platform and stays valid until the next gethostbyname.
struct HOSTENT {
  char* h_name = nullptr;
  char** h_aliases = nullptr;
  std::int16_t h_addrtype = 0;
  std::int16_t h_length = 0;
  char** h_addr_list = nullptr;
};

constexpr int WsaDescriptionLength = 256;
constexpr int WsaSysStatusLength = 128;
struct WSADATA {
  WORD wVersion = 0;
  WORD wHighVersion = 0;
  char szDescription[WsaDescriptionLength + 1] = {};
  char szSystemStatus[WsaSysStatusLength + 1] = {};
  WORD iMaxSockets = 0;
  WORD iMaxUdpDg = 0;
  char* lpVendorInfo = nullptr;
};

// WinSock error codes, with the platform's values (read through WSAGetLastError, which is the
// thread's last error, so GetLastError reads them as well).
enum WsaError : DWORD {
  WsaeBadf = 10009,
  WsaeFault = 10014,
  WsaeInval = 10022,
  WsaeMfile = 10024,
  WsaeNotSock = 10038,
  WsaeAfNoSupport = 10047,
  WsaeNetDown = 10050,
  WsaeNetUnreach = 10051,
  WsaeConnAborted = 10053,
  WsaeConnReset = 10054,
  WsaeIsConn = 10056,
  WsaeNotConn = 10057,
  WsaeTimedOut = 10060,
  WsaeConnRefused = 10061,
  WsaeHostUnreach = 10065,
  WsaSysNotReady = 10091,
  WsaVerNotSupported = 10092,
  WsaNotInitialised = 10093,
  WsaHostNotFound = 11001,
  WsaNoData = 11004,
};

int WSAStartup(WORD versionRequested, WSADATA* data);
int WSACleanup();
int WSAGetLastError();
void WSASetLastError(int error);

SOCKET socket(int family, int type, int protocol);
// `address` is a SOCKADDR_IN of `length` 16.
int connect(SOCKET s, const SOCKADDR_IN* address, int length);
int send(SOCKET s, const char* buffer, int length, int flags);
// 0 when the peer has closed; SocketError on a failure, WsaeTimedOut when nothing arrived
// within the handheld's net_timeout.
int recv(SOCKET s, char* buffer, int length, int flags);
int closesocket(SOCKET s);

HOSTENT* gethostbyname(const char* name);
DWORD inet_addr(const char* text);

WORD htons(WORD value);
DWORD htonl(DWORD value);
DWORD ntohl(DWORD value);

}  // namespace ce
