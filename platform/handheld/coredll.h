// coredll.dll of the handheld: the exports GetProcAddressW finds by name. The services that
// provide an export register it (this file registers GetVersionEx; the memory services
// register LockPages and UnlockPages). handheld.ini can remove coredll.dll altogether
// (`coredll = 0`: LoadLibraryW fails) or single exports (`lock_pages = 0`,
// `unlock_pages = 0`, `get_version_ex = 0`: GetProcAddressW finds no such name), as on
// systems whose coredll lacks them.
#pragma once
#include <string>

#include "platform/types.h"

namespace handheld {

// Names are matched exactly, as GetProcAddressW does. Registering a name again replaces it;
// a null procedure removes it.
void registerExport(const std::u16string& name, ce::FARPROC procedure);

// LoadLibraryW("coredll.dll") calls on the current machine not yet matched by FreeLibrary.
int coredllReferences();

}  // namespace handheld
