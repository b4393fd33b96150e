// The boot object: the factory and owner of the components of one boot attempt (the
// architecture of the processor family, the memory manager, the file manager and the
// loader), made from the user's settings. One per process, an ArmBoot, reached through
// bootObject(); it survives failed attempts and is released at exit.
//
// Components never hold the boot object's console, memory manager or file manager
// themselves: they hold the location of its pointer (consoleSlot() and friends) and read it
// at each use, so a console or manager stored later is the one they all use.
#pragma once
#include <cstdint>
#include <optional>

#include "common/processor_family.h"
#include "console/console.h"
#include "file/file_manager.h"
#include "file/sources.h"
#include "platform/heap.h"

namespace kestrel {

class Architecture;
class Loader;
class MemoryManager;

// An owned component in a slot whose location others keep. Replacing it stores the new one
// before the old one goes, so the slot never names a destroyed object.
template <class T>
class ComponentSlot {
 public:
  ComponentSlot() = default;
  ComponentSlot(const ComponentSlot&) = delete;
  ComponentSlot& operator=(const ComponentSlot&) = delete;
  ~ComponentSlot() { reset(); }

  T* get() const { return object_; }
  T* operator->() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }
  T* const* location() const { return &object_; }
  void reset(T* replacement = nullptr) {
    T* old = object_;
    object_ = replacement;
    ce::heapDelete(old);
  }

 private:
  T* object_ = nullptr;
};

class Boot {
 public:
  static constexpr std::size_t PathUnits = 260;

  Boot();
  virtual ~Boot();
  Boot(const Boot&) = delete;
  Boot& operator=(const Boot&) = delete;

  // Makes the file manager (and, in ArmBoot, everything before it).
  virtual bool createComponents();
  // Copies what the attempt needs from the settings (and, in ArmBoot, picks the family).
  virtual bool setup();

  // With the kernel file open: an ELF loader when the file is ELF; false otherwise.
  bool attachLoader();
  // The base parts of setup and createComponents; both always succeed.
  bool readSettings();
  bool createFileManager();

  ConsoleSlot consoleSlot() const { return &console_; }
  MemoryManager* const* memoryManagerSlot() const { return memoryManager_.location(); }
  FileManager* const* fileManagerSlot() const { return fileManager_.location(); }

  Console* console() const { return console_; }
  Architecture* architecture() const { return architecture_.get(); }
  MemoryManager* memoryManager() const { return memoryManager_.get(); }
  FileManager* fileManager() const { return fileManager_.get(); }
  Loader* loader() const { return loader_.get(); }

  // The processor family the platform names; none before the first setup, and after a setup
  // that found no family.
  std::optional<ProcessorFamily> family() const { return family_; }
  bool serialConsoleWanted() const { return serialConsoleWanted_; }
  SourceType sourceType() const { return sourceType_; }
  const char16_t* kernelDirectory() const { return kernelDirectory_; }
  const char16_t* kernelFile() const { return kernelFile_; }
  bool imageWanted() const { return imageWanted_; }
  const char16_t* imageFile() const { return imageFile_; }

  // Whether the boot keeps the chain's pages out of the kernel's destination (the default).
  // Switched off only to show what goes wrong without it (`kestrel boot --no-set-aside`).
  bool setAsideEnabled() const { return setAsideEnabled_; }
  void setSetAsideEnabled(bool enabled) { setAsideEnabled_ = enabled; }

 protected:
  std::optional<ProcessorFamily> family_;
  bool serialConsoleWanted_ = false;
  bool setAsideEnabled_ = true;
  SourceType sourceType_ = SourceType::Fat;
  char16_t kernelDirectory_[PathUnits] = {};
  char16_t kernelFile_[PathUnits] = {};
  bool imageWanted_ = false;
  char16_t imageFile_[PathUnits] = {};
  Console* console_;
  ComponentSlot<Architecture> architecture_;
  ComponentSlot<MemoryManager> memoryManager_;
  ComponentSlot<FileManager> fileManager_;
  ComponentSlot<Loader> loader_;
};

class ArmBoot final : public Boot {
 public:
  ArmBoot() = default;
  // Releases the serial console first (it unmaps its registers through the memory manager),
  // then the memory manager, the architecture, the file manager and the loader.
  ~ArmBoot() override;

  bool createComponents() override;
  bool setup() override;
};

// The process's boot object, made on the first call, which also installs the boot sequence
// as the settings' boot callback. Null only when the object cannot be allocated.
ArmBoot* bootObject();
// Destroys the boot object, if it exists (at exit).
void releaseBootObject();

}  // namespace kestrel
