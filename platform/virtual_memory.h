// Virtual memory, page locking, kernel mode and mapped device registers.
#pragma once
#include "platform/types.h"

namespace ce {

// Allocation types.
constexpr DWORD MemCommit = 0x1000;
constexpr DWORD MemReserve = 0x2000;
constexpr DWORD MemDecommit = 0x4000;
constexpr DWORD MemRelease = 0x8000;
// Protections.
constexpr DWORD PageNoAccess = 0x01;
constexpr DWORD PageReadOnly = 0x02;
constexpr DWORD PageReadWrite = 0x04;
constexpr DWORD PageNoCache = 0x200;
constexpr DWORD PagePhysical = 0x400;

void* VirtualAlloc(void* address, DWORD size, DWORD allocationType, DWORD protect);
BOOL VirtualFree(void* address, DWORD size, DWORD freeType);
// Maps `size` bytes at `source` into the reservation at `destination`. With PagePhysical in
// `protect`, `source` is a physical address shifted right by 8.
BOOL VirtualCopy(void* destination, void* source, DWORD size, DWORD protect);

// LockPages and UnlockPages are exported by coredll.dll and reached by name.
using LockPagesFn = BOOL (*)(void* address, DWORD size, DWORD* frames, int flags);
using UnlockPagesFn = BOOL (*)(void* address, DWORD size);

// Switches the thread's kernel mode; returns the previous state.
BOOL SetKMode(BOOL on);

// Device registers in a mapping made by VirtualCopy.
BYTE mmioRead8(volatile void* address);
void mmioWrite8(volatile void* address, BYTE value);
DWORD mmioRead32(volatile void* address);
void mmioWrite32(volatile void* address, DWORD value);

}  // namespace ce
