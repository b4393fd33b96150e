// Boots a machine captured at the jump in qemu-system-arm. The board is the one QEMU models
// for the processor: collie (SA-1110) for SA-11x0, tosa (PXA255) for PXA250/PXA255, akita
// (PXA270) for PXA270. The captured DRAM is loaded at its physical addresses; a start
// routine in the board's boot ROM at address 0 (where the processor starts out of reset)
// loads r0-r3 and enters the real jump routine, which turns the MMU off (it is off already)
// and branches to the 2nd bootloader. Neither -kernel nor -bios is given: QEMU 7.2 starts
// these boards at 0 without firmware of its own, and the generic loader device fills the ROM
// and the RAM. The kernel's output on the board's UART is streamed to the caller; its
// semihosting exit status is the result.
#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::handoff {

enum class QemuBoard { Collie, Tosa, Akita };

struct QemuBoardInfo {
  QemuBoard board;
  const char* machine;       // -M name
  const char* processor;     // the chip QEMU models
  std::uint32_t ramBase;     // the RAM QEMU gives the board
  std::uint32_t ramSize;
  std::uint32_t uartBase;    // the UART the kernel's console is on
  int uartSerialIndex;       // which -serial option QEMU connects to that UART
};

const QemuBoardInfo& boardInfo(QemuBoard board);
// The board for a processor name ("SA-1100", "SA-1110", "PXA250", "PXA255", "PXA270").
std::optional<QemuBoard> boardForProcessor(std::string_view processor);

// A raw file loaded at a physical address.
struct QemuBlob {
  std::uint32_t address;
  std::filesystem::path file;
};

struct QemuLaunch {
  QemuBoard board = QemuBoard::Collie;
  std::filesystem::path rom;      // loaded at 0: the start routine and the jump routine
  std::vector<QemuBlob> memory;   // RAM contents
  std::string executable = "qemu-system-arm";
};

// The complete command line, executable first.
std::vector<std::string> qemuCommandLine(const QemuLaunch& launch);

// Where the jump routine sits in the start ROM.
constexpr std::uint32_t RomJumpRoutineOffset = 0x40;

// The start ROM: System mode with IRQ and FIQ masked (as the program is when it jumps),
// r0-r3 loaded, then the jump routine at RomJumpRoutineOffset entered.
std::vector<std::uint8_t> startRom(const std::uint32_t (&r)[4], const unsigned char* jumpRoutine,
                                   std::size_t jumpRoutineSize);

struct QemuOptions {
  double timeoutSeconds = 60;
  // Receives the board's UART output as it arrives; null: written to stdout.
  std::function<void(std::string_view)> output;
};

struct QemuResult {
  enum class Status {
    Exited,    // the kernel ended through semihosting; exitStatus is its status
    TimedOut,  // still running at the time limit: killed
    Failed,    // QEMU could not be run, or stopped with an error of its own
  };
  Status status = Status::Failed;
  int exitStatus = -1;
  std::string error;  // for Failed: what QEMU or the runner said
};

QemuResult runQemu(const QemuLaunch& launch, const QemuOptions& options);

// True when the executable can be found on PATH (or is a path to an executable file).
bool qemuAvailable(const std::string& executable = "qemu-system-arm");

}  // namespace kestrel::handoff
