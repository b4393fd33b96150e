// The platform heap. Allocations whose failure the system reports go through here, so the
// simulated handheld can make the n-th allocation fail and the failure paths are tested.
#pragma once
#include <cstddef>
#include <memory>
#include <new>
#include <utility>

#include "platform/types.h"

namespace ce {

constexpr UINT LmemFixed = 0x0000;
constexpr UINT LmemZeroInit = 0x0040;
constexpr UINT Lptr = LmemFixed | LmemZeroInit;

// Null on failure (never throws).
void* LocalAlloc(UINT flags, std::size_t bytes);
void* LocalFree(void* memory);

// Objects on the platform heap: null when the allocation fails.
template <class T, class... Args>
T* heapNew(Args&&... args) {
  void* p = LocalAlloc(LmemFixed, sizeof(T));
  if (!p) return nullptr;
  return new (p) T(std::forward<Args>(args)...);
}

template <class T>
void heapDelete(T* object) {
  if (!object) return;
  object->~T();
  LocalFree(const_cast<void*>(static_cast<const void*>(object)));
}

// Arrays of trivially constructible elements, zeroed; null when the allocation fails.
template <class T>
T* heapNewArray(std::size_t count) {
  static_assert(std::is_trivially_default_constructible_v<T> && std::is_trivially_destructible_v<T>);
  if (count > static_cast<std::size_t>(-1) / sizeof(T)) return nullptr;
  return static_cast<T*>(LocalAlloc(Lptr, count * sizeof(T) != 0 ? count * sizeof(T) : 1));
}

struct HeapDeleter {
  template <class T>
  void operator()(T* object) const {
    if constexpr (std::is_trivially_destructible_v<T>) {
      LocalFree(const_cast<void*>(static_cast<const void*>(object)));
    } else {
      heapDelete(object);
    }
  }
};

template <class T>
using HeapPtr = std::unique_ptr<T, HeapDeleter>;

}  // namespace ce
