// The one place that turns a processor family into its architecture.
#include "arch/architecture.h"
#include "arch/pxa2x0_architecture.h"
#include "arch/sa11x0_architecture.h"
#include "platform/heap.h"

namespace kestrel {

Architecture* makeArchitecture(ProcessorFamily family, ConsoleSlot console, MemoryManagerSlot memoryManager) {
  switch (family) {
    case ProcessorFamily::SA11x0:
      return ce::heapNew<SA11x0Architecture>(console, memoryManager);
    case ProcessorFamily::PXA2x0:
      return ce::heapNew<PXA2x0Architecture>(console, memoryManager);
  }
  return nullptr;
}

}  // namespace kestrel
