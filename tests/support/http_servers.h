// The web servers of the HttpServers test fixture (tests/support/http_servers.py, started and
// stopped by CTest around every test that needs them): nginx, lighttpd, busybox httpd and
// python's http.server serving one folder on 127.0.0.1, the scripted server that misbehaves
// on request, and the blackhole port that never answers a connect.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kestrel_testing {

class HttpServers {
 public:
  // Reads the fixture's state; a test that uses it fails (never skips) when the servers are
  // not running.
  static const HttpServers& get();

  bool running() const { return !ports_.empty(); }
  const std::string& problem() const { return problem_; }
  // The folder every server serves.
  const std::filesystem::path& www() const { return www_; }
  int port(const std::string& server) const;
  // "http://127.0.0.1:PORT/"
  std::string root(const std::string& server) const;
  // The four real servers.
  static const std::vector<std::string>& realServers();

  // Writes `bytes` into the served folder as `name`.
  void put(const std::string& name, const std::vector<std::uint8_t>& bytes) const;

 private:
  std::filesystem::path www_;
  std::vector<std::pair<std::string, int>> ports_;
  std::string problem_;
};

}  // namespace kestrel_testing
