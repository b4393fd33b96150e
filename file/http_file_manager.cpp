// The HTTP source. Requests are HTTP/1.0 without keep-alive: every request is one connection
// that the server closes after its answer. Response headers are read into one buffer of
// HeaderLimit bytes and parsed as a whole, so a field falls where it falls, whatever pieces
// recv hands out.
#include "file/http_file_manager.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "file/http_connection.h"
#include "platform/files.h"

namespace kestrel {

namespace {

constexpr char MethodGet[] = "GET ";
constexpr char MethodHead[] = "HEAD ";
constexpr char Protocol[] = " HTTP/1.0\r\nHOST: ";
constexpr char Trailer[] = "\r\nUser-Agent: KESTREL/ZERO(1st impact; Windows CE; ARM)\r\n\r\n";
constexpr std::int32_t StatusOk = 200;

bool equalNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// Where the header ends: the byte after its empty line (CR LF CR LF, or LF LF from servers
// that end lines with LF alone); 0 while it has not ended.
std::uint32_t headerEnd(const char* bytes, std::uint32_t count) {
  for (std::uint32_t i = 0; i < count; ++i) {
    if (bytes[i] != '\n') continue;
    if (i + 1 < count && bytes[i + 1] == '\n') return i + 2;
    if (i + 2 < count && bytes[i + 1] == '\r' && bytes[i + 2] == '\n') return i + 3;
  }
  return 0;
}

// The URL's tokens: the text between runs of ':' and '/'.
std::u16string_view nextToken(std::u16string_view& rest) {
  auto separator = [](char16_t c) { return c == u':' || c == u'/'; };
  while (!rest.empty() && separator(rest.front())) rest.remove_prefix(1);
  std::size_t n = 0;
  while (n < rest.size() && !separator(rest[n])) ++n;
  std::u16string_view token = rest.substr(0, n);
  rest.remove_prefix(n);
  return token;
}

// The port token: leading decimal digits, low 16 bits; anything else reads as 0.
ce::WORD portOf(std::u16string_view token) {
  std::uint32_t value = 0;
  for (char16_t c : token) {
    if (c < u'0' || c > u'9') break;
    value = value * 10 + static_cast<std::uint32_t>(c - u'0');
  }
  return static_cast<ce::WORD>(value & 0xFFFF);
}

void addressBytes(std::uint32_t address, std::uint8_t (&bytes)[4]) { std::memcpy(bytes, &address, 4); }

}  // namespace

int HttpFileManager::builtInStartup(ce::WORD version, ce::WSADATA* data) {
  *data = ce::WSADATA{};
  data->wVersion = version;
  data->wHighVersion = version;
  data->iMaxSockets = 10;
  data->iMaxUdpDg = 0;
  data->lpVendorInfo = nullptr;
  return 0;
}

int HttpFileManager::builtInCleanup() { return 0; }

HttpFileManager::HttpFileManager(ConsoleSlot console, const ce::OSVERSIONINFOW& version) : FileManager(console) {
  this->console().print(u"FileManager: HTTP\n");
  const bool winsockStartup =
      version.dwMajorVersion > 3 || (version.dwMajorVersion == 3 && version.dwMinorVersion >= 11);
  startup_ = winsockStartup ? &ce::WSAStartup : &builtInStartup;
  cleanup_ = winsockStartup ? &ce::WSACleanup : &builtInCleanup;
}

HttpFileManager::~HttpFileManager() {
  body_.reset();
  for (; started_ > 0; --started_) cleanup_();
}

bool HttpFileManager::setRoot(const char16_t* directory) {
  std::u16string_view rest = directory ? std::u16string_view(directory) : std::u16string_view();
  const std::u16string_view scheme = nextToken(rest);
  if (scheme.size() != 4 || (scheme[0] | 0x20) != u'h' || (scheme[1] | 0x20) != u't' || (scheme[2] | 0x20) != u't' ||
      (scheme[3] | 0x20) != u'p') {
    return false;
  }
  const std::u16string host(nextToken(rest));
  if (host.empty()) {
    console().print(u"no server in the url.\n");
    return false;
  }
  if (!toAscii(hostName_, host.c_str(), HostBytes)) return false;
  ce::WORD port = 80;
  const std::u16string_view portToken = nextToken(rest);
  if (!portToken.empty()) port = portOf(portToken);

  if (startup_(WinsockVersion, &wsaData_) != 0) {
    console().print(u"WinSock initialize failed.\n");
    return false;
  }
  ++started_;
  if ((wsaData_.wVersion & 0xFF) != 1 || (wsaData_.wVersion >> 8) != 1) {
    console().print(u"can't use WinSock DLL.\n");
    return false;
  }

  ce::SOCKET socket = ce::socket(ce::AfInet, ce::SockStream, 0);
  if (socket == ce::InvalidSocket) {
    console().print(u"can't open socket. cause=%d\n", ce::GetLastError());
    return false;
  }
  server_ = ce::SOCKADDR_IN{};
  server_.sin_family = ce::AfInet;
  server_.sin_port = ce::htons(port);

  bool connected = false;
  if (const ce::HOSTENT* entry = ce::gethostbyname(hostName_)) {
    for (char** a = entry->h_addr_list; a && *a && !connected; ++a) {
      std::uint32_t address = 0;
      std::memcpy(&address, *a, 4);
      // A socket whose connect failed is not used again: the next address gets a new one.
      if (a != entry->h_addr_list) {
        ce::closesocket(socket);
        socket = ce::socket(ce::AfInet, ce::SockStream, 0);
        if (socket == ce::InvalidSocket) break;
      }
      connected = connectTo(socket, address);
    }
  } else {
    const std::uint32_t address = ce::inet_addr(hostName_);
    if (address == ce::InaddrNone) {
      console().print(u"can't get host by name.\n");
      ce::closesocket(socket);
      return false;
    }
    connected = connectTo(socket, address);
  }
  if (socket != ce::InvalidSocket) ce::closesocket(socket);
  if (!connected) {
    console().print(u"can't connect server.\n");
    return false;
  }
  console().print(u"(%S) connected.\n", hostName_);
  return true;
}

bool HttpFileManager::connectTo(ce::SOCKET socket, std::uint32_t address) {
  server_.sin_addr = address;
  std::uint8_t b[4];
  addressBytes(address, b);
  console().print(u"%d.%d.%d.%d ", b[0], b[1], b[2], b[3]);
  return ce::connect(socket, &server_, static_cast<int>(sizeof server_)) == 0;
}

void HttpFileManager::forget() {
  nameBuffer_[0] = '\0';
  cached_ = 0;
  body_.reset();
  headerLength_ = 0;
  position_ = 0;
  failed_ = false;
}

bool HttpFileManager::open(const char16_t* name) {
  forget();
  return toAscii(nameBuffer_, name, sizeof nameBuffer_);
}

bool HttpFileManager::assembleRequest(Method method) {
  const std::string_view verb = method == Method::Head ? MethodHead : MethodGet;
  const std::string_view path(nameBuffer_);
  // The request target is an absolute path: "GET corvid.gz HTTP/1.0" is no request line.
  const std::string_view slash = path.empty() || path.front() != '/' ? "/" : "";
  const std::string_view host(hostName_);
  const std::size_t needed = verb.size() + slash.size() + path.size() + (sizeof Protocol - 1) + host.size() +
                             (sizeof Trailer - 1) + 1;
  if (needed > RequestBytes) {
    console().print(u"request for %S too long. %d > %d\n", nameBuffer_, needed, RequestBytes);
    return false;
  }
  char* out = request_;
  for (std::string_view part : {verb, slash, path, std::string_view(Protocol), host, std::string_view(Trailer)}) {
    std::memcpy(out, part.data(), part.size());
    out += part.size();
  }
  *out = '\0';
  return true;
}

bool HttpFileManager::parseHeader(const char* header, std::uint32_t bytes, Response& response) {
  std::string_view text(header, bytes);
  // Status line: HTTP/x.y NNN reason
  std::size_t lineEnd = text.find('\n');
  std::string_view status = trimmed(text.substr(0, lineEnd));
  std::int32_t code = -1;
  if (status.size() >= 12 && status.substr(0, 5) == "HTTP/") {
    std::size_t space = status.find(' ');
    if (space != std::string_view::npos && space + 4 <= status.size()) {
      std::string_view digits = status.substr(space + 1, 3);
      if (std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
          (space + 4 == status.size() || status[space + 4] == ' ')) {
        code = (digits[0] - '0') * 100 + (digits[1] - '0') * 10 + (digits[2] - '0');
      }
    }
  }
  if (code < 0) {
    console().print(u"http://%S/%S: not an http response.\n", hostName_, nameBuffer_ + (nameBuffer_[0] == '/'));
    return false;
  }
  if (code != StatusOk) {
    console().print(u"http://%S/%S: server answered status %d.\n", hostName_, nameBuffer_ + (nameBuffer_[0] == '/'),
                    code);
    return false;
  }

  bool found = false;
  std::uint64_t length = 0;
  while (lineEnd != std::string_view::npos) {
    text.remove_prefix(lineEnd + 1);
    lineEnd = text.find('\n');
    const std::string_view line = text.substr(0, lineEnd);
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || !equalNoCase(trimmed(line.substr(0, colon)), "content-length")) continue;
    const std::string_view value = trimmed(line.substr(colon + 1));
    std::uint64_t v = 0;
    bool number = !value.empty();
    for (char c : value) {
      if (c < '0' || c > '9') {
        number = false;
        break;
      }
      v = std::min<std::uint64_t>(v * 10 + static_cast<std::uint64_t>(c - '0'), 0x100000000ull);
    }
    // Two fields that disagree make the length as doubtful as a field that is no number.
    if (!number || (found && v != length)) {
      console().print(u"http://%S/%S: bad content-length.\n", hostName_, nameBuffer_ + (nameBuffer_[0] == '/'));
      return false;
    }
    found = true;
    length = v;
  }
  if (!found) {
    console().print(u"No Content-Length.\n");
    return false;
  }
  if (length > 0x7FFFFFFFu) {
    console().print(u"http://%S/%S: content-length too large.\n", hostName_, nameBuffer_ + (nameBuffer_[0] == '/'));
    return false;
  }
  response.contentLength = static_cast<std::int32_t>(length);
  return true;
}

