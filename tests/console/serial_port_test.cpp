// COM1 of the simulated handheld: the serial driver, the two UART models and the line they
// share (log with speeds, sink).
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/handheld/serial.h"
#include "platform/virtual_memory.h"
#include "tests/support/handheld_fixture.h"

namespace {

using kestrel_testing::HandheldOptions;
using kestrel_testing::TempHandheld;

HandheldOptions withIni(std::string platform, std::string ini) {
  HandheldOptions o;
  o.platform = std::move(platform);
  o.extraIni = std::move(ini);
  return o;
}

ce::HANDLE openCom(const char16_t* name = u"COM1:", ce::DWORD access = ce::GenericRead | ce::GenericWrite) {
  return ce::CreateFileW(name, access, 0, nullptr, ce::OpenExisting, 0, nullptr);
}

bool writeText(ce::HANDLE port, const std::string& text) {
  ce::DWORD written = 0;
  return ce::WriteFile(port, text.data(), static_cast<ce::DWORD>(text.size()), &written, nullptr) &&
         written == text.size();
}

TEST(SerialPort, DriverWritesGoOnTheLineWithTheSpeedInEffectAndReachTheFile) {
  TempHandheld h(withIni("Compaq iPAQ H3600", "com1 = file:serial.log"));
  ce::HANDLE port = openCom();
  ASSERT_NE(port, ce::InvalidHandleValue);
  ce::DCB dcb;
  ASSERT_TRUE(ce::GetCommState(port, &dcb));
  EXPECT_EQ(dcb.BaudRate, 9600u);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, 0);
  EXPECT_EQ(dcb.StopBits, 0);

  EXPECT_TRUE(writeText(port, "hi"));
  dcb.BaudRate = 115200;
  ASSERT_TRUE(ce::SetCommState(port, &dcb));
  EXPECT_TRUE(writeText(port, std::string("yo\0", 3)));
  handheld::serialTransmit("!");  // the kernel, later, on the same line

  EXPECT_EQ(handheld::serialLog(),
            (std::vector<handheld::SerialRun>{{9600, "hi"}, {115200, std::string("yo\0!", 4)}}));
  EXPECT_EQ(handheld::serialSpeed(), 115200u);
  EXPECT_EQ(h.readFile(u"\\serial.log"), std::string("hiyo\0!", 6));  // relative: in the handheld folder

  // The port is exclusive; closing it frees it.
  EXPECT_EQ(openCom(), ce::InvalidHandleValue);
  EXPECT_EQ(ce::GetLastError(), ce::ErrorAccessDenied);
  EXPECT_TRUE(ce::CloseHandle(port));
  port = openCom();
  EXPECT_NE(port, ce::InvalidHandleValue);
  ce::CloseHandle(port);
}

TEST(SerialPort, RefusalsOfTheDriver) {
  {
    TempHandheld h(withIni("Compaq iPAQ H3600", "com1 = none"));
    EXPECT_EQ(openCom(), ce::InvalidHandleValue);
    EXPECT_EQ(ce::GetLastError(), ce::ErrorFileNotFound);
    EXPECT_FALSE(handheld::serialPortPresent());
  }
  {
    TempHandheld h(withIni("Compaq iPAQ H3600", "com1 = file:serial.log"));
    EXPECT_TRUE(handheld::serialPortPresent());
    EXPECT_EQ(openCom(u"COM2:"), ce::InvalidHandleValue);
    EXPECT_EQ(ce::GetLastError(), ce::ErrorFileNotFound);

    // Settings the UART cannot take are refused and change nothing.
    ce::HANDLE port = openCom();
    ASSERT_NE(port, ce::InvalidHandleValue);
    ce::DCB dcb;
    ASSERT_TRUE(ce::GetCommState(port, &dcb));
    ce::DCB noSpeed = dcb, nineBits = dcb;
    noSpeed.BaudRate = 0;
    nineBits.ByteSize = 9;
    for (const ce::DCB& bad : {noSpeed, nineBits}) {
      EXPECT_FALSE(ce::SetCommState(port, &bad));
      EXPECT_EQ(ce::GetLastError(), ce::ErrorInvalidParameter);
    }
    EXPECT_EQ(handheld::serialSpeed(), 9600u);
    ce::CloseHandle(port);

    // A handle opened for reading only cannot send.
    port = openCom(u"COM1:", ce::GenericRead);
    ASSERT_NE(port, ce::InvalidHandleValue);
    EXPECT_FALSE(writeText(port, "x"));
    EXPECT_EQ(ce::GetLastError(), ce::ErrorAccessDenied);
    ce::CloseHandle(port);
    EXPECT_EQ(handheld::serialBytes(), "");
  }
  {
    TempHandheld h(withIni("Compaq iPAQ H3600", "com1 = file:serial.log\ncom1_settings_fail = 1"));
    ce::HANDLE port = openCom();
    ASSERT_NE(port, ce::InvalidHandleValue);
    ce::DCB dcb;
    EXPECT_FALSE(ce::GetCommState(port, &dcb));
    EXPECT_EQ(ce::GetLastError(), ce::ErrorGenFailure);
    EXPECT_FALSE(ce::SetCommState(port, &dcb));
    ce::CloseHandle(port);
  }
}

