// `kestrel cat` over HTTP, run as a program: from each real server it writes exactly what
// gzip -dc writes for the served file; from every misbehaving server it ends non-zero with the
// line that names the fault, and none of them makes it hang.
#include <gtest/gtest.h>

#include <string>

#include "tests/file/file_test_support.h"
#include "tests/support/handheld_fixture.h"
#include "tests/support/http_servers.h"

namespace kestrel {
namespace {

using file_test::Bytes;
using file_test::quoted;
using file_test::run;
using kestrel_testing::HttpServers;

struct Outcome {
  int status;
  Bytes out;
  std::string err;
};

class HttpCatTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(HttpServers::get().running()) << HttpServers::get().problem(); }

  Outcome cat(const std::string& root, const std::string& name) {
    const auto out = scratch_ / "out", err = scratch_ / "err";
    const std::string command = "env -u KESTREL_HANDHELD " + quoted(KESTREL_PROGRAM) + " cat --handheld " +
                                quoted(handheld_.dir()) + " --dir '" + root + "' '" + name + "' > " + quoted(out) +
                                " 2> " + quoted(err);
    Outcome o{run(command), file_test::readBytes(out), {}};
    const Bytes e = file_test::readBytes(err);
    o.err.assign(e.begin(), e.end());
    return o;
  }

  kestrel_testing::TempHandheld handheld_{{"Compaq iPAQ H3600", {"Storage Card"}, true, "net_timeout = 2\n"}};
  file_test::ScratchDir scratch_;
};

TEST_F(HttpCatTest, DeliversWhatGzipDeliversFromEveryServer) {
  const Bytes kernel = file_test::kernelLike(400000, 31);
  const Bytes gz = file_test::compressWith("gzip -c IN > OUT", kernel, scratch_);
  const std::string name = "cat-corvid.gz";
  HttpServers::get().put(name, gz);
  const Bytes expected = file_test::compressWith("gzip -dc IN > OUT", gz, scratch_);
  ASSERT_EQ(expected, kernel);
  for (const std::string& server : HttpServers::realServers()) {
    SCOPED_TRACE(server);
    const Outcome o = cat(HttpServers::get().root(server), name);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(o.out == expected) << o.out.size() << " bytes";
    EXPECT_NE(o.err.find("FileManager: HTTP\n127.0.0.1 (127.0.0.1) connected.\n"), std::string::npos) << o.err;
  }
}

TEST_F(HttpCatTest, EveryMisbehavingServerEndsItWithItsLine) {
  const Bytes kernel = file_test::kernelLike(50000, 32);
  const std::string name = "cat-bad.gz";
  HttpServers::get().put(name, file_test::compressWith("gzip -c IN > OUT", kernel, scratch_));
  const std::string root = HttpServers::get().root("scripted");
  const std::pair<const char*, const char*> cases[] = {
      {"half", " bytes arrived.\n"},
      {"status404", ": server answered status 404.\n"},
      {"nolength", "No Content-Length.\n"},
      {"huge", ": content-length too large.\n"},
      {"negative", ": bad content-length.\n"},
      {"notanumber", ": bad content-length.\n"},
      {"big", ": can't allocate 2000000000 bytes for the body.\n"},
      {"longheader", ": response header longer than 8192 bytes.\n"},
      {"silent", ": no answer from server (timed out).\n"},
      {"silentget", ": no answer from server (timed out).\n"},
      {"stall", "(timed out), "},
  };
  for (const auto& [mode, line] : cases) {
    SCOPED_TRACE(mode);
    const Outcome o = cat(root, std::string(mode) + "/" + name);
    EXPECT_NE(o.status, 0);
    EXPECT_TRUE(o.out.empty()) << "nothing of a failed file is written";
    EXPECT_NE(o.err.find(line), std::string::npos) << o.err;
  }
  const Outcome refused = cat("http://127.0.0.1:" + std::to_string(HttpServers::get().port("blackhole")), name);
  EXPECT_NE(refused.status, 0);
  EXPECT_NE(refused.err.find("127.0.0.1 can't connect server.\n"), std::string::npos) << refused.err;
}

}  // namespace
}  // namespace kestrel
