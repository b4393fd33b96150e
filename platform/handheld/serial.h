// COM1 of the handheld: the serial driver behind "COM1:" and the UART whose registers a
// program may drive directly once it has mapped them (SA-11x0 serial port 3 at 0x80050000,
// PXA-2x0 full-function UART at 0x40100000; a machine has the one of its family). Driver and
// UART put their bytes on one line. The line ends in the sink that handheld.ini names
// (`com1 = stdout`, `file:PATH` - a relative PATH lies in the handheld folder - or `none`:
// no driver is loaded and nothing listens), and the machine keeps a log of it: the bytes in
// the order they were sent, each with the speed the driver had programmed at that moment.
//
// The UART model only knows time by its status register: every read of UTSR1 or LSR is one
// tick, and a byte occupies the transmitter for PollsPerByte ticks. A program that writes the
// transmit register without waiting for room loses bytes (counted as overruns), as on the
// hardware. Faults::uartNeverReady keeps the transmitter busy for good.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace handheld {

class Machine;
class PhysicalMemory;

// Register blocks (physical base) and their registers, as the processors' manuals name them.
constexpr std::uint32_t Sa11x0Uart3Base = 0x80050000;
constexpr std::uint32_t Sa11x0Utdr = 0x14;   // data: a write transmits
constexpr std::uint32_t Sa11x0Utsr1 = 0x20;  // status 1
constexpr std::uint8_t Sa11x0Tby = 0x01;     // transmitter busy
constexpr std::uint8_t Sa11x0Tnf = 0x04;     // transmit FIFO not full
constexpr std::uint32_t Pxa2x0FfuartBase = 0x40100000;
constexpr std::uint32_t Pxa2x0Thr = 0x00;    // transmit holding register (DLL while LCR.DLAB)
constexpr std::uint32_t Pxa2x0Iir = 0x08;    // interrupt identification
constexpr std::uint32_t Pxa2x0Lcr = 0x0C;    // line control; bit 7 DLAB
constexpr std::uint32_t Pxa2x0Lsr = 0x14;    // line status
constexpr std::uint8_t Pxa2x0Tdrq = 0x20;    // transmit data request: the holding register is free
constexpr std::uint8_t Pxa2x0Temt = 0x40;    // transmitter empty
constexpr std::uint32_t UartBlockSize = 0x100;

// Status reads a byte keeps the transmitter busy for.
constexpr int PollsPerByte = 4;
// The SA-11x0 transmit FIFO; the PXA-2x0 FFUART runs with its FIFO off (one holding register).
constexpr int Sa11x0FifoDepth = 8;

// The driver's line settings before anyone sets them: 9600 bit/s, 8 data bits, no parity,
// one stop bit.
constexpr std::uint32_t DefaultSerialSpeed = 9600;

// A stretch of the line at one speed.
struct SerialRun {
  std::uint32_t speed = 0;  // bit/s
  std::string bytes;
  bool operator==(const SerialRun&) const = default;
};

// What the UART saw.
struct UartCounters {
  std::uint64_t statusReads = 0;  // UTSR1 or LSR
  std::uint64_t iirReads = 0;     // PXA-2x0
  std::uint64_t accepted = 0;     // bytes written to the transmit register and sent
  std::uint64_t overruns = 0;     // bytes written while it had no room: lost
};

// The line of the current machine, oldest first; consecutive bytes at one speed share a run.
const std::vector<SerialRun>& serialLog();
// All bytes of the log, without the speeds.
std::string serialBytes();
// The speed the driver has programmed (DefaultSerialSpeed until a SetCommState).
std::uint32_t serialSpeed();
const UartCounters& uartCounters();
// False when handheld.ini says `com1 = none`.
bool serialPortPresent();
// Puts bytes on the line from outside the program: what the booted kernel sends on the same
// UART after the jump (an emulator's output). They go to the log and the sink like the rest.
void serialTransmit(std::string_view bytes);

// Plugs the family's UART into the machine's physical memory (done when that is made).
void attachUart(Machine& machine, PhysicalMemory& memory);

// The machine's serial state; the driver's open handles share it with the machine.
class SerialLine;
struct SerialState {
  std::shared_ptr<SerialLine> line;  // made at first use
};

}  // namespace handheld
