// The HTTP source against a server that answers with fuzzed bytes: status line, header fields,
// Content-Length, body and where the answer ends are all the input's. The bytes travel through
// the handheld's socket services over the loopback, from a small server thread of this program.
//
// What must hold: a file the source delivers is exactly the server's body. When a read
// succeeds, the GET answer had an empty line within 8 KiB, a 200 status line, a decimal
// Content-Length L (every such field the same), and at least L bytes behind the header; the
// bytes read at rising offsets are those L bytes. Anything else must read -1, never crash,
// never hang.
//
// Input: byte 0 holds flags. Bit 0 set: the HEAD answer is the GET answer. Otherwise bytes 1-2
// (little-endian) are the length of the HEAD answer, which follows them; the GET answer is
// the rest. Bits 2-7: the server writes in pieces of that many bytes plus one (0: at once).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "console/console.h"
#include "file/http_file_manager.h"
#include "platform/handheld/machine.h"

namespace {

class QuietConsole final : public kestrel::Console {
 public:
  void vprint(const char16_t*, const ce::FormatArg*, std::size_t) override {}
};

// The server: one connection at a time, answered from what the current input says.
struct Server {
  int listener = -1;
  int port = 0;
  std::mutex lock;
  std::string head, get;
  std::size_t piece = 0;

  void start() {
    listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 || ::listen(listener, 16) != 0) {
      std::perror("fuzz_http_client: listen");
      std::abort();
    }
    socklen_t length = sizeof at;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&at), &length);
    port = ntohs(at.sin_port);
    std::thread([this] { run(); }).detach();
  }

  void run() {
    for (;;) {
      const int c = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) continue;
      answer(c);
      ::close(c);
    }
  }

  void answer(int c) {
    // The request ends with an empty line; the test connection of setRoot sends nothing.
    std::string request;
    char buffer[512];
    while (request.find("\r\n\r\n") == std::string::npos) {
      pollfd p{c, POLLIN, 0};
      if (::poll(&p, 1, 2000) <= 0) return;
      const ssize_t n = ::recv(c, buffer, sizeof buffer, 0);
      if (n <= 0) return;
      request.append(buffer, static_cast<std::size_t>(n));
    }
    std::string reply;
    std::size_t step;
    {
      std::lock_guard<std::mutex> guard(lock);
      reply = request.rfind("HEAD ", 0) == 0 ? head : get;
      step = piece;
    }
    for (std::size_t at = 0; at < reply.size();) {
      const std::size_t n = step ? std::min(step, reply.size() - at) : reply.size() - at;
      const ssize_t sent = ::send(c, reply.data() + at, n, MSG_NOSIGNAL);
      if (sent <= 0) return;
      at += static_cast<std::size_t>(sent);
    }
    ::shutdown(c, SHUT_WR);
    // Drain until the client closes, so the close is a FIN and never a reset.
    pollfd p{c, POLLIN, 0};
    while (::poll(&p, 1, 2000) > 0 && ::recv(c, buffer, sizeof buffer, 0) > 0) {
    }
  }
};

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& ch : out) {
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
  }
  return out;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// What an accepted answer must look like; `body` is the file it carries. A HEAD answer needs no
