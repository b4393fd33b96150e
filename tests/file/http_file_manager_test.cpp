// HttpFileManager against real servers on 127.0.0.1 (nginx, lighttpd, busybox httpd, python's
// http.server) and against the scripted server for what no real server does on its own: early
// close, error pages, missing or hostile Content-Length, long or late header fields, silence.
// Built in both builds: under Wine the same servers are reached through Wine's WinSock.
#include "file/http_file_manager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "file/gzip_file_manager.h"
#include "platform/handheld/heap_check.h"
#include "platform/handheld/network.h"
#include "tests/support/capture_console.h"
#include "tests/support/gzip_writer.h"
#include "tests/support/handheld_fixture.h"
#include "tests/support/http_servers.h"

namespace kestrel {
namespace {

using kestrel_testing::Bytes;
using kestrel_testing::HttpServers;

constexpr std::uint32_t Failed = 0xFFFFFFFFu;
const char UserAgent[] = "\r\nUser-Agent: KESTREL/ZERO(1st impact; Windows CE; ARM)\r\n\r\n";

// Bytes that look like a kernel to a compressor: words, text and zero runs.
Bytes content(std::size_t size, std::uint32_t seed) {
  Bytes b(size);
  std::uint32_t x = seed * 2654435761u + 1;
  for (std::size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    const std::size_t block = (i / 4096) % 3;
    b[i] = block == 0 ? static_cast<std::uint8_t>(x >> 24) : block == 1 ? static_cast<std::uint8_t>("kernel text "[i % 12]) : 0;
  }
  return b;
}

std::u16string wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

ce::OSVERSIONINFOW version(ce::DWORD major, ce::DWORD minor) {
  ce::OSVERSIONINFOW v;
  v.dwMajorVersion = major;
  v.dwMinorVersion = minor;
  return v;
}

// Reads at rising offsets, as the loaders do, until 0 or -1.
struct Drained {
  Bytes bytes;
  std::int32_t last = 0;
};
Drained drain(FileManager& file, std::uint32_t piece = 65536) {
  Drained d;
  Bytes buffer(piece);
  for (std::uint32_t offset = 0;;) {
    const std::int32_t n = file.read(buffer.data(), piece, offset);
    if (n <= 0) {
      d.last = n;
      return d;
    }
    d.bytes.insert(d.bytes.end(), buffer.begin(), buffer.begin() + n);
    offset += static_cast<std::uint32_t>(n);
  }
}

class HttpFileManagerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(servers().running()) << servers().problem(); }

  static const HttpServers& servers() { return HttpServers::get(); }

  // A served file named after the test, so tests running side by side never share one.
  std::string serve(const std::string& suffix, const Bytes& bytes) {
    const std::string name = std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + suffix;
    servers().put(name, bytes);
    return name;
  }

  std::unique_ptr<HttpFileManager> make(ce::OSVERSIONINFOW v = version(0, 0)) {
    return std::make_unique<HttpFileManager>(&slot_, v);
  }

  // A manager whose root is the given server, console emptied.
  std::unique_ptr<HttpFileManager> rooted(const std::string& server) {
    auto m = make();
    EXPECT_TRUE(m->setRoot(wide(servers().root(server)).c_str())) << utf8(console_.text);
    console_.take();
    return m;
  }

  static std::string utf8(const std::u16string& s) { return std::string(s.begin(), s.end()); }
  std::string lines() { return utf8(console_.take()); }

  kestrel_testing::TempHandheld handheld_{kestrel_testing::HandheldOptions{
      "Compaq iPAQ H3600", {"Storage Card"}, true, "net_timeout = 1\n"}};
  kestrel_testing::CaptureConsole console_;
  Console* slot_ = &console_;
};

