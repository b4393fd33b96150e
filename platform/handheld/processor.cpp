// The handheld's processor state behind platform/processor.h and SetKMode.
#include "platform/handheld/processor.h"

#include <chrono>
#include <cstdio>
#include <random>
#include <system_error>

#include "platform/handheld/handoff_image.h"
#include "platform/handheld/physical_memory.h"
#include "platform/handheld/state.h"
#include "platform/processor.h"
#include "platform/virtual_memory.h"

namespace handheld {

namespace {

// The control register as Windows CE leaves it: MMU, data cache, write buffer and
// instruction cache on, the high vectors at 0xFFFF0000 that Windows CE uses, system
// protection (S) on; bits 4-6 read as one. XScale adds the branch target buffer (Z, bit 11).
constexpr std::uint32_t ControlSa11x0 = 0x0000317D;
constexpr std::uint32_t ControlPxa2x0 = 0x0000397D;

void fillCp15(ProcessorState& p, const Profile& profile) {
  p.cp15.fill(0);
  p.cp15[0] = profile.cp15Id;
  p.cp15[1] = profile.family == Family::PXA2x0 ? ControlPxa2x0 : ControlSa11x0;
  // The first-level table sits in the kernel's own memory at the bottom of DRAM, 16 KiB
  // aligned as the MMU requires.
  std::uint32_t dram = profile.dram.empty() ? 0 : profile.dram.front().base;
  p.cp15[2] = dram + 0x00010000;
  p.cp15[3] = 0x00000001;  // domain 0 client, every other domain no access
  p.cp15[5] = 0x00000007;  // the last abort: a page translation fault in domain 0
  p.cp15[6] = 0x0005F2A4;  // ... at this address of some process
  // Windows CE runs each process in a 32 MiB slot through the FCSE process identifier
  // (bits 31-25); the program runs in slot 2.
  p.cp15[13] = 0x04000000;
  p.cp15[14] = 0x00000000;  // no breakpoints set
  p.cp15Ready = true;
}

ProcessorState& ready() {
  ProcessorState& p = processor();
  if (!p.cp15Ready) fillCp15(p, current().config().profile);
  return p;
}

bool privileged(const ProcessorState& p) { return (p.cpsr & ce::CpsrModeMask) != ce::CpsrModeUser; }

void flatJump(Family family, ce::DWORD r0, ce::DWORD r1, ce::DWORD r2, ce::DWORD r3) {
  Machine& machine = current();
  ProcessorState& p = ready();
  ++p.jumpCount;
  JumpCapture capture;
  capture.family = family;
  capture.r[0] = r0;
  capture.r[1] = r1;
  capture.r[2] = r2;
  capture.r[3] = r3;
  capture.cpsr = p.cpsr;
  if (!privileged(p)) {
    // MCR to CP15 is undefined in User mode; the system catches the exception and the call
    // comes back without having done anything.
    capture.error = "jump routine called in User mode";
    machine.debugOutput(u"FlatJump: called in User mode\n");
    p.lastJump = capture;
    return;
  }
  p.cpsr |= ce::CpsrIrqFiqMask;

  std::filesystem::path file = p.jump.saveTo;
  bool temporary = false;
  if (file.empty() && p.jump.run) {
    std::error_code ec;
    std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
    if (ec) dir = ".";
    // The machine's address repeats from one process to the next, so a name of its own
    // also takes a random part: boots running side by side never share an image.
    static const unsigned long long salt = (static_cast<unsigned long long>(std::random_device{}()) << 32) ^
                                           static_cast<unsigned long long>(
                                               std::chrono::steady_clock::now().time_since_epoch().count());
    char name[96];
    std::snprintf(name, sizeof name, "kestrel-handoff-%016llx-%p-%d.img", salt, static_cast<void*>(&machine),
                  p.jumpCount);
    file = dir / name;
    temporary = true;
  }
  if (!file.empty()) {
    capture.written = writeJumpImage(file, family, capture.r, capture.error);
    if (capture.written) capture.image = file;
  }
  p.lastJump = capture;
  if (capture.written && p.jump.run) {
    // Copy the runner: it may replace the settings it was called through.
    auto run = p.jump.run;
    run(file);
  }
  if (temporary) {
    std::error_code ec;
    std::filesystem::remove(file, ec);
  }
}

}  // namespace

ProcessorState& processor() { return current().state().processor; }

bool writeJumpImage(const std::filesystem::path& file, Family family, const std::uint32_t (&r)[4], std::string& error) {
  Machine& machine = current();
  const Profile& profile = machine.config().profile;
  PhysicalMemory& memory = physicalMemory(machine);
  // The whole DRAM, as it is: the frames Windows CE used hold what it left there.
  return writeHandoffImage(
      file, family, profile.name, profile.processor, r, static_cast<std::uint32_t>(memory.frameCount()),
      [&](const auto& put) {
        for (const DramBank& bank : memory.banks()) {
          for (std::uint64_t offset = 0; offset < bank.size; offset += HandoffFrameSize) {
            auto physical = static_cast<std::uint32_t>(bank.base + offset);
            if (const std::uint8_t* data = memory.frameData(physical)) put(physical, data);
          }
        }
      },
      error);
}

}  // namespace handheld

namespace ce {

BOOL SetKMode(BOOL on) {
  handheld::Machine& machine = handheld::current();
  handheld::ProcessorState& p = handheld::ready();
  BOOL previous = p.kernelMode ? True : False;
  p.kernelMode = on != False;
  DWORD mode = CpsrModeUser;
  // Kernel mode runs the thread in System mode, unless the handheld is told that the switch
  // does not take.
  if (p.kernelMode && !machine.faults().kernelModeFails) mode = CpsrModeSystem;
  p.cpsr = (p.cpsr & ~CpsrModeMask) | mode;
  return previous;
}

void DisableInterrupts() {
  handheld::ProcessorState& p = handheld::ready();
  // In User mode MSR changes the flags only.
  if (handheld::privileged(p)) p.cpsr |= CpsrIrqFiqMask;
}

void EnableInterrupts() {
  handheld::ProcessorState& p = handheld::ready();
  if (handheld::privileged(p)) p.cpsr &= ~CpsrIrqFiqMask;
}

DWORD ReadCPSR() { return handheld::ready().cpsr; }

DWORD ReadCP15(int n) {
  handheld::ProcessorState& p = handheld::ready();
  if (n < 0 || n > 15) return 0;
  return p.cp15[static_cast<std::size_t>(n)];
}

void CleanDCache(const void* area, DWORD bytes) {
  handheld::ProcessorState& p = handheld::ready();
  // One load per 32-byte line: each load allocates its line and evicts whatever the line
  // held, so after `bytes` (the whole cache) every dirty line has been written back.
  auto* words = static_cast<const volatile std::uint32_t*>(area);
  std::uint32_t lines = 0;
  std::uint32_t sink = 0;
  for (DWORD offset = 0; offset < bytes; offset += 32, ++lines) sink ^= words[offset / 4];
  (void)sink;
  p.cleanArea = area;
  p.cleanBytes = bytes;
  p.cleanLines = lines;
  ++p.cleanCount;
}

void FlatJump_sa11x0(DWORD r0, DWORD r1, DWORD r2, DWORD r3) {
  handheld::flatJump(handheld::Family::SA11x0, r0, r1, r2, r3);
}

void FlatJump_pxa2x0(DWORD r0, DWORD r1, DWORD r2, DWORD r3) {
  handheld::flatJump(handheld::Family::PXA2x0, r0, r1, r2, r3);
}

}  // namespace ce
