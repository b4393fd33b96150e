#include "arch/architecture.h"

#include "arch/framebuffer.h"
#include "common/message_box.h"
#include "platform/message_box.h"

namespace kestrel {

Architecture::Architecture(ConsoleSlot console, MemoryManagerSlot memoryManager)
    : console_(console), memoryManager_(memoryManager) {}

Architecture::~Architecture() {
  if (coredll_) ce::FreeLibrary(coredll_);
}

ce::FARPROC Architecture::coreFunction(const char16_t* name) {
  if (!coredll_) coredll_ = ce::LoadLibraryW(u"coredll.dll");
  if (!coredll_) {
    ownedMessageBox(u"Can't load coredll.dll.", u"WARNING", ce::MbOk | ce::MbIconExclamation);
    return nullptr;
  }
  return ce::GetProcAddressW(coredll_, name);
}


void Architecture::systemInfo() {
  Console& out = console();
  out.print(u"_WIN32_WCE = %d\n", BuiltForWindowsCe);

  osVersion = ce::OSVERSIONINFOW{};
  osVersion.dwOSVersionInfoSize = sizeof osVersion;
  if (auto getVersionEx = reinterpret_cast<ce::GetVersionExFn>(coreFunction(u"GetVersionEx"))) {
    getVersionEx(&osVersion);
    out.print(u"GetVersionEx\n");
  } else {
    ce::GetVersionExW(&osVersion);
    out.print(u"GetVersionExW\n");
  }
  out.print(u"Windows CE %d.%d\n", osVersion.dwMajorVersion, osVersion.dwMinorVersion);

  ce::SYSTEM_INFO info;
  ce::GetSystemInfo(&info);
  out.print(u"GetSystemInfo:\n");
  out.print(u"wProcessorArchitecture      0x%x\n", info.wProcessorArchitecture);
  out.print(u"wProcessorLevel             0x%x\n", info.wProcessorLevel);
  out.print(u"wProcessorRevision          0x%x\n", info.wProcessorRevision);
  out.print(u"dwPageSize                  0x%x\n", info.dwPageSize);
  out.print(u"dwAllocationGranularity     0x%08x\n", info.dwAllocationGranularity);
  out.print(u"dwProcessorType             0x%x\n", info.dwProcessorType);

  // (0, 0) fits no table entry, so this is the screen itself.
  FrameBufferInfo screen(PlatformId{0, 0});
  out.print(u"Display: %dx%d %dbpp\n", screen.width(), screen.height(), screen.depth());
}

}  // namespace kestrel
