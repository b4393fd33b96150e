#include "handoff/unicorn_runner.h"

#include <unicorn/unicorn.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "arch/arm/blobs.h"

namespace kestrel::handoff {

namespace {

std::string line(const char* format, unsigned long long a = 0, unsigned long long b = 0, unsigned long long c = 0) {
  char text[200];
  std::snprintf(text, sizeof text, format, a, b, c);
  return text;
}

struct Model {
  const char* name;
  int cpu;
};

// The processor unicorn models for the image's processor name; the family's usual part
// when the name is not one of them.
Model modelFor(const HandoffImage& image) {
  static const Model models[] = {
      {"SA-1100", UC_CPU_ARM_SA1100}, {"SA-1110", UC_CPU_ARM_SA1110}, {"PXA250", UC_CPU_ARM_PXA250},
      {"PXA255", UC_CPU_ARM_PXA255},  {"PXA260", UC_CPU_ARM_PXA260},  {"PXA270", UC_CPU_ARM_PXA270},
  };
  for (const Model& m : models)
    if (image.processor == m.name) return m;
  return image.family == handheld::Family::PXA2x0 ? models[3] : models[1];
}

const unsigned char* jumpRoutine(handheld::Family family, std::size_t& size) {
  if (family == handheld::Family::PXA2x0) {
    size = arm::flatJumpPxa2x0Size;
    return arm::flatJumpPxa2x0;
  }
  size = arm::flatJumpSa11x0Size;
  return arm::flatJumpSa11x0;
}

struct Engine {
  uc_engine* uc = nullptr;
  ~Engine() {
    if (uc) uc_close(uc);
  }
};

// What the hooks saw.
struct Watch {
  handheld::Family family = handheld::Family::SA11x0;
  bool kernel = false;  // past the entry: the kernel runs
  std::function<void(std::string_view)> output;
  KernelRun run;
  std::uint32_t codeBegin[2] = {0, 0};  // the pages execution may stay in: jump routine, second stage
  bool left = false;
  std::uint32_t leftAt = 0;
  std::string fault;
  // Instructions of the blocks entered so far, and where that count ends the run.
  std::uint64_t instructions = 0, kernelInstructions = 0;
  std::uint64_t limit = 0, kernelLimit = 0;
  bool limitReached = false;