TEST(SerialPort, SettingsFailureKeyIsReadAndWrittenBack) {
  TempHandheld h(withIni("Compaq iPAQ H3600", "com1_settings_fail = 1"));
  EXPECT_TRUE(h.machine().config().com1SettingsFail);
  std::string error;
  ASSERT_TRUE(handheld::saveConfig(h.dir(), h.machine().config(), error)) << error;
  handheld::Config back;
  ASSERT_TRUE(handheld::loadConfig(h.dir(), back, error)) << error;
  EXPECT_TRUE(back.com1SettingsFail);
  std::ofstream(h.dir() / "handheld.ini") << "com1_settings_fail = yes\n";
  EXPECT_FALSE(handheld::loadConfig(h.dir(), back, error));
  EXPECT_NE(error.find(":1: bad value 'yes' for com1_settings_fail (0 or 1)"), std::string::npos) << error;
}

// The registers of the machine's UART, mapped as a program maps them.
volatile std::uint8_t* mapUart(std::uint32_t base) {
  void* window = ce::VirtualAlloc(nullptr, ce::PageSize, ce::MemReserve, ce::PageNoAccess);
  if (!window) return nullptr;
  if (!ce::VirtualCopy(window, reinterpret_cast<void*>(std::uintptr_t{base >> 8}), ce::PageSize,
                       ce::PageReadWrite | ce::PagePhysical | ce::PageNoCache))
    return nullptr;
  return static_cast<volatile std::uint8_t*>(window);
}

struct UartCase {
  const char* platform;
  std::uint32_t base, status, transmit;
  std::uint8_t mask;    // the transmitter's status bits
  std::uint8_t idle;    // their value with nothing to send
  std::uint8_t busy;    // ... while a byte is being sent
  std::uint8_t stuck;   // ... while the transmitter never gets ready
  int room;                          // bytes it takes at once
};

class UartModel : public ::testing::TestWithParam<UartCase> {};

TEST_P(UartModel, StatusShowsTheTransmitterBusyAndAWriterThatDoesNotWaitLosesBytes) {
  const UartCase& c = GetParam();
  TempHandheld h(withIni(c.platform, "com1 = none"));
  volatile std::uint8_t* regs = mapUart(c.base);
  ASSERT_NE(regs, nullptr);
  // Idle: nothing is busy.
  EXPECT_EQ(ce::mmioRead8(regs + c.status) & c.mask, c.idle);

  // One byte keeps the transmitter busy for PollsPerByte status reads.
  ce::mmioWrite8(regs + c.transmit, 'A');
  for (int poll = 0; poll < handheld::PollsPerByte; ++poll)
    EXPECT_EQ(ce::mmioRead8(regs + c.status) & c.mask, c.busy) << "poll " << poll;
  EXPECT_EQ(ce::mmioRead8(regs + c.status) & c.mask, c.idle);

  // Ten bytes without a look at the status: what does not fit is lost.
  for (char b = '0'; b <= '9'; ++b) ce::mmioWrite8(regs + c.transmit, static_cast<std::uint8_t>(b));
  EXPECT_EQ(handheld::serialBytes(), "A" + std::string("0123456789").substr(0, c.room));
  EXPECT_EQ(handheld::uartCounters().overruns, static_cast<std::uint64_t>(10 - c.room));

  // A transmitter that never gets ready takes nothing.
  h.faults().uartNeverReady = true;
  for (int poll = 0; poll < 50; ++poll) ce::mmioRead8(regs + c.status);
  EXPECT_EQ(ce::mmioRead8(regs + c.status) & c.mask, c.stuck);
  ce::mmioWrite8(regs + c.transmit, 'Z');
  EXPECT_EQ(handheld::serialBytes().find('Z'), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Families, UartModel,
    ::testing::Values(
        // SA-11x0 UART 3: TBY while busy, TNF while the 8-byte FIFO has room.
        UartCase{"Compaq iPAQ H3600", handheld::Sa11x0Uart3Base, handheld::Sa11x0Utsr1, handheld::Sa11x0Utdr,
                 handheld::Sa11x0Tby | handheld::Sa11x0Tnf, handheld::Sa11x0Tnf, handheld::Sa11x0Tby | handheld::Sa11x0Tnf,
                 handheld::Sa11x0Tby, handheld::Sa11x0FifoDepth},
        // PXA-2x0 FFUART, FIFO off: TDRQ clear while the holding register is taken.
        UartCase{"Compaq iPAQ H3900", handheld::Pxa2x0FfuartBase, handheld::Pxa2x0Lsr, handheld::Pxa2x0Thr,
                 handheld::Pxa2x0Tdrq, handheld::Pxa2x0Tdrq, 0, 0, 1}),
    [](const auto& info) { return info.index == 0 ? std::string("SA11x0") : std::string("PXA2x0"); });

}  // namespace
