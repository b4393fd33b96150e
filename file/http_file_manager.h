// The HTTP source: kernels and images fetched from a web server with HTTP/1.0, one connection
// per request. The root names the server (http://host or http://host:port); each file name is
// the request target. The file's size comes from a HEAD request; the first read fetches the
// whole body into memory with a GET, and every read after that, at any offset, is a copy.
//
// A fetched file is either exactly the server's file or a failure: the status line is read
// (only 200 is a file), the GET response's own header is skipped by finding its end, a body
// shorter than its Content-Length fails, and no wait lasts longer than the handheld's network
// time-out. A failed file reads -1 until the next open.
#pragma once
#include <cstdint>

#include "file/file_manager.h"
#include "platform/heap.h"
#include "platform/sockets.h"
#include "platform/system.h"

namespace kestrel {

class HttpConnection;

class HttpFileManager final : public FileManager {
 public:
  static constexpr std::uint32_t HostBytes = 260;
  static constexpr std::uint32_t RequestBytes = 260;
  // A response header that has not ended within this many bytes is refused.
  static constexpr std::uint32_t HeaderLimit = 8192;
  // WinSock 1.1.
  static constexpr ce::WORD WinsockVersion = 0x0101;

  using StartupFunction = int (*)(ce::WORD, ce::WSADATA*);
  using CleanupFunction = int (*)();

  // `version` is the system's version as the system probe recorded it (all zero before the
  // probe has run): Windows CE 3.11 and later start WinSock with WSAStartup, older versions
  // need no start-up and get the built-in pair.
  HttpFileManager(ConsoleSlot console, const ce::OSVERSIONINFOW& version);
  ~HttpFileManager() override;
  HttpFileManager(const HttpFileManager&) = delete;
  HttpFileManager& operator=(const HttpFileManager&) = delete;

  bool setRoot(const char16_t* directory) override;
  bool open(const char16_t* name) override;
  // The Content-Length of a new HEAD request; 0xFFFFFFFF when the request fails.
  std::uint32_t size() override;
  void close() override;
  std::int32_t read(void* buffer, std::uint32_t length, std::uint32_t offset) override;
  std::int32_t write(const void* buffer, std::uint32_t length, std::uint32_t offset) override;
  bool seek(std::uint32_t offset) override;

  // Whether the platform's WSAStartup/WSACleanup were chosen (else the built-in pair).
  bool usesPlatformStartup() const { return startup_ == &ce::WSAStartup; }
  const ce::SOCKADDR_IN& serverAddress() const { return server_; }
  const char* hostName() const { return hostName_; }
  // The last request assembled, as sent.
  const char* request() const { return request_; }

  static int builtInStartup(ce::WORD version, ce::WSADATA* data);
  static int builtInCleanup();

 private:
  enum class Method { Head, Get };
  // What a response header said.
  struct Response {
    std::uint32_t headerBytes = 0;   // the header up to and including its empty line
    std::int32_t contentLength = 0;
  };

  bool connectTo(ce::SOCKET socket, std::uint32_t address);
  bool assembleRequest(Method method);
  // Sends the request on a new connection and reads the response's header into `header`
  // (HeaderLimit bytes); `received` counts what arrived, body bytes behind the header included.
  // Prints the failure's line and returns false when there is no 200 response with a
  // Content-Length.
  bool exchange(HttpConnection& connection, char* header, std::uint32_t& received,
                Response& response);
  bool parseHeader(const char* header, std::uint32_t bytes, Response& response);
  // The HEAD request: the content length, or -1 after the failure's line.
  std::int64_t headExchange();
  bool fetchBody();
  void forget();
  void printReceiveFailure(const HttpConnection& connection, std::uint32_t got, std::uint32_t expected);

  StartupFunction startup_;
  CleanupFunction cleanup_;
  int started_ = 0;  // successful start-ups, each matched by a clean-up at the end
  ce::WSADATA wsaData_;
  ce::SOCKADDR_IN server_;
  char hostName_[HostBytes] = {};
  char request_[RequestBytes] = {};
  std::uint32_t headerLength_ = 0;
  int cached_ = 0;
  ce::HeapPtr<std::uint8_t> body_;
  std::int32_t contentLength_ = 0;
  std::uint32_t position_ = 0;
  bool failed_ = false;  // the open file could not be fetched: reads return -1
};

}  // namespace kestrel
