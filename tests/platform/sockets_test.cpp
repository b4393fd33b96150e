// The handheld's WinSock: the network switch, the time-out and the hosts table of handheld.ini,
// the resolver and inet_addr, and what the socket calls report, against the scripted server of
// the HttpServers fixture. Both builds: under Wine the bytes go through Wine's WinSock.
#include "platform/sockets.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

#include "platform/files.h"
#include "platform/handheld/machine.h"
#include "platform/handheld/network.h"
#include "tests/support/handheld_fixture.h"
#include "tests/support/http_servers.h"

namespace {

using kestrel_testing::HttpServers;

std::uint32_t address(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
  const std::uint8_t bytes[4] = {a, b, c, d};
  std::uint32_t value;
  std::memcpy(&value, bytes, 4);
  return value;
}

ce::SOCKADDR_IN loopback(int port) {
  ce::SOCKADDR_IN to;
  to.sin_family = ce::AfInet;
  to.sin_port = ce::htons(static_cast<ce::WORD>(port));
  to.sin_addr = address(127, 0, 0, 1);
  return to;
}

TEST(NetworkIni, KeysAndTheirMistakes) {
  handheld::Config c;
  std::string error;
  ASSERT_TRUE(handheld::parseConfig("network = off\nnet_timeout = 5\nhosts = a 10.0.0.1 10.0.0.2; B 127.0.0.1\n",
                                    "h.ini", c, error))
      << error;
  EXPECT_FALSE(c.network);
  EXPECT_EQ(c.netTimeoutSeconds, 5);
  ASSERT_EQ(c.hosts.size(), 2u);
  EXPECT_EQ(c.hosts[0].name, "a");
  ASSERT_EQ(c.hosts[0].addresses.size(), 2u);
  EXPECT_EQ(c.hosts[0].addresses[1], (std::array<std::uint8_t, 4>{10, 0, 0, 2}));
  std::string text;
  ASSERT_TRUE(handheld::configText(c, "h.ini", text, error));
  handheld::Config back;
  ASSERT_TRUE(handheld::parseConfig(text, "h.ini", back, error)) << error;
  EXPECT_FALSE(back.network);
  EXPECT_EQ(back.netTimeoutSeconds, 5);
  EXPECT_EQ(back.hosts.size(), 2u);

  handheld::Config defaults;
  ASSERT_TRUE(handheld::parseConfig("", "h.ini", defaults, error));
  EXPECT_TRUE(defaults.network);
  EXPECT_EQ(defaults.netTimeoutSeconds, 30);

  const std::pair<const char*, const char*> bad[] = {
      {"network = 1\n", "h.ini:1: bad value '1' for network (on or off)"},
      {"net_timeout = 0\n", "h.ini:1: bad value '0' for net_timeout (seconds from 1 to 3600)"},
      {"net_timeout = 1s\n", "h.ini:1: bad value '1s' for net_timeout (seconds from 1 to 3600)"},
      {"hosts = a 1.2.3\n", "h.ini:1: bad address '1.2.3' for host 'a' (A.B.C.D)"},
      {"hosts = a 1.2.3.256\n", "h.ini:1: bad address '1.2.3.256' for host 'a' (A.B.C.D)"},
      {"hosts = a\n", "h.ini:1: host 'a' has no address"},
  };
  for (const auto& [ini, message] : bad) {
    handheld::Config ignored;
    EXPECT_FALSE(handheld::parseConfig(ini, "h.ini", ignored, error)) << ini;
    EXPECT_EQ(error, message);
  }
}

TEST(Sockets, AddressesAndByteOrder) {
  kestrel_testing::TempHandheld handheld;
  EXPECT_EQ(ce::htons(0x1234), 0x3412);
  EXPECT_EQ(ce::htonl(0x12345678u), 0x78563412u);
  EXPECT_EQ(ce::ntohl(0x78563412u), 0x12345678u);
  EXPECT_EQ(ce::inet_addr("192.168.0.10"), address(192, 168, 0, 10));
  EXPECT_EQ(ce::inet_addr("0.0.0.0"), 0u);
  for (const char* text : {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.4 ", "a.b.c.d", "1..2.3", "1234.1.1.1"}) {
    EXPECT_EQ(ce::inet_addr(text), ce::InaddrNone) << text;
  }
}

TEST(Sockets, TheResolverAnswersNamesFromTheHostsTableFirst) {
  kestrel_testing::TempHandheld handheld({"Compaq iPAQ H3600", {"Storage Card"}, true,
                                          "hosts = kernels 10.1.2.3 127.0.0.1\n"});
  const ce::HOSTENT* entry = ce::gethostbyname("Kernels");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->h_addrtype, ce::AfInet);
  EXPECT_EQ(entry->h_length, 4);
  std::uint32_t first, second;
  std::memcpy(&first, entry->h_addr_list[0], 4);
  std::memcpy(&second, entry->h_addr_list[1], 4);
  EXPECT_EQ(first, address(10, 1, 2, 3));
  EXPECT_EQ(second, address(127, 0, 0, 1));
  EXPECT_EQ(entry->h_addr_list[2], nullptr);

  entry = ce::gethostbyname("localhost");
  ASSERT_NE(entry, nullptr);
  std::memcpy(&first, entry->h_addr_list[0], 4);
  EXPECT_EQ(first, address(127, 0, 0, 1));

  // Dotted text is inet_addr's to read, not the resolver's.
  EXPECT_EQ(ce::gethostbyname("127.0.0.1"), nullptr);
  EXPECT_EQ(ce::WSAGetLastError(), static_cast<int>(ce::WsaHostNotFound));
  EXPECT_EQ(ce::gethostbyname("no-such-host.invalid"), nullptr);
  EXPECT_EQ(ce::WSAGetLastError(), static_cast<int>(ce::WsaHostNotFound));
}

TEST(Sockets, AHandheldWithoutNetworkHasNoSocketsAndNoStartUp) {
  kestrel_testing::TempHandheld handheld({"Compaq iPAQ H3600", {"Storage Card"}, true, "network = off\n"});
  ce::WSADATA data;
  EXPECT_EQ(ce::WSAStartup(0x0101, &data), static_cast<int>(ce::WsaSysNotReady));
  EXPECT_EQ(ce::socket(ce::AfInet, ce::SockStream, 0), ce::InvalidSocket);
  EXPECT_EQ(ce::GetLastError(), static_cast<ce::DWORD>(ce::WsaeNetDown)) << "the last error is WinSock's too";
  EXPECT_EQ(ce::gethostbyname("localhost"), nullptr);
  EXPECT_EQ(ce::WSAGetLastError(), static_cast<int>(ce::WsaeNetDown));
}

TEST(Sockets, StartUpAndCleanUp) {
  kestrel_testing::TempHandheld handheld;
  ce::WSADATA data;
  EXPECT_EQ(ce::WSAStartup(0x0001, &data), static_cast<int>(ce::WsaVerNotSupported));
  ASSERT_EQ(ce::WSAStartup(0x0202, &data), 0);
  EXPECT_EQ(data.wVersion, 0x0101) << "the handheld offers 1.1";
  EXPECT_EQ(ce::WSACleanup(), 0);
  EXPECT_EQ(ce::WSACleanup(), ce::SocketError);
  EXPECT_EQ(ce::WSAGetLastError(), static_cast<int>(ce::WsaNotInitialised));
  const handheld::SocketCounters counted = handheld::socketCounters();
  EXPECT_EQ(counted.startups, 2);
  EXPECT_EQ(counted.cleanups, 2);
}

class SocketsWithServers : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(HttpServers::get().running()) << HttpServers::get().problem(); }
  kestrel_testing::TempHandheld handheld_{{"Compaq iPAQ H3600", {"Storage Card"}, true, "net_timeout = 1\n"}};
};