void HttpFileManager::printReceiveFailure(const HttpConnection& connection, std::uint32_t got,
                                          std::uint32_t expected) {
  const char* path = nameBuffer_ + (nameBuffer_[0] == '/');
  if (connection.error() == ce::WsaeTimedOut) {
    console().print(u"http://%S/%S: server sent nothing for too long (timed out), %u of %u bytes arrived.\n",
                    hostName_, path, got, expected);
  } else {
    console().print(u"http://%S/%S: %u of %u bytes arrived.\n", hostName_, path, got, expected);
  }
}

bool HttpFileManager::exchange(HttpConnection& connection, char* header, std::uint32_t& received,
                               Response& response) {
  const char* path = nameBuffer_ + (nameBuffer_[0] == '/');
  if (connection.socket() == ce::InvalidSocket) {
    console().print(u"can't open socket.\n");
    return false;
  }
  if (!connection.connected()) {
    if (connection.error() == ce::WsaeTimedOut) {
      console().print(u"can't connect server. (timed out)\n");
    } else {
      console().print(u"can't connect server. cause=%d\n", connection.error());
    }
    return false;
  }
  if (!connection.sendAll(request_, static_cast<std::uint32_t>(std::strlen(request_)))) {
    console().print(u"http://%S/%S: can't send the request. cause=%d\n", hostName_, path, connection.error());
    return false;
  }
  received = 0;
  std::uint32_t end = 0;
  while (end == 0) {
    if (received == HeaderLimit) {
      console().print(u"http://%S/%S: response header longer than %u bytes.\n", hostName_, path, HeaderLimit);
      return false;
    }
    const std::int32_t got = connection.receive(header + received, HeaderLimit - received);
    if (got <= 0) {
      if (got < 0 && connection.error() == ce::WsaeTimedOut) {
        console().print(u"http://%S/%S: no answer from server (timed out).\n", hostName_, path);
      } else if (received == 0) {
        console().print(u"http://%S/%S: server closed without an answer.\n", hostName_, path);
      } else {
        console().print(u"http://%S/%S: response header cut short.\n", hostName_, path);
      }
      return false;
    }
    // Only the new bytes (and the three before them) can complete the empty line.
    const std::uint32_t from = received > 3 ? received - 3 : 0;
    received += static_cast<std::uint32_t>(got);
    const std::uint32_t at = headerEnd(header + from, received - from);
    if (at != 0) end = from + at;
  }
  response.headerBytes = end;
  return parseHeader(header, end, response);
}

