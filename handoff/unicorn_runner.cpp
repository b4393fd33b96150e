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
  std::uint32_t codeBegin[2] = {0, 0};  // the pages execution may stay in: jump routine, second stage
  bool left = false;
  std::uint32_t leftAt = 0;
  std::string fault;
  std::uint64_t instructions = 0;

  bool inside(std::uint64_t address) const {
    for (std::uint32_t page : codeBegin)
      if (address >= page && address < std::uint64_t{page} + FrameSize) return true;
    return false;
  }
};

void onBlock(uc_engine* uc, std::uint64_t address, std::uint32_t size, void* data) {
  auto* w = static_cast<Watch*>(data);
  if (!w->inside(address)) {
    w->left = true;
    w->leftAt = static_cast<std::uint32_t>(address);
    uc_emu_stop(uc);
    return;
  }
  w->instructions += size / 4;
}

bool onInvalid(uc_engine* uc, uc_mem_type type, std::uint64_t address, int size, std::int64_t, void* data) {
  auto* w = static_cast<Watch*>(data);
  if (type == UC_MEM_FETCH_UNMAPPED && !w->inside(address)) {
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

void onInterrupt(uc_engine* uc, std::uint32_t number, void* data) {
  auto* w = static_cast<Watch*>(data);
  std::uint32_t pc = 0;
  uc_reg_read(uc, UC_ARM_REG_PC, &pc);
  w->fault = line("processor exception %llu at pc 0x%08llx", number, pc);
  uc_emu_stop(uc);
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
  std::vector<std::uint8_t> filled(FrameSize, layout.fill());
  for (const auto& [base, frame] : frames) {
    const PhysicalMemory::Frame* held = image.memory.frame(base);
    uc_mem_write(e.uc, base, held ? held->data() : filled.data(), FrameSize);
  }

  Watch watch;
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
  err = uc_emu_start(e.uc, start, 0xFFFFFFFFu, 0, options.instructionLimit);

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
    if (err != UC_ERR_OK)
      error = "unicorn (" + r.cpu + "): " + uc_strerror(err) + line(" at pc 0x%08llx", pc);
    else
      error = line("instruction limit (%llu) reached at pc 0x%08llx before the kernel was entered",
                   options.instructionLimit, pc);
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

  r.memory = PhysicalMemory(layout.fill());
  std::vector<std::uint8_t> bytes(FrameSize);
  for (const auto& [base, frame] : frames) {
    uc_mem_read(e.uc, base, bytes.data(), FrameSize);
    r.memory.write(base, bytes.data(), FrameSize);
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