TEST_F(HttpFileManagerTest, FetchesExactlyTheServedFileFromEveryServer) {
  const Bytes file = content(300000, 1);
  const Bytes packed = kestrel_testing::zlibGzip(file, {"", "corvid", "", false});
  const std::string plain = serve(".bin", file), gz = serve(".gz", packed);
  std::vector<std::string> roots = HttpServers::realServers();
  roots.push_back("scripted");
  for (const std::string& server : roots) {
    SCOPED_TRACE(server);
    const std::string prefix = server == "scripted" ? "ok/" : "";
    auto m = rooted(server);
    ASSERT_TRUE(m->open(wide(prefix + plain).c_str()));
    const Drained d = drain(*m);
    EXPECT_EQ(d.last, 0);
    EXPECT_TRUE(d.bytes == file) << d.bytes.size() << " bytes";
    EXPECT_EQ(m->size(), file.size());

    // Through the gzip layer, as the boot reads a compressed kernel.
    console_.take();
    GzipFileManager gzip(&slot_, std::unique_ptr<FileManager>(rooted(server)));
    console_.take();
    ASSERT_TRUE(gzip.open(wide(prefix + gz).c_str()));
    const Drained unpacked = drain(gzip, 4096);
    EXPECT_EQ(unpacked.last, 0);
    EXPECT_TRUE(unpacked.bytes == file) << unpacked.bytes.size() << " bytes";
    gzip.close();
  }
}

TEST_F(HttpFileManagerTest, PrintsTheConnectionAndTheHeadExchange) {
  const std::string name = serve("", content(1000, 2));
  auto m = make();
  ASSERT_TRUE(m->setRoot(wide(servers().root("scripted")).c_str()));
  EXPECT_EQ(lines(), "FileManager: HTTP\n127.0.0.1 (127.0.0.1) connected.\n");
  EXPECT_EQ(m->serverAddress().sin_port, ce::htons(static_cast<ce::WORD>(servers().port("scripted"))));
  ASSERT_TRUE(m->open(wide("/ok/" + name).c_str()));
  EXPECT_EQ(lines(), "") << "open sends nothing";
  char byte = 0;
  EXPECT_EQ(m->read(&byte, 1, 0), 1);
  // The scripted server's header: status line, two fields, Content-Length, empty line.
  const std::string header = "HTTP/1.0 200 OK\r\nServer: scripted\r\nContent-Type: application/octet-stream\r\n"
                             "Content-Length: 1000\r\n\r\n";
  EXPECT_EQ(lines(), "open http://127.0.0.1/ok/" + name + " - header " + std::to_string(header.size()) +
                         " byte contents 1000 byte\n");
}

TEST_F(HttpFileManagerTest, SendsTheRequestBytesWithAnAbsoluteTarget) {
  // The echo mode's body is the request as it arrived. A name without its leading '/' gets
  // one: "GET echo/x HTTP/1.0" is no request line.
  for (const std::string& name : {std::string("/echo/x"), std::string("echo/x")}) {
    SCOPED_TRACE(name);
    auto m = rooted("scripted");
    ASSERT_TRUE(m->open(wide(name).c_str()));
    const Drained d = drain(*m);
    EXPECT_EQ(std::string(d.bytes.begin(), d.bytes.end()), std::string("GET /echo/x HTTP/1.0\r\nHOST: 127.0.0.1") + UserAgent);
    EXPECT_EQ(m->size(), std::string("HEAD /echo/x HTTP/1.0\r\nHOST: 127.0.0.1").size() + sizeof UserAgent - 1);
    EXPECT_EQ(std::string(m->request()), std::string("HEAD /echo/x HTTP/1.0\r\nHOST: 127.0.0.1") + UserAgent);
  }
}

TEST_F(HttpFileManagerTest, ReadsAtOffsetsAndAtTheCurrentPositionFromMemory) {
  const Bytes file = content(1000, 3);
  const std::string name = serve("", file);
  auto m = rooted("nginx");
  ASSERT_TRUE(m->open(wide(name).c_str()));
  Bytes buffer(100);
  EXPECT_EQ(m->read(buffer.data(), 100, 950), 50);
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + 50, file.begin() + 950));
  const int made = handheld::socketCounters().created;
  EXPECT_EQ(m->read(buffer.data(), 100, 1000), 0);
  EXPECT_EQ(m->read(buffer.data(), 100, 5000), 0);
  EXPECT_EQ(m->read(buffer.data(), 100, ce::DWORD(-1)), 100);
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), file.begin()));
  EXPECT_EQ(m->read(buffer.data(), 10, 500), 10) << "an explicit offset leaves the position alone";
  EXPECT_EQ(m->read(buffer.data(), 100, ce::DWORD(-1)), 100);
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), file.begin() + 100));
  EXPECT_TRUE(m->seek(990));
  EXPECT_EQ(m->read(buffer.data(), 100, ce::DWORD(-1)), 10);
  EXPECT_EQ(handheld::socketCounters().created, made) << "reads after the first are copies";
  // size and realSize each ask the server again.
  EXPECT_EQ(m->size(), 1000u);
  EXPECT_EQ(m->realSize(), 1000u);
  EXPECT_EQ(handheld::socketCounters().created, made + 2);
  EXPECT_EQ(m->write(buffer.data(), 10, 0), 0);
  EXPECT_EQ(handheld::socketCounters().open, 0u);
}