std::int64_t HttpFileManager::headExchange() {
  if (!assembleRequest(Method::Head)) return -1;
  HttpConnection connection(server_);
  ce::HeapPtr<char> header(static_cast<char*>(ce::LocalAlloc(ce::LmemFixed, HeaderLimit)));
  if (!header) {
    console().print(u"can't allocate receive buffer.\n");
    return -1;
  }
  std::uint32_t received = 0;
  Response response;
  // Whatever follows the header (a server may send the body on HEAD too) is not read.
  if (!exchange(connection, header.get(), received, response)) return -1;
  headerLength_ = response.headerBytes;
  console().print(u"open http://%S%S%S - header %d byte contents %d byte\n", hostName_,
                  nameBuffer_[0] == '/' ? "" : "/", nameBuffer_, response.headerBytes, response.contentLength);
  return response.contentLength;
}

std::uint32_t HttpFileManager::size() {
  const std::int64_t length = headExchange();
  return length < 0 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(length);
}

bool HttpFileManager::fetchBody() {
  const std::int64_t announced = headExchange();
  if (announced < 0) return false;
  if (!assembleRequest(Method::Get)) return false;
  HttpConnection connection(server_);
  ce::HeapPtr<char> header(static_cast<char*>(ce::LocalAlloc(ce::LmemFixed, HeaderLimit)));
  if (!header) {
    console().print(u"can't allocate receive buffer.\n");
    return false;
  }
  std::uint32_t received = 0;
  Response response;
  if (!exchange(connection, header.get(), received, response)) return false;

  // The GET's own Content-Length counts: it describes the body that follows it.
  const std::uint32_t length = static_cast<std::uint32_t>(response.contentLength);
  body_.reset(static_cast<std::uint8_t*>(ce::LocalAlloc(ce::LmemFixed, length > 0 ? length : 1)));
  if (!body_) {
    console().print(u"http://%S/%S: can't allocate %u bytes for the body.\n", hostName_,
                    nameBuffer_ + (nameBuffer_[0] == '/'), length);
    return false;
  }
  // The first body bytes came with the header; anything beyond the Content-Length is not ours.
  std::uint32_t have = std::min(received - response.headerBytes, length);
  std::memcpy(body_.get(), header.get() + response.headerBytes, have);
  header.reset();
  while (have < length) {
    const std::int32_t got = connection.receive(reinterpret_cast<char*>(body_.get()) + have, length - have);
    if (got <= 0) {
      printReceiveFailure(connection, have, length);
      body_.reset();
      return false;
    }
    have += static_cast<std::uint32_t>(got);
  }
  contentLength_ = response.contentLength;
  cached_ = 1;
  return true;
}

void HttpFileManager::close() {}

std::int32_t HttpFileManager::read(void* buffer, std::uint32_t length, std::uint32_t offset) {
  if (offset == CurrentPosition) {
    offset = position_;
    position_ += length;
  }
  if (failed_) return -1;
  if (!cached_ && !fetchBody()) {
    failed_ = true;
    return -1;
  }
  const std::uint32_t total = static_cast<std::uint32_t>(contentLength_);
  if (offset >= total) return 0;
  const std::uint32_t count = std::min({length, total - offset, 0x7FFFFFFFu});
  std::memcpy(buffer, body_.get() + offset, count);
  return static_cast<std::int32_t>(count);
}

std::int32_t HttpFileManager::write(const void*, std::uint32_t, std::uint32_t) { return 0; }

bool HttpFileManager::seek(std::uint32_t offset) {
  position_ = offset;
  return true;
}

}  // namespace kestrel