TEST_F(SocketsWithServers, AnExchangeAndItsFailures) {
  const ce::SOCKET s = ce::socket(ce::AfInet, ce::SockStream, 0);
  ASSERT_NE(s, ce::InvalidSocket);
  const ce::SOCKADDR_IN to = loopback(HttpServers::get().port("scripted"));
  ASSERT_EQ(ce::connect(s, &to, sizeof to), 0);
  const std::string request = "GET /echo/ HTTP/1.0\r\n\r\n";
  EXPECT_EQ(ce::send(s, request.data(), static_cast<int>(request.size()), 0), static_cast<int>(request.size()));
  std::string answer;
  char piece[7];
  for (int n; (n = ce::recv(s, piece, sizeof piece, 0)) > 0;) answer.append(piece, n);
  EXPECT_EQ(answer, "HTTP/1.0 200 OK\r\nContent-Length: 23\r\n\r\n" + request);
  EXPECT_EQ(ce::closesocket(s), 0);
  EXPECT_EQ(ce::closesocket(s), ce::SocketError);
  EXPECT_EQ(ce::WSAGetLastError(), static_cast<int>(ce::WsaeNotSock));
  EXPECT_EQ(ce::recv(s, piece, 1, 0), ce::SocketError);

  // A port nobody listens on refuses; a silent server costs the time-out, then recv fails.
  const ce::SOCKET refused = ce::socket(ce::AfInet, ce::SockStream, 0);
  const ce::SOCKADDR_IN nobody = loopback(1);
  EXPECT_EQ(ce::connect(refused, &nobody, sizeof nobody), ce::SocketError);
  EXPECT_EQ(ce::WSAGetLastError(), static_cast<int>(ce::WsaeConnRefused));
  ce::closesocket(refused);

  const ce::SOCKET silent = ce::socket(ce::AfInet, ce::SockStream, 0);
  ASSERT_EQ(ce::connect(silent, &to, sizeof to), 0);
  const std::string hush = "GET /silent/ HTTP/1.0\r\n\r\n";
  ce::send(silent, hush.data(), static_cast<int>(hush.size()), 0);
  EXPECT_EQ(ce::recv(silent, piece, sizeof piece, 0), ce::SocketError);
  EXPECT_EQ(ce::WSAGetLastError(), static_cast<int>(ce::WsaeTimedOut));
  ce::closesocket(silent);

  const ce::SOCKET unanswered = ce::socket(ce::AfInet, ce::SockStream, 0);
  const ce::SOCKADDR_IN blackhole = loopback(HttpServers::get().port("blackhole"));
  EXPECT_EQ(ce::connect(unanswered, &blackhole, sizeof blackhole), ce::SocketError);
  EXPECT_EQ(ce::WSAGetLastError(), static_cast<int>(ce::WsaeTimedOut));
  ce::closesocket(unanswered);
  EXPECT_EQ(handheld::socketCounters().open, 0u);
}

}  // namespace
