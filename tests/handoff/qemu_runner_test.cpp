// The QEMU runner on each board, with a hand-made image: the start ROM enters the real jump
// routine, which branches straight into a tiny kernel (no 2nd bootloader in between) that
// prints on the board's console UART and exits through semihosting with r0 + r1 + r2.
#include "handoff/qemu_runner.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "arch/arm/blobs.h"
#include "platform/bytes.h"

namespace kestrel::handoff {
namespace {

// The kernel for the SA-11x0 UART 3 (UTSR1 at +0x20 with TNF bit 2, UTDR at +0x14); the
// PXA-2x0 one differs in the three words marked, for the FFUART (LSR at +0x14 with TDRQ bit 5,
// THR at +0).
std::vector<std::uint32_t> kernelWords(bool pxa) {
  return {
      0xE0808001,  // 00: add  r8, r0, r1
      0xE0888002,  // 04: add  r8, r8, r2           exit status
      0xE59F403C,  // 08: ldr  r4, [pc, #60]        UART base (0x4c)
      0xE28F503C,  // 0c: add  r5, pc, #60          message (0x50)
      0xE4D56001,  // 10: ldrb r6, [r5], #1
      0xE3560000,  // 14: cmp  r6, #0
      0x0A000004,  // 18: beq  0x30
      pxa ? 0xE5947014u : 0xE5947020u,  // 1c: ldr r7, [r4, #20] (LSR) / [r4, #32] (UTSR1)
      pxa ? 0xE3170020u : 0xE3170004u,  // 20: tst r7, #32 (TDRQ) / #4 (TNF)
      0x0AFFFFFC,  // 24: beq  0x1c                 wait for room
      pxa ? 0xE5846000u : 0xE5846014u,  // 28: str r6, [r4] (THR) / [r4, #20] (UTDR)
      0xEAFFFFF7,  // 2c: b    0x10
      0xE28F100C,  // 30: add  r1, pc, #12          parameter block (0x44)
      0xE5818004,  // 34: str  r8, [r1, #4]         ... its status word
      0xE3A00020,  // 38: mov  r0, #32              SYS_EXIT_EXTENDED
      0xEF123456,  // 3c: svc  0x123456             semihosting call
      0xEAFFFFFE,  // 40: b    .
      0x00020026,  // 44: ADP_Stopped_ApplicationExit
      0x00000000,  // 48: status
      pxa ? 0x40100000u : 0x80050000u,  // 4c: UART base
      0x6E72656B, 0x75206C65, 0x000A0D70,  // 50: "kernel up\r\n"
  };
}

std::filesystem::path writeFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                               static_cast<std::streamsize>(bytes.size()));
  return path;
}

std::vector<std::uint8_t> bytesOf(const std::vector<std::uint32_t>& words) {
  std::vector<std::uint8_t> bytes(words.size() * 4);
  for (std::size_t i = 0; i < words.size(); ++i) ce::putLe32(&bytes[i * 4], words[i]);
  return bytes;
}

class QemuRunner : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!qemuAvailable()) GTEST_SKIP() << "qemu-system-arm is not installed";
    dir_ = std::filesystem::temp_directory_path() /
           ("kestrel-qemu-runner-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
  }

  // A launch whose jump routine enters `kernel` at the board's RAM base + 2 MiB.
  QemuLaunch launch(QemuBoard board, const std::vector<std::uint8_t>& kernel, std::uint32_t r0, std::uint32_t r1,
                    std::uint32_t r2) {
    const QemuBoardInfo& info = boardInfo(board);
    std::uint32_t entry = info.ramBase + 0x200000;
    const std::uint32_t regs[4] = {r0, r1, r2, entry};
    bool pxa = board != QemuBoard::Collie;
    std::vector<std::uint8_t> rom = pxa ? startRom(regs, arm::flatJumpPxa2x0, arm::flatJumpPxa2x0Size)
                                        : startRom(regs, arm::flatJumpSa11x0, arm::flatJumpSa11x0Size);
    QemuLaunch l;
    l.board = board;
    l.rom = writeFile(dir_ / "rom.bin", rom);
    l.memory.push_back({entry, writeFile(dir_ / "kernel.bin", kernel)});
    return l;
  }

  std::filesystem::path dir_;
};

TEST_F(QemuRunner, EachBoardRunsTheJumpRoutineAndStreamsItsUartAndExitStatus) {
  for (QemuBoard board : {QemuBoard::Collie, QemuBoard::Tosa, QemuBoard::Akita}) {
    SCOPED_TRACE(boardInfo(board).machine);
    std::string uart;
    QemuOptions options;
    options.timeoutSeconds = 30;
    options.output = [&](std::string_view text) { uart += text; };
    QemuResult result = runQemu(launch(board, bytesOf(kernelWords(board != QemuBoard::Collie)), 1, 2, 4), options);
    EXPECT_EQ(result.status, QemuResult::Status::Exited) << result.error;
    // 7 = r0 + r1 + r2: the three registers arrive unchanged through the jump routine.
    EXPECT_EQ(result.exitStatus, 7);
    EXPECT_EQ(uart, "kernel up\r\n");
  }
}

TEST_F(QemuRunner, AKernelThatNeverExitsIsKilledAtTheTimeLimit) {
  QemuOptions options;
  options.timeoutSeconds = 1;
  options.output = [](std::string_view) {};
  QemuResult result = runQemu(launch(QemuBoard::Tosa, bytesOf({0xEAFFFFFE /* b . */}), 0, 0, 0), options);
  EXPECT_EQ(result.status, QemuResult::Status::TimedOut);
  EXPECT_NE(result.error.find("timeout"), std::string::npos);
}

TEST_F(QemuRunner, QemuErrorsAreFailuresNotExitStatuses) {
  QemuOptions options;
  options.output = [](std::string_view) {};

  QemuLaunch missingFile = launch(QemuBoard::Collie, bytesOf({0xEAFFFFFE}), 0, 0, 0);
  missingFile.memory.push_back({0xC0400000, dir_ / "no-such-file.bin"});
  QemuResult result = runQemu(missingFile, options);
  EXPECT_EQ(result.status, QemuResult::Status::Failed);
  EXPECT_NE(result.error.find("no-such-file.bin"), std::string::npos) << result.error;

  QemuLaunch noQemu = launch(QemuBoard::Collie, bytesOf({0xEAFFFFFE}), 0, 0, 0);
  noQemu.executable = (dir_ / "qemu-system-none").string();
  result = runQemu(noQemu, options);
  EXPECT_EQ(result.status, QemuResult::Status::Failed);
  EXPECT_NE(result.error.find("can't run"), std::string::npos) << result.error;
}

}  // namespace
}  // namespace kestrel::handoff
