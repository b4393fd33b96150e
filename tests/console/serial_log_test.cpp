// `kestrel boot --serial-console` in QEMU: the handheld's COM1 and the emulated board's UART
// are one serial line, so the COM1 log holds the banner, the loader's lines and the kernel's
// report, in that order, and the Console tab (stdout) only what came before the switch.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "tests/e2e/e2e_support.h"

namespace kestrel::e2e {
namespace {

const std::string Banner("\r\n--------KESTREL--------\r\n\0", 28);

std::string contents(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

TEST(SerialLog, BannerLoaderLinesAndKernelReportAreOneStream) {
  for (const char* platform : {"Compaq iPAQ H3600", "Compaq iPAQ H3900"}) {
    SCOPED_TRACE(platform);
    Handheld handheld({platform, "shuffle:5", Kernel::Gzip, false, false});
    ASSERT_TRUE(handheld.ready());
    std::string ini = contents(handheld.dir() / "handheld.ini");
    const std::size_t at = ini.find("com1 = stdout\n");
    ASSERT_NE(at, std::string::npos) << ini;
    ini.replace(at, 14, "com1 = file:serial.log\n");
    std::ofstream(handheld.dir() / "handheld.ini", std::ios::binary | std::ios::trunc) << ini;

    CommandResult run = handheld.boot({"--run", "qemu", "--serial-console", "--speed", "115200"});
    const std::string log = contents(handheld.dir() / "serial.log");
    EXPECT_EQ(run.status, 0) << run.output << log;

    ASSERT_EQ(log.rfind(Banner, 0), 0u) << log;
    EXPECT_EQ(log.find("FileManager: FAT\r\n"), Banner.size()) << log;
    const std::size_t kind = log.find("\r\nconsole = 2\r\n[progress] 10\r\n");
    const std::size_t report = log.find("probe: console: ok 2 (serial)");
    ASSERT_NE(kind, std::string::npos) << log;
    ASSERT_NE(report, std::string::npos) << log;
    EXPECT_LT(kind, report);
    EXPECT_NE(log.find("probe: all checks passed", report), std::string::npos) << log;

    EXPECT_NE(run.output.find("BaudRate 115200, ByteSize 0x8, Parity 0, StopBits 0\n"), std::string::npos)
        << run.output;
    EXPECT_EQ(run.output.find("[progress] 2"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("probe: "), std::string::npos) << run.output;
  }
}

}  // namespace
}  // namespace kestrel::e2e
