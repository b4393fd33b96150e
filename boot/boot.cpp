// The boot object and its component factory.
#include "boot/boot.h"

#include "arch/architecture.h"
#include "boot/boot_sequence.h"
#include "boot/platform_table.h"
#include "boot/settings.h"
#include "console/serial_console.h"
#include "file/gzip_file_manager.h"
#include "file/sources.h"
#include "load/elf_loader.h"
#include "load/loader.h"
#include "memory/lock_pages_memory_manager.h"

namespace kestrel {

namespace {

ArmBoot* theBoot = nullptr;

template <std::size_t N>
void copyText(char16_t (&to)[N], std::u16string_view from) {
  setText(to, from);
}

}  // namespace

Boot::Boot() : console_(currentConsole()) {}

Boot::~Boot() {
  // The memory manager gives its region back to the platform; the architecture releases
  // coredll.dll. Both go before the file manager and the loader.
  memoryManager_.reset();
  architecture_.reset();
  fileManager_.reset();
  loader_.reset();
}

bool Boot::readSettings() {
  const Settings& config = settings();
  serialConsoleWanted_ = config.serialConsole != 0;
  copyText(kernelDirectory_, textOf(config.kernelDirectory));
  sourceType_ = sourceTypeFor(kernelDirectory_);
  copyText(kernelFile_, textOf(config.kernelFile));
  imageWanted_ = config.rootDevice == static_cast<std::int32_t>(RootDevice::Md);
  if (imageWanted_) copyText(imageFile_, textOf(config.fsImagePath));
  return true;
}

bool Boot::setup() { return readSettings(); }

bool Boot::createFileManager() {
  // From here on every print of the process goes to the console this attempt chose.
  setCurrentConsole(console_);
  GzipFileManager* files = ce::heapNew<GzipFileManager>(consoleSlot(), makeSource(consoleSlot(), sourceType_));
  if (!files) return false;
  fileManager_.reset(files);
  return true;
}

bool Boot::createComponents() { return createFileManager(); }

bool Boot::attachLoader() {
  FileManager& file = *fileManager_.get();
  if (!Loader::isElfFile(file)) {
    // A compressed file damaged in its first bytes has no format to tell: say what it is.
    if (file.realSize() == DamagedSize) {
      console_->print(u"kernel file is damaged: it can't be read to its end.\n");
    } else {
      console_->print(u"unknown file format.\n");
    }
    return false;
  }
  ElfLoader* elf = ce::heapNew<ElfLoader>(consoleSlot(), memoryManagerSlot());
  if (!elf) return false;
  // The loader checks each destination where the family's second stage really writes it.
  elf->setDestinationMap(architecture_.get());
  loader_.reset(elf);
  return true;
}

ArmBoot::~ArmBoot() {
  // The serial console unmaps its UART window through the memory manager, so it goes while
  // the manager still exists; the base destructor then releases the rest in order.
  releaseSerialConsole();
}

bool ArmBoot::setup() {
  family_ = architectureFor(settings().platform);
  return family_ && readSettings();
}

bool ArmBoot::createComponents() {
  if (!family_) return false;
  Architecture* architecture = makeArchitecture(*family_, consoleSlot(), memoryManagerSlot());
  if (!architecture) return false;
  architecture_.reset(architecture);

  auto lock = reinterpret_cast<ce::LockPagesFn>(architecture_->coreFunction(u"LockPages"));
  auto unlock = reinterpret_cast<ce::UnlockPagesFn>(architecture_->coreFunction(u"UnlockPages"));
  if (!lock || !unlock) {
    console_->print(u"couldn't find LockPages/UnlockPages.\n");
    return false;
  }

  MemoryManager* memory = ce::heapNew<LockPagesMemoryManager>(lock, unlock, consoleSlot(), 4096u, 0u);
  if (!memory) return false;
  memoryManager_.reset(memory);

  if (serialConsoleWanted_) {
    Console* serial = serialConsoleFor(memoryManagerSlot(), architecture_->serialConsoleMaker());
    if (serial && serial->init()) {
      console_ = serial;
    } else {
      console_ = currentConsole();
      console_->print(u"use LCD console instead.\n");
    }
  } else {
    console_ = currentConsole();
  }
  return Boot::createComponents();
}

ArmBoot* bootObject() {
  if (!theBoot) {
    Settings& config = settings();
    config.bootCallback = bootSequence;
    config.bootCallbackArg = 0;
    theBoot = ce::heapNew<ArmBoot>();
  }
  return theBoot;
}

void releaseBootObject() {
  ArmBoot* boot = theBoot;
  theBoot = nullptr;
  ce::heapDelete(boot);
}

}  // namespace kestrel
