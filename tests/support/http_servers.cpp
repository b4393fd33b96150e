#include "tests/support/http_servers.h"

#include <fstream>
#include <sstream>

namespace kestrel_testing {

namespace {

// The build machine's path of the fixture's folder. Under Wine the Linux root is drive Z:.
std::filesystem::path stateFolder() {
  std::string path = KESTREL_HTTP_SERVERS_DIR;
#ifdef _WIN32
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
#endif
  return std::filesystem::path(path);
}

}  // namespace

const HttpServers& HttpServers::get() {
  static const HttpServers servers = [] {
    HttpServers s;
    const std::filesystem::path state = stateFolder();
    s.www_ = state / "www";
    std::ifstream in(state / "ports");
    std::string name;
    int port = 0;
    while (in >> name >> port) s.ports_.emplace_back(name, port);
    if (s.ports_.empty()) s.problem_ = "the HttpServers fixture is not running (no " + (state / "ports").string() +
                                           "): run the test through ctest, which starts it";
    return s;
  }();
  return servers;
}

int HttpServers::port(const std::string& server) const {
  for (const auto& [name, port] : ports_) {
    if (name == server) return port;
  }
  return 0;
}

std::string HttpServers::root(const std::string& server) const {
  return "http://127.0.0.1:" + std::to_string(port(server)) + "/";
}

const std::vector<std::string>& HttpServers::realServers() {
  static const std::vector<std::string> names{"nginx", "lighttpd", "busybox", "python"};
  return names;
}

void HttpServers::put(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
  const std::filesystem::path file = www_ / name;
  std::filesystem::create_directories(file.parent_path());
  // Written aside and renamed, so a server never serves half a file.
  const std::filesystem::path part = file.string() + ".part";
  {
    std::ofstream out(part, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  std::filesystem::rename(part, file);
}

}  // namespace kestrel_testing