  bool inside(std::uint64_t address) const {
    for (std::uint32_t page : codeBegin)
      if (address >= page && address < std::uint64_t{page} + FrameSize) return true;
    return false;
  }
};

// Counting whole blocks keeps the emulator's per-instruction counting out of the long copy
// loops; the limit is thus reached at a block's start, a few instructions late at most.
void onBlock(uc_engine* uc, std::uint64_t address, std::uint32_t size, void* data) {
  auto* w = static_cast<Watch*>(data);
  std::uint64_t& count = w->kernel ? w->kernelInstructions : w->instructions;
  if (count >= (w->kernel ? w->kernelLimit : w->limit)) {
    w->limitReached = true;
    uc_emu_stop(uc);
    return;
  }
  if (!w->kernel && !w->inside(address)) {
    w->left = true;
    w->leftAt = static_cast<std::uint32_t>(address);
    uc_emu_stop(uc);
    return;
  }
  count += size / 4;
}

bool onInvalid(uc_engine* uc, uc_mem_type type, std::uint64_t address, int size, std::int64_t, void* data) {
  auto* w = static_cast<Watch*>(data);
  if (!w->kernel && type == UC_MEM_FETCH_UNMAPPED && !w->inside(address)) {
    // A branch out of the hand-off code to memory the image does not have: that is where the
    // kernel was entered all the same.
    w->left = true;
    w->leftAt = static_cast<std::uint32_t>(address);
    return false;
  }
  std::uint32_t pc = 0;
  uc_reg_read(uc, UC_ARM_REG_PC, &pc);
  const char* what = type == UC_MEM_WRITE_UNMAPPED ? "write to" : type == UC_MEM_READ_UNMAPPED ? "read of" : "fetch from";
  w->fault = std::string(what) + line(" unmapped 0x%08llx (%llu bytes) at pc 0x%08llx", address,
                                      static_cast<unsigned long long>(size), pc);
  return false;
}

void emit(Watch& w, std::string_view text) {
  w.run.output += text;
  if (w.output) w.output(text);
}

// ARM semihosting, as the kernel calls it with `svc 0x123456`: r0 the operation, r1 its
// argument. Returns false for anything else.
constexpr std::uint32_t SemihostingSvc = 0xEF123456;  // svc 0x123456, condition always
constexpr std::uint32_t SysWriteC = 0x03, SysWrite0 = 0x04, SysExit = 0x18, SysExitExtended = 0x20;
constexpr std::uint32_t ApplicationExit = 0x20026;

bool semihosting(uc_engine* uc, Watch& w) {
  std::uint32_t pc = 0, op = 0, arg = 0, insn = 0;
  uc_reg_read(uc, UC_ARM_REG_PC, &pc);
  uc_reg_read(uc, UC_ARM_REG_R0, &op);
  uc_reg_read(uc, UC_ARM_REG_R1, &arg);
  // The exception is reported with pc past the svc.
  if (uc_mem_read(uc, pc - 4, &insn, 4) != UC_ERR_OK || insn != SemihostingSvc) return false;
  switch (op) {
    case SysWriteC: {
      char c = 0;
      if (uc_mem_read(uc, arg, &c, 1) != UC_ERR_OK) return false;
      emit(w, std::string_view(&c, 1));
      return true;
    }
    case SysWrite0: {
      std::string text;
      for (char c = 0; uc_mem_read(uc, arg + text.size(), &c, 1) == UC_ERR_OK && c && text.size() < 65536;) text += c;
      emit(w, text);
      return true;
    }
    case SysExit:
      w.run.exited = true;
      w.run.status = arg == ApplicationExit ? 0 : 1;
      uc_emu_stop(uc);
      return true;
    case SysExitExtended: {
      std::uint32_t block[2] = {0, 0};
      if (uc_mem_read(uc, arg, block, sizeof block) != UC_ERR_OK) return false;
      w.run.exited = true;
      w.run.status = block[0] == ApplicationExit ? static_cast<int>(block[1]) : 1;
      uc_emu_stop(uc);
      return true;
    }
    default:
      return false;
  }
}

void onInterrupt(uc_engine* uc, std::uint32_t number, void* data) {
  auto* w = static_cast<Watch*>(data);
  constexpr std::uint32_t SoftwareInterrupt = 2;
  if (w->kernel && number == SoftwareInterrupt && semihosting(uc, *w)) return;
  std::uint32_t pc = 0;
  uc_reg_read(uc, UC_ARM_REG_PC, &pc);
  w->fault = line("processor exception %llu at pc 0x%08llx", number, pc);
  uc_emu_stop(uc);
}

// The console UART as the kernel sees it: always room for another byte, every byte written to
// the data register goes out.
constexpr std::uint32_t UartSa11x0 = 0x80050000, UartPxa2x0 = 0x40100000;

std::uint64_t onUartRead(uc_engine*, std::uint64_t offset, unsigned, void* data) {
  auto* w = static_cast<Watch*>(data);
  if (w->family == handheld::Family::PXA2x0) return offset == 0x14 ? 0x60 : 0;  // LSR: TDRQ, TEMT
  return offset == 0x20 ? 0x04 : 0;                                             // UTSR1: TNF
}

void onUartWrite(uc_engine*, std::uint64_t offset, unsigned, std::uint64_t value, void* data) {
  auto* w = static_cast<Watch*>(data);
  std::uint64_t dataRegister = w->family == handheld::Family::PXA2x0 ? 0x00 : 0x14;  // THR / UTDR
  if (offset != dataRegister) return;
  char c = static_cast<char>(value);
  emit(*w, std::string_view(&c, 1));
}

}  // namespace

const unsigned char* secondStage(handheld::Family family, std::size_t& size) {
  if (family == handheld::Family::PXA2x0) {
    size = arm::secondBootloaderPxa2x0Size;
    return arm::secondBootloaderPxa2x0;
  }
  size = arm::secondBootloaderSa11x0Size;
  return arm::secondBootloaderSa11x0;
}

bool loadSecondStage(HandoffImage& image, std::string& error) {
  std::size_t size = 0;
  const unsigned char* code = secondStage(image.family, size);
  std::uint32_t at = image.r[3];
  if ((at & 3) || (at & FrameMask) + size > FrameSize) {
    error = line("second stage at 0x%08llx does not fit its page", at);
    return false;
  }
  if (!image.memory.frame(at & ~FrameMask)) {
    image.memory.write(at, code, size);
    return true;
  }
  std::vector<std::uint8_t> held(size);
  image.memory.read(at, held.data(), size);
  for (std::size_t i = 0; i < size; ++i) {
    if (held[i] != code[i]) {
      error = line("the image's second stage at 0x%08llx differs from the built one at offset %llu", at, i);
      return false;
    }
  }
  return true;
}

bool runUnicorn(const HandoffImage& image, const PhysicalMemory& layout, UnicornResult& result, std::string& error,
                const UnicornOptions& options) {
  Model model = modelFor(image);
  Engine e;
  uc_err err = uc_open(UC_ARCH_ARM, UC_MODE_ARM, &e.uc);
  if (err == UC_ERR_OK) err = uc_ctl_set_cpu_model(e.uc, model.cpu);
  if (err != UC_ERR_OK) {
    error = std::string("unicorn: ") + uc_strerror(err);
    return false;
  }

  // Contiguous frames become one mapping.
  const auto& frames = layout.frames();
  for (auto it = frames.begin(); it != frames.end();) {
    std::uint64_t base = it->first, next = base;
    while (it != frames.end() && it->first == next) {
      ++it;
      next += FrameSize;
    }
    err = uc_mem_map(e.uc, base, static_cast<std::size_t>(next - base), UC_PROT_ALL);
    if (err != UC_ERR_OK) {
      error = line("unicorn: can't map 0x%08llx-0x%08llx: ", base, next - 1) + uc_strerror(err);
      return false;
    }
  }
  // What the machine holds at the start: the image's frames, and filled ones where only the
  // layout has a frame. Copies share the image's frames, so only changed ones cost memory.
  PhysicalMemory initial = image.memory;
  for (const auto& [base, frame] : frames)
    if (!initial.frame(base)) initial.frameAt(base);
  for (const auto& [base, frame] : frames) uc_mem_write(e.uc, base, initial.frame(base)->data(), FrameSize);

  Watch watch;
  watch.family = image.family;
  watch.output = options.output;
  watch.limit = options.instructionLimit;
  watch.kernelLimit = options.kernelInstructionLimit;
  watch.codeBegin[0] = watch.codeBegin[1] = image.r[3] & ~FrameMask;
  std::uint32_t start = image.r[3];
  std::uint32_t cpsr = 0xDF;  // System mode, IRQ and FIQ masked: as the jump routine leaves it
  if (options.viaJumpRoutine) {
    // The jump routine goes into the lowest frame that is not the machine's memory.
    std::uint64_t page = 0;
    while (page < 0x100000000ull && (layout.frame(static_cast<std::uint32_t>(page)) || page == (image.r[3] & ~FrameMask)))
      page += FrameSize;
    if (page >= 0x100000000ull) {
      error = "no free frame for the jump routine";
      return false;
    }
    std::size_t size = 0;
    const unsigned char* code = jumpRoutine(image.family, size);
    uc_mem_map(e.uc, page, FrameSize, UC_PROT_ALL);
    uc_mem_write(e.uc, page, code, size);
    watch.codeBegin[0] = static_cast<std::uint32_t>(page);
    start = static_cast<std::uint32_t>(page);
    cpsr = 0x1F;  // System mode with interrupts enabled: the program's kernel-mode thread
  }
  uc_reg_write(e.uc, UC_ARM_REG_CPSR, &cpsr);
  const int regs[4] = {UC_ARM_REG_R0, UC_ARM_REG_R1, UC_ARM_REG_R2, UC_ARM_REG_R3};
  for (int i = 0; i < 4; ++i) uc_reg_write(e.uc, regs[i], &image.r[i]);

  uc_hook block, invalid, interrupt;
  uc_hook_add(e.uc, &block, UC_HOOK_BLOCK, reinterpret_cast<void*>(onBlock), &watch, 1, 0);
  uc_hook_add(e.uc, &invalid, UC_HOOK_MEM_INVALID, reinterpret_cast<void*>(onInvalid), &watch, 1, 0);
  uc_hook_add(e.uc, &interrupt, UC_HOOK_INTR, reinterpret_cast<void*>(onInterrupt), &watch, 1, 0);

  // `until` is an odd address, never an ARM instruction's: only the hooks and the count stop it.
  // Unicorn counts its timeout in microseconds; a run stopped by it ends without an error.
  const std::uint64_t timeout =
      options.timeoutSeconds > 0 ? static_cast<std::uint64_t>(options.timeoutSeconds * 1e6) + 1 : 0;
  auto limitText = [&options] {
    char text[48];
    std::snprintf(text, sizeof text, "time limit (%g s)", options.timeoutSeconds);
    return std::string(text);
  };
  auto timedOut = [&e] {
    std::size_t stopped = 0;
    return uc_query(e.uc, UC_QUERY_TIMEOUT, &stopped) == UC_ERR_OK && stopped != 0;
  };
  err = uc_emu_start(e.uc, start, 0xFFFFFFFFu, timeout, 0);

  UnicornResult r;
  r.cpu = model.name;
  r.instructions = watch.instructions;
  std::uint32_t pc = 0;
  uc_reg_read(e.uc, UC_ARM_REG_PC, &pc);
  if (!watch.fault.empty()) {
    error = "unicorn (" + r.cpu + "): " + watch.fault;
    return false;
  }
  if (!watch.left) {
    if (timeout != 0 && timedOut()) {
      result.timedOut = true;
      error = limitText() + line(" reached at pc 0x%08llx before the kernel was entered", pc);
    } else if (watch.limitReached)
      error = line("instruction limit (%llu) reached at pc 0x%08llx before the kernel was entered",
                   options.instructionLimit, pc);
    else
      error = "unicorn (" + r.cpu + "): " + uc_strerror(err) + line(" at pc 0x%08llx", pc);
    return false;
  }
  r.pc = watch.leftAt;
  uc_reg_read(e.uc, UC_ARM_REG_R0, &r.r0);
  uc_reg_read(e.uc, UC_ARM_REG_R1, &r.r1);
  uc_reg_read(e.uc, UC_ARM_REG_R2, &r.r2);
  uc_reg_read(e.uc, UC_ARM_REG_SP, &r.sp);
  uc_reg_read(e.uc, UC_ARM_REG_CPSR, &r.cpsr);
  uc_arm_cp_reg control{};
  control.cp = 15;
  control.crn = 1;
  uc_reg_read(e.uc, UC_ARM_REG_CP_REG, &control);
  r.control = static_cast<std::uint32_t>(control.val);

  r.memory = initial;
  PhysicalMemory::Frame bytes;
  for (const auto& [base, frame] : frames) {
    uc_mem_read(e.uc, base, bytes.data(), FrameSize);
    if (bytes != *initial.frame(base)) r.memory.write(base, bytes.data(), FrameSize);
  }

  if (options.runKernel) {
    std::uint32_t uart = image.family == handheld::Family::PXA2x0 ? UartPxa2x0 : UartSa11x0;
    uc_mmio_map(e.uc, uart, FrameSize, onUartRead, &watch, onUartWrite, &watch);
    watch.kernel = true;
    err = uc_emu_start(e.uc, r.pc, 0xFFFFFFFFu, timeout, 0);
    uc_reg_read(e.uc, UC_ARM_REG_PC, &pc);
    r.kernel = watch.run;
    if (!r.kernel.exited) {
      if (timeout != 0 && timedOut()) {
        r.kernel.timedOut = true;
        r.kernel.error = limitText() + line(" reached at pc 0x%08llx", pc);
      } else if (!watch.fault.empty())
        r.kernel.error = watch.fault;
      else if (watch.limitReached)
        r.kernel.error = line("instruction limit (%llu) reached at pc 0x%08llx", options.kernelInstructionLimit, pc);
      else
        r.kernel.error = std::string(uc_strerror(err)) + line(" at pc 0x%08llx", pc);
    }
  }
  result = std::move(r);
  return true;
}

bool compareWithWalk(const UnicornResult& run, const WalkResult& walk, bool viaJumpRoutine, std::string& error) {
  if (run.pc != walk.entry) {
    error = line("the kernel was entered at 0x%08llx, the reference walk enters it at 0x%08llx", run.pc, walk.entry);
    return false;
  }
  const struct {
    const char* name;
    std::uint32_t got, want;
  } regs[] = {{"r0", run.r0, walk.r0}, {"r1", run.r1, walk.r1}, {"r2", run.r2, walk.r2}, {"sp", run.sp, walk.sp}};
  for (const auto& reg : regs) {
    if (reg.got != reg.want) {
      error = std::string(reg.name) + line(" at the entry is 0x%08llx, the reference walk has 0x%08llx", reg.got, reg.want);
      return false;
    }
  }
  if (auto at = PhysicalMemory::firstDifference(run.memory, walk.memory)) {
    std::uint32_t got = 0, want = 0;
    std::uint32_t word = *at & ~3u;
    run.memory.read32(word, got);
    walk.memory.read32(word, want);
    error = line("memory differs at 0x%08llx: the word there is 0x%08llx, the reference walk has 0x%08llx", *at, got,
                 want);
    return false;
  }
  if (viaJumpRoutine) {
    if ((run.cpsr & 0xC0) != 0xC0) {
      error = line("IRQ/FIQ not masked at the entry (cpsr 0x%08llx)", run.cpsr);
      return false;
    }
    // M (bit 0), C (bit 2) and I (bit 12) off, V (bit 13) on: what 0x2030 in c1 means.
    if ((run.control & 0x3005) != 0x2000) {
      error = line("control register 0x%08llx at the entry: MMU or caches still on", run.control);
      return false;
    }
  }
  return true;
}

bool checkInUnicorn(const HandoffImage& image, HandoffCheck& check, std::string& error, const UnicornOptions& options) {
  HandoffImage loaded = image;
  if (!loadSecondStage(loaded, error)) return false;
  if (!walkChain(loaded, check.walk, error)) {
    error = "reference walk: " + error;
    return false;
  }
  if (!runUnicorn(loaded, check.walk.memory, check.run, error, options)) return false;
  return compareWithWalk(check.run, check.walk, options.viaJumpRoutine, error);
}

}  // namespace kestrel::handoff
