// The ELF loader on arbitrary files: setFile, memorySize, load and finishChain, as the boot
// runs them, over a simulated handheld with plenty of free pages. The input is the kernel file.
// The seeds in corpus/elf are tiny ARM executables linked with clang and ld.lld -n (text,
// rodata, data and bss; one stripped of its symbols; one for the PXA-2x0's addresses).
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "boot/settings.h"
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  setUp();
  kestrel::Console console;  // no sink: the text is formatted and dropped
  kestrel::Console* consolePointer = &console;
  kestrel::LockPagesMemoryManager memory(handheld::lockPages, handheld::unlockPages, &consolePointer, 4096, 0);
  kestrel::MemoryManager* memoryPointer = &memory;
  kestrel_testing::MemoryFile file(&consolePointer, data, size);
  kestrel::FileManager* filePointer = &file;

  kestrel::ElfLoader loader(&consolePointer, &memoryPointer);
  if (!loader.setFile(&filePointer)) return 0;
  const std::uint32_t need = loader.memorySize();
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
