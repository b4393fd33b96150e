// What the hand-off tests that boot the probe kernel for real share: the parts of a boot up to
// the jump on the current handheld (console, LockPages memory manager, the family's
// architecture), wired through their slots as the boot object wires them; the BootArgs page as
// buildBootArgs lays it out; and the jump, whose machine comes back as a hand-off image.
#pragma once
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "arch/pxa2x0_architecture.h"
#include "arch/sa11x0_architecture.h"
#include "console/console.h"
#include "handoff/image.h"
#include "memory/lock_pages_memory_manager.h"
#include "platform/bytes.h"
#include "platform/handheld/machine.h"
#include "platform/handheld/physical_memory.h"
#include "platform/handheld/processor.h"
#include "tests/kernel/probe_paths.h"
#include "tests/support/capture_console.h"
#include "tests/support/host_files.h"

namespace kestrel::handoff::testing {

// The probe kernel the build made for `family`.
inline kestrel_testing::Bytes probeKernel(handheld::Family family) {
  return kestrel_testing::readBytes(family == handheld::Family::PXA2x0 ? kestrel::testing::probeKernelPxa2x0
                                                                       : kestrel::testing::probeKernelSa11x0);
}

// The page the kernel's arguments come in, as the probe expects it: entry, argc, argv and
// BootInfo addresses, BootInfo at 16 (console kind, the profile's cpu and machine words), the
// vector at 52, the strings from 116. The page's physical address; 0 without a page.
inline std::uint32_t fillBootArgs(MemoryManager& mm, std::uint32_t entry, const handheld::Profile& profile,
                                  std::int16_t consoleKind, const std::vector<std::string>& argv) {
  std::uintptr_t v = 0;
  std::uint32_t p = 0;
  if (!mm.getTopPage(v, p)) return 0;
  auto* page = reinterpret_cast<std::uint8_t*>(v);
  ce::putLe32(page + 0, entry);
  ce::putLe32(page + 4, static_cast<std::uint32_t>(argv.size()));
  ce::putLe32(page + 8, p + 52);
  ce::putLe32(page + 12, p + 16);
  std::memset(page + 16, 0, 36);
  ce::putLe16(page + 16, 36);
  ce::putLe32(page + 20, 0x13536135);
  ce::putLe16(page + 36, static_cast<std::uint16_t>(consoleKind));
  ce::putLe32(page + 40, profile.cpu);
  ce::putLe32(page + 44, profile.machine);
  std::uint32_t at = 116;
  for (std::size_t i = 0; i < argv.size(); ++i) {
    ce::putLe32(page + 52 + 4 * i, p + at);
    std::memcpy(page + at, argv[i].c_str(), argv[i].size() + 1);
    at += static_cast<std::uint32_t>(argv[i].size() + 1);
  }
  return p;
}

// The console, memory manager and architecture of a boot on the current handheld with
// `profile`, each reaching the others through its slot.
class ProbeBoot {
 public:
  explicit ProbeBoot(const handheld::Profile& profile)
      : pxa(profile.family == handheld::Family::PXA2x0),
        mm(std::make_unique<LockPagesMemoryManager>(handheld::lockPages, handheld::unlockPages, &consolePtr, 4096, 0)) {
    if (pxa)
      arch = std::make_unique<PXA2x0Architecture>(&consolePtr, &mmPtr);
    else
      arch = std::make_unique<SA11x0Architecture>(&consolePtr, &mmPtr);
  }

  // Keeps the memory manager's pages out of `ranges`, the loader's destinations, at the
  // physical addresses the family's 2nd bootloader writes them to: the PXA-2x0 one moves each
  // into the 16 MiB at 0xA0000000.
  void setAside(std::vector<AddressRange> ranges) {
    for (AddressRange& r : ranges)
      if (pxa) r.start = 0xA0000000u | (r.start & 0x00FFFFFFu);
    mm->setAside(ranges);
  }

  // The jump, its machine saved in `file` and read back into `image`. False, and why in
  // `error`, when the jump wrote no image or the image does not read.
  bool jump(std::uint32_t args, std::uint32_t firstLink, const std::filesystem::path& file, HandoffImage& image,
            std::string& error) {
    handheld::processor().jump.saveTo = file;
    arch->jump(args, firstLink);
    const auto& last = handheld::processor().lastJump;
    if (!last || !last->written) {
      error = last ? last->error : "no jump";
      return false;
    }
    return readImage(file, image, error);
  }

  kestrel_testing::CaptureConsole console;
  Console* consolePtr = &console;
  const bool pxa;
  std::unique_ptr<LockPagesMemoryManager> mm;
  MemoryManager* mmPtr = mm.get();
  std::unique_ptr<Architecture> arch;
};

}  // namespace kestrel::handoff::testing
