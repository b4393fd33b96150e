// The boot sequence, from the boot object's set-up to the jump, and the program's order of
// start-up and tear-down.
#include "boot/boot_sequence.h"

#include <vector>

#include "arch/architecture.h"
#include "boot/boot.h"
#include "boot/boot_args.h"
#include "boot/platform_table.h"
#include "boot/settings.h"
#include "boot/version.h"
#include "console/console.h"
#include "console/serial_console.h"
#include "load/loader.h"
#include "memory/memory_manager.h"
#include "platform/bytes.h"
#include "platform/message_box.h"

namespace kestrel {

namespace {

const char16_t* lastFailure = nullptr;

// The kernel gets its stack at (end of the last region + 0x2000) rounded down to a page and
// uses it before it has read its arguments; that stretch counts as written too.
constexpr std::uint32_t KernelStackBytes = 0x2000;

// Every physical range the second stage and the kernel's first instructions will write: the
// loader's segments and symbol block, the file-system image behind them, and the kernel's
// first stack. No page of the chain may lie there, or the copy would overwrite what it has
// yet to read.
// Ranges are as the family's second stage writes them (rebased on PXA-2x0).
std::vector<AddressRange> kernelDestination(Loader& loader, std::uint32_t imageBytes, const Architecture& architecture) {
  std::vector<AddressRange> out;
  std::uint64_t end = 0;
  for (const AddressRange& range : loader.destinationRanges()) {
    architecture.addDestination(out, range.start, range.length);
    end = std::uint64_t{range.start} + range.length;
  }
  if (imageBytes > 0) {
    std::uint64_t imageStart = (end + 4095) & ~std::uint64_t{4095};
    architecture.addDestination(out, imageStart, imageBytes);
    end = imageStart + imageBytes;
  }
  architecture.addDestination(out, end, KernelStackBytes);
  return out;
}

// The file-system image goes behind the kernel's last region: it must land in the DRAM banks,
// and on nothing the kernel occupies.
bool imageFits(Loader& loader, std::uint32_t imageBytes, const Architecture& architecture, const MemoryManager& memory) {
  std::vector<AddressRange> kernel;
  std::uint64_t end = 0;
  for (const AddressRange& range : loader.destinationRanges()) {
    architecture.addDestination(kernel, range.start, range.length);
    end = std::uint64_t{range.start} + range.length;
  }
  const std::uint64_t start = (end + 4095) & ~std::uint64_t{4095};
  std::vector<AddressRange> image;
  architecture.addDestination(image, start, imageBytes);
  std::uint64_t written = 0;
  for (const AddressRange& r : image) {
    written += r.length;
    if (memory.bankCount() > 0 && !insideBanks(memory, r)) {
      currentConsole()->print(u"file system image: 0x%08x+0x%x is outside memory.\n", r.start, r.length);
      return false;
    }
    for (const AddressRange& k : kernel) {
      if (r.start < std::uint64_t{k.start} + k.length && k.start < std::uint64_t{r.start} + r.length) {
        currentConsole()->print(u"file system image: 0x%08x+0x%x overlaps the kernel at 0x%08x+0x%x.\n", r.start,
                                r.length, k.start, k.length);
        return false;
      }
    }
  }
  if (start + imageBytes > 0x100000000ull || written < imageBytes) {
    currentConsole()->print(u"file system image: 0x%08x+0x%x does not fit in memory.\n",
                            static_cast<std::uint32_t>(start), imageBytes);
    return false;
  }
  return true;
}

std::uint32_t roundUpToPages(std::uint32_t bytes, std::uint32_t pageSize) {
  std::uint64_t pages = (std::uint64_t{bytes} + pageSize - 1) / pageSize;
  std::uint64_t rounded = pages * pageSize;
  return rounded > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<std::uint32_t>(rounded);
}

// Which file the failing step leaves open and closes before its box.
enum class OpenFile { None, Kernel, Image };

}  // namespace

const char16_t* lastBootFailure() { return lastFailure; }

std::uint32_t bootMemoryRequest(std::uint32_t totalBytes, std::uint32_t pageSize) {
  // Each chain page holds a 16-byte link and pageSize - 16 bytes of image.
  std::uint64_t payload = pageSize - 16;
  std::uint64_t pages = (std::uint64_t{totalBytes} + payload - 1) / payload;
  std::uint64_t request = (pages + 4) * pageSize;
  request = (request + 0xFFFF) & ~std::uint64_t{0xFFFF};
  return request > 0xFFFFFFFFull ? 0 : static_cast<std::uint32_t>(request);
}

bool reserveBootMemory(MemoryManager& memory, std::uint32_t totalBytes) {
  return memory.reservePages(bootMemoryRequest(totalBytes, memory.pageSize()));
}

void bootSequence(std::uint32_t /*argument*/) {
  settings();
  if (ArmBoot* boot = bootObject()) runBootSequence(*boot);
}

void runBootSequence(Boot& object) {
  Settings& config = settings();
  Boot* const boot = &object;
  openComPort();

  OpenFile open = OpenFile::None;
  auto fail = [&](const char16_t* text) {
    if (open != OpenFile::None) boot->fileManager()->close();
    lastFailure = text;
    ce::MessageBoxW(config.ownerWindow(), text, u"BOOT FAILED", ce::MbOk | ce::MbIconStop);
    config.resetProgress();
  };

  config.stepProgress("0");
  if (!boot->setup()) return fail(u"Architecture not supported.\n");

  config.stepProgress("1");
  if (!boot->createComponents()) return fail(u"Architecture ops. not found.\n");
  // From here on the current console is the one the boot object chose.
  Console& console = *currentConsole();
  console.print(u"kestrel build number: %d\n", BuildNumber);
  console.print(u"%s (cpu=0x%08x machine=0x%08x)\n", platformName(platformIndex()), config.platform.cpu,
                config.platform.machine);

  Architecture& architecture = *boot->architecture();
  FileManager& files = *boot->fileManager();
  MemoryManager& memory = *boot->memoryManager();
  const std::uint32_t pageSize = memory.pageSize();

  config.stepProgress("2");
  if (!architecture.init()) return fail(u"Architecture initialize failed.\n");
  architecture.systemInfo();

  config.stepProgress("3");
  if (!files.setRoot(boot->kernelDirectory())) return fail(u"Can't set root directory.\n");
  std::uint32_t imageBytes = 0;
  if (boot->imageWanted()) {
    if (!files.open(boot->imageFile())) return fail(u"Can't open file system image.\n");
    // What counts is what reading delivers: a compressed image is sized inflated. All ones is
    // a file that cannot be read to its end, not a 4 GiB image.
    const std::uint32_t realSize = files.realSize();
    files.close();
    if (realSize == DamagedSize) {
      console.print(u"file system image is damaged: it can't be read to its end.\n");
      return fail(u"Can't open file system image.\n");
    }
    imageBytes = roundUpToPages(realSize, pageSize);
  }

  config.stepProgress("4");
  if (!files.open(boot->kernelFile())) return fail(u"Can't open kernel image.\n");
  open = OpenFile::Kernel;

  config.stepProgress("5");
  if (!boot->attachLoader()) return fail(u"Can't attach loader.\n");
  Loader& loader = *boot->loader();
  if (!loader.setFile(boot->fileManagerSlot())) return fail(u"Can't initialize loader.\n");

  config.stepProgress("6");
  const std::uint32_t need = loader.memorySize();
  // All ones: the symbol block would land outside memory or on the kernel; the loader said where.
  if (need == 0xFFFFFFFFu) return fail(u"Can't allocate memory.\n");
  std::uint32_t kernelBytes = roundUpToPages(need, pageSize);
  if (imageBytes > 0 && !imageFits(loader, imageBytes, architecture, memory)) return fail(u"Can't allocate memory.\n");
  if (boot->setAsideEnabled()) memory.setAside(kernelDestination(loader, imageBytes, architecture));
  std::uint32_t total = 0;
  if (!ce::addNoWrap(kernelBytes, imageBytes, total) || !reserveBootMemory(memory, total)) {
    return fail(u"Can't allocate memory.\n");
  }

  config.stepProgress("7");
  if (!architecture.setupLoader()) return fail(u"Can't set up loader.\n");

  config.stepProgress("8");
  if (!loader.load()) return fail(u"Can't load kernel image to memory.\n");

  config.stepProgress("9");
  files.close();
  open = OpenFile::None;
  if (boot->imageWanted()) {
    if (!files.open(boot->imageFile())) return fail(u"Can't open file system image.\n");
    open = OpenFile::Image;
    if (!loader.loadImage()) return fail(u"Can't load file system image to memory.\n");
    files.close();
    open = OpenFile::None;
  }

  loader.finishChain();
  std::uint32_t bootArgs = buildBootArgs(architecture, loader);
  // The memory request leaves room for this page; without it there is nothing to jump with.
  if (bootArgs == 0xFFFFFFFFu) return fail(u"Can't allocate memory.\n");

  config.stepProgress("10");
  if (config.pauseBeforeBoot) {
    int answer = ce::MessageBoxW(config.ownerWindow(), u"Push YES to boot.", u"Last chance...",
                                 ce::MbYesNo | ce::MbIconExclamation);
    if (answer != ce::IdYes) return fail(u"Canceled by user.\n");
    ce::UpdateWindow(config.ownerWindow());
  }

  architecture.jump(bootArgs, loader.firstLinkAddress());
  fail(u"Can't jump to the kernel.\n");
}

void startBoot() {
  Settings& config = settings();
  config.resetProgress();
  // The Console tab itself, not the current console: with "save to file" it starts the log.
  config.printToConsoleTab(u"BOOT START\n");
  config.collectFromTabs();
  config.saveFile();
  config.runBoot();
}

void pressBoot() {
  Settings& config = settings();
  config.collectFromTabs();
  if (config.safetyMessage) {
    ce::UINT icon = config.pauseBeforeBoot ? ce::MbIconQuestion : ce::MbIconExclamation;
    int answer = ce::MessageBoxW(config.ownerWindow(), u"Data in memory will be lost.\nAre you sure?", u"WARNING",
                                 ce::MbYesNo | icon);
    if (answer != ce::IdYes) return;
    ce::UpdateWindow(config.ownerWindow());
  }
  startBoot();
}

int runProgram(ProgramShell& shell) {
  settings();
  shell.initCommonControls();
  int status = 0;
  if (shell.createApplication()) {
    currentConsole();
    if (shell.createMainWindowObject() && shell.registerWindowClass() && shell.createWindow()) {
      bootObject();
      status = shell.messageLoop();
    }
  }
  releaseBootObject();
  shell.destroyMainWindowObject();
  shell.destroyApplication();
  releaseConsole();
  releaseSettings();
  return status;
}

}  // namespace kestrel
