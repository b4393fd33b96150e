// The ELF loader on arbitrary files: setFile, memorySize, load and finishChain, as the boot
// runs them, over a simulated handheld with plenty of free pages and the SA-11x0's DRAM banks
// registered. The input is the kernel file. A kernel that setFile accepts must have every
// loadable segment inside the banks, no two on the same bytes, and its entry inside one of them
// (read from the input here, not from the loader); one that memorySize accepts must have its
// symbol block inside the banks and on no segment too.
// The seeds in corpus/elf are tiny ARM executables linked with clang and ld.lld -n (text,
// rodata, data and bss; one stripped of its symbols; one for the PXA-2x0's addresses).
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "boot/settings.h"
#include "arch/sa11x0_architecture.h"
#include "load/elf_loader.h"
#include "tests/support/memory_file.h"
#include "memory/lock_pages_memory_manager.h"
#include "platform/handheld/machine.h"
#include "platform/handheld/physical_memory.h"
#include "platform/bytes.h"
#include "platform/message_box.h"

namespace {

// Pages for the largest kernel an input of a fuzzer's size can describe; bigger requests are
// cut to this and run out of pages, which is a path worth taking too.
constexpr std::uint32_t MaxReservation = 4u << 20;

void setUp() {
  static bool done = false;
  if (done) return;
  done = true;
  // A handheld with an empty device folder: no kestrel.cnf, so the settings take their
  // defaults ("Safety Message" on), and a box is answered without asking anyone.
  const std::filesystem::path root = std::filesystem::temp_directory_path() / "kestrel-fuzz-elf";
  std::filesystem::create_directories(root);
  handheld::Config config;
  config.profile = *handheld::findProfile("Compaq iPAQ H3600");
  config.pageOrder = handheld::PageOrder::Shuffle;
  handheld::install(std::make_unique<handheld::Machine>(root, config));
  ce::setMessageBoxHook([](ce::HWND, const ce::WCHAR*, const ce::WCHAR*, ce::UINT) { return ce::IdOk; });
  kestrel::settings();
}

bool inBanks(std::uint64_t start, std::uint64_t length) {
  for (std::uint32_t base : kestrel::SA11x0Architecture::Banks) {
    if (start >= base && start + length <= std::uint64_t{base} + kestrel::SA11x0Architecture::BankSize) return true;
  }
  return false;
}

struct Range {
  std::uint64_t start, length;
};

// What must hold of an accepted kernel, from the input's own program headers.
void checkAccepted(const std::uint8_t* data, std::size_t size) {
  // A file shorter than its header reads as if zeros followed.
  std::uint8_t header[52] = {};
  std::memcpy(header, data, std::min<std::size_t>(size, sizeof header));
  const std::uint32_t entry = ce::getLe32(header + 24), phoff = ce::getLe32(header + 28);
  const std::uint32_t phnum = ce::getLe16(header + 44);
  std::vector<Range> segments;
  bool entryInside = false;
  for (std::uint32_t i = 0; i < phnum; ++i) {
    const std::uint64_t at = std::uint64_t{phoff} + 32 * i;
    if (at + 32 > size) __builtin_trap();  // accepted with its table outside the file
    const std::uint8_t* p = data + at;
    if (ce::getLe32(p) != 1) continue;
    const std::uint32_t vaddr = ce::getLe32(p + 8), paddr = ce::getLe32(p + 12), memsz = ce::getLe32(p + 20);
    if (memsz == 0) continue;
    const std::uint64_t words = (std::uint64_t{memsz} + 3) & ~std::uint64_t{3};
    if (!inBanks(paddr, words)) __builtin_trap();
    for (const Range& r : segments) {
      if (paddr < r.start + r.length && r.start < paddr + words) __builtin_trap();
    }
    segments.push_back({paddr, words});
    if ((entry >= paddr && entry - paddr < memsz) || (entry >= vaddr && entry - vaddr < memsz)) entryInside = true;
  }
  if (!entryInside) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  setUp();
  kestrel::Console console;  // no sink: the text is formatted and dropped
  kestrel::Console* consolePointer = &console;
  kestrel::LockPagesMemoryManager memory(handheld::lockPages, handheld::unlockPages, &consolePointer, 4096, 0);
  kestrel::MemoryManager* memoryPointer = &memory;
  kestrel_testing::MemoryFile file(&consolePointer, data, size);
  kestrel::FileManager* filePointer = &file;

  for (std::uint32_t base : kestrel::SA11x0Architecture::Banks) memory.addBank(base, kestrel::SA11x0Architecture::BankSize);

  kestrel::ElfLoader loader(&consolePointer, &memoryPointer);
  if (!loader.setFile(&filePointer)) return 0;
  checkAccepted(data, size);
  const std::uint32_t need = loader.memorySize();
  if (need == 0xFFFFFFFFu) return 0;
  // The symbol block, when there is one, is the last range: in the banks and on no segment.
  const std::vector<kestrel::AddressRange> ranges = loader.destinationRanges();
  if (loader.symbolsPresent()) {
    const kestrel::AddressRange block = ranges.back();
    const std::uint64_t words = (std::uint64_t{block.length} + 3) & ~std::uint64_t{3};
    if (!inBanks(block.start, words)) __builtin_trap();
    for (std::size_t k = 0; k + 1 < ranges.size(); ++k) {
      const kestrel::AddressRange& r = ranges[k];
      if (r.length > 0 && block.start < std::uint64_t{r.start} + r.length && r.start < block.start + words) {
        __builtin_trap();
      }
    }
  }
  memory.reservePages(std::min(need, MaxReservation));
  const bool loaded = loader.load();
  loader.finishChain();
  loader.entryAddress();

  // A chain that loaded must end after exactly the links it counted, every one of them a
  // link in DRAM.
  if (loaded) {
    handheld::PhysicalMemory& physical = handheld::physicalMemory();
    const int links = loader.loadLinkCount() + loader.zeroLinkCount();
    std::uint32_t at = loader.firstLinkAddress();
    for (int k = 0; k < std::max(links, 1); ++k) {
      std::uint8_t link[16];
      if (at % 16 != 0 || !physical.read(at, link, sizeof link)) __builtin_trap();
      at = ce::getLe32(link);
      if (at == 0xFFFFFFFFu) {
        if (k + 1 != std::max(links, 1)) __builtin_trap();
        break;
      }
      if (k + 1 == std::max(links, 1)) __builtin_trap();
    }
  }
  return 0;
}
