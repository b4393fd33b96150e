// `kestrel boot` with the kernel directory on a web server: the probe kernel and its md image
// fetched from nginx on 127.0.0.1, plain and gzip, booted in qemu-system-arm on an SA-1110 and
// a PXA270 board. A kernel that arrives cut short never reaches the jump.
#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "tests/e2e/e2e_support.h"
#include "tests/support/http_servers.h"

namespace kestrel::e2e {
namespace {

namespace fs = std::filesystem;
using kestrel_testing::HttpServers;

struct HttpCase {
  std::string name;
  std::string platform;
  Kernel kernel;
};

// The case's name, not its bytes, in test listings.
void PrintTo(const HttpCase& c, std::ostream* os) { *os << c.name; }

// Puts the handheld card's kernel and image into the served folder under `tag`/.
void serveCard(const Handheld& handheld, const std::string& tag) {
  const fs::path to = HttpServers::get().www() / tag;
  fs::create_directories(to);
  for (const auto& entry : fs::directory_iterator(handheld.dir() / "Storage Card")) {
    if (entry.is_regular_file()) fs::copy_file(entry.path(), to / entry.path().filename(), fs::copy_options::overwrite_existing);
  }
}

class HttpQemuBootTest : public ::testing::TestWithParam<HttpCase> {
 protected:
  void SetUp() override { ASSERT_TRUE(HttpServers::get().running()) << HttpServers::get().problem(); }
};

TEST_P(HttpQemuBootTest, ProbeKernelAndImageFromNginx) {
  const HttpCase& c = GetParam();
  const bool gzip = c.kernel == Kernel::Gzip;
  Handheld handheld({c.platform, "shuffle:11", c.kernel, true, gzip});
  ASSERT_TRUE(handheld.ready());
  const std::string tag = "e2e-" + c.name;
  serveCard(handheld, tag);
  const std::string kernel = tag + (gzip ? "/corvid.gz" : "/corvid");
  const std::string image = tag + (gzip ? "/miniroot.fs.gz" : "/miniroot.fs");
  const std::string url = "http://127.0.0.1:" + std::to_string(HttpServers::get().port("nginx"));
  CommandResult run = handheld.boot({"--dir", url, "--kernel", kernel, "--root", "md", "--image", image, "--run", "qemu",
                                     "--timeout", "60"});
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("FileManager: HTTP\n"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("[progress] 3\n127.0.0.1 (127.0.0.1) connected.\n"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("open http://127.0.0.1/" + kernel + " - header "), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("open http://127.0.0.1/" + image + " - header "), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("probe: image: ok"), std::string::npos) << probeReport(run.output);
  EXPECT_NE(run.output.find("probe: all checks passed\n"), std::string::npos) << probeReport(run.output);
}

INSTANTIATE_TEST_SUITE_P(Boards, HttpQemuBootTest,
                         ::testing::Values(HttpCase{"Sa1110_Plain", "Compaq iPAQ H3600", Kernel::Plain},
                                           HttpCase{"Sa1110_Gzip", "Compaq iPAQ H3600", Kernel::Gzip},
                                           HttpCase{"Pxa270_Plain", "Sharp W-ZERO3 (WS003SH)", Kernel::Plain},
                                           HttpCase{"Pxa270_Gzip", "Sharp W-ZERO3 (WS003SH)", Kernel::Gzip}),
                         [](const ::testing::TestParamInfo<HttpCase>& info) { return info.param.name; });

// Half a kernel is no kernel: the boot fails at the step that reads it, before any jump.
TEST(HttpBoot, AKernelCutShortFailsBeforeTheJump) {
  ASSERT_TRUE(HttpServers::get().running()) << HttpServers::get().problem();
  for (Kernel kernel : {Kernel::Plain, Kernel::Gzip}) {
    const bool gzip = kernel == Kernel::Gzip;
    SCOPED_TRACE(gzip ? "gzip" : "plain");
    Handheld handheld({"Compaq iPAQ H3600", "sequential", kernel, false, false});
    ASSERT_TRUE(handheld.ready());
    const std::string tag = std::string("e2e-half-") + (gzip ? "gzip" : "plain");
    serveCard(handheld, tag);
    const std::string url = "http://127.0.0.1:" + std::to_string(HttpServers::get().port("scripted"));
    CommandResult run = handheld.boot(
        {"--dir", url, "--kernel", "half/" + tag + (gzip ? "/corvid.gz" : "/corvid"), "--run", "qemu"});
    EXPECT_EQ(run.status, 2) << run.output;
    EXPECT_NE(run.output.find(" bytes arrived.\n"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("[BOOT FAILED]"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("probe: "), std::string::npos) << run.output;
  }
}

}  // namespace
}  // namespace kestrel::e2e