// body behind its header. False when the answer cannot be accepted.
bool expectedBody(const std::string& reply, bool needBody, std::string& body) {
  std::size_t end = std::string::npos;
  for (std::size_t i = 0; i < reply.size(); ++i) {
    if (reply[i] != '\n') continue;
    if (i + 1 < reply.size() && reply[i + 1] == '\n') {
      end = i + 2;
      break;
    }
    if (i + 2 < reply.size() && reply[i + 1] == '\r' && reply[i + 2] == '\n') {
      end = i + 3;
      break;
    }
  }
  if (end == std::string::npos || end > 8192) return false;
  const std::string_view header(reply.data(), end);
  const std::size_t firstLine = header.find('\n');
  const std::string_view status = trim(header.substr(0, firstLine));
  const std::size_t space = status.find(' ');
  if (status.rfind("HTTP/", 0) != 0 || space == std::string_view::npos || status.substr(space + 1, 3) != "200") {
    return false;
  }
  bool found = false;
  unsigned long long length = 0;
  std::string_view rest = header.substr(firstLine + 1);
  while (!rest.empty()) {
    const std::size_t eol = rest.find('\n');
    const std::string_view line = rest.substr(0, eol);
    rest.remove_prefix(eol == std::string_view::npos ? rest.size() : eol + 1);
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || lower(trim(line.substr(0, colon))) != "content-length") continue;
    const std::string_view value = trim(line.substr(colon + 1));
    if (value.empty() || value.find_first_not_of("0123456789") != std::string_view::npos) return false;
    // Leading zeros are allowed; anything past 2^32 is too large anyway.
    unsigned long long v = 0;
    for (char digit : value) v = std::min(v * 10 + static_cast<unsigned>(digit - '0'), 0x100000000ull);
    if (found && v != length) return false;
    found = true;
    length = v;
  }
  if (!found || length > 0x7FFFFFFFull) return false;
  if (!needBody) return true;
  if (reply.size() - end < length) return false;
  body = reply.substr(end, static_cast<std::size_t>(length));
  return true;
}

struct Harness {
  Server server;
  QuietConsole console;
  kestrel::Console* slot = &console;
  std::unique_ptr<kestrel::HttpFileManager> files;

  Harness() {
    handheld::Config config;
    std::string error;
    if (!handheld::parseConfig("net_timeout = 2\n", "fuzz.ini", config, error)) std::abort();
    handheld::install(std::make_unique<handheld::Machine>(std::filesystem::temp_directory_path(), config));
    server.start();
    ce::OSVERSIONINFOW version;
    version.dwMajorVersion = 4;
    version.dwMinorVersion = 20;
    files = std::make_unique<kestrel::HttpFileManager>(&slot, version);
    const std::u16string root = u"http://127.0.0.1:" + [this] {
      std::u16string digits;
      for (char c : std::to_string(server.port)) digits += static_cast<char16_t>(c);
      return digits;
    }();
    if (!files->setRoot(root.c_str())) {
      std::fprintf(stderr, "fuzz_http_client: can't reach the server\n");
      std::abort();
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Harness harness;
  if (size < 1) return 0;
  const std::uint8_t flags = data[0];
  std::string head, get;
  if (flags & 1) {
    get.assign(reinterpret_cast<const char*>(data + 1), size - 1);
    head = get;
  } else {
    if (size < 3) return 0;
    const std::size_t headBytes = std::min<std::size_t>(data[1] | (data[2] << 8), size - 3);
    head.assign(reinterpret_cast<const char*>(data + 3), headBytes);
    get.assign(reinterpret_cast<const char*>(data + 3 + headBytes), size - 3 - headBytes);
  }
  {
    std::lock_guard<std::mutex> guard(harness.server.lock);
    harness.server.head = head;
    harness.server.get = get;
    harness.server.piece = flags >> 2;
  }

  kestrel::HttpFileManager& files = *harness.files;
  if (!files.open(u"/k")) std::abort();
  std::string delivered;
  std::vector<char> buffer(4099);
  bool failed = false;
  for (std::uint32_t offset = 0;;) {
    const std::int32_t n = files.read(buffer.data(), static_cast<std::uint32_t>(buffer.size()), offset);
    if (n < 0) {
      failed = true;
      break;
    }
    if (n == 0) break;
    if (static_cast<std::size_t>(n) > buffer.size()) std::abort();
    delivered.append(buffer.data(), static_cast<std::size_t>(n));
    offset += static_cast<std::uint32_t>(n);
  }
  if (!failed) {
    std::string body, ignored;
    // Accepted: both answers were acceptable, and what came is the GET's body.
    if (!expectedBody(get, true, body) || !expectedBody(head, false, ignored)) {
      std::abort();
    }
    if (delivered != body) std::abort();
  }
  return 0;
}
