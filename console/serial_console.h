// The serial consoles behind COM1 and the process-wide COM port. The boot sequence opens
// the port at every boot start; the boot object asks for the family's serial console when
// the user chose one and releases it at exit, before its memory manager goes (the console
// unmaps its UART registers through that manager).
//
// The port is opened through the serial driver, which programs speed and format; the text
// itself is written byte by byte straight into the UART's transmit register, polling its
// status register, so it keeps coming while the MMU and the driver are being left behind.
#pragma once
#include <cstddef>
#include <cstdint>

#include "console/console.h"
#include "console/register_mapper.h"
#include "platform/heap.h"
#include "platform/types.h"

namespace kestrel {

// The banner COM1 gets once per run, when the port is first opened: 27 characters and a zero.
constexpr char ComBanner[] = "\r\n--------KESTREL--------\r\n";
constexpr std::size_t ComBannerBytes = sizeof ComBanner;  // 28, the zero included

// COM1, opened once per process at the stored serial speed, with the banner sent on the
// first successful opening; the invalid handle when the port cannot be opened or set up.
// Later calls return the same handle and do nothing else, so a speed changed afterwards
// does not reach the port in this run.
ce::HANDLE openComPort();

// Where openComPort takes the speed (bit/s) from: the settings object installs its
// serialSpeed. With no source the port keeps the driver's speed.
using SerialSpeedSource = std::uint32_t (*)();
void setSerialSpeedSource(SerialSpeedSource source);

// A new run of the program in the same process (tests): forgets the process-wide port
// handle as a fresh process starts without one. The port is not closed; it goes with its
// machine.
void forgetComPort();

// The console for a UART behind COM1. print converts the text to the default code page,
// turns "\n" into "\r\n" and hands every byte to putc; a text that needs more than 255 bytes
// is not sent at all.
class SerialConsole : public Console {
 public:
  static constexpr std::size_t TextBytes = 256;  // the converted text and its zero
  // Polls of the status register putc makes before it gives a byte up. A byte at 9600 bit/s
  // (start, 8 data, stop bit) is 1.04 ms on the wire; an uncached register read on these
  // buses takes well over 50 ns, so this bound is about ten bytes' time: a UART that is
  // merely slow is always waited for, one that never gets ready does not hang the program.
  static constexpr std::uint32_t MaxPolls = 200000;

  SerialConsole(const SerialConsole&) = delete;
  SerialConsole& operator=(const SerialConsole&) = delete;

  void vprint(const char16_t* format, const ce::FormatArg* args, std::size_t count) override;
  // Opens the port when this console has none yet and reports its line settings in the
  // Console tab; false with "couldn't open COM1\n" there when the port is not available.
  // The subclasses go on to map their registers.
  bool init() override;
  virtual ~SerialConsole();
  // Sends one byte, waiting (boundedly) for the transmitter.
  virtual void putc(std::uint8_t byte) = 0;

  ce::HANDLE port() const { return port_; }
  // Where the UART's registers are mapped; mapFailed() (all ones) while they are not.
  void* registerWindow() const { return window_; }

 protected:
  SerialConsole(RegisterMapperSlot memoryManager, std::uint32_t physicalBase);

  // The LCD console's print applied to this object: the text lands in the Console tab,
  // never on the serial port.
  template <class... Args>
  void printOnConsoleTab(const char16_t* format, const Args&... args) {
    if constexpr (sizeof...(Args) == 0) {
      Console::vprint(format, nullptr, 0);
    } else {
      const ce::FormatArg list[] = {ce::FormatArg(args)...};
      Console::vprint(format, list, sizeof...(Args));
    }
  }
  // Maps the UART's 256-byte register window through the memory manager, releasing an
  // earlier one first; true when it is mapped.
  bool mapRegisters();
  void unmapRegisters();
  bool mapped() const;
  volatile std::uint8_t* reg(std::uint32_t offset) const { return static_cast<volatile std::uint8_t*>(window_) + offset; }

 private:
  ce::HANDLE port_;
  char text_[TextBytes];
  RegisterMapperSlot memoryManager_;  // read whenever the registers are mapped or unmapped
  std::uint32_t physicalBase_;
  void* window_;
};

// SA-11x0 serial port 3 at physical 0x80050000.
class SA11x0SerialConsole final : public SerialConsole {
 public:
  static constexpr std::uint32_t PhysicalBase = 0x80050000;
  explicit SA11x0SerialConsole(RegisterMapperSlot memoryManager);
  ~SA11x0SerialConsole() override;
  bool init() override;
  void putc(std::uint8_t byte) override;
};

// PXA-2x0 full-function UART at physical 0x40100000.
class PXA2x0SerialConsole final : public SerialConsole {
 public:
  static constexpr std::uint32_t PhysicalBase = 0x40100000;
  explicit PXA2x0SerialConsole(RegisterMapperSlot memoryManager);
  ~PXA2x0SerialConsole() override;
  bool init() override;
  void putc(std::uint8_t byte) override;
};

// Makes the serial console of one UART; each family's architecture names its own.
using SerialConsoleMaker = SerialConsole* (*)(RegisterMapperSlot memoryManager);
template <class UartConsole>
SerialConsole* makeSerialConsole(RegisterMapperSlot memoryManager) {
  return ce::heapNew<UartConsole>(memoryManager);
}

// The process-wide serial console, made by `make` on the first call and returned by every
// later call whatever the arguments; null while none was made and `make` is null. The
// console reads the memory manager through `memoryManager` whenever it maps or unmaps its
// registers.
SerialConsole* serialConsoleFor(RegisterMapperSlot memoryManager, SerialConsoleMaker make);

// Destroys the serial console, if one was made. When it was the current console, the
// accessor goes back to the LCD console, so nothing can print to the destroyed one.
void releaseSerialConsole();

}  // namespace kestrel