TEST_F(HttpFileManagerTest, ServersThatBendTheProtocolStillGiveTheExactFile) {
  // A field behind 300 bytes of others, a GET header longer than the HEAD header, a body on
  // HEAD, lines ending in LF alone, and one byte per send.
  const Bytes file = content(70000, 4);
  const std::string name = serve("", file);
  auto m = rooted("scripted");
  for (const char* mode : {"latelength", "longget", "headbody", "lfonly", "trickle"}) {
    SCOPED_TRACE(mode);
    ASSERT_TRUE(m->open(wide(std::string(mode) + "/" + name).c_str()));
    const Drained d = drain(*m);
    EXPECT_EQ(d.last, 0) << lines();
    EXPECT_TRUE(d.bytes == file) << d.bytes.size() << " bytes";
    EXPECT_EQ(m->size(), file.size());
  }
}

TEST_F(HttpFileManagerTest, MisbehavingServersFailTheFileWithOneLine) {
  const Bytes file = content(20000, 5);
  const std::string name = serve("", file);
  struct Case {
    const char* mode;
    std::string line;    // the line that names the failure
    bool headFails;      // size() fails as well
  };
  const std::string at = "http://127.0.0.1/";
  const Case cases[] = {
      {"half", at + "half/" + name + ": 10000 of 20000 bytes arrived.\n", false},
      {"status404", at + "status404/" + name + ": server answered status 404.\n", true},
      {"nolength", "No Content-Length.\n", true},
      {"huge", at + "huge/" + name + ": content-length too large.\n", true},
      {"negative", at + "negative/" + name + ": bad content-length.\n", true},
      {"notanumber", at + "notanumber/" + name + ": bad content-length.\n", true},
      {"big", at + "big/" + name + ": can't allocate 2000000000 bytes for the body.\n", false},
      {"longheader", at + "longheader/" + name + ": response header longer than 8192 bytes.\n", true},
      {"nomode", at + "nomode/" + name + ": server answered status 400.\n", true},
      {"silent", at + "silent/" + name + ": no answer from server (timed out).\n", true},
      {"silentget", at + "silentget/" + name + ": no answer from server (timed out).\n", false},
      {"stall", at + "stall/" + name + ": server sent nothing for too long (timed out), 5000 of 20000 bytes arrived.\n",
       false},
  };
  auto m = rooted("scripted");
  const std::size_t blocks = handheld::heapBlocksInUse();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    ASSERT_TRUE(m->open(wide(std::string(c.mode) + "/" + name).c_str()));
    char buffer[16];
    EXPECT_EQ(m->read(buffer, sizeof buffer, 0), -1);
    const std::string printed = lines();
    // The HEAD line may come first when only the GET goes wrong; the failure is the last line.
    ASSERT_GE(printed.size(), c.line.size()) << printed;
    EXPECT_EQ(printed.substr(printed.size() - c.line.size()), c.line) << printed;
    EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), c.headFails ? 1 : 2) << printed;
    const int made = handheld::socketCounters().created;
    EXPECT_EQ(m->read(buffer, sizeof buffer, 0), -1) << "a failed file stays failed";
    EXPECT_EQ(m->read(buffer, sizeof buffer, ce::DWORD(-1)), -1);
    EXPECT_EQ(handheld::socketCounters().created, made) << "and is not fetched again";
    EXPECT_EQ(lines(), "");
    if (c.headFails) {
      EXPECT_EQ(m->size(), Failed);
      lines();
    }
    EXPECT_EQ(handheld::heapBlocksInUse(), blocks) << "nothing of the failed fetch is kept";
    EXPECT_EQ(handheld::socketCounters().open, 0u);
  }
  // The next file is fetched afresh.
  ASSERT_TRUE(m->open(wide("ok/" + name).c_str()));
  EXPECT_TRUE(drain(*m).bytes == file);
}

