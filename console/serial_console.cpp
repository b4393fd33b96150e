// The serial consoles (SA-11x0 serial port 3, PXA-2x0 FFUART) and the process-wide COM port.
#include "console/serial_console.h"

#include "platform/files.h"
#include "platform/heap.h"
#include "platform/text.h"
#include "platform/virtual_memory.h"

namespace kestrel {

namespace {

// Opened once per process and never closed: the port must stay programmed while the loader
// runs, and after the jump nothing of the program is left to close it.
ce::HANDLE comPort = ce::InvalidHandleValue;
SerialConsole* serialConsole = nullptr;
SerialSpeedSource speedSource = nullptr;

constexpr std::uint32_t RegisterWindowBytes = 256;

// SA-11x0 UART: UTDR takes the byte; UTSR1 says whether the transmitter is busy (TBY) and
// whether its FIFO has room (TNF).
constexpr std::uint32_t Utdr = 0x14;
constexpr std::uint32_t Utsr1 = 0x20;
constexpr std::uint8_t Tby = 0x01;
constexpr std::uint8_t Tnf = 0x04;

// PXA-2x0 FFUART: THR takes the byte; LSR's TDRQ says the transmitter wants data; reading IIR
// acknowledges the transmit interrupt the byte raises.
constexpr std::uint32_t Thr = 0x00;
constexpr std::uint32_t Iir = 0x08;
constexpr std::uint32_t Lsr = 0x14;
constexpr std::uint8_t Tdrq = 0x20;

// Polls `status` until `ready` says yes; false when it never does within MaxPolls.
template <class Ready>
bool waitFor(volatile std::uint8_t* status, Ready ready) {
  for (std::uint32_t poll = 0; poll < SerialConsole::MaxPolls; ++poll) {
    if (ready(ce::mmioRead8(status))) return true;
  }
  return false;
}

}  // namespace

ce::HANDLE openComPort() {
  if (comPort != ce::InvalidHandleValue) return comPort;
  ce::HANDLE port = ce::CreateFileW(u"COM1:", ce::GenericRead | ce::GenericWrite, 0, nullptr, ce::OpenExisting, 0,
                                    nullptr);
  if (port == ce::InvalidHandleValue) return ce::InvalidHandleValue;
  ce::DCB dcb;
  bool set = ce::GetCommState(port, &dcb) != ce::False;
  if (set && speedSource) dcb.BaudRate = speedSource();
  if (set) set = ce::SetCommState(port, &dcb) != ce::False;
  if (!set) {
    ce::CloseHandle(port);
    return ce::InvalidHandleValue;
  }
  // Whatever listens on the line learns that the loader has started; whether the write
  // went through changes nothing.
  ce::DWORD written = 0;
  ce::WriteFile(port, ComBanner, static_cast<ce::DWORD>(ComBannerBytes), &written, nullptr);
  comPort = port;
  return comPort;
}

void setSerialSpeedSource(SerialSpeedSource source) { speedSource = source; }

void forgetComPort() { comPort = ce::InvalidHandleValue; }

// ---- SerialConsole ------------------------------------------------------------------------

SerialConsole::SerialConsole(RegisterMapperSlot memoryManager, std::uint32_t physicalBase)
    : Console(SerialConsoleKind),
      port_(ce::InvalidHandleValue),
      text_{},
      memoryManager_(memoryManager),
      physicalBase_(physicalBase),
      window_(RegisterMapper::mapFailed()) {}

SerialConsole::~SerialConsole() = default;

bool SerialConsole::init() {
  if (port_ == ce::InvalidHandleValue) port_ = openComPort();
  ce::DCB dcb;
  if (port_ == ce::InvalidHandleValue || !ce::GetCommState(port_, &dcb)) {
    printOnConsoleTab(u"couldn't open COM1\n");
    return false;
  }
  printOnConsoleTab(u"BaudRate %d, ByteSize %#x, Parity %#x, StopBits %#x\n", dcb.BaudRate,
                    static_cast<unsigned>(dcb.ByteSize), static_cast<unsigned>(dcb.Parity),
                    static_cast<unsigned>(dcb.StopBits));
  return true;
}

void SerialConsole::vprint(const char16_t* format, const ce::FormatArg* args, std::size_t count) {
  const std::size_t units = formatIntoBuffer(format, args, count);
  // Without registers (an init whose mapping failed) there is nowhere to send the text.
  if (units == 0 || !mapped()) return;
  const int length = static_cast<int>(units);
  const int n = ce::WideCharToMultiByte(ce::CpAcp, 0, buffer_, length, nullptr, 0, nullptr, nullptr);
  if (n <= 0 || static_cast<std::size_t>(n) + 1 > TextBytes) return;
  if (ce::WideCharToMultiByte(ce::CpAcp, 0, buffer_, length, text_, n, nullptr, nullptr) != n) return;
  text_[n] = 0;
  for (const char* p = text_; *p; ++p) {
    if (*p == '\n') putc('\r');
    putc(static_cast<std::uint8_t>(*p));
  }
}

bool SerialConsole::mapped() const { return window_ != RegisterMapper::mapFailed(); }

bool SerialConsole::mapRegisters() {
  // Each attempt maps the registers again, through the memory manager of that attempt; the
  // window of the attempt before is given back first, so only one is ever held.
  unmapRegisters();
  RegisterMapper* manager = memoryManager_.get();
  if (!manager) return false;
  window_ = manager->mapPhysical(physicalBase_, RegisterWindowBytes, ce::PageReadWrite);
  return mapped();
}

void SerialConsole::unmapRegisters() {
  if (!mapped()) return;
  void* window = window_;
  // Forgotten before it is released: a message about the release must not be sent through it.
  window_ = RegisterMapper::mapFailed();
  if (RegisterMapper* manager = memoryManager_.get()) manager->unmapPhysical(window);
}

// ---- SA-11x0 ------------------------------------------------------------------------------

SA11x0SerialConsole::SA11x0SerialConsole(RegisterMapperSlot memoryManager)
    : SerialConsole(memoryManager, PhysicalBase) {}

SA11x0SerialConsole::~SA11x0SerialConsole() { unmapRegisters(); }

bool SA11x0SerialConsole::init() { return SerialConsole::init() && mapRegisters(); }

void SA11x0SerialConsole::putc(std::uint8_t byte) {
  // The byte goes in only when the transmitter is idle and its FIFO has room; a UART that
  // never gets there loses the byte rather than the program.
  if (!mapped() || !waitFor(reg(Utsr1), [](std::uint8_t s) { return !(s & Tby) && (s & Tnf); })) return;
  ce::mmioWrite8(reg(Utdr), byte);
}

// ---- PXA-2x0 ------------------------------------------------------------------------------

PXA2x0SerialConsole::PXA2x0SerialConsole(RegisterMapperSlot memoryManager)
    : SerialConsole(memoryManager, PhysicalBase) {}

PXA2x0SerialConsole::~PXA2x0SerialConsole() { unmapRegisters(); }

bool PXA2x0SerialConsole::init() { return SerialConsole::init() && mapRegisters(); }

void PXA2x0SerialConsole::putc(std::uint8_t byte) {
  auto wantsData = [](std::uint8_t s) { return (s & Tdrq) != 0; };
  if (!mapped() || !waitFor(reg(Lsr), wantsData)) return;
  ce::mmioWrite8(reg(Thr), byte);
  // The byte is on its way once TDRQ is back; reading IIR then clears the transmit interrupt.
  if (!waitFor(reg(Lsr), wantsData)) return;
  ce::mmioRead8(reg(Iir));
}

// ---- the process-wide console ---------------------------------------------------------------

SerialConsole* serialConsoleFor(RegisterMapperSlot memoryManager, SerialConsoleMaker make) {
  if (!serialConsole && make) serialConsole = make(memoryManager);
  return serialConsole;
}

void releaseSerialConsole() {
  SerialConsole* console = serialConsole;
  if (!console) return;
  serialConsole = nullptr;
  if (currentConsole() == console) setCurrentConsole(nullptr);
  ce::heapDelete(console);
}

}  // namespace kestrel
