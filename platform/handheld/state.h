// The machine's service state: one member per service area, each defined by the files of
// platform/handheld that provide the area. A plain aggregate: an area adds its member here and
// its header above. Members are default-constructed with the machine; an area that needs the
// machine's profile sets itself up on first use.
#pragma once
#include "platform/handheld/disk.h"
#include "platform/handheld/handles.h"
#include "platform/handheld/machine.h"
#include "platform/handheld/physical_memory.h"
#include "platform/handheld/processor.h"
#include "platform/handheld/serial.h"
#include "platform/handheld/sockets_state.h"

namespace handheld {

// The heap's failure injection: counts allocations since Faults::heapFailAt was last changed.
struct HeapState {
  long armed = 0;     // the value of heapFailAt the count belongs to
  long counted = 0;   // allocations since it was set
};

// The file-write failure injection: bytes written since Faults::writeFailAfter was last changed.
struct FileState {
  long armed = 0;
  std::uint64_t written = 0;
};

// coredll.dll: how many LoadLibraryW calls are not yet matched by FreeLibrary.
struct SystemState {
  int coredllReferences = 0;
};

}  // namespace handheld

struct handheld::Machine::State {
  HandleTable handles;  // open files, devices and directory listings
  FileState files;
  HeapState heap;
  SystemState system;
  ProcessorState processor;  // kernel mode, CPSR, CP15, the jump
  std::unique_ptr<PhysicalMemory> physicalMemory;  // DRAM frames and regions; made at first use
  SerialState serial;        // COM1: driver, UART and the line they share
  SocketState sockets;       // WinSock: open sockets, start-ups, the resolver's last answer
  DiskState disks;           // DSK1: ... DSK9:
};