TEST_F(HttpFileManagerTest, RefusesARequestThatDoesNotFitBeforeSendingIt) {
  auto m = rooted("scripted");
  // 5 + 1 + name + 17 + 9 (127.0.0.1) + 59 + 1 bytes: a name of 168 fits exactly, 169 does not.
  // The echo mode answers HEAD with the request's length.
  const std::string fits = "echo/" + std::string(163, 'a'), over = fits + "a";
  ASSERT_TRUE(m->open(wide(fits).c_str()));
  EXPECT_EQ(m->size(), 259u);
  lines();
  ASSERT_TRUE(m->open(wide(over).c_str()));
  const int made = handheld::socketCounters().created;
  char b;
  EXPECT_EQ(m->read(&b, 1, 0), -1);
  EXPECT_EQ(lines(), "request for " + over + " too long. 261 > 260\n");
  EXPECT_EQ(handheld::socketCounters().created, made) << "nothing was sent";
}

TEST_F(HttpFileManagerTest, RootUrls) {
  const std::string port = std::to_string(servers().port("scripted"));
  struct Case {
    std::string root;
    bool ok;
    std::string output;  // after "FileManager: HTTP\n"
    int port;            // the server address's port afterwards, -1 when not set
  };
  const Case cases[] = {
      {"http://127.0.0.1:" + port, true, "127.0.0.1 (127.0.0.1) connected.\n", servers().port("scripted")},
      {"HTTP://127.0.0.1:" + port + "/", true, "127.0.0.1 (127.0.0.1) connected.\n", servers().port("scripted")},
      {"http://localhost:" + port + "/kernels", true, "127.0.0.1 (localhost) connected.\n", servers().port("scripted")},
      // No port: 80. A path in third place is read as the port: "dir" is 0.
      {"http://127.0.0.1", false, "127.0.0.1 can't connect server.\n", 80},
      {"http://127.0.0.1:81", false, "127.0.0.1 can't connect server.\n", 81},
      {"http://127.0.0.1/dir", false, "127.0.0.1 can't connect server.\n", 0},
      {"ftp://127.0.0.1:" + port, false, "", -1},
      {"\\Storage Card\\", false, "", -1},
      {"http://", false, "no server in the url.\n", -1},
      {"http://no-such-host.invalid:" + port, false, "can't get host by name.\n", -1},
      {"http://127.0.0.256:" + port, false, "can't get host by name.\n", -1},
      // Connects are never answered there: the handheld's time-out ends the wait.
      {"http://127.0.0.1:" + std::to_string(servers().port("blackhole")), false, "127.0.0.1 can't connect server.\n",
       servers().port("blackhole")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.root);
    auto m = make();
    EXPECT_EQ(m->setRoot(wide(c.root).c_str()), c.ok);
    EXPECT_EQ(lines(), "FileManager: HTTP\n" + c.output);
    if (c.port >= 0) {
      EXPECT_EQ(m->serverAddress().sin_port, ce::htons(static_cast<ce::WORD>(c.port)));
    }
    EXPECT_EQ(handheld::socketCounters().open, 0u) << "the test connection is closed";
  }
}

TEST_F(HttpFileManagerTest, TriesEveryAddressOfANameAndKeepsTheOneThatConnects) {
  handheld_.reconfigure("hosts = kernels 127.0.0.2 127.0.0.3 127.0.0.1 127.0.0.4\n");
  const std::string name = serve("", content(5000, 6));
  auto m = make();
  ASSERT_TRUE(m->setRoot(wide("http://KERNELS:" + std::to_string(servers().port("nginx"))).c_str()));
  EXPECT_EQ(lines(), "FileManager: HTTP\n127.0.0.2 127.0.0.3 127.0.0.1 (KERNELS) connected.\n");
  const std::uint8_t loopback[4] = {127, 0, 0, 1};
  std::uint8_t kept[4];
  std::memcpy(kept, &m->serverAddress().sin_addr, 4);
  EXPECT_TRUE(std::equal(kept, kept + 4, loopback));
  ASSERT_TRUE(m->open(wide(name).c_str()));
  EXPECT_EQ(drain(*m).bytes.size(), 5000u);
  EXPECT_EQ(handheld::socketCounters().open, 0u);
  // The request names the host as given (nginx's header length is its own business).
  const std::string opened = lines();
  EXPECT_EQ(opened.rfind("open http://KERNELS/" + name + " - header ", 0), 0u) << opened;
  EXPECT_NE(opened.find(" byte contents 5000 byte\n"), std::string::npos) << opened;

  handheld_.reconfigure("hosts = kernels 127.0.0.2 127.0.0.3\n");
  auto none = make();
  EXPECT_FALSE(none->setRoot(wide("http://kernels:" + std::to_string(servers().port("nginx"))).c_str()));
  EXPECT_EQ(lines(), "FileManager: HTTP\n127.0.0.2 127.0.0.3 can't connect server.\n");
}

