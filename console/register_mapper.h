// What the serial consoles need of the memory manager: a window onto a device's registers.
// The console declares it and the memory manager implements it, so this folder never
// includes memory/ (which prints through the console).
#pragma once
#include <cstdint>

namespace kestrel {

class RegisterMapper {
 public:
  // The all-ones pointer mapPhysical answers when it fails.
  static void* mapFailed() { return reinterpret_cast<void*>(~std::uintptr_t{0}); }

  // Maps [address, address + size) of physical memory; the pointer to the byte at `address`,
  // or mapFailed(). `protection` is 2 (read-only) or 4 (read-write).
  virtual void* mapPhysical(std::uint32_t address, std::uint32_t size, std::uint32_t protection) = 0;
  // Undoes mapPhysical; `pointer` may lie anywhere in the mapping's first page.
  virtual void unmapPhysical(void* pointer) = 0;

 protected:
  ~RegisterMapper() = default;
};

// The location of the boot object's pointer to a RegisterMapper (its memory-manager slot),
// read at each use: the manager stored there later is the one that maps.
class RegisterMapperSlot {
 public:
  RegisterMapperSlot() = default;
  // `location` points to a pointer of any class that derives from RegisterMapper.
  template <class T>
  RegisterMapperSlot(T* const* location)  // NOLINT: converts like the pointer it stands for
      : location_(location), read_([](const void* at) -> RegisterMapper* { return *static_cast<T* const*>(at); }) {}

  RegisterMapper* get() const { return location_ ? read_(location_) : nullptr; }

 private:
  const void* location_ = nullptr;
  RegisterMapper* (*read_)(const void*) = nullptr;
};

}  // namespace kestrel