TEST_F(HttpFileManagerTest, TheWindowsCeVersionChoosesHowWinsockStarts) {
  const std::string root = servers().root("scripted");
  struct Case {
    ce::DWORD major, minor;
    bool platformStartup;
  };
  // Not yet recorded (0.0), 2.11 and 3.0 start WinSock with the built-in pair; 3.11 on with WSAStartup.
  for (const Case& c : {Case{0, 0, false}, Case{2, 11, false}, Case{3, 0, false}, Case{3, 10, false},
                        Case{3, 11, true}, Case{4, 20, true}, Case{5, 0, true}}) {
    SCOPED_TRACE(std::to_string(c.major) + "." + std::to_string(c.minor));
    handheld_.reconfigure("");
    {
      auto m = make(version(c.major, c.minor));
      EXPECT_EQ(m->usesPlatformStartup(), c.platformStartup);
      ASSERT_TRUE(m->setRoot(wide(root).c_str()));
      EXPECT_EQ(handheld::socketCounters().startups, c.platformStartup ? 1 : 0);
    }
    EXPECT_EQ(handheld::socketCounters().cleanups, c.platformStartup ? 1 : 0);
  }
  ce::WSADATA data;
  data.iMaxUdpDg = 7;
  EXPECT_EQ(HttpFileManager::builtInStartup(0x0101, &data), 0);
  EXPECT_EQ(data.wVersion, 0x0101);
  EXPECT_EQ(data.wHighVersion, 0x0101);
  EXPECT_EQ(data.iMaxSockets, 10);
  EXPECT_EQ(data.iMaxUdpDg, 0);
  EXPECT_EQ(data.szDescription[0], '\0');
}

TEST_F(HttpFileManagerTest, AHandheldWithoutNetwork) {
  handheld_.reconfigure("network = off\n");
  const std::string root = servers().root("scripted");
  auto old = make(version(3, 0));
  EXPECT_FALSE(old->setRoot(wide(root).c_str()));
  EXPECT_EQ(lines(), "FileManager: HTTP\ncan't open socket. cause=10050\n");
  auto current = make(version(4, 20));
  EXPECT_FALSE(current->setRoot(wide(root).c_str()));
  EXPECT_EQ(lines(), "FileManager: HTTP\nWinSock initialize failed.\n");
}

TEST_F(HttpFileManagerTest, BuffersThatCannotBeAllocatedFailTheFile) {
  const std::string name = serve("", content(3000, 7));
  auto m = rooted("scripted");
  const std::size_t blocks = handheld::heapBlocksInUse();
  // 1: the HEAD's header buffer; 2: the GET's; 3: the body.
  const std::pair<long, std::string> cases[] = {
      {1, "can't allocate receive buffer.\n"},
      {2, "can't allocate receive buffer.\n"},
      {3, "http://127.0.0.1/ok/" + name + ": can't allocate 3000 bytes for the body.\n"},
  };
  for (const auto& [n, line] : cases) {
    SCOPED_TRACE(n);
    ASSERT_TRUE(m->open(wide("ok/" + name).c_str()));
    handheld_.faults().heapFailAt = n;
    char b;
    EXPECT_EQ(m->read(&b, 1, 0), -1);
    const std::string printed = lines();
    EXPECT_EQ(printed.substr(printed.size() - std::min(printed.size(), line.size())), line) << printed;
    EXPECT_EQ(handheld::heapBlocksInUse(), blocks);
    handheld_.faults().heapFailAt = 0;
  }
}

}  // namespace
}  // namespace kestrel
